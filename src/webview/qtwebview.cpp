#include "webview/qtwebview.h"

#include "config/appconfig.h"
#include "platform/logger.h"
#include "platform/networkstate.h"
#include "platform/platforminfo.h"
#include "platform/platformpaths.h"
#include "webview/qtwebviewprivate.h"
#include "webview/webviewprivate.h"

#include <QCoreApplication>
#include <QDir>
#include <QGraphicsWebView>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>

QtWebView::QtWebView(QWidget *parent)
    : WebView(parent)
    , m_host(new QtWebViewPrivate(this, parent ? parent->window() : this))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->addWidget(m_host);
    m_host->setPageGlobals(hostInfo(),
                           { storageDirPath(), tempDirPath(), userDocsDirPath(),
                             userDesktopDirPath(), logFilePath() });
    if (parent)
        connect(webViewPrivate(), &WebViewPrivate::quitRequested, parent->window(),
                &QWidget::close);
    m_host->viewer()->hide();
}

QtWebView::~QtWebView() = default;

void QtWebView::loadLocalFile(const QString &path)
{
    setUrl(QUrl::fromLocalFile(QDir::current().absoluteFilePath(path)));
}

void QtWebView::setUrl(const QUrl &url)
{
    m_host->webView()->setUrl(url);
}

QWebFrame *QtWebView::mainFrame() const
{
    return m_host->webView()->page()->mainFrame();
}

void QtWebView::evaluateInMainFrame(const QString &script)
{
    m_host->evaluateInMainFrame(script);
}

void QtWebView::releaseEngineMemory()
{
    // The only public way to have the engine collect now. It also drops its compiled code,
    // which the page's hot functions then earn back, hence the release's spacing.
    QWebSettings::clearMemoryCaches();
}

bool QtWebView::mainFrameFetchesValues() const
{
    return m_host->mainFrameHoldsHost();
}

int QtWebView::platform() const
{
    return PlatformInfo::platformCode();
}

float QtWebView::platformVersionNumber() const
{
    return PlatformInfo::versionNumber();
}

QString QtWebView::platformVersionName() const
{
    return PlatformInfo::versionName();
}

QString QtWebView::logFilePath() const
{
    return Logger::instance().filePath();
}

QString QtWebView::tempDirPath() const
{
    return PlatformPaths::tempFolder();
}

QString QtWebView::storageDirPath() const
{
    return AppConfig::dataPath(AppConfig::storageDirName());
}

QString QtWebView::userDocsDirPath() const
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString QtWebView::userDesktopDirPath() const
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

ScriptRuntime::HostInfo QtWebView::hostInfo() const
{
    return { platform(), platformVersionNumber(), platformVersionName() };
}

QString QtWebView::frameRuntimeScript() const
{
    return ScriptRuntime::frameRuntime(hostInfo());
}

bool QtWebView::isOnline() const
{
    return NetworkState::isOnline();
}

QString QtWebView::prefValue(const QString &key)
{
    return m_host->preferences().prefValue(key);
}

void QtWebView::setPref(const QString &key, const QString &value)
{
    m_host->preferences().setPref(key, value);
}

void QtWebView::removePref(const QString &key)
{
    m_host->preferences().removePref(key);
}

int QtWebView::processExitCode(int exitCode)
{
#ifdef Q_OS_WIN
    return exitCode;
#else
    return (exitCode >= 1 && exitCode <= 255) ? exitCode : 255;
#endif
}

void QtWebView::quitApplication(int exitCode)
{
    if (exitCode == 0)
        emit webViewPrivate()->quitRequested();
    else
        QCoreApplication::exit(processExitCode(exitCode));
}
