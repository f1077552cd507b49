#include "net/pipechannel.h"

#include "config/appconfig.h"
#include "platform/logger.h"
#include "platform/platformpaths.h"

#include <QJsonDocument>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Page = QStringLiteral("http://127.0.0.1/app/Login.html");
const QString Malformed = QStringLiteral("malformed pipe response dropped");
constexpr int LongWait = 20000;

// The automation peer: the request on the n-th connection gets the n-th answer (later ones the
// last). "-" stays silent, "x" closes at once, and a '|' cuts the answer into two writes.
class Peer : public QObject
{
public:
    QLocalServer server;
    QList<QJsonObject> requests;
    int disconnects = 0;

    Peer(const QString &path, const QByteArrayList &answers)
    {
        QLocalServer::removeServer(path);
        QVERIFY(server.listen(path));
        connect(&server, &QLocalServer::newConnection, this, [this, answers] {
            QLocalSocket *socket = server.nextPendingConnection();
            connect(socket, &QLocalSocket::disconnected, this, [this] { ++disconnects; });
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, answers] {
                // Left in the socket until the whole request is there.
                const QJsonDocument request
                    = QJsonDocument::fromJson(socket->peek(socket->bytesAvailable()));
                if (!request.isObject())
                    return;
                socket->readAll();
                requests << request.object();
                const QByteArray answer = answers.at(qMin(requests.size(), answers.size()) - 1);
                if (answer == "x")
                    socket->disconnectFromServer();
                const QList<QByteArray> pieces = answer.split('|');
                if (answer != "x" && answer != "-")
                    socket->write(pieces.first());
                if (pieces.size() > 1)
                    QTimer::singleShot(20, socket, [=] { socket->write(pieces.last()); });
            });
        });
    }
};

QString listener(const QString &form, const QString &element)
{
    return QStringLiteral("frm = document.getElementById('%1') ? document.getElementById('%1') : "
                          "document.getElementsByName('%1')[0]; if( frm ) {    "
                          "frm.addEventListener( 'submit', function(e){         value = "
                          "document.getElementById('%2') ?         "
                          "document.getElementById('%2').value :         "
                          "document.getElementsByName('%2')[0].value;         if( QtObj ) {     "
                          "        QtObj.qtLog( 'reporting %2 value' );            "
                          "QtObj.reportElementValue( '%2', value );         }     } );    if( "
                          "QtObj ) QtObj.qtLog( 'listening for %1 submissions' );} ")
        .arg(form, element);
}

QByteArray watch(const QString &url, const QByteArray &form, const QByteArray &element)
{
    return R"({"func": "__get_viewer_value_updates", "parm": {"url": ")" + url.toUtf8()
        + R"(", "form": ")" + form + R"(", "element": ")" + element + R"("}})";
}

void configure(bool requests, bool urls, bool values)
{
    AppConfig::setRunValue(QStringLiteral("pipe_requests_enabled"), requests);
    AppConfig::setRunValue(QStringLiteral("pipe_out_urls"), urls);
    AppConfig::setRunValue(QStringLiteral("pipe_out_values"), values);
}

} // namespace

// The channel against a QLocalServer peer in the user's runtime folder (a temporary one here).
class TestPipeChannel : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

    QString logText() const
    {
        QFile file(Logger::instance().filePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void socketLivesInAPrivateFolder_data();
    void socketLivesInAPrivateFolder();
    void switchesDecideWhatIsReported_data();
    void switchesDecideWhatIsReported();
    void reportsWaitForThePeerInOrder();
    void answersToPolls_data();
    void answersToPolls();
    void exchangeEndsWithoutAnswer_data();
    void exchangeEndsWithoutAnswer();
};

void TestPipeChannel::initTestCase()
{
    m_path = m_dir.filePath(AppConfig().messagePipeName());
    Logger::instance().setFilePath(m_dir.filePath(QStringLiteral("shell.log")));
    Logger::instance().setSwitches(false, true, false);
    Logger::instance().enable();
}

void TestPipeChannel::init()
{
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    QFile::remove(Logger::instance().filePath());
}

void TestPipeChannel::cleanup()
{
    m_dir.setAutoRemove(m_dir.autoRemove() && !QTest::currentTestFailed());
}

void TestPipeChannel::socketLivesInAPrivateFolder_data()
{
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<QString>("folder");
    const QString link = m_dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(m_dir.path(), link));
    QTest::newRow("session folder") << m_dir.path() << m_dir.path();
    QTest::newRow("unset") << QString() << PlatformPaths::tempFolder();
    // A link leads wherever whoever made it points it.
    QTest::newRow("link") << link << PlatformPaths::tempFolder();
}

void TestPipeChannel::socketLivesInAPrivateFolder()
{
    QFETCH(QString, runtime);
    QFETCH(QString, folder);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    QVERIFY(!folder.isEmpty());
    QCOMPARE(PipeChannel::socketPathFor(QStringLiteral("P")), folder + QStringLiteral("/P"));
}

void TestPipeChannel::switchesDecideWhatIsReported_data()
{
    QTest::addColumn<bool>("urls");
    QTest::newRow("all off") << false;
    QTest::newRow("addresses") << true;
}

// Values are off in both. Addresses connect at once, and that connection serves the first
// report; with everything off not even a log line is written.
void TestPipeChannel::switchesDecideWhatIsReported()
{
    QFETCH(bool, urls);
    configure(false, urls, false);
    Peer peer(m_path, { "{}" });
    QSignalSpy connections(&peer.server, &QLocalServer::newConnection);
    PipeChannel channel;
    channel.start();
    channel.reportElementValue(QStringLiteral("user"), QStringLiteral("me"));
    QCOMPARE(channel.pendingValueCount(), 0);
    QTRY_COMPARE(connections.count(), int(urls));
    QTRY_VERIFY(!channel.isLocked());
    channel.pageLoaded(QUrl(Page));
    QTRY_COMPARE(peer.requests.size(), int(urls));
    QCOMPARE(connections.count(), int(urls));
    QCOMPARE(logText().isEmpty(), !urls);
}

void TestPipeChannel::reportsWaitForThePeerInOrder()
{
    configure(false, true, true);
    PipeChannel channel;
    channel.reportElementValue(QStringLiteral("user"), QStringLiteral("me"));
    QTRY_VERIFY(!channel.isLocked());
    QCOMPARE(logText().count(QStringLiteral("attempting connection to pipe: ") + m_path), 3);
    QCOMPARE(logText().count(QStringLiteral("pipe connection error: ")), 3);
    QCOMPARE(channel.failedAttempts(), 0);
    // The next report starts a new series; the oldest load gives way to the newest.
    channel.linkClicked(QUrl(Page + QStringLiteral("#next")));
    const int loads = PipeChannel::MaxPendingReports + 1;
    for (int i = 0; i < loads; ++i)
        channel.pageLoaded(QUrl(Page + QLatin1Char('?') + QString::number(i)));
    QTRY_VERIFY(!channel.isLocked());
    QCOMPARE(logText().count(QStringLiteral("Max pipe connection attempts reached.")), 2);
    QVERIFY(logText().contains(QStringLiteral("pipe report dropped: loaded ") + Page + "?0\n"));

    // Answers to reports are read and ignored, whatever they ask for.
    Peer peer(m_path, { R"({"func": "__refresh_viewer"})" });
    QSignalSpy refreshes(&channel, &PipeChannel::refreshRequested);
    QStringList expected;
    for (int i = 1; i < loads; ++i)
        expected << R"({"func":"__on_viewer_page_loaded","parm":")" + Page + '?'
                + QString::number(i) + "\"}";
    expected << R"({"func":"__on_viewer_link_clicked","parm":")" + Page + "#next\"}"
             << R"({"func":"__on_viewer_value_update","parm":{"element":"user","value":"me"}})";
    QStringList seen;
    while (seen.size() < expected.size()) {
        channel.sendPending();
        QTRY_COMPARE(peer.requests.size(), seen.size() + 1);
        QTRY_VERIFY(!channel.isLocked());
        seen << QJsonDocument(peer.requests.last()).toJson(QJsonDocument::Compact);
    }
    QCOMPARE(seen, expected);
    QCOMPARE(refreshes.count(), 0);
    channel.sendPending();
    QVERIFY(!channel.isLocked());
}

void TestPipeChannel::answersToPolls_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("refreshes");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("refresh in two pieces")
        << QByteArray(R"({"func": "__refr|esh_viewer"})") << 1 << QString()
        << R"(pipe response: {"func": "__refresh_viewer"})";
    QTest::newRow("watch") << watch(Page, "login", "user") << 0 << listener("login", "user")
                           << QString();
    QTest::newRow("names escaped") << watch(Page, "it's", R"(a\"b\\c\r\n)") << 0
                                   << listener(R"(it\'s)", R"(a\"b\\c\n)") << QString();
    QTest::newRow("another case") << watch(Page.toLower(), "f", "e") << 0 << QString()
                                  << "value updates requested for another page: " + Page.toLower();
    QTest::newRow("no element") << watch(Page, "f", "") << 0 << QString() << Malformed;
    QTest::newRow("parm not an object")
        << QByteArray(R"({"func": "__get_viewer_value_updates", "parm": "login"})") << 0
        << QString() << Malformed;
    QTest::newRow("not JSON") << QByteArray("refresh please") << 0 << QString() << Malformed;
    QTest::newRow("array") << QByteArray(R"(["__refresh_viewer"])") << 0 << QString() << Malformed;
    QTest::newRow("unknown") << QByteArray(R"({"func": "__close_viewer"})") << 0 << QString()
                             << "unknown pipe request ignored";
    QTest::newRow("too long") << R"({"func": ")" + QByteArray(PipeChannel::MaxAnswerBytes, 'a') << 0
                              << QString() << "pipe response over 1048576 bytes dropped";
}

// The first poll gets the answer, later ones an empty object: what it asks for happens once.
void TestPipeChannel::answersToPolls()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, refreshes);
    QFETCH(QString, script);
    QFETCH(QString, logLine);
    configure(true, false, false);
    Peer peer(m_path, { answer, "{}" });
    PipeChannel channel;
    channel.setPageAddressSource([] { return QUrl(Page); });
    channel.setPollInterval(10);
    QSignalSpy refreshSpy(&channel, &PipeChannel::refreshRequested);
    QSignalSpy listenerSpy(&channel, &PipeChannel::submitListenerRequested);
    channel.start();
    QTRY_VERIFY_WITH_TIMEOUT(peer.requests.size() >= 3, LongWait);
    channel.shutdown();
    for (const QJsonObject &request : qAsConst(peer.requests))
        QCOMPARE(request, QJsonObject({ { "func", "__get_next_viewer_request" } }));
    QCOMPARE(refreshSpy.count(), refreshes);
    QCOMPARE(listenerSpy.count(), script.isEmpty() ? 0 : 1);
    if (!script.isEmpty())
        QCOMPARE(listenerSpy.first().first().toString(), script);
    QVERIFY2(logText().contains(logLine), qPrintable(logLine));
}

void TestPipeChannel::exchangeEndsWithoutAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("shutDown");
    QTest::newRow("silent peer") << QByteArray("-") << 100 << false;
    // Timeouts far beyond the wait below: only the close can end these.
    QTest::newRow("peer closes") << QByteArray("x") << 10 * LongWait << false;
    QTest::newRow("shut down") << QByteArray("-") << 10 * LongWait << true;
}

// The request counts as sent either way, and the peer sees the connection end; after a
// shutdown not even a report is queued.
void TestPipeChannel::exchangeEndsWithoutAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, timeout);
    QFETCH(bool, shutDown);
    configure(false, true, false);
    Peer peer(m_path, { answer });
    PipeChannel channel;
    channel.setAnswerTimeout(timeout);
    channel.pageLoaded(QUrl(Page));
    QTRY_COMPARE(peer.requests.size(), 1);
    if (shutDown)
        channel.shutdown();
    QTRY_VERIFY_WITH_TIMEOUT(!channel.isLocked(), LongWait);
    QTRY_COMPARE(peer.disconnects, 1);
    QVERIFY(channel.pendingLoads().isEmpty());
    QCOMPARE(logText().contains(QStringLiteral("no response from pipe")), !shutDown);
    channel.pageLoaded(QUrl(Page));
    QCOMPARE(channel.pendingLoads().isEmpty(), shutDown);
}

QTEST_GUILESS_MAIN(TestPipeChannel)
#include "tst_pipechannel.moc"
