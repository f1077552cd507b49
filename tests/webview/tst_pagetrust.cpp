#include "shellfixture.h"

#include <QGraphicsWebView>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>

// Trust, navigation and link policy of the page host, driven through real pages: local files
// for trusted content, and a python3 http.server on 127.0.0.1 for content from other hosts.
// Only "localhost" is trusted, so the same server is a trusted host as http://localhost:port
// and an untrusted one as http://127.0.0.1:port.

namespace {

QByteArray page(const QString &body)
{
    return (QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>")
            + body + QStringLiteral("</body></html>"))
        .toUtf8();
}

QString typeOfQtObj(QWebFrame *frame)
{
    return frame ? frame->evaluateJavaScript(QStringLiteral("typeof(QtObj)")).toString()
                 : QString();
}

// The address of the document a frame shows (the frame's own url is not kept for every load).
QString href(QWebFrame *frame)
{
    return frame ? frame->evaluateJavaScript(QStringLiteral("location.href")).toString()
                 : QString();
}

bool isComplete(QWebFrame *frame)
{
    return frame
        && frame->evaluateJavaScript(QStringLiteral("document.readyState == 'complete'")).toBool();
}

} // namespace

class TestPageTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void hostObjectOnlyInTrustedFrames_data();
    void hostObjectOnlyInTrustedFrames();
    void trustedHostIsExact_data();
    void trustedHostIsExact();
    void quotedLinkRunsNoScript_data();
    void quotedLinkRunsNoScript();
    void messagesFromUntrustedFramesRunNothing_data();
    void messagesFromUntrustedFramesRunNothing();
    void topNavigatedByScript_data();
    void topNavigatedByScript();
    void trustedFrameLeavingLosesHostObject_data();
    void trustedFrameLeavingLosesHostObject();
    void callbacksStopWhenLocalFrameLeaves();
    void accessGrantedOnlyToTrustedOrigins_data();
    void accessGrantedOnlyToTrustedOrigins();
    void clickedLinkPolicy_data();
    void clickedLinkPolicy();
    void ignoredLinks_data();
    void ignoredLinks();
    void inPageLinks_data();
    void inPageLinks();
    void linkFollowedOnlyInClickingFrame_data();
    void linkFollowedOnlyInClickingFrame();
    void pageLimitRestartsOnce_data();
    void pageLimitRestartsOnce();
    void frameIdClaimsAreNotBelieved_data();
    void frameIdClaimsAreNotBelieved();
    void closingWhileLoadingIsSafe_data();
    void closingWhileLoadingIsSafe();

private:
    QString untrusted(const QString &name) const;
    QString trusted(const QString &name) const;
    void serve(const QString &name, const QByteArray &html);
    QWebFrame *startOn(const QByteArray &startHtml);
    void recordUrlRequests();
    QStringList urlRequests() const;
    bool forceLoad(QWebFrame *probe, const QString &localPage);
    bool serverSaw(const QString &path);

    QTemporaryDir m_served;
    QProcess m_server;
    QByteArray m_serverLog;
    int m_port = 0;
    QScopedPointer<ShellFixture> m_shell;
};

void TestPageTrust::initTestCase()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    QVERIFY2(!python.isEmpty(), "python3 is needed to serve pages from other hosts");
    QVERIFY(m_served.isValid());
    // Port 0: the server picks a free one and names it on its first line.
    m_server.start(python,
                   { QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                     QStringLiteral("0"), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--directory"), m_served.path() });
    QVERIFY2(m_server.waitForStarted(5000), qPrintable(m_server.errorString()));
    const QRegularExpression portLine(QStringLiteral("port (\\d+)"));
    QByteArray out;
    QVERIFY(QTest::qWaitFor(
        [&] {
            out += m_server.readAllStandardOutput();
            const QRegularExpressionMatch match = portLine.match(QString::fromUtf8(out));
            if (match.hasMatch())
                m_port = match.captured(1).toInt();
            return m_port > 0;
        },
        10000));
}

void TestPageTrust::cleanupTestCase()
{
    m_server.terminate();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
}

void TestPageTrust::init()
{
    m_shell.reset(new ShellFixture);
    m_shell->set(QStringLiteral("shell_access_other_domains"), QStringLiteral("localhost"));
    m_shell->set(QStringLiteral("shell_access_on_load_domain"), true);
    m_shell->set(QStringLiteral("shell_access_other_subdomains"), false);
    m_shell->set(QStringLiteral("cross_domain_restriction"), false);
    m_shell->set(QStringLiteral("max_pages_in_memory"), 0);
}

void TestPageTrust::cleanup()
{
    m_shell.reset();
}

QString TestPageTrust::untrusted(const QString &name) const
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(name);
}

QString TestPageTrust::trusted(const QString &name) const
{
    return QStringLiteral("http://localhost:%1/%2").arg(m_port).arg(name);
}

void TestPageTrust::serve(const QString &name, const QByteArray &html)
{
    QFile file(m_served.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(html);
}

// Starts the shell with startHtml as the local start page and waits until it has its key.
QWebFrame *TestPageTrust::startOn(const QByteArray &startHtml)
{
    m_shell->writePage(QStringLiteral("app/start.html"), startHtml);
    m_shell->writePage(QStringLiteral("app/probe.html"), page(QStringLiteral("probe")));
    m_shell->writePage(QStringLiteral("app/probe2.html"), page(QStringLiteral("probe again")));
    m_shell->start(QStringLiteral("app/start.html"));
    if (!QTest::qWaitFor([this] { return m_shell->contentReady(QStringLiteral("start.html")); },
                         10000))
        return nullptr;
    return m_shell->content();
}

// Every address the host lets through reaches the container's setUrlRequested; keep a copy.
void TestPageTrust::recordUrlRequests()
{
    m_shell->eval(
        m_shell->mainFrame(),
        QStringLiteral(
            "window.requestedUrls = []; window.setUrlRequested = (function( original ) {"
            " return function( url ) { requestedUrls.push( url ); return original( url ); };"
            " })( window.setUrlRequested );"));
}

QStringList TestPageTrust::urlRequests() const
{
    return m_shell->eval(m_shell->mainFrame(), QStringLiteral("window.requestedUrls"))
        .toStringList();
}

// Loads a local page into a trusted probe frame and waits for the load to finish and for the
// host to publish into it: the host's frame walk has then run over everything else present.
bool TestPageTrust::forceLoad(QWebFrame *probe, const QString &localPage)
{
    QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
    // Navigated by its own script, as a page does it: the engine then reports the page load
    // when the new document is complete.
    probe->evaluateJavaScript(QStringLiteral("location.href = '%1';")
                                  .arg(QUrl::fromLocalFile(m_shell->path(localPage)).toString()));
    return QTest::qWaitFor(
        [&] { return !finished.isEmpty() && typeOfQtObj(probe) == QLatin1String("object"); },
        10000);
}

bool TestPageTrust::serverSaw(const QString &path)
{
    m_serverLog += m_server.readAllStandardError();
    return m_serverLog.contains(QStringLiteral("\"GET /%1 ").arg(path).toUtf8());
}

// A local frame gets QtObj; a frame from an untrusted host does not, nor does anything below
// it, even a trusted host or a local file.
void TestPageTrust::hostObjectOnlyInTrustedFrames_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("expected");
    QTest::newRow("main frame") << QString() << "object";
    QTest::newRow("trusted local content") << "contentFrame"
                                           << "object";
    QTest::newRow("trusted host") << "goodHost"
                                  << "object";
    QTest::newRow("untrusted loopback host") << "evil"
                                             << "undefined";
    QTest::newRow("untrusted child of untrusted") << "evilChild"
                                                  << "undefined";
    QTest::newRow("trusted host under untrusted") << "evilTrustedHost"
                                                  << "undefined";
    QTest::newRow("local file under untrusted") << "evilLocal"
                                                << "undefined";
    QTest::newRow("untrusted declaring a file base") << "baseFile"
                                                     << "undefined";
    QTest::newRow("untrusted declaring a trusted base") << "baseHost"
                                                        << "undefined";
    QTest::newRow("data address from trusted page") << "dataFrame"
                                                    << "undefined";
    QTest::newRow("srcdoc from trusted page") << "srcdocFrame"
                                              << "undefined";
    QTest::newRow("about blank written by trusted page") << "written"
                                                         << "undefined";
    QTest::newRow("sandboxed local file") << "sandboxed"
                                          << "undefined";
}

void TestPageTrust::hostObjectOnlyInTrustedFrames()
{
    QFETCH(QString, frame);
    QFETCH(QString, expected);
    serve(QStringLiteral("t1-child.html"),
          page(QStringLiteral("<script>var parsedWith = typeof(QtObj);</script>")));
    serve(QStringLiteral("t1-evil.html"),
          page(QStringLiteral("<script>var parsedWith = typeof(QtObj);</script>"
                              "<iframe name=\"evilChild\" src=\"%1\"></iframe>"
                              "<iframe name=\"evilTrustedHost\" src=\"%2\"></iframe>"
                              "<iframe name=\"evilLocal\" src=\"about:blank\"></iframe>")
                   .arg(untrusted(QStringLiteral("t1-child.html")),
                        trusted(QStringLiteral("t1-child.html")))));
    const QString probeScript = QStringLiteral("<script>var parsedWith = typeof(QtObj);</script>");
    serve(QStringLiteral("t1-base-file.html"),
          page(QStringLiteral("<base href=\"file:///\">") + probeScript));
    serve(QStringLiteral("t1-base-host.html"),
          page(QStringLiteral("<base href=\"%1\">").arg(trusted(QString())) + probeScript));
    QWebFrame *content = startOn(page(
        QStringLiteral("<iframe name=\"evil\" src=\"%1\"></iframe>"
                       "<iframe name=\"goodHost\" src=\"%2\"></iframe>"
                       "<iframe name=\"baseFile\" src=\"%3\"></iframe>"
                       "<iframe name=\"baseHost\" src=\"%4\"></iframe>"
                       "<iframe name=\"dataFrame\" src=\"data:text/html,<p>data</p>\"></iframe>"
                       "<iframe name=\"srcdocFrame\" srcdoc=\"<p>srcdoc</p>\"></iframe>"
                       "<iframe name=\"written\"></iframe>"
                       "<iframe name=\"sandboxed\" sandbox=\"allow-scripts\" "
                       "src=\"probe2.html\"></iframe>"
                       "<script>var doc = frames['written'].document; doc.open();"
                       " doc.write('<p>written</p>'); doc.close();</script>"
                       "<iframe name=\"probe\" src=\"probe.html\"></iframe>")
            .arg(untrusted(QStringLiteral("t1-evil.html")),
                 trusted(QStringLiteral("t1-child.html")),
                 untrusted(QStringLiteral("t1-base-file.html")),
                 untrusted(QStringLiteral("t1-base-host.html")))));
    QVERIFY(content);
    for (const char *name : { "evil", "evilChild", "evilTrustedHost", "goodHost", "baseFile",
                              "baseHost", "dataFrame", "srcdocFrame", "written", "sandboxed" })
        QTRY_VERIFY_WITH_TIMEOUT(isComplete(m_shell->frameNamed(QLatin1String(name))), 10000);
    // A page at an untrusted host cannot load a local file itself; the host can, so the walk
    // meets a local file below an untrusted frame all the same.
    QWebFrame *evilLocal = m_shell->frameNamed(QStringLiteral("evilLocal"));
    QVERIFY(evilLocal);
    evilLocal->setUrl(QUrl::fromLocalFile(m_shell->path(QStringLiteral("app/probe2.html"))));
    QTRY_VERIFY(evilLocal->url().isLocalFile() && isComplete(evilLocal));
    QVERIFY(
        forceLoad(m_shell->frameNamed(QStringLiteral("probe")), QStringLiteral("app/probe2.html")));

    QWebFrame *target = frame.isEmpty() ? m_shell->mainFrame() : m_shell->frameNamed(frame);
    QVERIFY(target);
    QCOMPARE(typeOfQtObj(target), expected);
    if (href(target).startsWith(QLatin1String("http:")))
        QCOMPARE(m_shell->eval(target, QStringLiteral("parsedWith")).toString(),
                 QStringLiteral("undefined"));
}

// Only an exact trusted host is trusted; a subdomain is not, whatever the subdomain switch says
// (it only widens cross-origin access). Names other than localhost do not resolve here, so the
// rule is asked directly.
void TestPageTrust::trustedHostIsExact_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("subdomains");
    QTest::addColumn<bool>("expected");
    QTest::newRow("trusted host") << "http://localhost:8080/a.html" << false << true;
    QTest::newRow("trusted host over https") << "https://vellum.example.com/" << false << true;
    QTest::newRow("host case is folded by parsing") << "http://LocalHost/a.html" << false << true;
    QTest::newRow("subdomain") << "http://sub.localhost/a.html" << false << false;
    QTest::newRow("subdomain with subdomains allowed")
        << "http://sub.localhost/a.html" << true << false;
    QTest::newRow("subdomain of a dotted entry")
        << "https://app.vellum.example.com/" << true << false;
    QTest::newRow("parent domain of an entry") << "https://example.com/" << false << false;
    QTest::newRow("entry as a suffix") << "http://evillocalhost/" << false << false;
    QTest::newRow("entry as a prefix") << "http://localhost.evil.org/" << false << false;
    QTest::newRow("entry in the user name") << "http://localhost@evil.org/" << false << false;
    QTest::newRow("loopback address") << "http://127.0.0.1/" << false << false;
    QTest::newRow("local file") << "file:///tmp/a.html" << false << true;
    QTest::newRow("about blank") << "about:blank" << false << false;
    QTest::newRow("empty") << "" << false << false;
}

void TestPageTrust::trustedHostIsExact()
{
    QFETCH(QString, url);
    QFETCH(bool, subdomains);
    QFETCH(bool, expected);
    m_shell->set(QStringLiteral("shell_access_other_domains"),
                 QStringList { QStringLiteral("localhost"), QStringLiteral("vellum.example.com") });
    m_shell->set(QStringLiteral("shell_access_other_subdomains"), subdomains);
    m_shell->start(QStringLiteral("app/none.html"));
    QCOMPARE(m_shell->host()->isTrustedUrl(QUrl(url)), expected);
}

// A link address is text inside evaluated script; a quote in it must stay inside the string.
void TestPageTrust::quotedLinkRunsNoScript_data()
{
    QTest::addColumn<QString>("href");
    QTest::newRow("quote in path") << "x');top.pwned=1;('";
    QTest::newRow("quote in query") << "x?a=');top.pwned=2;//";
    QTest::newRow("quote in fragment") << "x#');top.pwned=3;//";
    QTest::newRow("quote and backslash") << "x\\');top.pwned=4;//";
}

void TestPageTrust::quotedLinkRunsNoScript()
{
    QFETCH(QString, href);
    QWebFrame *content = startOn(page(
        QStringLiteral("<a id=\"link\" href=\"%1\">go</a>").arg(untrusted(href).toHtmlEscaped())));
    QVERIFY(content);
    recordUrlRequests();
    const QString resolved
        = m_shell->eval(content, QStringLiteral("document.getElementById('link').href")).toString();
    QVERIFY2(resolved.contains(QLatin1Char('\'')), qPrintable(resolved));
    m_shell->eval(content, QStringLiteral("document.getElementById('link').click()"));
    QTRY_COMPARE(urlRequests().size(), 1);
    QVERIFY2(urlRequests().first().contains(QLatin1Char('\'')), qPrintable(urlRequests().first()));
    QCOMPARE(m_shell->eval(m_shell->mainFrame(), QStringLiteral("typeof(top.pwned)")).toString(),
             QStringLiteral("undefined"));
}

// The relay in a trusted frame acts only on messages from the top window, and the container
// relays error reports only from frames it trusts.
void TestPageTrust::messagesFromUntrustedFramesRunNothing_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("toTop");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("expectedCalls");
    QTest::addColumn<bool>("keyReplaced");
    const QString callback = QStringLiteral("[ 'qtCallback', 900, 'victim', [ 'pwned' ], 0 ]");
    const QString globals
        = QStringLiteral("[ 'qtSetGlobals', 901, 'forged-key', '/t/', '/s/', '/d/', '/k/', '/l' ]");
    const QString error
        = QStringLiteral("[ 'qtInvokeError', 4, [ 'Invalid access key provided.' ] ]");
    QTest::newRow("qtCallback from untrusted frame") << "evil" << false << callback << 0 << false;
    QTest::newRow("qtSetGlobals from untrusted frame") << "evil" << false << globals << 0 << false;
    QTest::newRow("qtInvokeError from untrusted frame") << "evil" << true << error << 0 << false;
    QTest::newRow("qtCallback from the top window") << "top" << false << callback << 1 << false;
    QTest::newRow("qtSetGlobals from the top window") << "top" << false << globals << 0 << true;
    QTest::newRow("qtInvokeError from the trusted frame")
        << "content" << true << error << 1 << false;
}

void TestPageTrust::messagesFromUntrustedFramesRunNothing()
{
    QFETCH(QString, sender);
    QFETCH(bool, toTop);
    QFETCH(QString, message);
    QFETCH(int, expectedCalls);
    QFETCH(bool, keyReplaced);
    // Messages from one sender arrive in order: a marker sent after the attack (through the top
    // window when the attack went there) is in once the attack has been handled.
    const QString attack = QStringLiteral(
        "function attack( message, toTop ) {"
        " if ( toTop ) { top.postMessage( message, '*' ); top.postMessage( 'ping', '*' ); }"
        " else { parent.postMessage( message, '*' ); parent.postMessage( 'attack-done', '*' ); } "
        "}");
    serve(QStringLiteral("t4-evil.html"), page(QStringLiteral("<script>%1</script>").arg(attack)));
    QWebFrame *content = startOn(
        page(QStringLiteral(
                 "<script>var victimCalls = 0; var attackDone = false; %1"
                 "function victim() { victimCalls++; }"
                 "function onShellError() { victimCalls++; }"
                 "function onQtLoad() { qtOnError( 'onShellError' ); }"
                 "addEventListener( 'message', function( e ) { if ( e.data === 'attack-done' ) "
                 "attackDone = true; } );"
                 "</script><iframe name=\"evil\" src=\"%2\"></iframe>")
                 .arg(attack, untrusted(QStringLiteral("t4-evil.html")))));
    QVERIFY(content);
    QWebFrame *main = m_shell->mainFrame();
    QTRY_VERIFY(m_shell->eval(main, QStringLiteral("!!corvidRegistry['onShellError']")).toBool());
    QWebFrame *evil = m_shell->frameNamed(QStringLiteral("evil"));
    QTRY_VERIFY(isComplete(evil));
    m_shell->eval(
        main,
        QStringLiteral("addEventListener( 'message', function( e ) { if ( e.data === 'ping' )"
                       " document.getElementById( 'contentFrame' ).contentWindow"
                       ".postMessage( 'attack-done', '*' ); } );"));
    const QString key = m_shell->view()->accessKey();
    QCOMPARE(m_shell->eval(content, QStringLiteral("qtKey()")).toString(), key);
    if (sender == QLatin1String("top")) {
        m_shell->eval(
            main,
            QStringLiteral(
                "var target = document.getElementById( 'contentFrame' ).contentWindow;"
                "target.postMessage( %1, '*' ); target.postMessage( 'attack-done', '*' );")
                .arg(message));
    } else {
        m_shell->eval(sender == QLatin1String("evil") ? evil : content,
                      QStringLiteral("attack( %1, %2 )")
                          .arg(message, toTop ? QStringLiteral("true") : QStringLiteral("false")));
    }
    QTRY_VERIFY(m_shell->eval(content, QStringLiteral("attackDone")).toBool());
    QCOMPARE(m_shell->eval(content, QStringLiteral("victimCalls")).toInt(), expectedCalls);
    QCOMPARE(m_shell->eval(content, QStringLiteral("qtKey()")).toString(),
             keyReplaced ? QStringLiteral("forged-key") : key);
}

// Script can send the top window anywhere without passing the link policy; the page it lands
// on, and the frames inside it, must not hold the host object unless the host is trusted.
void TestPageTrust::topNavigatedByScript_data()
{
    QTest::addColumn<bool>("trustedTop");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("expected");
    QTest::newRow("untrusted top") << false << QString() << "undefined";
    QTest::newRow("trusted host under untrusted top") << false << "inner"
                                                      << "undefined";
    QTest::newRow("trusted top") << true << QString() << "object";
    QTest::newRow("trusted host under trusted top") << true << "inner"
                                                    << "object";
}

void TestPageTrust::topNavigatedByScript()
{
    QFETCH(bool, trustedTop);
    QFETCH(QString, frame);
    QFETCH(QString, expected);
    serve(QStringLiteral("t5-inner.html"),
          page(QStringLiteral("<script>var parsedWith = typeof(QtObj);</script>")));
    serve(QStringLiteral("t5-top.html"),
          page(QStringLiteral("<script>var parsedWith = typeof(QtObj);</script>"
                              "<iframe name=\"inner\" src=\"%1\"></iframe>")
                   .arg(trusted(QStringLiteral("t5-inner.html")))));
    QWebFrame *content = startOn(page(QStringLiteral("start")));
    QVERIFY(content);
    const QString address = trustedTop ? trusted(QStringLiteral("t5-top.html"))
                                       : untrusted(QStringLiteral("t5-top.html"));
    QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
    m_shell->eval(content, QStringLiteral("top.location = '%1';").arg(address));
    QTRY_VERIFY_WITH_TIMEOUT(m_shell->mainFrame()->url() == QUrl(address), 10000);
    QTRY_VERIFY(isComplete(m_shell->frameNamed(QStringLiteral("inner"))));
    QTRY_VERIFY(!finished.isEmpty());
    QWebFrame *target = frame.isEmpty() ? m_shell->mainFrame() : m_shell->frameNamed(frame);
    QCOMPARE(typeOfQtObj(target), expected);
    if (expected == QLatin1String("undefined"))
        QCOMPARE(m_shell->eval(target, QStringLiteral("parsedWith")).toString(), expected);
}

// A trusted frame that moves itself to an untrusted host leaves the host object behind.
void TestPageTrust::trustedFrameLeavingLosesHostObject_data()
{
    QTest::addColumn<bool>("fromHost");
    QTest::newRow("local frame") << false;
    QTest::newRow("trusted host frame") << true;
}

void TestPageTrust::trustedFrameLeavingLosesHostObject()
{
    QFETCH(bool, fromHost);
    serve(QStringLiteral("t5-good.html"), page(QStringLiteral("good")));
    serve(QStringLiteral("t5-away.html"),
          page(QStringLiteral("<script>var parsedWith = typeof(QtObj);</script>")));
    m_shell->writePage(QStringLiteral("app/good.html"), page(QStringLiteral("good")));
    const QString goodAddress
        = fromHost ? trusted(QStringLiteral("t5-good.html")) : QStringLiteral("good.html");
    QWebFrame *content = startOn(
        page(QStringLiteral("<iframe name=\"good\" src=\"%1\"></iframe>").arg(goodAddress)));
    QVERIFY(content);
    QWebFrame *good = m_shell->frameNamed(QStringLiteral("good"));
    QTRY_COMPARE(typeOfQtObj(good), QStringLiteral("object"));
    const QString away = untrusted(QStringLiteral("t5-away.html"));
    QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
    m_shell->eval(good, QStringLiteral("location = '%1';").arg(away));
    QTRY_VERIFY_WITH_TIMEOUT(href(good) == away && isComplete(good), 10000);
    QTRY_VERIFY(!finished.isEmpty());
    QCOMPARE(typeOfQtObj(good), QStringLiteral("undefined"));
    QCOMPARE(m_shell->eval(good, QStringLiteral("parsedWith")).toString(),
             QStringLiteral("undefined"));
}

// A local frame's callbacks go out without a nameable origin; once the frame has left for a web
// page, the container must stop sending them there.
void TestPageTrust::callbacksStopWhenLocalFrameLeaves()
{
    serve(
        QStringLiteral("t5b-away.html"),
        page(QStringLiteral(
            "<script>var got = []; var pong = false;"
            "addEventListener( 'message', function( e ) {"
            " if ( e.data === 'pong' ) pong = true; else got.push( JSON.stringify( e.data ) ); } );"
            "</script>")));
    m_shell->writePage(
        QStringLiteral("app/listener.html"),
        page(QStringLiteral("<script>var hits = 0; function leak() { hits++; }"
                            "function onQtLoad() { qtCallbackPersistent( 'leak' ); }</script>")));
    QWebFrame *content = startOn(
        page(QStringLiteral("<iframe name=\"listener\" src=\"listener.html\"></iframe>")));
    QVERIFY(content);
    QWebFrame *listener = m_shell->frameNamed(QStringLiteral("listener"));
    QTRY_VERIFY(
        m_shell->eval(m_shell->mainFrame(), QStringLiteral("!!corvidRegistry['leak']")).toBool());
    QWebFrame *main = m_shell->mainFrame();
    const QString target = QStringLiteral(
        "document.getElementById('contentFrame').contentWindow.frames['listener']");
    m_shell->eval(main, QStringLiteral("invokeCallback( 'leak', [ 'first' ], 0 );"));
    QTRY_COMPARE(m_shell->eval(listener, QStringLiteral("hits")).toInt(), 1);

    const QString away = untrusted(QStringLiteral("t5b-away.html"));
    m_shell->eval(listener, QStringLiteral("location = '%1';").arg(away));
    QTRY_VERIFY_WITH_TIMEOUT(href(listener) == away && isComplete(listener), 10000);
    m_shell->eval(
        main,
        QStringLiteral("invokeCallback( 'leak', [ 'secret' ], 0 ); %1.postMessage( 'pong', '*' );")
            .arg(target));
    QTRY_VERIFY(m_shell->eval(listener, QStringLiteral("pong")).toBool());
    QCOMPARE(m_shell->eval(listener, QStringLiteral("got.join( '|' )")).toString(), QString());
}

// The container hands the key out for 'grantQtAccess' only to local files and trusted hosts.
void TestPageTrust::accessGrantedOnlyToTrustedOrigins_data()
{
    QTest::addColumn<bool>("fromTrustedHost");
    QTest::addColumn<bool>("expectKey");
    QTest::newRow("untrusted loopback host") << false << false;
    QTest::newRow("trusted host") << true << true;
}

void TestPageTrust::accessGrantedOnlyToTrustedOrigins()
{
    QFETCH(bool, fromTrustedHost);
    QFETCH(bool, expectKey);
    serve(
        QStringLiteral("t6-ask.html"),
        page(QStringLiteral(
            "<script>var got = []; var pong = false;"
            "addEventListener( 'message', function( e ) {"
            " if ( e.data === 'pong' ) pong = true; else got.push( JSON.stringify( e.data ) ); } );"
            "function ask() { got = []; pong = false; top.postMessage( 'grantQtAccess', '*' );"
            " top.postMessage( 'ping', '*' ); }</script>")));
    const QString address = fromTrustedHost ? trusted(QStringLiteral("t6-ask.html"))
                                            : untrusted(QStringLiteral("t6-ask.html"));
    QWebFrame *content
        = startOn(page(QStringLiteral("<iframe name=\"asker\" src=\"%1\"></iframe>").arg(address)));
    QVERIFY(content);
    QWebFrame *asker = m_shell->frameNamed(QStringLiteral("asker"));
    QTRY_VERIFY(isComplete(asker));
    // The container answers in order, so its answer to the request comes before the pong.
    m_shell->eval(
        m_shell->mainFrame(),
        QStringLiteral("addEventListener( 'message', function( e ) {"
                       " if ( e.data === 'ping' ) e.source.postMessage( 'pong', '*' ); } );"));
    m_shell->eval(asker, QStringLiteral("ask()"));
    QTRY_VERIFY(m_shell->eval(asker, QStringLiteral("pong")).toBool());
    const QString got = m_shell->eval(asker, QStringLiteral("got.join( '\\n' )")).toString();
    const QString key = m_shell->view()->accessKey();
    QCOMPARE(got.contains(key), expectKey);
    QCOMPARE(got.contains(QLatin1String("qtSetGlobals")), expectKey);
}

// A clicked link passes the cross-domain check, then the ignore list, then goes to the page.
void TestPageTrust::clickedLinkPolicy_data()
{
    QTest::addColumn<bool>("restricted");
    QTest::addColumn<bool>("startOnTrustedHost");
    QTest::addColumn<bool>("toTrustedHost");
    QTest::addColumn<bool>("followed");
    QTest::addColumn<QString>("box");
    const QString denied
        = QStringLiteral("Access Denied|Cannot Browse To Pages Outside Of This Domain!");
    QTest::newRow("followed link loads") << false << false << false << true << QString();
    QTest::newRow("foreign host refused") << true << false << false << false << denied;
    QTest::newRow("same host followed under restriction")
        << true << true << true << true << QString();
    QTest::newRow("other host refused from a hosted start page")
        << true << true << false << false << denied;
}

void TestPageTrust::clickedLinkPolicy()
{
    QFETCH(bool, restricted);
    QFETCH(bool, startOnTrustedHost);
    QFETCH(bool, toTrustedHost);
    QFETCH(bool, followed);
    QFETCH(QString, box);
    m_shell->set(QStringLiteral("cross_domain_restriction"), restricted);
    const QString targetName = QStringLiteral("t7-target-%1.html")
                                   .arg(QTest::currentDataTag())
                                   .replace(QLatin1Char(' '), QLatin1Char('-'));
    serve(targetName, page(QStringLiteral("<script>var arrived = true;</script>")));
    const QString target = toTrustedHost ? trusted(targetName) : untrusted(targetName);
    const QByteArray startHtml
        = page(QStringLiteral("<a id=\"link\" href=\"%1\">go</a>").arg(target));
    QWebFrame *content = nullptr;
    if (startOnTrustedHost) {
        serve(QStringLiteral("t7-start.html"), startHtml);
        m_shell->writePage(QStringLiteral("app/start.html"), startHtml);
        m_shell->start(QStringLiteral("app/start.html"));
        // The start page is read when the wait ends, after this.
        m_shell->set(QStringLiteral("on_load_url"), trusted(QStringLiteral("t7-start.html")));
        QTRY_VERIFY_WITH_TIMEOUT(
            href(m_shell->content()) == trusted(QStringLiteral("t7-start.html"))
                && m_shell
                       ->eval(m_shell->content(),
                              QStringLiteral("typeof(qtKey) == 'function' && qtKey() != null"))
                       .toBool(),
            10000);
        content = m_shell->content();
    } else {
        content = startOn(startHtml);
    }
    QVERIFY(content);
    const QString before = href(content);
    recordUrlRequests();
    m_shell->eval(content, QStringLiteral("document.getElementById('link').click()"));
    if (followed) {
        QTRY_COMPARE(urlRequests(), QStringList { target });
        QTRY_VERIFY_WITH_TIMEOUT(
            href(content) == target
                && m_shell->eval(content, QStringLiteral("window.arrived === true")).toBool(),
            10000);
        QTRY_VERIFY(m_shell->host()->webView()->isVisible());
        QVERIFY(m_shell->prompter.shown.isEmpty());
    } else {
        QTRY_COMPARE(m_shell->prompter.shown, QStringList { box });
        // The click also reports itself to the container; once a later message from the same
        // frame is in, the container has acted on it.
        m_shell->eval(
            m_shell->mainFrame(),
            QStringLiteral("window.syncSeen = false; addEventListener( 'message', function( e ) {"
                           " if ( e.data === 'sync' ) syncSeen = true; } );"));
        m_shell->eval(content, QStringLiteral("top.postMessage( 'sync', '*' );"));
        QTRY_VERIFY(m_shell->eval(m_shell->mainFrame(), QStringLiteral("syncSeen")).toBool());
        QVERIFY(urlRequests().isEmpty());
        QCOMPARE(href(content), before);
        QVERIFY(m_shell->host()->webView()->isVisible());
        QVERIFY(!serverSaw(targetName));
    }
}

// Links that lead nowhere are dropped before the page is asked to load anything.
void TestPageTrust::ignoredLinks_data()
{
    QTest::addColumn<bool>("restricted");
    QTest::addColumn<QString>("link");
    QTest::newRow("hash") << false << "#";
    QTest::newRow("javascript void") << false << "javascript:void(0)";
    QTest::newRow("javascript void in capitals") << false << "JavaScript:Void(0)";
    QTest::newRow("hash under restriction") << true << "#";
    QTest::newRow("javascript void under restriction") << true << "javascript:void(0)";
}

void TestPageTrust::ignoredLinks()
{
    QFETCH(bool, restricted);
    QFETCH(QString, link);
    m_shell->set(QStringLiteral("cross_domain_restriction"), restricted);
    QWebFrame *content = startOn(page(QStringLiteral("start")));
    QVERIFY(content);
    recordUrlRequests();
    const QString before = href(content);
    // The engine runs such links itself and never asks; the host still drops them when asked.
    emit m_shell->host()->webView()->page()->linkClicked(QUrl(link));
    QVERIFY(urlRequests().isEmpty());
    QVERIFY(m_shell->prompter.shown.isEmpty());
    QVERIFY(m_shell->host()->webView()->isVisible());
    QCOMPARE(href(content), before);
}

// A link within a page arrives resolved against the page ("#" as the page's own address with
// an empty fragment), and jumping there loads nothing: the view must not be left hidden.
void TestPageTrust::inPageLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("landsOn");
    QTest::newRow("hash") << "#"
                          << "t8-links.html";
    QTest::newRow("fragment") << "#part"
                              << "t8-links.html#part";
    QTest::newRow("other page") << "t8-other.html"
                                << "t8-other.html";
}

void TestPageTrust::inPageLinks()
{
    QFETCH(QString, link);
    QFETCH(QString, landsOn);
    serve(
        QStringLiteral("t8-links.html"),
        page(QStringLiteral("<a id=\"link\" href=\"%1\">go</a><p id=\"part\">part</p>").arg(link)));
    serve(QStringLiteral("t8-other.html"), page(QStringLiteral("other")));
    QWebFrame *content = startOn(page(QStringLiteral("<iframe name=\"hosted\" src=\"%1\"></iframe>")
                                          .arg(untrusted(QStringLiteral("t8-links.html")))));
    QVERIFY(content);
    QWebFrame *hosted = m_shell->frameNamed(QStringLiteral("hosted"));
    QTRY_VERIFY(isComplete(hosted));
    recordUrlRequests();
    QSignalSpy clicked(m_shell->host()->webView()->page(), &QWebPage::linkClicked);
    m_shell->eval(hosted, QStringLiteral("document.getElementById('link').click()"));
    QCOMPARE(clicked.count(), 1);
    const QString address = untrusted(landsOn);
    // A link in an embedded frame is followed there; the container is never asked.
    QVERIFY(urlRequests().isEmpty());
    QTRY_COMPARE(href(hosted), address);
    QTRY_VERIFY(isComplete(hosted));
    QTRY_VERIFY(m_shell->host()->webView()->isVisible());
}

// An embedded frame cannot make a link of its own replace the app by keeping its click to
// itself, nor take the app's own link by reporting a click it did not make.
void TestPageTrust::linkFollowedOnlyInClickingFrame_data()
{
    QTest::addColumn<bool>("evilClicks");
    QTest::addColumn<QString>("evilScript");
    QTest::newRow("untrusted frame hides its click")
        << true << "addEventListener( 'click', function( e ) { e.stopPropagation(); }, true );";
    QTest::newRow("untrusted frame reports the app's click")
        << false << "setInterval( function() { top.postMessage( 'qtLinkClicked', '*' ); }, 1 );";
}

void TestPageTrust::linkFollowedOnlyInClickingFrame()
{
    QFETCH(bool, evilClicks);
    QFETCH(QString, evilScript);
    serve(QStringLiteral("t9-target.html"), page(QStringLiteral("target")));
    const QString target = untrusted(QStringLiteral("t9-target.html"));
    const QString evilName = QStringLiteral("t9-evil-%1.html").arg(evilClicks);
    serve(evilName,
          page(QStringLiteral("<a id=\"link\" href=\"%1\">go</a><script>%2</script>")
                   .arg(target, evilScript)));
    QWebFrame *content = startOn(page(QStringLiteral("<a id=\"link\" href=\"%1\">go</a>"
                                                     "<iframe name=\"evil\" src=\"%2\"></iframe>")
                                          .arg(target, untrusted(evilName))));
    QVERIFY(content);
    QPointer<QWebFrame> evil = m_shell->frameNamed(QStringLiteral("evil"));
    QTRY_VERIFY(isComplete(evil));
    QWebFrame *clicker = evilClicks ? evil.data() : content;
    m_shell->eval(clicker, QStringLiteral("document.getElementById('link').click()"));
    if (!evilClicks) {
        QTRY_VERIFY_WITH_TIMEOUT(href(content) == target && isComplete(content), 10000);
        return;
    }
    // The frame goes with the app's page if the link replaced it.
    QTRY_VERIFY_WITH_TIMEOUT(!evil || (href(evil) == target && isComplete(evil)), 10000);
    // The container's own wait for a report is 50 ms.
    QTest::qWait(300);
    QCOMPARE(href(content).section(QLatin1Char('/'), -1), QStringLiteral("start.html"));
    QVERIFY(evil);
}

// Reaching the page limit hands over to one successor with one empty argument.
void TestPageTrust::pageLimitRestartsOnce_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("restartAtLoad");
    QTest::newRow("three") << 3 << 3;
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("zero never") << 0 << 0;
}

void TestPageTrust::pageLimitRestartsOnce()
{
    QFETCH(int, limit);
    QFETCH(int, restartAtLoad);
    m_shell->set(QStringLiteral("max_pages_in_memory"), limit);
    for (int i = 1; i <= 5; ++i)
        m_shell->writePage(QStringLiteral("app/p%1.html").arg(i),
                           page(QStringLiteral("page %1").arg(i)));
    m_shell->start(QStringLiteral("app/p1.html"),
                   QStringLiteral("corvid-pagetrust-%1").arg(QCoreApplication::applicationPid()));
    QtWebViewPrivate *host = m_shell->host();
    host->setRecoverQuitDelay(600000);
    // The loads are driven one by one below, so the start page must not come in between.
    host->saveUrl(QStringLiteral("app/p1.html"));
    QList<QPair<QStringList, int>> starts;
    QString program;
    host->setProcessStarter([&](const QString &executable, const QStringList &arguments) {
        program = executable;
        starts.append({ arguments, host->loadCount() });
        return true;
    });
    QSignalSpy finished(host->webView(), &QGraphicsWebView::loadFinished);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    for (int i = 2; i <= 5; ++i) {
        QWebFrame *content = m_shell->content();
        QVERIFY(content);
        content->setUrl(QUrl::fromLocalFile(m_shell->path(QStringLiteral("app/p%1.html").arg(i))));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), i, 10000);
        QCOMPARE(starts.size(), restartAtLoad > 0 && i >= restartAtLoad ? 1 : 0);
    }
    QCOMPARE(host->loadCount(), 5);
    if (restartAtLoad == 0) {
        QVERIFY(starts.isEmpty());
        QVERIFY(m_shell->viewer->isVisible());
        return;
    }
    QCOMPARE(starts.size(), 1);
    QCOMPARE(starts.first().second, restartAtLoad);
    QCOMPARE(starts.first().first, QStringList { QString() });
    QCOMPARE(program, QCoreApplication::applicationFilePath());
    QVERIFY(!m_shell->viewer->isVisible());
}

// Frames are found by the ids the host handed out, never by what a frame says about itself.
void TestPageTrust::frameIdClaimsAreNotBelieved_data()
{
    QTest::addColumn<QString>("claim");
    QTest::addColumn<bool>("navigateAway");
    QTest::addColumn<QString>("expected");
    QTest::newRow("claims a trusted sibling's id") << "good" << false << "good";
    QTest::newRow("claims an id never handed out") << "unused" << false << QString();
    QTest::newRow("claims the main frame's id") << "main" << false << QString();
    QTest::newRow("takes over a trusted frame's place") << "good" << true << QString();
}

void TestPageTrust::frameIdClaimsAreNotBelieved()
{
    QFETCH(QString, claim);
    QFETCH(bool, navigateAway);
    QFETCH(QString, expected);
    const QString claimant = page(
        QStringLiteral("<script>var claim = -1; function frameId() { return claim; }</script>"));
    serve(QStringLiteral("t9-claim.html"), claimant.toUtf8());
    m_shell->writePage(QStringLiteral("app/good.html"), page(QStringLiteral("good")));
    // The claimant comes first, so a search that asks the frames would meet it first.
    QWebFrame *content
        = startOn(page(QStringLiteral("<iframe name=\"evil\" src=\"%1\"></iframe>"
                                      "<iframe name=\"good\" src=\"good.html\"></iframe>")
                           .arg(untrusted(QStringLiteral("t9-claim.html")))));
    QVERIFY(content);
    QWebFrame *evil = m_shell->frameNamed(QStringLiteral("evil"));
    QWebFrame *good = m_shell->frameNamed(QStringLiteral("good"));
    QTRY_VERIFY(isComplete(evil));
    QTRY_COMPARE(typeOfQtObj(good), QStringLiteral("object"));
    const uint goodId = m_shell->eval(good, QStringLiteral("frameId()")).toUInt();
    const uint mainId = m_shell->eval(m_shell->mainFrame(), QStringLiteral("frameId()")).toUInt();
    QCOMPARE(m_shell->host()->findFrameById(m_shell->mainFrame(), goodId), good);
    uint id = claim == QLatin1String("good") ? goodId
        : claim == QLatin1String("main")     ? mainId
                                             : 100000;
    QWebFrame *claiming = evil;
    if (navigateAway) {
        const QString address = untrusted(QStringLiteral("t9-claim.html"));
        m_shell->eval(good, QStringLiteral("location = '%1';").arg(address));
        QTRY_VERIFY_WITH_TIMEOUT(href(good) == address && isComplete(good), 10000);
        claiming = good;
    }
    m_shell->eval(claiming, QStringLiteral("claim = %1;").arg(id));
    QCOMPARE(m_shell->eval(claiming, QStringLiteral("frameId()")).toUInt(), id);
    QWebFrame *found = m_shell->host()->findFrameById(m_shell->mainFrame(), id);
    QWebFrame *wanted = expected.isEmpty() ? nullptr : m_shell->frameNamed(expected);
    QCOMPARE(found, wanted);
}

// Closing the window while a page still loads stops the load, and the engine reports that as
// a finished load while the host is being torn down; the host must not act on it then.
void TestPageTrust::closingWhileLoadingIsSafe_data()
{
    QTest::addColumn<bool>("hostedPagePending");
    QTest::newRow("container still loading") << false;
    QTest::newRow("hosted page still loading") << true;
}

void TestPageTrust::closingWhileLoadingIsSafe()
{
    QFETCH(bool, hostedPagePending);
    m_shell->start(QStringLiteral("app/none.html"));
    if (hostedPagePending) {
        QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
        QTRY_VERIFY(!finished.isEmpty());
        m_shell->eval(
            m_shell->mainFrame(),
            QStringLiteral("document.getElementById( 'contentFrame' ).src = '%1';")
                .arg(untrusted(
                    QStringLiteral("slow-%1.html").arg(QCoreApplication::applicationPid()))));
    }
    m_shell->viewer.reset();
    QVERIFY(!m_shell->viewer);
}

QTEST_MAIN(TestPageTrust)
#include "tst_pagetrust.moc"
