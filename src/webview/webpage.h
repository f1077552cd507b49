#pragma once

#include <QPointer>
#include <QWebFrame>
#include <QWebPage>

// The page of the view. The toolkit's linkClicked signal does not say where the link was
// clicked; this page does, so that a link is followed only in the frame it belongs to.
class WebPage : public QWebPage
{
    Q_OBJECT

public:
    explicit WebPage(QObject *parent = nullptr);

signals:
    // A delegated link. frame is the frame the link navigates, or null when the link asks for
    // a new window.
    void frameLinkClicked(QWebFrame *frame, const QUrl &url);

protected:
    bool acceptNavigationRequest(QWebFrame *frame, const QNetworkRequest &request,
                                 NavigationType type) override;

private:
    QPointer<QWebFrame> m_navigatingFrame;
};
