#include "net/pipechannel.h"

#include "config/appconfig.h"
#include "platform/logger.h"
#include "platform/platformpaths.h"

#include <QDir>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {

const QString FuncKey = QStringLiteral("func");
const QString ParmKey = QStringLiteral("parm");
const QString MalformedRequest = QStringLiteral("malformed pipe response dropped");

// Whether text holds a whole JSON object, or starts with something that never becomes one.
// Answers may arrive in pieces, and a peer need not close the connection after answering.
bool answerComplete(const QByteArray &text)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        if (depth == 0 && c != '{')
            return true;
        if (c == '"')
            inString = true;
        else if (c == '{' || c == '[')
            ++depth;
        else if ((c == '}' || c == ']') && --depth == 0)
            return true;
    }
    return false;
}

// Drops the oldest report when the queue is full, so that a peer that never answers cannot
// make the reports grow without limit.
template<typename T, typename Describe>
void enqueueBounded(QQueue<T> &queue, T item, Describe describe)
{
    if (queue.size() >= PipeChannel::MaxPendingReports)
        logShell(QStringLiteral("pipe report dropped: ") + describe(queue.dequeue()));
    queue.enqueue(std::move(item));
}

#ifndef Q_OS_WIN
QString privateRuntimeFolder()
{
    // Only the session's own folder will do: without one (or for a link, in newer Qt) Qt makes
    // up a name in the shared temporary folder, which another user could have taken first.
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (session.isEmpty())
        return QString();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || QDir::cleanPath(folder) != QDir::cleanPath(session))
        return QString();
    return PlatformPaths::ensurePrivateFolder(folder) ? folder : QString();
}
#endif

} // namespace

PipeChannel::PipeChannel(QObject *parent)
    : QObject(parent)
{
    const AppConfig config;
    m_requestsEnabled = config.pipeRequestsEnabled();
    m_outUrls = config.pipeOutUrls();
    m_outValues = config.pipeOutValues();
    m_socketPath = socketPathFor(config.messagePipeName());
    m_pollTimer.setInterval(2000);
    m_answerTimer.setInterval(30000);
    m_answerTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &PipeChannel::sendPending);
    connect(&m_answerTimer, &QTimer::timeout, this, &PipeChannel::finishExchange);
    connect(&m_socket, &QLocalSocket::connected, this, &PipeChannel::connectionSucceeded);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &PipeChannel::socketFailed);
    connect(&m_socket, &QLocalSocket::disconnected, this, &PipeChannel::socketFailed);
    connect(&m_socket, &QLocalSocket::readyRead, this, &PipeChannel::readAnswer);
}

PipeChannel::~PipeChannel()
{
    shutdown();
}

QString PipeChannel::socketPathFor(const QString &name)
{
#ifdef Q_OS_WIN
    return PlatformPaths::localPipePath(name);
#else
    QString folder = privateRuntimeFolder();
    if (folder.isEmpty())
        folder = PlatformPaths::tempFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
#endif
}

QString PipeChannel::escapeForScript(const QString &text)
{
    // The rules of the page host's own script strings: a carriage return is dropped, and the
    // line separators that end a line inside this engine's literals become escapes.
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\r':
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\\':
        case '\'':
        case '"':
            out += QLatin1Char('\\');
            out += c;
            break;
        case 0x2028:
            out += QLatin1String("\\u2028");
            break;
        case 0x2029:
            out += QLatin1String("\\u2029");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString PipeChannel::submitListenerScript(const QString &form, const QString &element)
{
    // Both names are substituted in one pass, so a name holding "%2" stays as it is.
    return QStringLiteral(
               "frm = document.getElementById('%1') ? document.getElementById('%1') : "
               "document.getElementsByName('%1')[0]; if( frm ) {    frm.addEventListener( "
               "'submit', function(e){         value = document.getElementById('%2') ?         "
               "document.getElementById('%2').value :         "
               "document.getElementsByName('%2')[0].value;         if( QtObj ) {             "
               "QtObj.qtLog( 'reporting %2 value' );            QtObj.reportElementValue( "
               "'%2', value );         }     } );    if( QtObj ) QtObj.qtLog( 'listening for "
               "%1 submissions' );} ")
        .arg(escapeForScript(form), escapeForScript(element));
}

void PipeChannel::start()
{
    if (m_shutDown)
        return;
    if (m_requestsEnabled)
        m_pollTimer.start();
    if (m_outUrls && !m_locked) {
        m_locked = true;
        connectToPipe();
    }
}

void PipeChannel::shutdown()
{
    m_shutDown = true;
    m_pollTimer.stop();
    m_answerTimer.stop();
    m_phase = Phase::Idle;
    m_socket.abort();
    m_locked = false;
}

void PipeChannel::pageLoaded(const QUrl &url)
{
    if (!m_outUrls || m_shutDown || url.isEmpty())
        return;
    enqueueBounded(m_loads, url, [](const QUrl &old) -> QString {
        return QStringLiteral("loaded ") + old.toString();
    });
    sendPending();
}

void PipeChannel::linkClicked(const QUrl &url)
{
    if (!m_outUrls || m_shutDown || url.isEmpty())
        return;
    enqueueBounded(m_clicks, url, [](const QUrl &old) -> QString {
        return QStringLiteral("clicked ") + old.toString();
    });
    sendPending();
}

void PipeChannel::reportElementValue(const QString &element, const QString &value)
{
    if (!m_outValues || m_shutDown || element.isEmpty())
        return;
    enqueueBounded(m_values, ElementValue { element, value },
                   [](const ElementValue &old) -> QString {
                       return QStringLiteral("value of ") + old.element;
                   });
    sendPending();
}

bool PipeChannel::hasPendingReports() const
{
    return !m_loads.isEmpty() || !m_clicks.isEmpty() || !m_values.isEmpty();
}

void PipeChannel::sendPending()
{
    if (m_shutDown || (!m_requestsEnabled && !hasPendingReports()))
        return;
    if (m_locked)
        return;
    logShell(QStringLiteral("pipe processing locked"));
    m_locked = true;
    if (m_socket.state() != QLocalSocket::ConnectedState) {
        logShell(QStringLiteral("pipe NOT connected!"));
        if (m_attempts < MaxConnectionAttempts) {
            connectToPipe();
            return;
        }
        logShell(QStringLiteral("Max pipe connection attempts reached."));
        release();
        return;
    }
    if (!m_loads.isEmpty()) {
        exchange({ { FuncKey, QStringLiteral("__on_viewer_page_loaded") },
                   { ParmKey, m_loads.dequeue().toString() } },
                 false);
    } else if (!m_clicks.isEmpty()) {
        exchange({ { FuncKey, QStringLiteral("__on_viewer_link_clicked") },
                   { ParmKey, m_clicks.dequeue().toString() } },
                 false);
    } else if (!m_values.isEmpty()) {
        const ElementValue item = m_values.dequeue();
        const QJsonObject parm { { QStringLiteral("element"), item.element },
                                 { QStringLiteral("value"), item.value } };
        exchange({ { FuncKey, QStringLiteral("__on_viewer_value_update") }, { ParmKey, parm } },
                 false);
    } else if (m_requestsEnabled) {
        exchange({ { FuncKey, QStringLiteral("__get_next_viewer_request") } }, true);
    } else {
        release();
    }
}

void PipeChannel::connectToPipe()
{
    logShell(QStringLiteral("attempting connection to pipe: ") + m_socketPath);
    m_phase = Phase::Connecting;
    m_socket.connectToServer(m_socketPath, QIODevice::ReadWrite);
}

void PipeChannel::connectionSucceeded()
{
    if (m_phase != Phase::Connecting)
        return;
    m_phase = Phase::Idle;
    logShell(QStringLiteral("connected to pipe: ") + m_socket.serverName());
    m_attempts = 0;
    continueLater();
}

void PipeChannel::socketFailed()
{
    if (m_phase == Phase::Exchanging) {
        // What arrived before the close was read already; the socket is left alone until its
        // own signal has returned.
        QTimer::singleShot(0, this, &PipeChannel::finishExchange);
        return;
    }
    if (m_phase != Phase::Connecting)
        return;
    m_phase = Phase::Idle;
    logShell(QStringLiteral("pipe connection error: ") + m_socket.errorString());
    ++m_attempts;
    continueLater();
}

void PipeChannel::continueLater()
{
    // The socket reports from inside connectToServer(); the next attempt starts once that call
    // has returned. The lock is held until then, so no other step slips in between.
    QTimer::singleShot(0, this, [this] {
        if (m_shutDown)
            return;
        m_locked = false;
        sendPending();
    });
}

void PipeChannel::exchange(const QJsonObject &request, bool poll)
{
    const QByteArray text = QJsonDocument(request).toJson(QJsonDocument::Indented);
    logShell(QStringLiteral("sending request across pipe: ") + QString::fromUtf8(text));
    m_socket.readAll(); // anything the peer said unasked is no answer to this request
    m_answer.clear();
    m_polling = poll;
    // Set before writing: a peer that is gone already may make the write fail at once.
    m_phase = Phase::Exchanging;
    m_answerTimer.start();
    m_socket.write(text);
}

void PipeChannel::readAnswer()
{
    if (m_phase != Phase::Exchanging)
        return;
    m_answer += m_socket.read(MaxAnswerBytes + 1 - m_answer.size());
    if (m_answer.size() > MaxAnswerBytes || answerComplete(m_answer))
        finishExchange();
}

void PipeChannel::finishExchange()
{
    if (m_phase != Phase::Exchanging)
        return;
    m_phase = Phase::Idle;
    m_answerTimer.stop();
    const QByteArray answer = m_answer;
    m_answer.clear();
    const bool empty = answer.trimmed().isEmpty();
    const bool tooLong = answer.size() > MaxAnswerBytes;
    if (empty)
        logShell(QStringLiteral("no response from pipe"));
    else if (tooLong)
        logShell(QStringLiteral("pipe response over %1 bytes dropped").arg(MaxAnswerBytes));
    else
        logShell(QStringLiteral("pipe response: ") + QString::fromUtf8(answer));
    // Released before acting on the answer, so that a slot of ours finds the channel free.
    release();
    if (m_polling && !empty && !tooLong)
        handleRequest(answer);
}

void PipeChannel::release()
{
    logShell(QStringLiteral("disconnecting from pipe, releasing lock"));
    m_phase = Phase::Idle;
    m_socket.abort();
    m_attempts = 0;
    m_locked = false;
}

void PipeChannel::handleRequest(const QByteArray &answer)
{
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    if (!document.isObject()) {
        logShell(MalformedRequest);
        return;
    }
    const QJsonObject request = document.object();
    if (!request.contains(FuncKey))
        return; // nothing wanted
    const QJsonValue func = request.value(FuncKey);
    if (func == QLatin1String("__refresh_viewer"))
        emit refreshRequested();
    else if (func == QLatin1String("__get_viewer_value_updates"))
        watchForm(request.value(ParmKey));
    else
        logShell(QStringLiteral("unknown pipe request ignored"));
}

void PipeChannel::watchForm(const QJsonValue &parm)
{
    const QJsonObject fields = parm.toObject();
    const QString url = fields.value(QStringLiteral("url")).toString();
    const QString form = fields.value(QStringLiteral("form")).toString();
    const QString element = fields.value(QStringLiteral("element")).toString();
    // A missing or non-text field reads as empty: such a request names nothing to watch.
    if (url.isEmpty() || form.isEmpty() || element.isEmpty()) {
        logShell(MalformedRequest);
        return;
    }
    const QUrl page = m_pageAddress ? m_pageAddress() : QUrl();
    if (page.toString() != url) {
        logShell(QStringLiteral("value updates requested for another page: ") + url);
        return;
    }
    emit submitListenerRequested(submitListenerScript(form, element));
}
