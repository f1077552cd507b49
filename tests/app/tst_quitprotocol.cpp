#include "peerprocess.h"
#include "shellfixture.h"

#include "platform/logger.h"

#include <QGuiApplication>
#include <QTimer>

namespace {

// A hosted page that runs the row's script once it holds its key.
QByteArray scriptedPage(const QString &script)
{
    return QByteArrayLiteral(
               "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><script>\n"
               "function onQtLoad() {\n")
        + script.toUtf8() + QByteArrayLiteral("\n}\n</script></body></html>");
}

// A hosted page that records the quit notifications it receives, each as its arguments in JSON
// and the state change indicator at the time of the call.
const char QuitListenerPage[]
    = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>
var asked = [];
function onQtLoad() {}
function onQuitAsked() {
    asked.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) + '|' + popQtStateChangeIndicator() );
}
</script></body></html>)HTML";

const QString WaitingLine = QStringLiteral("Waiting for web app processing...");

int countOf(const QString &text, const QString &line)
{
    return text.count(line);
}

} // namespace

class TestQuitProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // A real process.
    void exitCode_data();
    void exitCode();
    void forcedQuit_data();
    void forcedQuit();

    // In this process, on the real container page.
    void closeBeforeOnQuitRequestClosesAtOnce();
    void closeAfterOnQuitRequestAsksThePage_data();
    void closeAfterOnQuitRequestAsksThePage();
    void waitingQuitRequestStepsUntilProcessingEnds_data();
    void waitingQuitRequestStepsUntilProcessingEnds();
    void processingEndsWithTheDocumentThatSetIt_data();
    void processingEndsWithTheDocumentThatSetIt();

private:
    QWebFrame *startPage(const QByteArray &html);
    QString logText() const;

    QScopedPointer<ShellFixture> m_shell;
    QByteArray m_tmpDir;
};

void TestQuitProtocol::initTestCase()
{
    // The tests close viewers without running the application's loop; nothing must end it.
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void TestQuitProtocol::init()
{
    m_shell.reset(new ShellFixture);
    // The log goes below the temporary folder; keep it inside the fixture's directory.
    m_tmpDir = qgetenv("TMPDIR");
    QDir().mkpath(m_shell->path(QStringLiteral("tmp")));
    qputenv("TMPDIR", m_shell->path(QStringLiteral("tmp")).toLocal8Bit());
    m_shell->set(QStringLiteral("debug_log_enabled"), true);
    m_shell->set(QStringLiteral("shell_log_enabled"), true);
    m_shell->set(QStringLiteral("dynamic_log_settings"), false);
    m_shell->set(QStringLiteral("debug_log_name"), QStringLiteral("quit.log"));
}

void TestQuitProtocol::cleanup()
{
    m_shell.reset();
    if (m_tmpDir.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", m_tmpDir);
}

QWebFrame *TestQuitProtocol::startPage(const QByteArray &html)
{
    m_shell->writePage(QStringLiteral("app/page.html"), html);
    m_shell->start(QStringLiteral("app/page.html"));
    const bool ready = QTest::qWaitFor(
        [this] { return m_shell->contentReady(QStringLiteral("page.html")); }, 15000);
    return ready ? m_shell->content() : nullptr;
}

QString TestQuitProtocol::logText() const
{
    QFile file(Logger::instance().filePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestQuitProtocol::exitCode_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("expected");
    QTest::newRow("quit") << "Qt().quit( qtKey(), '', 0 );" << 0;
    QTest::newRow("own code 7") << "Qt().quitWithError( qtKey(), '', 0, 7 );" << 7;
    QTest::newRow("own code 1") << "Qt().quitWithError( qtKey(), '', 0, 1 );" << 1;
    QTest::newRow("own code 255") << "Qt().quitWithError( qtKey(), '', 0, 255 );" << 255;
    QTest::newRow("code 0 closes the window") << "Qt().quitWithError( qtKey(), '', 0, 0 );" << 0;
    // Only 8 bits reach the parent: these would otherwise read as success or as another code.
    QTest::newRow("code 256 is not success") << "Qt().quitWithError( qtKey(), '', 0, 256 );" << 255;
    QTest::newRow("code 300") << "Qt().quitWithError( qtKey(), '', 0, 300 );" << 255;
    QTest::newRow("code -1") << "Qt().quitWithError( qtKey(), '', 0, -1 );" << 255;
    // Had the refused call quit, the process would have ended with 0 before the second call.
    QTest::newRow("quit with a wrong key is refused")
        << "Qt().quit( 'not the key', '', 0 );"
           " setTimeout( function() { Qt().quitWithError( qtKey(), '', 0, 9 ); }, 200 );"
        << 9;
    QTest::newRow("code with a wrong key is refused")
        << "Qt().quitWithError( 'not the key', '', 0, 3 );"
           " setTimeout( function() { Qt().quitWithError( qtKey(), '', 0, 9 ); }, 200 );"
        << 9;
    // Code 0 behaves like a close: a page that asked to be told is asked, and the process lives
    // on to end with the code the notification leads to (id 11, indicator 5).
    QTest::newRow("code 0 asks a listening page")
        << "Qt().onQuitRequest( qtKey(), qtCallbackPersistent( 'onAsked' ), 11 );"
           " window.onAsked = function( id, ok, code, message ) {"
           "   Qt().quitWithError( qtKey(), '', 0, ok && code == 0 && message == '' ? id * 10 + "
           "popQtStateChangeIndicator() : 2 ); };"
           " setTimeout( function() { Qt().quitWithError( qtKey(), '', 0, 0 ); }, 100 );"
        << 115;
}

void TestQuitProtocol::exitCode()
{
    QFETCH(QString, script);
    QFETCH(int, expected);
    PeerWorkDir dir;
    QVERIFY(dir.writePage(QStringLiteral("app/page.html"), scriptedPage(script)));
    ShellPeer peer(dir);
    peer.start({ QStringLiteral("--page"), QStringLiteral("app/page.html") });
    const int code = peer.waitForExit();
    QVERIFY2(code == expected,
             qPrintable(QStringLiteral("exit %1, stderr: %2").arg(code).arg(peer.errors())));
}

void TestQuitProtocol::forcedQuit_data()
{
    QTest::addColumn<bool>("pageHoldsShell");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<QStringList>("notLogged");
    QTest::newRow("idle shell: first stage ends the loop")
        << false << 0 << QStringList { QStringLiteral("FORCED QUIT!") }
        << QStringList { QStringLiteral("FORCED *HARD* QUIT!"), WaitingLine };
    QTest::newRow("shell waiting for the page: hard stage")
        << true << 1
        << QStringList { WaitingLine, QStringLiteral("FORCED QUIT!"),
                         QStringLiteral("FORCED *HARD* QUIT!") }
        << QStringList {};
}

void TestQuitProtocol::forcedQuit()
{
    QFETCH(bool, pageHoldsShell);
    QFETCH(int, expected);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, notLogged);
    PeerWorkDir dir;
    QVERIFY(dir.writePage(QStringLiteral("app/page.html"), scriptedPage(QString())));
    ShellPeer peer(dir);
    peer.start(PeerWorkDir::logOptions()
               + QStringList { QStringLiteral("--page"), QStringLiteral("app/page.html"),
                               QStringLiteral("--force-quit-ms"), QStringLiteral("1000"),
                               QStringLiteral("--force-stage-ms"), QStringLiteral("200"),
                               QStringLiteral("--wait-step-ms"), QStringLiteral("100") });
    QVERIFY2(!peer.waitFor(QStringLiteral("ready")).isNull(), qPrintable(peer.errors()));
    if (pageHoldsShell) {
        // In this order from the peer's event loop: the page holds the shell, then the user closes.
        peer.send(QStringLiteral("eval Qt().qtSetProcessing( true );"));
        peer.send(QStringLiteral("close"));
    }
    const int code = peer.waitForExit();
    const QString log = dir.logText();
    QVERIFY2(code == expected, qPrintable(QStringLiteral("exit %1, log:\n%2").arg(code).arg(log)));

    int at = 0;
    for (const QString &line : qAsConst(logged)) {
        const int found = log.indexOf(line, at);
        QVERIFY2(found >= 0,
                 qPrintable(line + QStringLiteral(" missing or out of order in:\n") + log));
        at = found + line.size();
    }
    for (const QString &line : qAsConst(notLogged))
        QVERIFY2(!log.contains(line), qPrintable(line));
}

void TestQuitProtocol::closeBeforeOnQuitRequestClosesAtOnce()
{
    QWebFrame *content = startPage(QuitListenerPage);
    QVERIFY(content);
    QWebFrame *main = m_shell->mainFrame();
    m_shell->eval(
        main,
        QStringLiteral(
            "window.allCalls = []; top.invokeCallbackAll = ( function( original ) {"
            " return function( f, a, i ) { allCalls.push( f + ':' + JSON.stringify( a ) + ':' + i "
            ");"
            " return original.apply( top, arguments ); }; } )( top.invokeCallbackAll );"));
    QCOMPARE(m_shell->eval(content, QStringLiteral("popQtStateChangeIndicator()")).toInt(), 1);

    QVERIFY2(!m_shell->viewer->close(), "the page is told before the window goes");
    QTRY_VERIFY(!m_shell->viewer->isVisible());
    QCOMPARE(m_shell->eval(main, QStringLiteral("allCalls")).toStringList(),
             QStringList { QStringLiteral("setQtStateChangeIndicator:[5]:5") });
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("qtStateChangeIndicator()")).toInt(), 5);
    QVERIFY(m_shell->view()->webViewPrivate()->isQuitAllowed());
    QCOMPARE(m_shell->eval(content, QStringLiteral("asked.length")).toInt(), 0);
    QVERIFY(logText().contains(QStringLiteral("Closing Web App Viewer...")));
}

void TestQuitProtocol::closeAfterOnQuitRequestAsksThePage_data()
{
    QTest::addColumn<int>("closes");
    QTest::newRow("one close") << 1;
    QTest::newRow("a second close asks again") << 2;
    QTest::newRow("three closes") << 3;
}

void TestQuitProtocol::closeAfterOnQuitRequestAsksThePage()
{
    QFETCH(int, closes);
    QWebFrame *content = startPage(QuitListenerPage);
    QVERIFY(content);
    m_shell->eval(content,
                  QStringLiteral(
                      "Qt().onQuitRequest( qtKey(), qtCallbackPersistent( 'onQuitAsked' ), 42 );"));
    QTRY_VERIFY(
        m_shell->eval(m_shell->mainFrame(), QStringLiteral("!!corvidRegistry['onQuitAsked']"))
            .toBool());

    QStringList expected;
    for (int i = 0; i < closes; ++i) {
        QVERIFY(!m_shell->viewer->close());
        expected << QStringLiteral("[42,true,0,\"\"]|5");
        QTRY_COMPARE(m_shell->eval(content, QStringLiteral("asked")).toStringList(), expected);
        m_shell->view()->flushPageWork();
        QVERIFY2(m_shell->viewer->isVisible(), "the window waits for the page");
    }
    QVERIFY(!m_shell->view()->webViewPrivate()->isQuitAllowed());
    const QString log = logText();
    QCOMPARE(countOf(log, QStringLiteral("Issued quit request notification to web app...")),
             closes);
    QCOMPARE(countOf(log, QStringLiteral("Completed onQuitRequest process in web app.")), closes);
    QVERIFY(!log.contains(QStringLiteral("Closing Web App Viewer...")));

    m_shell->eval(content, QStringLiteral("Qt().quit( qtKey(), '', 0 );"));
    QTRY_VERIFY(!m_shell->viewer->isVisible());
    QVERIFY(m_shell->view()->webViewPrivate()->isQuitAllowed());
    QCOMPARE(m_shell->eval(content, QStringLiteral("asked.length")).toInt(), closes);
}

void TestQuitProtocol::waitingQuitRequestStepsUntilProcessingEnds_data()
{
    QTest::addColumn<bool>("listening");
    QTest::newRow("page without a quit listener") << false;
    QTest::newRow("page with a quit listener") << true;
}

void TestQuitProtocol::waitingQuitRequestStepsUntilProcessingEnds()
{
    QFETCH(bool, listening);
    const int stepMs = 100;
    const int stepsBeforeRelease = 4;
    QWebFrame *content = startPage(QuitListenerPage);
    QVERIFY(content);
    m_shell->view()->webViewPrivate()->setWaitStepMs(stepMs);
    if (listening) {
        m_shell->eval(
            content,
            QStringLiteral(
                "Qt().onQuitRequest( qtKey(), qtCallbackPersistent( 'onQuitAsked' ), 8 );"));
        QTRY_VERIFY(
            m_shell->eval(m_shell->mainFrame(), QStringLiteral("!!corvidRegistry['onQuitAsked']"))
                .toBool());
    }
    m_shell->eval(content, QStringLiteral("Qt().qtSetProcessing( true );"));

    // Runs inside the wait: proof that events are handled meanwhile. It lets the page go once
    // enough steps have been logged.
    int waitingWhenReleased = -1;
    QTimer watcher;
    watcher.setInterval(10);
    connect(&watcher, &QTimer::timeout, this, [&] {
        const int waiting = countOf(logText(), WaitingLine);
        if (waiting < stepsBeforeRelease)
            return;
        waitingWhenReleased = waiting;
        watcher.stop();
        content->evaluateJavaScript(QStringLiteral("Qt().qtSetProcessing( false );"));
    });
    watcher.start();
    QElapsedTimer clock;
    clock.start();
    m_shell->viewer->close();
    const qint64 waited = clock.elapsed();

    QCOMPARE(waitingWhenReleased, stepsBeforeRelease);
    const QString log = logText();
    QCOMPARE(countOf(log, WaitingLine), stepsBeforeRelease);
    // One line per step: the steps before the last one have passed in full.
    QVERIFY2(waited >= (stepsBeforeRelease - 1) * stepMs, qPrintable(QString::number(waited)));
    if (listening) {
        QVERIFY(log.indexOf(QStringLiteral("Issued quit request notification to web app..."))
                > log.lastIndexOf(WaitingLine));
        QVERIFY(log.contains(QStringLiteral("Completed onQuitRequest process in web app.")));
        QTRY_COMPARE(m_shell->eval(content, QStringLiteral("asked")).toStringList(),
                     QStringList { QStringLiteral("[8,true,0,\"\"]|5") });
        m_shell->view()->flushPageWork();
        QVERIFY(m_shell->viewer->isVisible());
    } else {
        QTRY_VERIFY(!m_shell->viewer->isVisible());
        const QString closed = logText();
        QVERIFY(closed.indexOf(QStringLiteral("Closing Web App Viewer..."))
                > closed.lastIndexOf(WaitingLine));
    }
}

// The processing flag belongs to the document that set it: once that document is gone, nothing
// is left to clear it, and it must not hold the shell open.
void TestQuitProtocol::processingEndsWithTheDocumentThatSetIt_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("stillHeld");
    QTest::newRow("setter navigated away")
        << "frames['worker'].location.href = 'blank.html';" << false;
    QTest::newRow("setter removed")
        << "document.body.removeChild( document.getElementsByName( 'worker' )[0] );" << false;
    QTest::newRow("another frame navigated")
        << "frames['other'].location.href = 'blank.html';" << true;
}

void TestQuitProtocol::processingEndsWithTheDocumentThatSetIt()
{
    QFETCH(QString, change);
    QFETCH(bool, stillHeld);
    m_shell->writePage(QStringLiteral("app/worker.html"),
                       scriptedPage(QStringLiteral("Qt().qtSetProcessing( true );")));
    m_shell->writePage(QStringLiteral("app/blank.html"), scriptedPage(QString()));
    QWebFrame *content = startPage(
        "<!DOCTYPE html><html><body><iframe name=\"worker\" src=\"worker.html\"></iframe>"
        "<iframe name=\"other\" src=\"worker.html\"></iframe></body></html>");
    QVERIFY(content);
    WebViewPrivate *d = m_shell->view()->webViewPrivate();
    QTRY_VERIFY(d->isProcessing());
    // The other frame has set the flag too by now; the worker sets it last.
    QTRY_VERIFY(m_shell->frameNamed(QStringLiteral("other"))
                && m_shell
                       ->eval(m_shell->frameNamed(QStringLiteral("other")),
                              QStringLiteral("window.qtLoadSignalled_ === true"))
                       .toBool());
    m_shell->eval(m_shell->frameNamed(QStringLiteral("worker")),
                  QStringLiteral("Qt().qtSetProcessing( true );"));
    m_shell->eval(content, change);
    if (stillHeld) {
        QTRY_VERIFY(m_shell
                        ->eval(m_shell->frameNamed(QStringLiteral("other")),
                               QStringLiteral("location.href"))
                        .toString()
                        .endsWith(QLatin1String("blank.html")));
        QTest::qWait(200);
        QVERIFY(d->isProcessing());
        return;
    }
    QTRY_VERIFY(!d->isProcessing());
    m_shell->viewer->close();
    QTRY_VERIFY(!m_shell->viewer->isVisible());
    QCOMPARE(countOf(logText(), WaitingLine), 0);
}

QTEST_MAIN(TestQuitProtocol)
#include "tst_quitprotocol.moc"
