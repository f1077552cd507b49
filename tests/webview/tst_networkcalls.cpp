#include "shellfixture.h"

#include "../net/testca.h"
#include "../net/testserver.h"
#include "net/pipechannel.h"
#include "net/udplistener.h"
#include "webview/webviewprivate.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QNetworkRequest>
#include <QUdpSocket>

namespace {

const char CallerPage[]
    = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var received = [];
function onQtLoad() { qtCallbackPersistent( 'onDone' ); }
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
</script></body></html>)HTML";

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

} // namespace

// The network calls from a hosted page through the container to the services and back. What
// the services themselves answer is tested with them, in tests/net.
class TestNetworkCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void datagramsReachThePage();
    void startAddressByBroadcast();
    void fetchAndDownloadRoads_data();
    void fetchAndDownloadRoads();
    void pageDownloadAsksWhereToSave();
    void rootCertificateOnlyWhenAsked();
    void pipeReportsTheAppsPage();

private:
    // Opens the calling page once its callback is registered with the container.
    bool openCaller()
    {
        return m_shell->open(QStringLiteral("caller.html"), CallerPage) && QTest::qWaitFor([this] {
                   return m_shell
                       ->eval(m_shell->mainFrame(), QStringLiteral("'onDone' in corvidRegistry"))
                       .toBool();
               });
    }
    // Runs a script in the hosted frame and waits for the count-th response, as JSON.
    QString respond(const QString &script, int count = 1);
    QString served(const QString &path, const QString &scheme = QStringLiteral("http")) const
    {
        return m_server.url(path, scheme, QStringLiteral("localhost"));
    }

    QTemporaryDir m_files;
    TestServer m_server;
    QScopedPointer<ShellFixture> m_shell;
};

void TestNetworkCalls::initTestCase()
{
    QVERIFY(makeTestCa(m_files.path()));
    QFile::copy(m_files.filePath(QStringLiteral("ca.der")),
                m_files.filePath(QStringLiteral("ca.crt")));
    QFile page(m_files.filePath(QStringLiteral("start.html")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><body>start</body></html>");
    page.close();
    QVERIFY(m_server.start(m_files.path(), m_files.filePath(QStringLiteral("signed.pem")),
                           m_files.filePath(QStringLiteral("signed.key"))));
}

void TestNetworkCalls::init()
{
    m_shell.reset(new ShellFixture);
}

void TestNetworkCalls::cleanup()
{
    m_shell.reset();
}

QString TestNetworkCalls::respond(const QString &script, int count)
{
    QWebFrame *content = m_shell->content();
    m_shell->eval(content, script);
    if (!QTest::qWaitFor(
            [&] {
                return m_shell->eval(content, QStringLiteral("received.length")).toInt() >= count;
            },
            15000))
        return QStringLiteral("<no response>");
    return m_shell->eval(content, QStringLiteral("received.join( ';' )")).toString();
}

// Every datagram reaches the page in order, cut at a zero byte; a busy port is reported and
// leaves the listener free to try another; after a stop the same port listens again.
void TestNetworkCalls::datagramsReachThePage()
{
    QVERIFY(openCaller());
    QUdpSocket busy;
    QVERIFY(busy.bind(QHostAddress::Any, 0, QUdpSocket::DontShareAddress));
    QCOMPARE(
        respond(QStringLiteral("Qt().udpListen( qtKey(), 'onDone', 1, %1 )").arg(busy.localPort())),
        QStringLiteral("[1,false,1002,\"Could not bind UDP port.\"]"));

    const quint16 port = freeUdpPort();
    m_shell->eval(
        m_shell->content(),
        QStringLiteral("received = []; Qt().udpListen( qtKey(), 'onDone', 2, %1 )").arg(port));
    UdpListener *listener = m_shell->view()->webViewPrivate()->udpListener();
    QTRY_VERIFY(listener->isListening());
    QUdpSocket sender;
    for (const QByteArray &datagram :
         { QByteArray("f\xc3\xbcrst"), QByteArray("cut\0off", 7), QByteArray() })
        sender.writeDatagram(datagram, QHostAddress::LocalHost, port);
    QCOMPARE(respond(QString(), 3),
             QStringLiteral("[2,true,0,\"f\u00fcrst\"];[2,true,0,\"cut\"];[2,true,0,\"\"]"));

    QCOMPARE(respond(QStringLiteral("received = []; Qt().udpStop( qtKey(), 'onDone', 3 )")),
             QStringLiteral("[3,true,0,\"\"]"));
    m_shell->eval(
        m_shell->content(),
        QStringLiteral("received = []; Qt().udpListen( qtKey(), 'onDone', 4, %1 )").arg(port));
    QTRY_VERIFY(listener->isListening());
    sender.writeDatagram("again", QHostAddress::LocalHost, port);
    QCOMPARE(respond(QString()), QStringLiteral("[4,true,0,\"again\"]"));
}

// The container listens while the shell waits for a start address; a datagram that is not a
// web address is ignored, the first one that is becomes the start page.
void TestNetworkCalls::startAddressByBroadcast()
{
    const quint16 port = freeUdpPort();
    m_shell->set(QStringLiteral("use_udp_on_load_url"), true);
    m_shell->set(QStringLiteral("udp_listening_port"), port);
    m_shell->set(QStringLiteral("udp_wait_secs"), 60);
    m_shell->writePage(QStringLiteral("app/start.html"), "<html></html>");
    m_shell->start(QStringLiteral("app/start.html"));
    QTRY_VERIFY(m_shell->view()->webViewPrivate()->udpListener()
                && m_shell->view()->webViewPrivate()->udpListener()->isListening());
    QUdpSocket sender;
    sender.writeDatagram("javascript:parent.hijacked=1", QHostAddress::LocalHost, port);
    const QString address = served(QStringLiteral("/start.html"));
    sender.writeDatagram(address.toUtf8(), QHostAddress::LocalHost, port);
    QTRY_COMPARE(m_shell->content()->requestedUrl().toString(), address);
    QCOMPARE(m_shell->host()->savedUrl().toString(), address);
    QVERIFY(!m_shell->view()->webViewPrivate()->udpListener()->isListening());
    QVERIFY(m_shell->prompter.shown.isEmpty());
    QVERIFY(!m_shell->eval(m_shell->mainFrame(), QStringLiteral("window.hijacked")).toBool());
}

void TestNetworkCalls::fetchAndDownloadRoads_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("savePath");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("box");
    QTest::newRow("fetch")
        << "Qt().fetchSource( qtKey(), 'onDone', 5, '{S}/body?type=text/html&text=hello' )"
        << ""
        << "[5,true,0,\"hello\"]"
        << "";
    QTest::newRow("silent download") << "Qt().downloadSilent( qtKey(), '{S}/start.html', 'onDone' )"
                                     << ""
                                     << "[true,\"{D}/downloads/start.html\"]"
                                     << "";
    QTest::newRow("download with dialog")
        << "Qt().download( qtKey(), '{S}/start.html', 'onDone' )"
        << "{D}/chosen.html"
        << "[true,\"{D}/chosen.html\"]"
        << "Download Completed|chosen.html Has Finished Downloading.";
    QTest::newRow("failed download") << "Qt().downloadEx( qtKey(), '{S}/status?code=404', true, "
                                        "false, false, '', 'lost.html', 'onDone' )"
                                     << ""
                                     << "[false,\"\"]"
                                     << "";
}

// Each road from the page call to its answer, with the boxes a person would see.
void TestNetworkCalls::fetchAndDownloadRoads()
{
    QFETCH(QString, call);
    QFETCH(QString, savePath);
    QFETCH(QString, expected);
    QFETCH(QString, box);
    QVERIFY(openCaller());
    const QString dir = QFileInfo(m_shell->path(QStringLiteral("x"))).absolutePath();
    const auto fill = [&](QString text) {
        return text.replace(QStringLiteral("{S}"), served(QString()))
            .replace(QStringLiteral("{D}"), dir);
    };
    m_shell->prompter.savePath = fill(savePath);
    QCOMPARE(respond(fill(call)), fill(expected));
    if (!box.isEmpty())
        QVERIFY2(m_shell->prompter.shown.contains(box),
                 qPrintable(m_shell->prompter.shown.join('\n')));
    if (expected.startsWith(QLatin1String("[true"))) {
        QFile saved(fill(expected).section(QLatin1Char('"'), 1, 1));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("<html><body>start</body></html>"));
    }
    QVERIFY(!QFile::exists(dir + QStringLiteral("/downloads/lost.html")));
}

// A download the page itself asks for (its "save link" action) goes through the save dialog.
void TestNetworkCalls::pageDownloadAsksWhereToSave()
{
    QVERIFY(openCaller());
    m_shell->prompter.savePath = m_shell->path(QStringLiteral("asked.html"));
    emit m_shell->host()->webView()->page()->downloadRequested(
        QNetworkRequest(QUrl(served(QStringLiteral("/start.html")))));
    QTRY_VERIFY(QFile::exists(m_shell->prompter.savePath));
    QVERIFY(m_shell->prompter.saveConfirmedOverwrite);
    QCOMPARE(m_shell->prompter.shown.first(),
             QStringLiteral("Save File As|")
                 + m_shell->path(QStringLiteral("downloads/start.html")));
}

// A certificate address shown in the page is not content and is never trusted by itself; while
// the page's own install call is pending it is saved, trusted for this run, and the address is
// verified over TLS.
void TestNetworkCalls::rootCertificateOnlyWhenAsked()
{
    QVERIFY(openCaller());
    const QString certificate = served(QStringLiteral("/ca.crt"));
    m_shell->eval(
        m_shell->mainFrame(),
        QStringLiteral("document.getElementById( 'downloadFrame' ).src = '%1';").arg(certificate));
    QTRY_COMPARE(m_shell->prompter.shown,
                 QStringList { QStringLiteral("Content Not Supported|") + certificate });
    const QString secure = served(QStringLiteral("/ca.crt"), QStringLiteral("https"));
    const QString refused
        = respond(QStringLiteral("Qt().verifySSL( qtKey(), 'onDone', 6, '%1' )").arg(secure));
    QVERIFY2(
        refused.startsWith(
            QStringLiteral(
                "[6,false,1000,\"SSL cannot be verified for this url: %1.  SSL Error Details: ")
                .arg(secure)),
        qPrintable(refused));
    QCOMPARE(respond(QStringLiteral(
                         "received = []; Qt().installTrustedRootCert( qtKey(), 'onDone', 7, '%1' )")
                         .arg(secure)),
             QStringLiteral("[7,true,0,\"\"]"));
    QVERIFY(QFile::exists(m_shell->path(QStringLiteral("downloads/ca.crt"))));
}

// The peer on the automation pipe hears of the hosted app's page, not of the container.
void TestNetworkCalls::pipeReportsTheAppsPage()
{
    QTemporaryDir runtime;
    QVERIFY(QFile::setPermissions(runtime.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    m_shell->set(QStringLiteral("message_pipe_name"), QStringLiteral("corvid-test-pipe"));
    m_shell->set(QStringLiteral("pipe_out_urls"), true);
    QLocalServer peer;
    QVERIFY(peer.listen(PipeChannel::socketPathFor(QStringLiteral("corvid-test-pipe"))));
    QByteArray heard;
    connect(&peer, &QLocalServer::newConnection, [&] {
        QLocalSocket *socket = peer.nextPendingConnection();
        connect(socket, &QLocalSocket::readyRead, [&heard, socket] {
            heard += socket->readAll();
            socket->disconnectFromServer();
        });
    });
    const bool opened = openCaller();
    QTRY_VERIFY_WITH_TIMEOUT(heard.contains("caller.html"), 15000);
    if (savedRuntime.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    QVERIFY(opened);
    QVERIFY2(heard.contains("__on_viewer_page_loaded"), heard.constData());
}

QTEST_MAIN(TestNetworkCalls)
#include "tst_networkcalls.moc"
