#pragma once

#include "platform/corvidexport.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslError>

class QNetworkAccessManager;

// Checks that a secure connection to an address can be made with the certificates the shell
// trusts. One verification at a time: a new one aborts the one still pending, which then never
// reports.
class CORVID_EXPORT SslVerifier : public QObject
{
    Q_OBJECT

public:
    // Verifies with the proxy of network (the page's), which must outlive the verifier. Requests
    // go through a manager of the verifier's own: each starts with the connection cache cleared,
    // and in the page's manager that would also end the page's requests in flight.
    explicit SslVerifier(QNetworkAccessManager *network, QObject *parent = nullptr);
    ~SslVerifier() override;

    // Requests httpsAddress(addressText); the failure message quotes addressText as given.
    void verify(const QString &addressText);
    bool isPending() const { return m_reply != nullptr; }

    // "https://" in front of the text, in place of a leading "http://" (case-sensitive).
    static QString httpsAddress(const QString &text);
    // "http://" in front of the text, in place of a leading "https://" (case-sensitive).
    static QString httpAddress(const QString &text);
    // Trusts the certificate in the file (DER, or PEM) for the rest of the run, in memory only,
    // beside the system's roots. False when the file holds no certificate.
    static bool installCertificate(const QString &path);

signals:
    // message is empty when verified, otherwise "SSL cannot be verified for this url: " ...
    void finished(bool verified, const QString &message);

private slots:
    void discardBody();
    void replyFinished();
    void replySslErrors(const QList<QSslError> &errors);
    void replyError(QNetworkReply::NetworkError code);

private:
    void end(bool verified, const QString &detail);

    QNetworkAccessManager *m_network;
    QNetworkAccessManager *m_connections = nullptr;
    QPointer<QNetworkReply> m_reply;
    QString m_addressText;
    qint64 m_bodyBytes = 0;
};
