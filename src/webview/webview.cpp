#include "webview/webview.h"

#include "app/logger.h"
#include "config/appconfig.h"
#include "docs/tempfilemanager.h"
#include "platform/platformpaths.h"
#include "webview/webviewprivate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>

namespace {

const QString KeyAlphabet
    = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
constexpr int KeyLength = 64;

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
    , m_config(new AppConfig(true))
    , m_tempFiles(new TempFileManager(this))
{
    QString plugins = QCoreApplication::applicationDirPath();
    plugins.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QCoreApplication::addLibraryPath(plugins + QStringLiteral("/plugins"));
    m_pageWorkTimer.setSingleShot(true);
    m_pageWorkTimer.setInterval(0);
    connect(&m_pageWorkTimer, &QTimer::timeout, this, &WebView::flushPageWork);
}

void WebView::runForPage(std::function<void()> work)
{
    m_pageWork.append(std::move(work));
    if (!m_pageWorkTimer.isActive())
        m_pageWorkTimer.start();
}

void WebView::flushPageWork()
{
    const QList<std::function<void()>> work = std::move(m_pageWork);
    m_pageWork.clear();
    for (const auto &step : work)
        step();
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
                                const QVariantList &arguments, int indicator) const
{
    // Built in one buffer: the arguments may hold a whole file's text.
    QString script;
    script.reserve(64 + callbackFunc.size() + argumentsSize(arguments));
    script += QLatin1String(entryPoint);
    script += QLatin1String("( '");
    appendEscaped(script, callbackFunc);
    script += QLatin1String("', ");
    appendEncodedArguments(script, arguments);
    script += QLatin1String(", ");
    script += QString::number(indicator);
    script += QLatin1String(" );");
    return script;
}

int WebView::argumentsSize(const QVariantList &arguments)
{
    int size = 0;
    for (const QVariant &value : arguments) {
        if (value.userType() == QMetaType::QString)
            size += static_cast<const QString *>(value.constData())->size() + 3;
        else
            size += 24;
    }
    return size;
}

void WebView::invokeCallback(const QString &callbackFunc, const QVariantList &arguments,
                             int indicator)
{
    if (callbackFunc.isEmpty())
        return;
    const QString script = callbackScript("invokeCallback", callbackFunc, arguments, indicator);
    runForPage([this, script] { evaluateInMainFrame(script); });
}

void WebView::invokeCallbackAll(const QString &callbackFunc, const QVariantList &arguments,
                                int indicator)
{
    if (callbackFunc.isEmpty())
        return;
    const QString script = callbackScript("invokeCallbackAll", callbackFunc, arguments, indicator);
    runForPage([this, script] { evaluateInMainFrame(script); });
}

void WebView::invokeOnErrorCallback(int errorCode, const QVariantList &arguments)
{
    const QString script = QStringLiteral("invokeOnErrorCallback( null, ")
        + QString::number(errorCode) + QStringLiteral(", ") + encodeArguments(arguments)
        + QStringLiteral(" );");
    runForPage([this, script] { evaluateInMainFrame(script); });
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

void WebView::appendEncodedArguments(QString &out, const QVariantList &arguments)
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
            // Everything else is quoted: a bare URL or byte array would be a syntax error.
            out += QLatin1Char('\'');
            appendEscaped(out,
                          type == QMetaType::QString
                              ? *static_cast<const QString *>(value.constData())
                              : value.toString());
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

// How much longer each character gets in a single-quoted script string: a backslash, both
// quotes and a line feed gain a backslash, a carriage return is dropped, and U+2028 and U+2029
// (which end a line inside this engine's string literals) become six-character escapes.
int escapedGrowth(ushort c)
{
    switch (c) {
    case '\\':
    case '\'':
    case '"':
    case '\n':
        return 1;
    case '\r':
        return -1;
    case 0x2028:
    case 0x2029:
        return 5;
    default:
        return 0;
    }
}

bool needsEscape(ushort c)
{
    return c == '\\' || c == '\'' || c == '"' || c == '\n' || c == '\r' || c == 0x2028
        || c == 0x2029;
}

} // namespace

void WebView::appendEscaped(QString &out, const QString &text)
{
    // One pass into a buffer of the final size: replacing one character after the other
    // moves a large result (a file's text) once per group of matches.
    const ushort *begin = text.utf16();
    const ushort *end = begin + text.size();
    int growth = 0;
    bool plain = true;
    for (const ushort *p = begin; p != end; ++p) {
        if (Q_UNLIKELY(needsEscape(*p))) {
            plain = false;
            growth += escapedGrowth(*p);
        }
    }
    if (plain) {
        out += text;
        return;
    }
    const int start = out.size();
    out.resize(start + text.size() + growth);
    QChar *to = out.data() + start;
    for (const ushort *p = begin; p != end; ++p) {
        switch (*p) {
        case '\\':
            *to++ = QLatin1Char('\\');
            *to++ = QLatin1Char('\\');
            break;
        case '\'':
            *to++ = QLatin1Char('\\');
            *to++ = QLatin1Char('\'');
            break;
        case '"':
            *to++ = QLatin1Char('\\');
            *to++ = QLatin1Char('"');
            break;
        case '\r':
            break;
        case '\n':
            *to++ = QLatin1Char('\\');
            *to++ = QLatin1Char('n');
            break;
        case 0x2028:
        case 0x2029:
            for (const char c : { '\\', 'u', '2', '0', '2', *p == 0x2028 ? '8' : '9' })
                *to++ = QLatin1Char(c);
            break;
        default:
            *to++ = QChar(*p);
        }
    }
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
    if (m_d->quitRequestCallbackFunc.isEmpty()) {
        setQtStateChangeIndicator(QuitStateChange);
        m_d->setQuitAllowed(true);
        // After the indicator has reached the page.
        runForPage([this] { quitApplication(0); });
        return;
    }
    respondSuccessWithIndicator(m_d->quitRequestCallbackFunc, m_d->quitRequestCallbackId,
                                QuitStateChange);
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
        while (step.elapsed() < m_d->waitStepMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    }
}

void WebView::onChildInit(PreferenceStore &prefs)
{
    Logger::instance().startUp(*m_config, prefs, PlatformPaths::tempFolder());
}
