#pragma once

#include "platform/corvidexport.h"
#include "webview/popupwebviewinterface.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsWebView>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>

class QGraphicsView;
class QPushButton;
class QSize;
class QSizeF;
class QWebFrame;

// The popup above a page: a second web view in the page's graphics scene, either windowed at
// a corner of the view or full screen with a close button that hides while the pointer is
// away. A video is a popup on the video service's embed page.
//
// The popup is a page of its own, never a frame of the page below: it gets the popup interface
// as QtObj (whatever it shows, local files and trusted hosts included) and nothing of the
// page's host object, its key or its runtime.
class CORVID_EXPORT PopupHost : public QObject
{
    Q_OBJECT

public:
    // Where a windowed popup goes; any other code leaves it where it is.
    enum Position : uint { TopLeft = 1, BottomLeft = 2, TopRight = 3, BottomRight = 4 };

    using OnlineCheck = std::function<bool()>;

    // view shows the scene that holds page, the main page view, which stays below the popup.
    PopupHost(QGraphicsView *view, QGraphicsWebView *page, OnlineCheck isOnline);
    ~PopupHost() override;

    static QString defaultVideoEmbedBase()
    {
        return QStringLiteral("https://www.youtube-nocookie.com/embed/");
    }

    // The popup view; null when no popup is open.
    QGraphicsWebView *view() const { return m_popup; }
    // Made by the first full-screen opening, gone with the popup.
    QPushButton *closeButton() const;
    // What the popup's pages see as QtObj; null when no popup is open.
    PopupWebViewInterface *scriptObject() const { return m_interface; }

    void open(const QUrl &url, int width, int height, uint position);
    void openFullScreen(const QUrl &url);
    // These three report false when there is no popup.
    bool close();
    bool setSource(const QString &source, const QUrl &baseUrl);
    bool injectScript(QString script, bool recursive);
    // Both report false, and open nothing, while this machine is offline.
    bool playVideo(const QString &videoId, int width, int height, uint position);
    bool playVideoFullScreen(const QString &videoId);
    QUrl videoUrl(const QString &videoId) const;

    // The view is being resized to size; the page view still has its old size. A popup that
    // covers the page stays full screen.
    void viewResizing(const QSize &size);

    // Tests point videos at a loopback server, decide the online state and shorten the time
    // the close button waits before it hides.
    void setVideoEmbedBase(const QString &base) { m_videoEmbedBase = base; }
    void setOnlineCheck(const OnlineCheck &isOnline) { m_isOnline = isOnline; }
    void setCloseButtonDelay(int milliseconds) { m_hideDelayMs = milliseconds; }

signals:
    // A popup page posted a message; fields are cleaned and paired.
    void posted(const QString &sourceId, const QString &eventId,
                const PopupWebViewInterface::Fields &fields);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ensurePopup();
    void place(uint position);
    void show();
    void layOutFullScreen(const QSizeF &size);
    void makeCloseButton();
    void restartHideTimer();
    void removeCloseButton();
    void hideCloseButton();
    void publish(QWebFrame *frame);

    QGraphicsView *m_view;
    QGraphicsWebView *m_page;
    OnlineCheck m_isOnline;
    QString m_videoEmbedBase = defaultVideoEmbedBase();
    QPointer<QGraphicsWebView> m_popup;
    QPointer<PopupWebViewInterface> m_interface;
    // The context of every connection to the popup's page and frames, so that closing cuts them
    // all at once: the emptied page goes on reporting loads until it is deleted.
    QObject *m_popupScope = nullptr;
    QPointer<QGraphicsProxyWidget> m_closeProxy;
    QTimer m_hideTimer;
    int m_hideDelayMs = 3000;
    bool m_trackedBefore = false;
};
