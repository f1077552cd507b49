#include "app/corvidapplication.h"

#include "platform/logger.h"
#include "webview/qtwebview.h"
#include "webview/webviewprivate.h"

#include <QDir>
#include <QTimer>

CorvidApplication::CorvidApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    m_viewer.view()->setLaunchFilePath(launchFilePathFrom(arguments()));
    connect(this, &QCoreApplication::aboutToQuit, this, &CorvidApplication::onQuit);
    connect(&m_viewer, &QtWebAppViewer::forcedQuitRequested, this, &CorvidApplication::forceQuit);
}

CorvidApplication::~CorvidApplication() = default;

QString CorvidApplication::launchFilePathFrom(const QStringList &arguments)
{
    return arguments.size() >= 2 ? arguments.last() : QString();
}

int CorvidApplication::run()
{
    m_viewer.loadLocalFile(startPagePath());
    m_viewer.show();
    return exec();
}

void CorvidApplication::forceQuit()
{
    QTimer::singleShot(m_forceQuitDelay, this, &CorvidApplication::forceQuitNow);
}

void CorvidApplication::onQuit()
{
    logShell(QStringLiteral("CLOSING APPLICATION..."));
}

void CorvidApplication::forceQuitNow()
{
    logShell(QStringLiteral("FORCED QUIT!"));
    quit();
    // Fires only while an inner loop (a waiting quit request) keeps the process alive.
    QTimer::singleShot(m_forceQuitDelay, this, &CorvidApplication::forceHardQuitNow);
}

void CorvidApplication::forceHardQuitNow()
{
    logShell(QStringLiteral("FORCED *HARD* QUIT!"));
    exit(1);
    // The page is abandoned now. A quit request still waiting for it would otherwise keep its
    // inner loop turning for as long as the page holds the flag, and the exit above would never
    // be reached by the loop it ends.
    m_viewer.view()->webViewPrivate()->setProcessing(false);
}
