#include "webview/webview.h"

#include "config/appconfig.h"
#include "docs/tempfilemanager.h"
#include "platform/logger.h"
#include "webview/webviewprivate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstring>

namespace {

const QString KeyAlphabet
    = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
constexpr int KeyLength = 64;

// From this length on, a text of a response is fetched rather than written into the script.
constexpr int FetchedLength = 32 * 1024;
// The length of the pieces a fetched text is handed over in.
constexpr int PieceLength = 1024 * 1024;

// A script literal loses its carriage returns on the way (see the escape table below); a
// fetched text must reach the page the same.
QString withoutCarriageReturns(const QString &text)
{
    if (!text.contains(QLatin1Char('\r')))
        return text;
    QString copy = text;
    return copy.remove(QLatin1Char('\r'));
}

bool isBareType(int type)
{
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

} // namespace

WebView::WebView(QWidget *parent)
    : QWidget(parent)
    , m_d(new WebViewPrivate(this))
    , m_config(std::make_unique<AppConfig>(AppConfig::openForShell()))
    , m_tempFiles(new TempFileManager(this))
{
    QString plugins = QCoreApplication::applicationDirPath();
    plugins.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QCoreApplication::addLibraryPath(plugins + QStringLiteral("/plugins"));
    m_pageWorkTimer.setSingleShot(true);
    m_pageWorkTimer.setInterval(0);
    connect(&m_pageWorkTimer, &QTimer::timeout, this, &WebView::flushPageWork);
    m_releaseTimer.setSingleShot(true);
    m_releaseTimer.setInterval(0);
    connect(&m_releaseTimer, &QTimer::timeout, this, &WebView::releaseEngineMemoryNow);
}

void WebView::releaseEngineMemoryNow()
{
    m_responsesSinceRelease = 0;
    releaseEngineMemory();
    emit engineMemoryReleased();
}

void WebView::runForPage(std::function<void()> work)
{
    m_pageWork.append(PageWork { QString(), std::move(work), {} });
    schedulePageWork();
}

void WebView::runScriptForPage(const QString &script)
{
    m_pageWork.append(PageWork { script, nullptr, {} });
    schedulePageWork();
}

void WebView::schedulePageWork()
{
    if (!m_pageWorkTimer.isActive())
        m_pageWorkTimer.start();
}

void WebView::flushPageWork()
{
    QList<PageWork> work = std::move(m_pageWork);
    m_pageWork.clear();
    int next = 0;
    while (next < work.size()) {
        if (work.at(next).step) {
            work.at(next++).step();
            continue;
        }
        int end = next;
        while (end < work.size() && !work.at(end).step)
            ++end;
        evaluateScripts(work, next, end);
        m_responsesSinceRelease += end - next;
        next = end;
    }
    // From a turn of its own, so that no page script is running when the engine collects.
    if (m_responsesSinceRelease >= m_responsesPerRelease && !m_releaseTimer.isActive())
        m_releaseTimer.start();
}

void WebView::evaluateScripts(QList<PageWork> &work, int begin, int end)
{
    // The texts these scripts fetch exist only while they run: one the page never took (its
    // container went away meanwhile) is not kept. They are moved, not shared, so that each
    // piece taken can give its memory back.
    QVector<uint> ids;
    for (int i = begin; i < end; ++i) {
        for (auto &value : work[i].fetched) {
            m_responseValues.insert(value.first, std::move(value.second));
            ids.append(value.first);
        }
    }
    evaluateBatch(work, begin, end);
    for (const uint id : qAsConst(ids))
        m_responseValues.remove(id);
}

void WebView::evaluateBatch(const QList<PageWork> &work, int begin, int end)
{
    if (end - begin == 1) {
        evaluateInMainFrame(work.at(begin).script);
        return;
    }
    // Responses that wait together are evaluated together: entering the engine once per
    // response costs more than the response itself when a page makes many calls in a row.
    // Each one keeps its own try block so that an exception in one page function does not
    // lose the responses after it; it is thrown again from a turn of its own so that the
    // page's console still reports it.
    // The throw-again function is made once per batch: one closure per response would leave
    // that much more compiled code behind for the engine to collect.
    static const QLatin1String Head("( function( r ) {\n");
    static const QLatin1String Open("try { ");
    static const QLatin1String Close(" } catch ( e ) { r( e ); }\n");
    static const QLatin1String Tail(
        "} )( function( e ) { setTimeout( function() { throw e; }, 0 ); } );");
    int size = Head.size() + Tail.size();
    for (int i = begin; i < end; ++i)
        size += work.at(i).script.size() + Open.size() + Close.size();
    QString batch;
    batch.reserve(size);
    batch += Head;
    for (int i = begin; i < end; ++i) {
        batch += Open;
        batch += work.at(i).script;
        batch += Close;
    }
    batch += Tail;
    evaluateInMainFrame(batch);
}

WebView::~WebView() = default;

void WebView::generateAccessKey()
{
    if (!m_accessKey.isEmpty())
        return;
    // A key guessed by another page would open every service, so it comes from the system's
    // secure source.
    QString key;
    key.reserve(KeyLength);
    QRandomGenerator *random = QRandomGenerator::system();
    for (int i = 0; i < KeyLength; ++i)
        key += KeyAlphabet.at(int(random->bounded(quint32(KeyAlphabet.size()))));
    m_accessKey = key;
    evaluateInMainFrame(QStringLiteral("setCookie( window.qtKeyCookieName, '") + key
                        + QStringLiteral("', null );"));
}

bool WebView::checkAccessKey(const QString &qtKey, bool report)
{
    if (!m_accessKey.isEmpty() && qtKey == m_accessKey)
        return true;
    if (report) {
        const QString message = qtKey.trimmed().isEmpty()
            ? QStringLiteral("No access key provided.")
            : QStringLiteral("Invalid access key provided.");
        invokeOnErrorCallback(ErrAccessDenied, { message });
    }
    return false;
}

void WebView::respond(const QString &callbackFunc, uint callbackId, bool success, int errorCode,
                      const QString &message, const QStringList &values, int indicator)
{
    if (callbackFunc.isEmpty())
        return;
    QVariantList arguments { callbackId, success, errorCode, message };
    for (const QString &value : values)
        arguments.append(value);
    invokeCallback(callbackFunc, arguments, indicator);
}

void WebView::respondSuccess(const QString &callbackFunc, uint callbackId)
{
    respond(callbackFunc, callbackId, true, 0, QString(), {}, NoStateChange);
}

void WebView::respondSuccess(const QString &callbackFunc, uint callbackId, const QString &message,
                             const QStringList &values)
{
    respond(callbackFunc, callbackId, true, 0, message, values, NoStateChange);
}

void WebView::respondSuccessWithIndicator(const QString &callbackFunc, uint callbackId,
                                          int indicator)
{
    respond(callbackFunc, callbackId, true, 0, QString(), {}, indicator);
}

void WebView::respondError(const QString &callbackFunc, uint callbackId, int errorCode,
                           const QString &message)
{
    respond(callbackFunc, callbackId, false, errorCode, message, {}, NoStateChange);
}

void WebView::respondResult(const QString &callbackFunc, uint callbackId, const CallResult &result)
{
    if (result.success)
        respondSuccess(callbackFunc, callbackId, result.message, result.values);
    else
        respondError(callbackFunc, callbackId, result.errorCode, result.message);
}

void WebView::respondUnsupported(const QString &callbackFunc, uint callbackId,
                                 const QString &function)
{
    respondError(callbackFunc, callbackId, ErrUnsupported,
                 QStringLiteral("This web view does not support the function: ") + function
                     + QLatin1Char('.'));
}

QString WebView::callbackScript(const char *entryPoint, const QString &callbackFunc,
                                const QVariantList &arguments, int indicator,
                                FetchedValues *fetched)
{
    // A long text is fetched from the main frame's host object by the script itself: the engine
    // then receives the string as it is, instead of parsing it back from an escaped copy twice
    // its size.
    const auto fetch = [this, fetched](const QString &text) -> QString {
        if (text.size() < FetchedLength || !mainFrameFetchesValues())
            return QString();
        const uint id = m_nextValueId++;
        fetched->append({ id, withoutCarriageReturns(text) });
        // The pieces come last first and are joined by prepending, which the engine does without
        // copying them.
        return QStringLiteral("( function( o, i ) { var s = '', p; while ( ( p = "
                              "o.takeResponseValue( i ) ) !== '' ) s = p + s; return s; } )"
                              "( QtObj, ")
            + QString::number(id) + QStringLiteral(" )");
    };
    // Built in one buffer: the arguments may hold a whole file's text.
    QString script;
    script.reserve(64 + callbackFunc.size() + argumentsSize(arguments));
    script += QLatin1String(entryPoint);
    script += QLatin1String("( '");
    appendEscaped(script, callbackFunc);
    script += QLatin1String("', ");
    appendEncodedArguments(script, arguments, fetch);
    script += QLatin1String(", ");
    script += QString::number(indicator);
    script += QLatin1String(" );");
    return script;
}

int WebView::argumentsSize(const QVariantList &arguments)
{
    // Long texts are fetched, and a guess too large would reserve their size for nothing.
    int size = 0;
    for (const QVariant &value : arguments) {
        const bool text = value.userType() == QMetaType::QString;
        const int length = text ? static_cast<const QString *>(value.constData())->size() : 0;
        size += text && length < FetchedLength ? length + 3 : 40;
    }
    return size;
}

void WebView::invokeEntryPoint(const char *entryPoint, const QString &callbackFunc,
                               const QVariantList &arguments, int indicator)
{
    if (callbackFunc.isEmpty())
        return;
    PageWork work;
    work.script = callbackScript(entryPoint, callbackFunc, arguments, indicator, &work.fetched);
    m_pageWork.append(std::move(work));
    schedulePageWork();
}

void WebView::invokeCallback(const QString &callbackFunc, const QVariantList &arguments,
                             int indicator)
{
    invokeEntryPoint("invokeCallback", callbackFunc, arguments, indicator);
}

void WebView::invokeCallbackAll(const QString &callbackFunc, const QVariantList &arguments,
                                int indicator)
{
    invokeEntryPoint("invokeCallbackAll", callbackFunc, arguments, indicator);
}

QString WebView::takeResponseValue(uint id)
{
    // Handed over in pieces from the end: the engine copies what it receives twice, so a whole
    // text would be alive three times at once, and the text here can shrink as it goes.
    const auto found = m_responseValues.find(id);
    if (found == m_responseValues.end())
        return QString();
    QString &text = found.value();
    if (text.size() <= PieceLength) {
        const QString last = std::move(text);
        m_responseValues.erase(found);
        return last;
    }
    // The engine takes UTF-16 units as they are, so a piece may end inside a surrogate pair.
    const int start = text.size() - PieceLength;
    const QString piece = text.mid(start);
    text.truncate(start);
    text.squeeze();
    return piece;
}

void WebView::invokeOnErrorCallback(int errorCode, const QVariantList &arguments)
{
    const QString script = QStringLiteral("invokeOnErrorCallback( null, ")
        + QString::number(errorCode) + QStringLiteral(", ") + encodeArguments(arguments)
        + QStringLiteral(" );");
    runScriptForPage(script);
}

void WebView::setQtStateChangeIndicator(int indicator)
{
    invokeCallbackAll(QStringLiteral("setQtStateChangeIndicator"), { indicator }, indicator);
}

QString WebView::encodeArguments(const QVariantList &arguments)
{
    QString out;
    appendEncodedArguments(out, arguments);
    return out;
}

void WebView::appendEncodedArguments(QString &out, const QVariantList &arguments,
                                     const std::function<QString(const QString &)> &fetch)
{
    out += QLatin1Char('[');
    bool first = true;
    for (const QVariant &value : arguments) {
        const int type = value.userType();
        if (!value.isValid() || type == QMetaType::QVariantList || type == QMetaType::QVariantMap
            || type == QMetaType::QStringList || !value.canConvert<QString>())
            continue;
        if (!first)
            out += QLatin1Char(',');
        first = false;
        if (type == QMetaType::Bool) {
            out += value.toBool() ? QLatin1String("true") : QLatin1String("false");
        } else if (isBareType(type)) {
            out += value.toString();
        } else {
            const QString text = type == QMetaType::QString
                ? *static_cast<const QString *>(value.constData())
                : value.toString();
            const QString fetched = fetch ? fetch(text) : QString();
            if (!fetched.isEmpty()) {
                out += fetched;
                continue;
            }
            // Everything else is quoted: a bare URL or byte array would be a syntax error.
            out += QLatin1Char('\'');
            appendEscaped(out, text);
            out += QLatin1Char('\'');
        }
    }
    out += QLatin1Char(']');
}

QString WebView::escapeForScript(const QString &text)
{
    QString out;
    appendEscaped(out, text);
    return out;
}

namespace {

// The characters that change in a single-quoted script string: a backslash, both quotes and a
// line feed gain a backslash, a carriage return is dropped, and U+2028 and U+2029 (which end a
// line inside this engine's string literals) become six-character escapes.
struct EscapeTable
{
    bool special[128] = {};

    constexpr EscapeTable()
    {
        for (const char c : { '\\', '\'', '"', '\n', '\r' })
            special[int(c)] = true;
    }
};

constexpr EscapeTable Escapes;
// A line separator takes six characters where the buffer holds two.
constexpr int SeparatorGrowth = 4;

inline bool isLineSeparator(ushort c)
{
    return (c | 1) == 0x2029;
}

inline bool isSpecial(ushort c)
{
    return c < 128 ? Escapes.special[c] : isLineSeparator(c);
}

QChar *writeEscape(QChar *to, ushort c)
{
    if (c == '\r')
        return to;
    *to++ = QLatin1Char('\\');
    if (isLineSeparator(c)) {
        for (const char digit : { 'u', '2', '0', '2' })
            *to++ = QLatin1Char(digit);
        *to++ = QLatin1Char(c == 0x2028 ? '8' : '9');
    } else {
        *to++ = QLatin1Char(c == '\n' ? 'n' : char(c));
    }
    return to;
}

} // namespace

void WebView::appendEscaped(QString &out, const QString &text)
{
    // One pass that copies the plain stretches between the characters that change: replacing
    // one character after the other would move a large result (a file's text) once per group
    // of matches. The buffer is sized for every character doubling; the pages never written are
    // never touched, and only a line separator can need more.
    const ushort *const begin = text.utf16();
    const ushort *const end = begin + text.size();
    const ushort *p = begin;
    while (p != end && !isSpecial(*p))
        ++p;
    if (p == end) {
        out += text;
        return;
    }
    const int start = out.size();
    out.resize(start + 2 * text.size());
    QChar *to = out.data() + start;
    const ushort *plain = begin;
    for (; p != end; ++p) {
        if (Q_LIKELY(!isSpecial(*p)))
            continue;
        std::memcpy(static_cast<void *>(to), plain, size_t(p - plain) * sizeof(QChar));
        to += p - plain;
        plain = p + 1;
        if (Q_UNLIKELY(isLineSeparator(*p))) {
            const int written = int(to - out.constData());
            out.resize(out.size() + SeparatorGrowth);
            to = out.data() + written;
        }
        to = writeEscape(to, *p);
    }
    std::memcpy(static_cast<void *>(to), plain, size_t(end - plain) * sizeof(QChar));
    to += end - plain;
    out.resize(int(to - out.constData()));
}

void WebView::requestQuit(const QString &qtKey, bool wait)
{
    if (checkAccessKey(qtKey, true))
        runQuitRequest(wait);
}

void WebView::runQuitRequest(bool wait)
{
    if (wait)
        waitForProcessing();
    const WebViewPrivate::Callback asked = m_d->quitRequestCallback();
    if (!asked.isSet()) {
        setQtStateChangeIndicator(QuitStateChange);
        m_d->setQuitAllowed(true);
        // After the indicator has reached the page.
        runForPage([this] { quitApplication(0); });
        return;
    }
    respondSuccessWithIndicator(asked.func, asked.id, QuitStateChange);
    logShell(QStringLiteral("Issued quit request notification to web app..."));
    if (wait) {
        waitForProcessing();
        logShell(QStringLiteral("Completed onQuitRequest process in web app."));
    }
}

void WebView::waitForProcessing()
{
    while (m_d->isProcessing()) {
        logShell(QStringLiteral("Waiting for web app processing..."));
        QElapsedTimer step;
        step.start();
        while (step.elapsed() < m_d->waitStepMs())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    }
}
