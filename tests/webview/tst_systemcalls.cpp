#include "shellfixture.h"

#include "net/wifimonitor.h"
#include "platform/registry.h"
#include "platform/systemopener.h"
#include "webview/patchedwebviewstyle.h"

#include <QClipboard>
#include <QStyleOptionButton>
#include <QWebHistory>

namespace {

const char FieldPage[] = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<input id="field" value="abc"><input id="fixed" value="abc" readonly>
<script>
var received = [];
function onQtLoad() { qtCallbackPersistent( 'onDone' ); }
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
</script></body></html>)HTML";

} // namespace

// The system calls, input blockers and mail from a hosted page. The platform stand-ins and the
// message itself are tested in their own layers.
class TestSystemCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void blockersFollowTheConfiguration_data();
    void blockersFollowTheConfiguration();
    void backspaceDeletesOneCharacterPerStroke();
    void styleStopsControlAnimations();
    void registryAndClipboardCalls();
    void standByFailureIsReported();
    void wifiCalls();
    void helpPagesOpenInTheContainer();
    void mailReachesTheClient();

private:
    bool openFields(bool clipboard, bool contextMenu);
    QString respond(const QString &script, int count = 1);
    QString field(const QString &id = QStringLiteral("field"))
    {
        return m_shell
            ->eval(m_shell->content(),
                   QStringLiteral("document.getElementById('%1').value").arg(id))
            .toString();
    }
    void focusField(const QString &id = QStringLiteral("field"))
    {
        m_shell->eval(m_shell->content(),
                      QStringLiteral("document.getElementById('%1').focus();").arg(id));
    }
    void key(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(m_shell->host(), Qt::Key(code), modifiers);
    }

    QTemporaryDir m_registry;
    QScopedPointer<ShellFixture> m_shell;
};

void TestSystemCalls::initTestCase()
{
    // No session bus for this process: stand-by has nothing to ask.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/corvid-test-bus");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvid-test-bus");
    Registry::setStoreFolder(m_registry.path());
}

void TestSystemCalls::init()
{
    m_shell.reset(new ShellFixture);
}

void TestSystemCalls::cleanup()
{
    m_shell.reset();
}

bool TestSystemCalls::openFields(bool clipboard, bool contextMenu)
{
    m_shell->set(QStringLiteral("clipboard_enabled"), clipboard);
    m_shell->set(QStringLiteral("context_menu_enabled"), contextMenu);
    return m_shell->open(QStringLiteral("fields.html"), FieldPage) && QTest::qWaitFor([this] {
               return m_shell
                   ->eval(m_shell->mainFrame(), QStringLiteral("'onDone' in corvidRegistry"))
                   .toBool();
           });
}

QString TestSystemCalls::respond(const QString &script, int count)
{
    QWebFrame *content = m_shell->content();
    m_shell->eval(content, script);
    if (!QTest::qWaitFor([&] {
            return m_shell->eval(content, QStringLiteral("received.length")).toInt() >= count;
        }))
        return QStringLiteral("<no response>");
    return m_shell->eval(content, QStringLiteral("received.join( ';' )")).toString();
}

void TestSystemCalls::blockersFollowTheConfiguration_data()
{
    QTest::addColumn<bool>("clipboard");
    QTest::addColumn<bool>("contextMenu");
    QTest::addColumn<int>("enableCall"); // -1 none, 0 setClipboardEnabled(false), 1 (true)
    QTest::addColumn<bool>("menuShown");
    QTest::addColumn<bool>("clipboardWorks");
    QTest::newRow("shipped: clipboard, no menu") << true << false << -1 << false << true;
    QTest::newRow("both allowed") << true << true << -1 << true << true;
    QTest::newRow("no clipboard takes the menu too") << false << true << -1 << false << false;
    QTest::newRow("page turns the clipboard off") << true << true << 0 << false << false;
    QTest::newRow("back on, menu as configured") << false << false << 1 << false << true;
    QTest::newRow("back on, menu allowed") << false << true << 1 << true << true;
}

// A right click and Ctrl+C, Ctrl+V, Ctrl+X as the window would deliver them, through the view
// to the page; typing goes on either way.
void TestSystemCalls::blockersFollowTheConfiguration()
{
    QFETCH(bool, clipboard);
    QFETCH(bool, contextMenu);
    QFETCH(int, enableCall);
    QFETCH(bool, menuShown);
    QFETCH(bool, clipboardWorks);
    QVERIFY(openFields(clipboard, contextMenu));
    if (enableCall >= 0) {
        QCOMPARE(respond(QStringLiteral("Qt().setClipboardEnabled( qtKey(), 'onDone', 1, %1 )")
                             .arg(enableCall ? "true" : "false")),
                 QStringLiteral("[1,true,0,\"\"]"));
    }
    // A menu that opens is closed again at once: it would wait for a click.
    bool shown = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&shown] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            shown = true;
            popup->close();
        }
    });
    closer.start(20);
    QWidget *viewport = m_shell->host()->viewport();
    const QPoint inside(viewport->width() / 2, viewport->height() / 2);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, inside, viewport->mapToGlobal(inside));
    QApplication::sendEvent(viewport, &menu);
    QTest::qWait(60);
    closer.stop();
    QCOMPARE(shown, menuShown);

    const auto select = [this](int from, int to) {
        m_shell->eval(
            m_shell->content(),
            QStringLiteral("document.getElementById('field').setSelectionRange( %1, %2 );")
                .arg(from)
                .arg(to));
    };
    QClipboard *board = QGuiApplication::clipboard();
    board->setText(QStringLiteral("P"));
    focusField();
    select(0, 3);
    key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(board->text(), clipboardWorks ? QStringLiteral("abc") : QStringLiteral("P"));
    board->setText(QStringLiteral("P"));
    select(3, 3);
    key(Qt::Key_V, Qt::ControlModifier);
    key(Qt::Key_X);
    QCOMPARE(field(), clipboardWorks ? QStringLiteral("abcPx") : QStringLiteral("abcx"));
    select(0, 5);
    key(Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(field().isEmpty(), clipboardWorks);
}

// One stroke or a held key deletes one character from the end, wherever the caret is; a
// stroke after a pause deletes the next; nothing navigates back, and nothing is deleted
// without a focused, editable field.
void TestSystemCalls::backspaceDeletesOneCharacterPerStroke()
{
    QVERIFY(openFields(true, false));
    QVERIFY(m_shell->host()->webView()->page()->history()->canGoBack());
    qint64 now = 1000000;
    m_shell->host()->backspaceBlocker().setClock([&now] { return now; });
    key(Qt::Key_Backspace);
    QCOMPARE(field(), QStringLiteral("abc"));
    focusField();
    m_shell->eval(m_shell->content(),
                  QStringLiteral("document.getElementById('field').setSelectionRange( 1, 1 );"));
    now += 1000;
    key(Qt::Key_Backspace);
    QCOMPARE(field(), QStringLiteral("ab"));
    now += 100;
    key(Qt::Key_Backspace);
    QCOMPARE(field(), QStringLiteral("ab"));
    now += 300;
    key(Qt::Key_Backspace);
    QCOMPARE(field(), QStringLiteral("a"));
    focusField(QStringLiteral("fixed"));
    now += 300;
    key(Qt::Key_Backspace);
    QCOMPARE(field(QStringLiteral("fixed")), QStringLiteral("abc"));
    QVERIFY(!m_shell->host()->webView()->page()->history()->canGoBack());
}

void TestSystemCalls::styleStopsControlAnimations()
{
    PatchedWebViewStyle style;
    QImage image(20, 20, QImage::Format_ARGB32);
    QPainter painter(&image);
    for (const auto element :
         { QStyle::CE_CheckBox, QStyle::CE_RadioButton, QStyle::CE_PushButton }) {
        QObject control;
        QStyleOptionButton option;
        option.rect = image.rect();
        option.styleObject = &control;
        style.drawControl(element, &option, &painter);
        QCOMPARE(control.property("_q_no_animation").toBool(), element != QStyle::CE_PushButton);
    }
}

// The registry's machine root is read-only for pages; the clipboard calls reach the system's.
void TestSystemCalls::registryAndClipboardCalls()
{
    QVERIFY(openFields(true, false));
    const QString user = QStringLiteral("HKEY_CURRENT_USER\\\\SOFTWARE\\\\Corvid");
    const QString machine = QStringLiteral("HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Corvid");
    QCOMPARE(respond(QStringLiteral("Qt().setRegEntry( qtKey(), '%1', 'Size', '12', 'onDone' );"
                                    "Qt().setRegEntry( qtKey(), '%2', 'Size', '12', 'onDone' );"
                                    "Qt().regEntry( qtKey(), '%1', 'size', 'none', 'onDone' );"
                                    "Qt().regEntry( qtKey(), '%2', 'Size', 'none', 'onDone' );")
                         .arg(user, machine),
                     4),
             QStringLiteral("[true];[false];[\"12\"];[\"none\"]"));
    m_shell->eval(m_shell->content(), QStringLiteral("Qt().setClipboard( qtKey(), 'copied' );"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("copied"));
    m_shell->eval(m_shell->content(), QStringLiteral("Qt().clearClipboard( 'wrong' );"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("copied"));
    m_shell->eval(m_shell->content(), QStringLiteral("Qt().clearClipboard( qtKey() );"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
}

void TestSystemCalls::standByFailureIsReported()
{
    QVERIFY(openFields(true, false));
    QCOMPARE(respond(QStringLiteral("Qt().setStandByEnabled( qtKey(), 'onDone', 2, false )")),
             QStringLiteral(
                 "[2,false,1000,\"Function setStandByEnabled failed for an unknown reason.\"]"));
}

// Without a network manager there is no wireless network; the monitor's first check still
// answers, and it runs once at a time.
void TestSystemCalls::wifiCalls()
{
    QVERIFY(openFields(true, false));
    m_shell->host()->wifiMonitor()->setInterval(10);
    QCOMPARE(respond(QStringLiteral("Qt().fetchWifiConnName( qtKey(), 'onDone', 1 );"
                                    "Qt().startWifiConnMonitor( qtKey(), 'onDone', 2 );"),
                     2),
             QStringLiteral("[1,true,0,\"\"];[2,true,0,\"\"]"));
    QCOMPARE(
        respond(QStringLiteral("received = []; Qt().startWifiConnMonitor( qtKey(), 'onDone', 3 );"
                               "Qt().stopWifiConnMonitor( qtKey(), 'onDone', 4 );"
                               "Qt().stopWifiConnMonitor( qtKey(), 'onDone', 5 );"),
                3),
        QStringLiteral("[3,false,1000,\"Already Monitoring Wifi Connections.\"];[4,true,0,\"\"];"
                       "[5,false,1000,\"Not Monitoring Wifi Connections.\"]"));
}

// Help that is not a collection is a page of the container's own, shown in its help panel.
void TestSystemCalls::helpPagesOpenInTheContainer()
{
    m_shell->set(QStringLiteral("help_doc_desktop"), QStringLiteral("index.html"));
    QVERIFY(openFields(true, false));
    m_shell->host()->showHelp();
    QWebFrame *main = m_shell->mainFrame();
    QVERIFY(m_shell->eval(main, QStringLiteral("document.getElementById('helpFrame').className"))
                .toString()
                .contains(QLatin1String("shown")));
    QVERIFY(m_shell->eval(main, QStringLiteral("document.getElementById('helpFrame').src"))
                .toString()
                .endsWith(QLatin1String("/help/index.html")));
    QVERIFY(m_shell->prompter.shown.isEmpty());
}

// Both forms of the call: the arguments in the call, and left in the frame for a large mail.
void TestSystemCalls::mailReachesTheClient()
{
    RecordingOpener opener;
    SystemOpener::setCurrent(&opener);
    Registry::setValue(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Clients\\Mail"), QString(),
                       QStringLiteral("Desktop Mail"));
    QVERIFY(openFields(true, false));
    const QString reply = respond(
        QStringLiteral("Qt().sendMail( qtKey(), 'onDone', 3, 'a@example.org', 'Hello' );"
                       "qtCallbackParameters( [ qtKey(), 'onDone', 4, 'b@example.org', 'Big', "
                       "'body' ] ); Qt().sendMail( frameId() );"),
        2);
    SystemOpener::setCurrent(nullptr);
    Registry::setValue(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Clients\\Mail"), QString(),
                       QString());
    QCOMPARE(reply, QStringLiteral("[3,true,0,\"\"];[4,true,0,\"\"]"));
    QCOMPARE(opener.opened.size(), 2);
    QFile big(opener.opened.last());
    QVERIFY(big.open(QIODevice::ReadOnly));
    const QByteArray text = big.readAll();
    QVERIFY(text.contains("To: b@example.org\r\n") && text.contains("Subject: Big\r\n"));
}

QTEST_MAIN(TestSystemCalls)
#include "tst_systemcalls.moc"
