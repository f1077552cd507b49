#include "webview/popuphost.h"

#include "webview/scriptruntime.h"

#include <QEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGraphicsWebView>
#include <QIcon>
#include <QMouseEvent>
#include <QPushButton>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>

#include <utility>

namespace {

constexpr int CloseButtonInset = 32;
constexpr qreal PopupZ = 1;
constexpr qreal CloseButtonZ = 2;

// Visits frame's descendants depth first, children in order. Script run in one frame can
// remove another, so each child is looked at only while it still exists.
void forEachDescendant(QWebFrame *frame, const std::function<void(QWebFrame *)> &visit)
{
    const QList<QWebFrame *> children = frame->childFrames();
    QList<QPointer<QWebFrame>> guarded;
    for (QWebFrame *child : children)
        guarded.append(child);
    for (const QPointer<QWebFrame> &child : std::as_const(guarded)) {
        if (!child)
            continue;
        visit(child);
        if (child)
            forEachDescendant(child, visit);
    }
}

} // namespace

PopupHost::PopupHost(QGraphicsView *view, QGraphicsWebView *page, OnlineCheck isOnline)
    : m_view(view)
    , m_page(page)
    , m_isOnline(std::move(isOnline))
{
    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, this, &PopupHost::hideCloseButton);
}

PopupHost::~PopupHost()
{
    // A page that is deleted stops its load and reports it; nothing here may hear that.
    delete m_popupScope;
    delete m_closeProxy;
    delete m_popup;
}

QPushButton *PopupHost::closeButton() const
{
    return m_closeProxy ? static_cast<QPushButton *>(m_closeProxy->widget()) : nullptr;
}

void PopupHost::ensurePopup()
{
    if (m_popup)
        return;
    m_popupScope = new QObject(this);
    m_popup = new QGraphicsWebView;
    m_popup->setAcceptTouchEvents(true);
    m_popup->setAcceptHoverEvents(true);
    m_popup->setZValue(PopupZ);
    QWebSettings *settings = m_popup->settings();
    settings->setAttribute(QWebSettings::PluginsEnabled, true);
    settings->setAttribute(QWebSettings::AutoLoadImages, true);
    // Any page of the shell can reach the frames of the others by name. A local file shown here
    // would share its origin with the container and the app's local frames and read their key;
    // this way each local file is an origin of its own.
    settings->setAttribute(QWebSettings::LocalContentCanAccessFileUrls, false);

    m_interface = new PopupWebViewInterface(this);
    connect(m_interface, &PopupWebViewInterface::posted, this, &PopupHost::posted);
    QWebPage *page = m_popup->page();
    QWebFrame *main = page->mainFrame();
    connect(main, &QWebFrame::javaScriptWindowObjectCleared, m_popupScope,
            [this, main] { publish(main); });
    connect(page, &QWebPage::frameCreated, m_popupScope, [this](QWebFrame *frame) {
        connect(frame, &QWebFrame::javaScriptWindowObjectCleared, m_popupScope,
                [this, frame] { publish(frame); });
    });
    connect(m_popup, &QGraphicsWebView::loadFinished, m_popupScope, [this, main] {
        publish(main);
        forEachDescendant(main, [this](QWebFrame *frame) { publish(frame); });
    });
}

void PopupHost::publish(QWebFrame *frame)
{
    // Whatever the popup shows, it gets this object and its post script, and nothing else.
    if (!m_interface)
        return;
    frame->addToJavaScriptWindowObject(QStringLiteral("QtObj"), m_interface,
                                       QWebFrame::QtOwnership);
    frame->evaluateJavaScript(ScriptRuntime::popupPostScript());
}

void PopupHost::open(const QUrl &url, int width, int height, uint position)
{
    ensurePopup();
    m_popup->setUrl(url);
    m_popup->resize(qMax(0, width), qMax(0, height));
    place(position);
    show();
}

void PopupHost::openFullScreen(const QUrl &url)
{
    ensurePopup();
    m_popup->setUrl(url);
    layOutFullScreen(QSizeF());
    show();
}

void PopupHost::place(uint position)
{
    const QSizeF view = m_page->size();
    const QSizeF popup = m_popup->size();
    const qreal right = view.width() - popup.width();
    const qreal bottom = view.height() - popup.height();
    QPointF at = m_popup->pos();
    switch (position) {
    case TopLeft:
        at = QPointF(0, 0);
        break;
    case BottomLeft:
        at = QPointF(0, bottom);
        break;
    case TopRight:
        at = QPointF(right, 0);
        break;
    case BottomRight:
        at = QPointF(right, bottom);
        break;
    default:
        break;
    }
    // Never outside the view: a popup larger than the view starts at its edge.
    m_popup->setPos(qBound(0, int(at.x()), qMax(0, int(right))),
                    qBound(0, int(at.y()), qMax(0, int(bottom))));
}

void PopupHost::show()
{
    QGraphicsScene *scene = m_view->scene();
    if (m_popup->scene() != scene)
        scene->addItem(m_popup);
    scene->setActiveWindow(m_popup);
    m_popup->show();
}

void PopupHost::layOutFullScreen(const QSizeF &size)
{
    const QSizeF target = size.width() > 0 && size.height() > 0 ? size : m_page->size();
    const int width = int(target.width());
    const int height = int(target.height());
    m_popup->setPos(0, 0);
    m_popup->resize(width, height);
    if (!m_closeProxy)
        makeCloseButton();
    m_closeProxy->setPos(width - m_closeProxy->size().width() - CloseButtonInset, CloseButtonInset);
    m_closeProxy->show();
    restartHideTimer();
}

void PopupHost::makeCloseButton()
{
    // Parentless: the scene embeds only top-level widgets, and its proxy then owns the button.
    auto *button = new QPushButton;
    button->setToolTip(QStringLiteral("Close"));
    button->setFlat(true);
    button->setIcon(QIcon(QStringLiteral(":/images/buttons/closeButton.png")));
    button->setIconSize(QSize(32, 32));
    button->setContentsMargins(0, 0, 0, 0);
    button->setMaximumSize(32, 32);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; }"));
    // Queued: closing deletes the button and its proxy, which are still delivering the release.
    connect(
        button, &QPushButton::released, this, [this] { close(); }, Qt::QueuedConnection);
    button->installEventFilter(this);
    m_closeProxy = m_view->scene()->addWidget(button);
    m_closeProxy->setZValue(CloseButtonZ);
    // The page's hover effects may need tracking already; closing restores what was there.
    QWidget *surface = m_view->viewport();
    m_trackedBefore = surface->hasMouseTracking();
    surface->setMouseTracking(true);
    surface->installEventFilter(this);
}

void PopupHost::removeCloseButton()
{
    m_hideTimer.stop();
    QWidget *surface = m_view->viewport();
    surface->removeEventFilter(this);
    surface->setMouseTracking(m_trackedBefore);
    delete m_closeProxy;
}

void PopupHost::restartHideTimer()
{
    m_hideTimer.start(m_hideDelayMs);
}

void PopupHost::hideCloseButton()
{
    if (m_closeProxy)
        m_closeProxy->hide();
}

bool PopupHost::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_closeProxy)
        return QObject::eventFilter(watched, event);
    if (watched == m_closeProxy->widget() && event->type() == QEvent::Enter) {
        m_hideTimer.stop();
        return true;
    }
    if (watched == m_view->viewport() && event->type() == QEvent::MouseMove) {
        const QPointF at = m_view->mapToScene(static_cast<QMouseEvent *>(event)->pos());
        const QRectF button = m_closeProxy->sceneBoundingRect();
        if (button.adjusted(-100, -100, 200, 200).contains(at))
            m_closeProxy->show();
        if (button.contains(at))
            m_hideTimer.stop();
        else
            restartHideTimer();
    }
    return QObject::eventFilter(watched, event);
}

void PopupHost::viewResizing(const QSize &size)
{
    if (!m_popup)
        return;
    const QSizeF popup = m_popup->size();
    const QSizeF page = m_page->size();
    if (qFuzzyCompare(popup.width(), page.width()) && qFuzzyCompare(popup.height(), page.height()))
        layOutFullScreen(size);
}

bool PopupHost::close()
{
    if (!m_popup)
        return false;
    delete m_popupScope;
    m_popupScope = nullptr;
    QGraphicsWebView *popup = m_popup;
    m_popup = nullptr;
    popup->hide();
    m_view->scene()->setActiveWindow(m_page);
    // Empty content ends whatever the page was playing.
    popup->stop();
    popup->setHtml(QString());
    if (m_closeProxy)
        removeCloseButton();
    if (QGraphicsScene *scene = popup->scene())
        scene->removeItem(popup);
    // Later: the call that closes may come from script running in the page below.
    popup->deleteLater();
    if (m_interface) {
        disconnect(m_interface, nullptr, this, nullptr);
        m_interface->release();
        m_interface = nullptr;
    }
    return true;
}

bool PopupHost::setSource(const QString &source, const QUrl &baseUrl)
{
    if (!m_popup)
        return false;
    m_popup->stop();
    // The charset is named: without it the engine would not read the bytes as UTF-8.
    m_popup->setContent(source.toUtf8(), QStringLiteral("text/html;charset=UTF-8"), baseUrl);
    return true;
}

bool PopupHost::injectScript(QString script, bool recursive)
{
    if (!m_popup)
        return false;
    // Typographic quotes can arrive as these C1 code points; as plain quotes the script runs.
    for (QChar &c : script) {
        const ushort code = c.unicode();
        if (code == 0x91 || code == 0x92)
            c = QLatin1Char('\'');
        else if (code == 0x93 || code == 0x94)
            c = QLatin1Char('"');
    }
    // The script may wait in a box of its own while the page below closes the popup.
    const QPointer<QWebFrame> main = m_popup->page()->mainFrame();
    main->evaluateJavaScript(script);
    if (recursive && main)
        forEachDescendant(main, [&script](QWebFrame *frame) { frame->evaluateJavaScript(script); });
    return true;
}

QUrl PopupHost::videoUrl(const QString &videoId) const
{
    return QUrl(m_videoEmbedBase + videoId, QUrl::TolerantMode);
}

bool PopupHost::playVideo(const QString &videoId, int width, int height, uint position)
{
    if (!m_isOnline())
        return false;
    open(videoUrl(videoId), width, height, position);
    return true;
}

bool PopupHost::playVideoFullScreen(const QString &videoId)
{
    if (!m_isOnline())
        return false;
    openFullScreen(videoUrl(videoId));
    return true;
}
