#include "viewer/qtwebappviewer.h"

#include "platform/logger.h"
#include "viewer/viewermenubar.h"
#include "webview/qtwebview.h"
#include "webview/webviewprivate.h"

#include <QCloseEvent>
#include <QVBoxLayout>

QtWebAppViewer::QtWebAppViewer(QWidget *parent)
    : WebAppViewer(parent)
    , m_view(new QtWebView(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    ViewerMenuBar::build(m_view->layout(), m_view->pageHost(), m_view->config());
}

void QtWebAppViewer::loadLocalFile(const QString &path)
{
    m_view->loadLocalFile(path);
}

void QtWebAppViewer::loadUrl(const QUrl &url)
{
    m_view->setUrl(url);
}

void QtWebAppViewer::closeEvent(QCloseEvent *event)
{
    if (!m_view->webViewPrivate()->isQuitAllowed()) {
        event->ignore();
        m_view->runQuitRequest(true);
        return;
    }
    logShell(QStringLiteral("Closing Web App Viewer..."));
    event->accept();
}
