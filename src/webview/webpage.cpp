#include "webview/webpage.h"

#include <QWebFrame>

WebPage::WebPage(QObject *parent)
    : QWebPage(parent)
{
    // The toolkit emits linkClicked from inside the navigation request below.
    connect(this, &QWebPage::linkClicked, this,
            [this](const QUrl &url) { emit frameLinkClicked(m_navigatingFrame, url); });
}

bool WebPage::acceptNavigationRequest(QWebFrame *frame, const QNetworkRequest &request,
                                      NavigationType type)
{
    m_navigatingFrame = frame;
    const bool accepted = QWebPage::acceptNavigationRequest(frame, request, type);
    m_navigatingFrame = nullptr;
    return accepted;
}
