#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslError>

class QNetworkAccessManager;

// Fetches one address and hands on its body as text. One fetch at a time: a new fetch aborts the
// one still pending, whose data and ending are then never reported.
class CORVID_EXPORT SourceFetcher : public QObject
{
    Q_OBJECT

public:
    // Bodies past this size are refused rather than held in memory.
    static constexpr qint64 MaxBodySize = 64 * 1024 * 1024;

    explicit SourceFetcher(QObject *parent = nullptr);
    ~SourceFetcher() override;

    void fetch(const QUrl &url);
    bool isPending() const { return m_reply != nullptr; }

    // Whether fetching url needs a network connection: local files and this machine's own
    // loopback addresses are reached without one.
    static bool needsNetwork(const QUrl &url);
    // The body as text by its Content-Type: UTF-8 or ISO-8859-1 when named as the charset,
    // UTF-8 for HTML; null when the type allows no conversion. Text ends at the first zero byte.
    static QString decodeBody(const QByteArray &body, const QString &contentType);
    // " Error Details: QNetworkReply::NetworkError #<code>"
    static QString networkErrorDetail(QNetworkReply::NetworkError code);
    // " SSL Error Details: " and, per error, its text and the certificate's common name.
    static QString sslErrorDetail(const QList<QSslError> &errors);

signals:
    // Exactly once per fetch that was not replaced by a later one.
    void finished(const CallResult &result);

private slots:
    void readBody();
    void replyFinished();
    void replySslErrors(const QList<QSslError> &errors);
    void replyError(QNetworkReply::NetworkError code);

private:
    void end(const CallResult &result);

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
};
