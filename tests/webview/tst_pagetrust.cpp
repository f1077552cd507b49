#include "shellfixture.h"

#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

// Trust, navigation and link policy of the page host, driven by hostile pages: local files for
// trusted content, and a python3 http.server on 127.0.0.1 for content from other hosts. Only
// "localhost" is trusted, so the same server is a trusted host as http://localhost:port and an
// untrusted one as http://127.0.0.1:port. In page bodies, {T} and {U} stand for these two.

namespace {

QString evalText(QWebFrame *frame, const QString &script)
{
    return frame ? frame->evaluateJavaScript(script).toString() : QString();
}

QString typeOfQtObj(QWebFrame *frame)
{
    return evalText(frame, QStringLiteral("typeof(QtObj)"));
}

// The address of the document a frame shows (the frame's own url is not kept for every load).
QString href(QWebFrame *frame)
{
    return evalText(frame, QStringLiteral("location.href"));
}

bool isComplete(QWebFrame *frame)
{
    return evalText(frame, QStringLiteral("document.readyState")) == QLatin1String("complete");
}

bool shows(QWebFrame *frame, const QString &address)
{
    return href(frame) == address && isComplete(frame);
}

template<typename Condition> bool waitFor(Condition condition)
{
    return QTest::qWaitFor(condition, 10000);
}

// Run while the page is parsed, so that it tells whether QtObj was there from the start.
const QString Probe = QStringLiteral("<script>var parsedWith = typeof(QtObj);</script>");

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
    void messagesFromUntrustedFramesRunNothing_data();
    void messagesFromUntrustedFramesRunNothing();
    void topNavigatedByScript_data();
    void topNavigatedByScript();
    void trustedFrameLeaving_data();
    void trustedFrameLeaving();
    void accessGrantedOnlyToTrustedOrigins_data();
    void accessGrantedOnlyToTrustedOrigins();
    void linkPolicy_data();
    void linkPolicy();
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
    QString expand(QString body) const
    {
        return body.replace(QLatin1String("{T}"), m_trusted)
            .replace(QLatin1String("{U}"), m_untrusted);
    }
    QByteArray page(const QString &body) const
    {
        return (QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>")
                + expand(body) + QStringLiteral("</body></html>"))
            .toUtf8();
    }
    void serve(const QString &name, const QString &body)
    {
        QFile file(m_served.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(page(body));
    }
    QWebFrame *startOn(const QString &body)
    {
        return m_shell->open(QStringLiteral("start.html"), page(body));
    }
    QWebFrame *frame(const char *name) const { return m_shell->frameNamed(QLatin1String(name)); }
    QVariant mainEval(const QString &script) { return m_shell->eval(m_shell->mainFrame(), script); }
    // Every address the host lets through reaches the container's setUrlRequested; keep a copy.
    void recordUrlRequests()
    {
        mainEval(QStringLiteral("window.requestedUrls = []; setUrlRequested = (function( f ) {"
                                " return function( u ) { requestedUrls.push( u ); f( u ); };"
                                " })( setUrlRequested );"));
    }
    QStringList urlRequests() { return mainEval(QStringLiteral("requestedUrls")).toStringList(); }

    QTemporaryDir m_served;
    QProcess m_server;
    int m_port = 0;
    QString m_trusted;
    QString m_untrusted;
    QScopedPointer<ShellFixture> m_shell;
};

void TestPageTrust::initTestCase()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    QVERIFY2(!python.isEmpty(), "python3 is needed to serve pages from other hosts");
    QVERIFY(m_served.isValid());
    // Port 0: the server picks a free one and names it on its first line. It ends with this
    // process, even when a crash skips the clean-up.
    const QString serve = QStringLiteral(
        "import ctypes, runpy, signal, sys; ctypes.CDLL(None).prctl(1, signal.SIGTERM); "
        "sys.argv[0] = 'http.server'; runpy.run_module('http.server', run_name='__main__')");
    m_server.start(python,
                   { QStringLiteral("-u"), QStringLiteral("-c"), serve, QStringLiteral("0"),
                     QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--directory"), m_served.path() });
    QVERIFY2(m_server.waitForStarted(5000), qPrintable(m_server.errorString()));
    const QRegularExpression portLine(QStringLiteral("port (\\d+)"));
    QByteArray out;
    QVERIFY(waitFor([&] {
        out += m_server.readAllStandardOutput();
        m_port = portLine.match(QString::fromUtf8(out)).captured(1).toInt();
        return m_port > 0;
    }));
    m_trusted = QStringLiteral("http://localhost:%1/").arg(m_port);
    m_untrusted = QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
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

// A local frame gets QtObj; a frame from an untrusted host does not, nor does anything below
// it, even a trusted host or a local file; nor does a document a trusted page made itself.
void TestPageTrust::hostObjectOnlyInTrustedFrames_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("holds");
    QTest::newRow("main frame") << QString() << true;
    QTest::newRow("trusted local content") << QStringLiteral("contentFrame") << true;
    QTest::newRow("trusted host") << QStringLiteral("goodHost") << true;
    QTest::newRow("untrusted loopback host") << QStringLiteral("evil") << false;
    QTest::newRow("untrusted child of untrusted") << QStringLiteral("evilChild") << false;
    QTest::newRow("trusted host under untrusted") << QStringLiteral("evilTrustedHost") << false;
    QTest::newRow("local file under untrusted") << QStringLiteral("evilLocal") << false;
    QTest::newRow("untrusted declaring a file base") << QStringLiteral("baseFile") << false;
    QTest::newRow("untrusted declaring a trusted base") << QStringLiteral("baseHost") << false;
    QTest::newRow("data address from trusted page") << QStringLiteral("dataFrame") << false;
    QTest::newRow("srcdoc from trusted page") << QStringLiteral("srcdocFrame") << false;
    QTest::newRow("about blank written by trusted page") << QStringLiteral("written") << false;
    QTest::newRow("sandboxed local file") << QStringLiteral("sandboxed") << false;
}

void TestPageTrust::hostObjectOnlyInTrustedFrames()
{
    QFETCH(QString, frame);
    QFETCH(bool, holds);
    serve(QStringLiteral("t1-child.html"), Probe);
    serve(QStringLiteral("t1-evil.html"),
          Probe
              + QStringLiteral("<iframe name=evilChild src={U}t1-child.html></iframe>"
                               "<iframe name=evilTrustedHost src={T}t1-child.html></iframe>"
                               "<iframe name=evilLocal src=about:blank></iframe>"));
    serve(QStringLiteral("t1-base-file.html"), QStringLiteral("<base href='file:///'>") + Probe);
    serve(QStringLiteral("t1-base-host.html"), QStringLiteral("<base href='{T}'>") + Probe);
    m_shell->writePage(QStringLiteral("app/probe.html"), page(QStringLiteral("probe")));
    m_shell->writePage(QStringLiteral("app/probe2.html"), page(QStringLiteral("probe again")));
    QVERIFY(startOn(
        QStringLiteral("<iframe name=evil src={U}t1-evil.html></iframe>"
                       "<iframe name=goodHost src={T}t1-child.html></iframe>"
                       "<iframe name=baseFile src={U}t1-base-file.html></iframe>"
                       "<iframe name=baseHost src={U}t1-base-host.html></iframe>"
                       "<iframe name=dataFrame src='data:text/html,<p>data</p>'></iframe>"
                       "<iframe name=srcdocFrame srcdoc='<p>srcdoc</p>'></iframe>"
                       "<iframe name=written></iframe>"
                       "<iframe name=sandboxed sandbox=allow-scripts src=probe2.html></iframe>"
                       "<script>var doc = frames['written'].document; doc.open();"
                       " doc.write('<p>written</p>'); doc.close();</script>"
                       "<iframe name=probe src=probe.html></iframe>")));
    for (const char *name : { "evil", "evilChild", "evilTrustedHost", "goodHost", "baseFile",
                              "baseHost", "dataFrame", "srcdocFrame", "written", "sandboxed" })
        QVERIFY2(waitFor([&] { return isComplete(this->frame(name)); }), name);
    // A page at an untrusted host cannot load a local file itself; the host can, so the walk
    // meets a local file below an untrusted frame all the same.
    QWebFrame *evilLocal = this->frame("evilLocal");
    evilLocal->setUrl(QUrl::fromLocalFile(m_shell->path(QStringLiteral("app/probe2.html"))));
    QTRY_VERIFY(evilLocal->url().isLocalFile() && isComplete(evilLocal));
    // The probe navigates itself; after that page load the host's frame walk has run over
    // everything present.
    QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
    QWebFrame *probe = this->frame("probe");
    probe->evaluateJavaScript(QStringLiteral("location.href = 'probe2.html';"));
    QVERIFY(waitFor([&] { return !finished.isEmpty() && typeOfQtObj(probe) == "object"; }));

    QWebFrame *target = frame.isEmpty() ? m_shell->mainFrame() : m_shell->frameNamed(frame);
    QCOMPARE(typeOfQtObj(target), holds ? "object" : "undefined");
    if (href(target).startsWith(QLatin1String("http:")))
        QCOMPARE(evalText(target, QStringLiteral("parsedWith")), QStringLiteral("undefined"));
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
    m_shell->create();
    QCOMPARE(m_shell->host()->isTrustedUrl(QUrl(url)), expected);
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
        "<script>function attack( message, toTop ) { var to = toTop ? top : parent;"
        " to.postMessage( message, '*' ); to.postMessage( toTop ? 'ping' : 'done', '*' ); }"
        "</script>");
    serve(QStringLiteral("t4-evil.html"), attack);
    QWebFrame *content
        = startOn(attack
                  + QStringLiteral(
                      "<script>var victimCalls = 0; var done = false;"
                      "function victim() { victimCalls++; }"
                      "function onShellError() { victimCalls++; }"
                      "function onQtLoad() { qtOnError( 'onShellError' ); }"
                      "addEventListener( 'message', function( e ) { done = e.data === 'done'; } );"
                      "</script><iframe name=evil src={U}t4-evil.html></iframe>"));
    QVERIFY(content);
    QTRY_VERIFY(mainEval(QStringLiteral("!!corvidRegistry['onShellError']")).toBool());
    QWebFrame *evil = frame("evil");
    QTRY_VERIFY(isComplete(evil));
    const QString toContent
        = QStringLiteral("document.getElementById( 'contentFrame' ).contentWindow.postMessage");
    mainEval(QStringLiteral("addEventListener( 'message', function( e ) {"
                            " if ( e.data === 'ping' ) %1( 'done', '*' ); } );")
                 .arg(toContent));
    const QString key = m_shell->view()->accessKey();
    QCOMPARE(evalText(content, QStringLiteral("qtKey()")), key);
    if (sender == QLatin1String("top"))
        mainEval(QStringLiteral("%1( %2, '*' ); %1( 'done', '*' );").arg(toContent, message));
    else
        m_shell->eval(sender == QLatin1String("evil") ? evil : content,
                      QStringLiteral("attack( %1, %2 )").arg(message).arg(toTop));
    QTRY_VERIFY(m_shell->eval(content, QStringLiteral("done")).toBool());
    QCOMPARE(m_shell->eval(content, QStringLiteral("victimCalls")).toInt(), expectedCalls);
    QCOMPARE(evalText(content, QStringLiteral("qtKey()")),
             keyReplaced ? QStringLiteral("forged-key") : key);
}

// Script can send the top window anywhere without passing the link policy; the page it lands
// on, and a trusted host's frame inside it, hold the host object only when that host is trusted.
void TestPageTrust::topNavigatedByScript_data()
{
    QTest::addColumn<bool>("trustedTop");
    QTest::newRow("untrusted top") << false;
    QTest::newRow("trusted top") << true;
}

void TestPageTrust::topNavigatedByScript()
{
    QFETCH(bool, trustedTop);
    serve(QStringLiteral("t5-inner.html"), Probe);
    serve(QStringLiteral("t5-top.html"),
          Probe + QStringLiteral("<iframe name=inner src={T}t5-inner.html></iframe>"));
    QWebFrame *content = startOn(QStringLiteral("start"));
    QVERIFY(content);
    const QString address = (trustedTop ? m_trusted : m_untrusted) + QStringLiteral("t5-top.html");
    QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
    m_shell->eval(content, QStringLiteral("top.location = '%1';").arg(address));
    QVERIFY(waitFor([&] {
        return m_shell->mainFrame()->url() == QUrl(address) && isComplete(frame("inner"))
            && !finished.isEmpty();
    }));
    for (QWebFrame *target : { m_shell->mainFrame(), frame("inner") }) {
        QCOMPARE(typeOfQtObj(target), trustedTop ? "object" : "undefined");
        if (!trustedTop)
            QCOMPARE(evalText(target, QStringLiteral("parsedWith")), QStringLiteral("undefined"));
    }
}

// A trusted frame that moves itself to an untrusted host leaves everything behind: the host
// object, its id and the callbacks it registered. A local frame's callbacks go out without a
// nameable origin, so the container must notice the move itself.
void TestPageTrust::trustedFrameLeaving_data()
{
    QTest::addColumn<QString>("good");
    QTest::newRow("local frame") << QStringLiteral("good.html");
    QTest::newRow("trusted host frame") << QStringLiteral("{T}t5-good.html");
}

void TestPageTrust::trustedFrameLeaving()
{
    QFETCH(QString, good);
    const QString goodBody
        = QStringLiteral("<script>var hits = 0; function leak() { hits++; }"
                         "function onQtLoad() { qtCallbackPersistent( 'leak' ); }"
                         "</script>");
    serve(QStringLiteral("t5-good.html"), goodBody);
    m_shell->writePage(QStringLiteral("app/good.html"), page(goodBody));
    serve(QStringLiteral("t5-away.html"),
          Probe
              + QStringLiteral("<script>var got = []; var pong = false;"
                               "addEventListener( 'message', function( e ) { if ( e.data === "
                               "'pong' ) pong = true; else got.push( e.data ); } );</script>"));
    QVERIFY(startOn(QStringLiteral("<iframe name=good src=%1></iframe>").arg(good)));
    QWebFrame *frame = this->frame("good");
    QTRY_VERIFY(mainEval(QStringLiteral("!!corvidRegistry['leak']")).toBool());
    mainEval(QStringLiteral("invokeCallback( 'leak', [], 0 );"));
    QTRY_COMPARE(m_shell->eval(frame, QStringLiteral("hits")).toInt(), 1);
    const uint id = m_shell->eval(frame, QStringLiteral("frameId()")).toUInt();
    QCOMPARE(m_shell->host()->findFrameById(m_shell->mainFrame(), id), frame);

    const QString away = m_untrusted + QStringLiteral("t5-away.html");
    QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
    m_shell->eval(frame, QStringLiteral("location = '%1';").arg(away));
    QVERIFY(waitFor([&] { return shows(frame, away) && !finished.isEmpty(); }));
    QCOMPARE(typeOfQtObj(frame), QStringLiteral("undefined"));
    QCOMPARE(evalText(frame, QStringLiteral("parsedWith")), QStringLiteral("undefined"));
    QVERIFY(!m_shell->host()->findFrameById(m_shell->mainFrame(), id));
    mainEval(QStringLiteral("invokeCallback( 'leak', [ 'secret' ], 0 );"
                            "document.getElementById('contentFrame').contentWindow"
                            ".frames['good'].postMessage( 'pong', '*' );"));
    QTRY_VERIFY(m_shell->eval(frame, QStringLiteral("pong")).toBool());
    QCOMPARE(evalText(frame, QStringLiteral("got.join( '|' )")), QString());
}

// The container hands the key out for 'grantQtAccess' only to local files and trusted hosts,
// and posts it to the asking frame's own origin.
void TestPageTrust::accessGrantedOnlyToTrustedOrigins_data()
{
    QTest::addColumn<QString>("asker");
    QTest::addColumn<bool>("granted");
    QTest::newRow("untrusted loopback host") << QStringLiteral("{U}t6-ask.html") << false;
    QTest::newRow("trusted host") << QStringLiteral("{T}t6-ask.html") << true;
}

void TestPageTrust::accessGrantedOnlyToTrustedOrigins()
{
    QFETCH(QString, asker);
    QFETCH(bool, granted);
    serve(QStringLiteral("t6-ask.html"),
          QStringLiteral("<script>var got = []; var pong = false;"
                         "addEventListener( 'message', function( e ) { if ( e.data === 'pong' )"
                         " pong = true; else got.push( JSON.stringify( e.data ) ); } );</script>"));
    QVERIFY(startOn(QStringLiteral("<iframe name=asker src=%1></iframe>").arg(asker)));
    QWebFrame *frame = this->frame("asker");
    QTRY_VERIFY(isComplete(frame));
    // The container answers in order, so its answer to the request comes before the pong.
    mainEval(QStringLiteral("addEventListener( 'message', function( e ) {"
                            " if ( e.data === 'ping' ) e.source.postMessage( 'pong', '*' ); } );"));
    m_shell->eval(frame,
                  QStringLiteral("got = []; top.postMessage( 'grantQtAccess', '*' );"
                                 " top.postMessage( 'ping', '*' );"));
    QTRY_VERIFY(m_shell->eval(frame, QStringLiteral("pong")).toBool());
    const QString got = evalText(frame, QStringLiteral("got.join()"));
    QCOMPARE(got.contains(m_shell->view()->accessKey()), granted);
    QCOMPARE(got.contains(QLatin1String("qtSetGlobals")), granted);
}

// A link the engine hands over passes the cross-domain check, then the ignore list, then goes
// to the container as text in a script. Links that lead nowhere are dropped (the engine runs
// them itself and never asks, but the host must not rely on that).
void TestPageTrust::linkPolicy_data()
{
    QTest::addColumn<bool>("restricted");
    QTest::addColumn<bool>("startOnTrustedHost");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("followed");
    QTest::addColumn<bool>("refused");
    const QString link = QStringLiteral("{U}t7.html");
    QTest::newRow("followed") << false << false << link << true << false;
    QTest::newRow("foreign host refused") << true << false << link << false << true;
    QTest::newRow("same host under restriction")
        << true << true << QStringLiteral("{T}t7.html") << true << false;
    QTest::newRow("other host from a hosted start") << true << true << link << false << true;
    for (const char *ignored : { "#", "javascript:void(0)", "JavaScript:Void(0)" }) {
        for (const bool restricted : { false, true }) {
            QTest::addRow("%s%s", ignored, restricted ? " under restriction" : "")
                << restricted << false << QString::fromLatin1(ignored) << false << false;
        }
    }
    const char *const quoted[] = { "x');top.pwned=1;('", "x?a=');top.pwned=2;//",
                                   "x#');top.pwned=3;//", "x\\');top.pwned=4;//" };
    for (const char *path : quoted)
        QTest::addRow("quoted %s", path)
            << false << false << QString(QStringLiteral("{U}") + QLatin1String(path)) << true
            << false;
}

void TestPageTrust::linkPolicy()
{
    QFETCH(bool, restricted);
    QFETCH(bool, startOnTrustedHost);
    QFETCH(QString, link);
    QFETCH(bool, followed);
    QFETCH(bool, refused);
    serve(QStringLiteral("t7.html"), QStringLiteral("arrived"));
    m_shell->set(QStringLiteral("cross_domain_restriction"), restricted);
    QWebFrame *content = startOn(QStringLiteral("start"));
    QVERIFY(content);
    // The restriction compares with the start page's host as it is configured now.
    if (startOnTrustedHost)
        m_shell->set(QStringLiteral("on_load_url"),
                     QString(m_trusted + QStringLiteral("start.html")));
    recordUrlRequests();
    const QString before = href(content);
    // As the engine hands links over: resolved against the page ("#" keeps an empty fragment).
    const QUrl url = QUrl(before).resolved(QUrl(expand(link)));
    emit m_shell->host()->webView()->page()->linkClicked(url);
    QCOMPARE(urlRequests(), followed ? QStringList { url.toString() } : QStringList {});
    const QString denied
        = QStringLiteral("Access Denied|Cannot Browse To Pages Outside Of This Domain!");
    QCOMPARE(m_shell->prompter.shown, refused ? QStringList { denied } : QStringList {});
    if (!followed)
        QCOMPARE(href(content), before);
    QCOMPARE(evalText(m_shell->mainFrame(), QStringLiteral("typeof(top.pwned)")),
             QStringLiteral("undefined"));
    // Hidden while a followed link loads; shown again once the content frame has it.
    QVERIFY(waitFor([&] { return m_shell->host()->webView()->isVisible(); }));
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
    serve(QStringLiteral("t8-links.html"),
          QStringLiteral("<a id=link href='%1'>go</a><p id=part>part</p>").arg(link));
    serve(QStringLiteral("t8-other.html"), QStringLiteral("other"));
    QVERIFY(startOn(QStringLiteral("<iframe name=hosted src={U}t8-links.html></iframe>")));
    QWebFrame *hosted = frame("hosted");
    QTRY_VERIFY(isComplete(hosted));
    recordUrlRequests();
    QSignalSpy clicked(m_shell->host()->webView()->page(), &QWebPage::linkClicked);
    m_shell->eval(hosted, QStringLiteral("document.getElementById('link').click()"));
    QCOMPARE(clicked.count(), 1);
    // A link in an embedded frame is followed there; the container is never asked.
    QVERIFY(urlRequests().isEmpty());
    QVERIFY(waitFor([&] { return shows(hosted, m_untrusted + landsOn); }));
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
    const QString link = QStringLiteral("<a id=link href={U}t9-target.html>go</a>");
    serve(QStringLiteral("t9-target.html"), QStringLiteral("target"));
    const QString evilName = QStringLiteral("t9-evil-%1.html").arg(evilClicks);
    serve(evilName, link + QStringLiteral("<script>%1</script>").arg(evilScript));
    QWebFrame *content
        = startOn(link + QStringLiteral("<iframe name=evil src={U}%1></iframe>").arg(evilName));
    QVERIFY(content);
    QPointer<QWebFrame> evil = frame("evil");
    QTRY_VERIFY(isComplete(evil));
    recordUrlRequests();
    m_shell->eval(evilClicks ? evil.data() : content,
                  QStringLiteral("document.getElementById('link').click()"));
    const QString target = m_untrusted + QStringLiteral("t9-target.html");
    if (!evilClicks) {
        QVERIFY(waitFor([&] { return shows(content, target); }));
        return;
    }
    // Followed in the frame alone: the container, which would load it into the app's frame,
    // never hears of it.
    QVERIFY(waitFor([&] { return !evil || shows(evil, target); }));
    QVERIFY(evil);
    QVERIFY(urlRequests().isEmpty());
    QCOMPARE(href(content).section(QLatin1Char('/'), -1), QStringLiteral("start.html"));
}

// Reaching the page limit hands over to one successor with one empty argument.
void TestPageTrust::pageLimitRestartsOnce_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("three") << 3;
    QTest::newRow("one") << 1;
    QTest::newRow("zero never") << 0;
}

void TestPageTrust::pageLimitRestartsOnce()
{
    QFETCH(int, limit);
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
    QSignalSpy finished(host->webView(), &QGraphicsWebView::loadFinished);
    for (int i = 1; i <= 5; ++i) {
        if (i > 1)
            m_shell->content()->setUrl(
                QUrl::fromLocalFile(m_shell->path(QStringLiteral("app/p%1.html").arg(i))));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), i, 10000);
        QCOMPARE(m_shell->started.size(), limit > 0 && i >= limit ? 1 : 0);
    }
    QCOMPARE(host->loadCount(), 5);
    const QString successor = QCoreApplication::applicationFilePath() + QLatin1Char(' ');
    QCOMPARE(m_shell->started, limit > 0 ? QStringList { successor } : QStringList {});
    QCOMPARE(m_shell->viewer->isVisible(), limit == 0);
}

// Frames are found by the ids the host handed out, never by what a frame says about itself.
void TestPageTrust::frameIdClaimsAreNotBelieved_data()
{
    QTest::addColumn<QString>("claim");
    QTest::addColumn<bool>("found");
    QTest::newRow("claims a trusted sibling's id") << "good" << true;
    QTest::newRow("claims an id never handed out") << "unused" << false;
    QTest::newRow("claims the main frame's id") << "main" << false;
}

void TestPageTrust::frameIdClaimsAreNotBelieved()
{
    QFETCH(QString, claim);
    QFETCH(bool, found);
    serve(QStringLiteral("t9-claim.html"),
          QStringLiteral("<script>var claim = -1; function frameId() { return claim; }</script>"));
    m_shell->writePage(QStringLiteral("app/good.html"), page(QStringLiteral("good")));
    // The claimant comes first, so a search that asks the frames would meet it first.
    QVERIFY(startOn(QStringLiteral("<iframe name=evil src={U}t9-claim.html></iframe>"
                                   "<iframe name=good src=good.html></iframe>")));
    QWebFrame *evil = frame("evil");
    QWebFrame *good = frame("good");
    QTRY_VERIFY(isComplete(evil));
    QTRY_COMPARE(typeOfQtObj(good), QStringLiteral("object"));
    QWebFrame *owner = claim == QLatin1String("main") ? m_shell->mainFrame() : good;
    const uint id = claim == QLatin1String("unused")
        ? 100000
        : m_shell->eval(owner, QStringLiteral("frameId()")).toUInt();
    m_shell->eval(evil, QStringLiteral("claim = %1;").arg(id));
    QCOMPARE(m_shell->eval(evil, QStringLiteral("frameId()")).toUInt(), id);
    QCOMPARE(m_shell->host()->findFrameById(m_shell->mainFrame(), id), found ? good : nullptr);
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
        QVERIFY(finished.wait(10000));
        mainEval(QStringLiteral("document.getElementById( 'contentFrame' ).src = '%1slow-%2.html';")
                     .arg(m_untrusted)
                     .arg(QCoreApplication::applicationPid()));
    }
    m_shell->viewer.reset();
    QVERIFY(!m_shell->viewer);
}

QTEST_MAIN(TestPageTrust)
#include "tst_pagetrust.moc"
