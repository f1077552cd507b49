#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QLocalSocket>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

// The automation channel to a local peer program: it tells the peer which pages loaded, which
// links were followed and which watched form values were submitted, and polls it for requests
// (reload the page, watch a form). Every exchange is one short connection carrying one JSON
// request and at most one JSON answer. The answer is awaited without blocking the event loop,
// so a slow peer never freezes the viewer; the lock keeps one exchange at a time.
class CORVID_EXPORT PipeChannel : public QObject
{
    Q_OBJECT

public:
    // Reports of each kind kept while the peer cannot be reached; the oldest give way.
    static constexpr int MaxPendingReports = 16;
    static constexpr int MaxConnectionAttempts = 3;
    // A longer answer is dropped unread: the peer's requests are a few hundred bytes.
    static constexpr int MaxAnswerBytes = 1 << 20;

    // Takes the switches and the pipe name from the configuration as it is now.
    explicit PipeChannel(QObject *parent = nullptr);
    ~PipeChannel() override;

    // Starts polling when requests are on, and connects at once when addresses are reported.
    void start();
    // Ends the channel for good: no more polls, the exchange under way is cut off.
    void shutdown();

    // The page whose address a request to watch a form must name exactly (the main frame's
    // base URL); without a source no form is ever watched.
    void setPageAddressSource(std::function<QUrl()> source) { m_pageAddress = std::move(source); }
    // The poll period (2000 ms) and the wait for an answer (30000 ms).
    void setPollInterval(int ms) { m_pollTimer.setInterval(ms); }
    void setAnswerTimeout(int ms) { m_answerTimer.setInterval(ms); }

    // Where the peer named name listens. On Windows the named pipe; elsewhere a socket in the
    // user's private runtime folder, else in the shell's private temporary folder, so that no
    // other user can take the name first. Empty when neither folder can be had.
    static QString socketPathFor(const QString &name);
    // The page script that reports each submission of form (id or name) with the value of
    // element; both names are escaped for a single-quoted script string.
    static QString submitListenerScript(const QString &form, const QString &element);
    static QString escapeForScript(const QString &text);

    QString socketPath() const { return m_socketPath; }
    bool isLocked() const { return m_locked; }
    int failedAttempts() const { return m_attempts; }
    QList<QUrl> pendingLoads() const { return m_loads; }
    int pendingValueCount() const { return m_values.size(); }

public slots:
    // The page host's reports; each ignored unless its switch is on.
    void pageLoaded(const QUrl &url);
    void linkClicked(const QUrl &url);
    void reportElementValue(const QString &element, const QString &value);
    // One step: a connection attempt, or one exchange (the oldest load, else click, else value
    // report, else a poll), or giving up after three failed attempts.
    void sendPending();

signals:
    // The peer asked for the page to be reloaded as by the Refresh action.
    void refreshRequested();
    // The peer asked to watch a form of the current page: the host object is to be published
    // into the main frame and script evaluated there.
    void submitListenerRequested(const QString &script);

private:
    enum class Phase { Idle, Connecting, Exchanging };

    struct ElementValue
    {
        QString element;
        QString value;
    };

    bool hasPendingReports() const;
    void connectToPipe();
    void connectionSucceeded();
    void socketFailed();
    void continueLater();
    void exchange(const QJsonObject &request, bool poll);
    void readAnswer();
    void finishExchange();
    void release();
    void handleRequest(const QByteArray &answer);
    void watchForm(const QJsonValue &parm);

    QLocalSocket m_socket;
    QTimer m_pollTimer;
    QTimer m_answerTimer;
    QString m_socketPath;
    std::function<QUrl()> m_pageAddress;
    bool m_requestsEnabled;
    bool m_outUrls;
    bool m_outValues;
    bool m_shutDown = false;
    // Held from the first step of a series until its exchange ends or the attempts give up.
    bool m_locked = false;
    int m_attempts = 0;
    Phase m_phase = Phase::Idle;
    bool m_polling = false;
    QByteArray m_answer;
    QQueue<QUrl> m_loads;
    QQueue<QUrl> m_clicks;
    QQueue<ElementValue> m_values;
};
