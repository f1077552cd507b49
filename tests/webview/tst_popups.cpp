#include "shellfixture.h"

#include "webview/popuphost.h"

#include <QGraphicsProxyWidget>
#include <QPushButton>
#include <QTcpServer>

namespace {

// Records every answer and every popup post (callback id 9) as JSON.
const char CallerPage[] = R"HTML(<!DOCTYPE html><html><body><script>
var received = [];
function onQtLoad() { qtCallbackPersistent( 'onDone' ); Qt().onPopupPostReceived( qtKey(), 'onDone', 9 ); }
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
</script></body></html>)HTML";

// A local page in the popup that tries every way to the page below and its key.
const char PryingPage[] = R"HTML(<html><body><script>
var got = [], pong = false;
addEventListener( 'message', function( e ) {
    if ( e.data === 'pong' ) pong = true; else got.push( JSON.stringify( e.data ) ); } );
var probes = [ typeof QtObj.postMessage, typeof QtObj.readFile, typeof qtKey, typeof Qt ];
try { QtObj.deleteLater(); QtObj.objectName = 'pwned'; } catch ( e ) {}
var app = window.open( '', 'contentFrame' );
try { probes.push( String( app.qtKey() ) ); } catch ( e ) { probes.push( 'refused' ); }
try { app.top.postMessage( 'grantQtAccess', '*' ); app.top.postMessage( 'ping', '*' ); }
catch ( e ) { pong = true; }
</script></body></html>)HTML";

const QString Success = QStringLiteral("[1,true,0,\"\"]");
const QSize ViewSize(1000, 800);

} // namespace

class TestPopups : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_shell.reset(); }
    void placement_data();
    void placement();
    void fullScreenFollowsTheView();
    void popupCalls_data();
    void popupCalls();
    void postsReachTheCallback_data();
    void postsReachTheCallback();
    void popupGetsNothingOfThePage();
    void videos_data();
    void videos();

private:
    PopupHost *popups() const { return m_shell->host()->popups(); }
    QWebFrame *popupFrame(const QString &name = QString()) const
    {
        QWebFrame *main = popups()->view()->page()->mainFrame();
        return name.isEmpty() ? main : m_shell->frameNamed(name, main);
    }
    QUrl popupUrl(const char *name = "popup.html") const
    {
        return QUrl::fromLocalFile(m_shell->path(QStringLiteral("popups/") + QLatin1String(name)));
    }
    bool shows(QWebFrame *frame, const QString &file) const
    {
        return m_shell->eval(frame, "location.pathname + ' ' + document.readyState")
            .toString()
            .endsWith(QLatin1Char('/') + file + QStringLiteral(" complete"));
    }
    // Opens a windowed popup and waits until the page, and popup.html's inner frame, are loaded.
    // The engine makes a frame only once its element is laid out, perhaps after the load event.
    bool openPopup(const char *name = "popup.html")
    {
        popups()->open(popupUrl(name), 300, 200, 1);
        return QTest::qWaitFor(
            [&] {
                return shows(popupFrame(), QLatin1String(name))
                    && (qstrcmp(name, "popup.html") || shows(popupFrame("inner"), "inner.html"));
            },
            15000);
    }
    // Runs a call from the hosted page and waits for its answer.
    QString call(const QString &script);
    bool buttonShown() const { return popups()->closeButton()->graphicsProxyWidget()->isVisible(); }
    void moveMouse(const QPoint &at) const
    {
        QMouseEvent move(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(m_shell->host()->viewport(), &move);
    }
    bool resizeView(const QSize &size)
    {
        m_shell->viewer->resize(m_shell->viewer->size() + size - m_shell->host()->size());
        return QTest::qWaitFor([&] {
            return m_shell->host()->webView()->size().toSize() == size
                && m_shell->host()->size() == size;
        });
    }

    QScopedPointer<ShellFixture> m_shell;
};

// Starts on the recording page at the view size the tests expect.
void TestPopups::init()
{
    m_shell.reset(new ShellFixture);
    m_shell->writePage(QStringLiteral("popups/popup.html"),
                       "<html><body><iframe name=inner src=inner.html></iframe></body></html>");
    m_shell->writePage(QStringLiteral("popups/inner.html"), "<html><body>inner</body></html>");
    QVERIFY(m_shell->open(QStringLiteral("caller.html"), CallerPage));
    QVERIFY(QTest::qWaitFor([this] {
        return m_shell->eval(m_shell->mainFrame(), "'onDone' in corvidRegistry").toBool();
    }));
    QVERIFY(resizeView(ViewSize));
}

QString TestPopups::call(const QString &script)
{
    QWebFrame *content = m_shell->content();
    m_shell->eval(content, QStringLiteral("received = []; Qt().") + script);
    if (!QTest::qWaitFor([&] { return m_shell->eval(content, "received.length").toInt() > 0; },
                         15000))
        return QStringLiteral("<no response>");
    return m_shell->eval(content, "received.join( ';' )").toString();
}

// A windowed popup goes to its corner of the 1000 x 800 view and never outside it; other codes
// leave it where it was.
void TestPopups::placement_data()
{
    QTest::addColumn<uint>("before");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("expected");
    const QSize small(300, 200);
    QTest::newRow("top left") << 0u << 1u << small << QPoint(0, 0);
    QTest::newRow("bottom left") << 0u << 2u << small << QPoint(0, 600);
    QTest::newRow("top right") << 0u << 3u << small << QPoint(700, 0);
    QTest::newRow("bottom right") << 0u << 4u << small << QPoint(700, 600);
    QTest::newRow("other code, new popup") << 0u << 7u << small << QPoint(0, 0);
    QTest::newRow("other code keeps the place") << 4u << 7u << small << QPoint(700, 600);
    QTest::newRow("wider than the view") << 0u << 4u << QSize(1200, 200) << QPoint(0, 600);
    QTest::newRow("larger than the view") << 0u << 4u << QSize(1200, 900) << QPoint(0, 0);
    QTest::newRow("kept place pulled back in") << 4u << 0u << QSize(600, 400) << QPoint(400, 400);
}

void TestPopups::placement()
{
    QFETCH(uint, before);
    QFETCH(uint, code);
    QFETCH(QSize, size);
    QFETCH(QPoint, expected);
    const QString open = QStringLiteral("openPopup( qtKey(), 'onDone', 1, '%1', %2, %3, %4 )")
                             .arg(popupUrl().toString());
    if (before)
        QCOMPARE(call(open.arg(300).arg(200).arg(before)), Success);
    QCOMPARE(call(open.arg(size.width()).arg(size.height()).arg(code)), Success);
    QGraphicsWebView *popup = popups()->view();
    QVERIFY(popup && popup->isVisible() && popup->scene() == m_shell->host()->scene());
    QCOMPARE(popup->geometry(), QRectF(expected, size));
    QTRY_COMPARE(popupFrame()->url(), popupUrl());
}

// Full screen covers the view and follows it, the close button 32 pixels in from the corner.
// The button hides after the last movement, comes back for a movement near it (not far away)
// and stays while the pointer is on it. A windowed popup keeps its size; releasing the button
// closes the popup.
void TestPopups::fullScreenFollowsTheView()
{
    const int delay = 50;
    // The page's hover effects need it: closing must not turn tracking off.
    QWidget *surface = m_shell->host()->viewport();
    QVERIFY(surface->hasMouseTracking());
    popups()->setCloseButtonDelay(delay);
    QCOMPARE(call(QStringLiteral("openPopupFullScreen( qtKey(), 'onDone', 1, '%1' )")
                      .arg(popupUrl().toString())),
             Success);
    QGraphicsWebView *popup = popups()->view();
    QPushButton *button = popups()->closeButton();
    QVERIFY(popup && button && !button->icon().isNull());
    QCOMPARE(popup->geometry(), QRectF(QPointF(0, 0), ViewSize));
    QCOMPARE(button->graphicsProxyWidget()->geometry(), QRectF(936, 32, 32, 32));
    QCOMPARE(button->toolTip(), QStringLiteral("Close"));

    QTRY_VERIFY(!buttonShown());
    moveMouse(QPoint(500, 400));
    QVERIFY(!buttonShown());
    moveMouse(QPoint(840, 140)); // within 100 pixels left of the button
    QVERIFY(buttonShown());
    QTRY_VERIFY(!buttonShown());
    moveMouse(QPoint(950, 40));
    QVERIFY(buttonShown());
    // Timers of one thread fire in order of expiry: the hide timer, had it run, came first.
    QTimer later;
    QSignalSpy fired(&later, &QTimer::timeout);
    later.start(delay * 4);
    QVERIFY(fired.wait());
    QVERIFY(buttonShown());

    QVERIFY(resizeView(QSize(900, 700)));
    QCOMPARE(popup->geometry(), QRectF(0, 0, 900, 700));
    QCOMPARE(button->graphicsProxyWidget()->pos(), QPointF(836, 32));
    popups()->open(popupUrl(), 300, 200, 4);
    QVERIFY(resizeView(ViewSize));
    QCOMPARE(popup->geometry(), QRectF(600, 500, 300, 200));

    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY(!popups()->view());
    QCOMPARE(m_shell->host()->scene()->items(), { m_shell->host()->webView() });
    QVERIFY(surface->hasMouseTracking());
}

// Source, script and closing act on the popup only while there is one. Checks run in the
// popup's main frame and in its inner frame.
void TestPopups::popupCalls_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("value");
    const auto row = [](const char *name, bool open, const QString &script, const QString &answer,
                        const QString &check = QString(), const QString &value = QString()) {
        QTest::newRow(name) << open << script << answer << check << value;
    };
    const QString none = QStringLiteral("[1,false,1000,\"Cannot %1.  None currently exists.\"]");
    row("close without popup", false, "closePopup( qtKey(), 'onDone', 1 )",
        none.arg("close popup"));
    row("source without popup", false, "setPopupSource( qtKey(), 'onDone', 1, 'x' )",
        none.arg("set popup source"));
    row("inject without popup", false, "injectJsIntoPopUp( qtKey(), 'onDone', 1, 'x' )",
        none.arg("inject js into popup"));
    row("close", true, "closePopup( qtKey(), 'onDone', 1 )", Success);
    row("source in UTF-8 with its base", true,
        "setPopupSource( qtKey(), 'onDone', 1, '<p>na\\u00efve</p>', 'http://127.0.0.1:9/x' )",
        Success, "document.body.textContent + ' ' + location.href",
        QStringLiteral("na\u00efve http://127.0.0.1:9/x|"));
    const QString inject = QStringLiteral("injectJsIntoPopUp( qtKey(), 'onDone', 1, 'window.mark = "
                                          "\\u0091it\\u0092 + \\u0093s\\u0094;'%1 )");
    row("typographic quotes", true, inject.arg(""), Success, "String( window.mark )",
        "its|undefined");
    row("recursive", true, inject.arg(", true"), Success, "String( window.mark )", "its|its");
}

void TestPopups::popupCalls()
{
    QFETCH(bool, open);
    QFETCH(QString, script);
    QFETCH(QString, answer);
    QFETCH(QString, check);
    QFETCH(QString, value);
    if (open)
        QVERIFY(openPopup());
    QCOMPARE(call(script), answer);
    QCOMPARE(bool(popups()->view()), open && !script.startsWith("close"));
    if (!check.isEmpty())
        QCOMPARE(m_shell->eval(popupFrame(), check).toString() + '|'
                     + m_shell->eval(popupFrame("inner"), check).toString(),
                 value);
}

// Keys and values pair by position, then keyless pairs go; the callback hears every post with
// the keys in ascending order, from any frame of the popup.
void TestPopups::postsReachTheCallback_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("post");
    const auto row = [](const char *name, const char *frame, const QString &script,
                        const QStringList &values) {
        QTest::newRow(name) << frame << script
                            << "[9,true,0,\"" + values.join(QStringLiteral("\",\"")) + "\"]";
    };
    const QString direct = QStringLiteral("QtObj.postMessage( 's', 'e', '%1', '%2' )");
    row("object", "", "qtPostMessage( 's', 'e', { b: '2', a: '1', '': 'x' } )",
        { "s", "eventId", "e", "a", "1", "b", "2" });
    row("empty key first", "", direct.arg("_INTRADELIM_a", "x_INTRADELIM_1"),
        { "s", "eventId", "e", "a", "1" });
    row("more keys than values", "", direct.arg("a_INTRADELIM_b_INTRADELIM_c", "1_INTRADELIM_2"),
        { "s", "eventId", "e", "a", "1", "b", "2" });
    row("repeated key", "", direct.arg("k_INTRADELIM_k", "1_INTRADELIM_2_INTRADELIM_3"),
        { "s", "eventId", "e", "k", "2" });
    row("inner frame", "inner", "qtPostMessage( 'in', 'ev', { k: 'v' } )",
        { "in", "eventId", "ev", "k", "v" });
}

void TestPopups::postsReachTheCallback()
{
    QFETCH(QString, frame);
    QFETCH(QString, script);
    QFETCH(QString, post);
    QVERIFY(openPopup());
    m_shell->eval(popupFrame(frame), script + ';' + script);
    QWebFrame *content = m_shell->content();
    QTRY_COMPARE(m_shell->eval(content, "received.length").toInt(), 2);
    // Registering answered nothing: the posts are all there is.
    QCOMPARE(m_shell->eval(content, "received.join( ';' )").toString(), post + ';' + post);
}

// Whatever a local popup page tries, it holds only the popup's object: neither the page's
// QtObj nor its key, not from the app's frame, not from the container. Nor can it end or
// rename its own object.
void TestPopups::popupGetsNothingOfThePage()
{
    m_shell->writePage(QStringLiteral("popups/prying.html"), PryingPage);
    m_shell->eval(m_shell->mainFrame(),
                  "addEventListener( 'message', function( e ) {"
                  " if ( e.data === 'ping' ) e.source.postMessage( 'pong', '*' ); } );");
    QVERIFY(openPopup("prying.html"));
    QTRY_VERIFY(m_shell->eval(popupFrame(), "pong").toBool());
    QCOMPARE(m_shell->eval(popupFrame(), "probes.join()").toString(),
             QStringLiteral("function,undefined,undefined,undefined,refused"));
    const QString got = m_shell->eval(popupFrame(), "got.join()").toString();
    QVERIFY2(!got.contains(m_shell->view()->accessKey()) && !got.contains("qtSetGlobals"),
             qPrintable(got));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(popups()->scriptObject());
    QCOMPARE(popups()->scriptObject()->objectName(), QString());
}

// Videos need the network. The embed page would be the service's own; here it is a loopback
// port that never answers, so nothing leaves the machine.
void TestPopups::videos_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QRectF>("geometry");
    const QString windowed = QStringLiteral("playYouTubeVideo( qtKey(), 'onDone', 1, 'v1d', 300, "
                                            "200, 4 )");
    const QString full
        = QStringLiteral("playYouTubeVideoFullScreen( qtKey(), 'onDone', 1, 'v1d' )");
    QTest::newRow("offline") << false << windowed << QRectF();
    QTest::newRow("offline full screen") << false << full << QRectF();
    QTest::newRow("windowed") << true << windowed << QRectF(700, 600, 300, 200);
    QTest::newRow("full screen") << true << full << QRectF(QPointF(), ViewSize);
}

void TestPopups::videos()
{
    QFETCH(bool, online);
    QFETCH(QString, script);
    QFETCH(QRectF, geometry);
    QCOMPARE(popups()->videoUrl(QStringLiteral("v1d")),
             QUrl(QStringLiteral("https://www.youtube-nocookie.com/embed/v1d")));
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const QString base = QStringLiteral("http://127.0.0.1:%1/embed/").arg(silent.serverPort());
    popups()->setVideoEmbedBase(base);
    popups()->setOnlineCheck([online] { return online; });

    const QString failure = QStringLiteral("[%1,false,1000,\"Cannot %2\"]");
    QCOMPARE(call(script),
             online ? Success
                    : failure.arg(1).arg("play remote video. This device is not currently "
                                         "connected to the internet."));
    QCOMPARE(bool(popups()->view()), online);
    if (online) {
        QCOMPARE(popups()->view()->geometry(), geometry);
        QTRY_COMPARE(popupFrame()->requestedUrl(), QUrl(base + QStringLiteral("v1d")));
    }
    QCOMPARE(call(QStringLiteral("stopVideo( qtKey(), 'onDone', 2 )")),
             online ? QStringLiteral("[2,true,0,\"\"]")
                    : failure.arg(2).arg("stop video.  None is currently displayed."));
    QVERIFY(!popups()->view());
}

QTEST_MAIN(TestPopups)
#include "tst_popups.moc"
