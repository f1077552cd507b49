#include "peerprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

namespace {

const char PlainPage[] = "<!DOCTYPE html><html><body><p>hosted</p><script>function onQtLoad() "
                         "{}</script></body></html>";

struct Geometry
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    QString state;
};

// Reads "x y w h state" as the peer reports it.
bool parseGeometry(const QString &text, Geometry *geometry)
{
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 5)
        return false;
    *geometry = { parts.at(0).toInt(), parts.at(1).toInt(), parts.at(2).toInt(),
                  parts.at(3).toInt(), parts.at(4) };
    return true;
}

QString uniqueKey()
{
    return QStringLiteral("corvid-test-shellhandover-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->generate());
}

} // namespace

class TestShellHandOver : public QObject
{
    Q_OBJECT

private slots:
    void successorTakesOverTheWindow_data();
    void successorTakesOverTheWindow();
    void successorWithoutRecordStartsWithDefaults();
};

void TestShellHandOver::successorTakesOverTheWindow_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<bool>("clone");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("expectedState");
    QTest::addColumn<bool>("predecessorQuits");
    QTest::newRow("new window beside a normal one")
        << "clone" << false << true << 50 << "normal" << false;
    QTest::newRow("new window beside a maximized one")
        << "clone" << true << true << 50 << "normal" << false;
    QTest::newRow("new window without the page address")
        << "clone" << false << false << 50 << "normal" << false;
    QTest::newRow("recovery in place") << "recover" << false << true << 0 << "normal" << true;
    QTest::newRow("recovery keeps maximized")
        << "recover" << true << true << 0 << "maximized" << true;
}

// Instance A hands over to instance B through a real shared memory segment: A is asked for a
// new window or a recovery, asks for its successor to be started (the start is recorded, and
// this test starts B as A asked, with the test's segment key), and B restores the window.
void TestShellHandOver::successorTakesOverTheWindow()
{
    QFETCH(QString, command);
    QFETCH(bool, maximized);
    QFETCH(bool, clone);
    QFETCH(int, offset);
    QFETCH(QString, expectedState);
    QFETCH(bool, predecessorQuits);

    PeerWorkDir dir;
    QVERIFY(dir.writePage(QStringLiteral("app/page.html"), PlainPage));
    const QString key = uniqueKey();
    const QStringList shared { QStringLiteral("--page"),
                               QStringLiteral("app/page.html"),
                               QStringLiteral("--handover-key"),
                               key,
                               QStringLiteral("--set"),
                               QStringLiteral("new_window_is_clone=")
                                   + (clone ? QStringLiteral("true") : QStringLiteral("false")) };

    ShellPeer first(dir);
    first.start(
        shared
        + QStringList { QStringLiteral("--record-starts"), QStringLiteral("--recover-quit-ms"),
                        QStringLiteral("3000"), QStringLiteral("--geometry"),
                        QStringLiteral("120,140,640,480"), QStringLiteral("--set"),
                        QStringLiteral("on_load_maximize=")
                            + (maximized ? QStringLiteral("true") : QStringLiteral("false")) });
    QVERIFY2(!first.waitFor(QStringLiteral("ready")).isNull(), qPrintable(first.errors()));
    Geometry before;
    QVERIFY(parseGeometry(first.waitFor(QStringLiteral("geometry")), &before));
    QCOMPARE(before.state, maximized ? QStringLiteral("maximized") : QStringLiteral("normal"));
    if (!maximized)
        QCOMPARE(QRect(before.x, before.y, before.width, before.height), QRect(120, 140, 640, 480));
    QCOMPARE(first.waitFor(QStringLiteral("handover")), QStringLiteral("0 "));

    first.send(command);
    const QString start = first.waitFor(QStringLiteral("start"));
    QVERIFY2(!start.isNull(), qPrintable(first.lines().join(QLatin1Char('\n'))));
    const QString program = start.section(QLatin1Char(' '), 0, -2);
    QStringList arguments;
    const QJsonArray list
        = QJsonDocument::fromJson(start.section(QLatin1Char(' '), -1).toUtf8()).array();
    for (const QJsonValue &value : list)
        arguments << value.toString();
    QCOMPARE(QFileInfo(program).canonicalFilePath(),
             QFileInfo(QStringLiteral(SHELL_PEER)).canonicalFilePath());
    QCOMPARE(arguments, QStringList { QString() });

    ShellPeer second(dir);
    second.start(shared + arguments);
    QVERIFY2(!second.waitFor(QStringLiteral("ready")).isNull(), qPrintable(second.errors()));
    Geometry after;
    QVERIFY(parseGeometry(second.waitFor(QStringLiteral("geometry")), &after));
    QCOMPARE(after.state, expectedState);
    if (expectedState == QLatin1String("normal")) {
        QCOMPARE(QRect(after.x, after.y, after.width, after.height),
                 QRect(before.x + offset, before.y + offset, before.width, before.height));
    }
    const QString pageUrl
        = QUrl::fromLocalFile(dir.path(QStringLiteral("app/page.html"))).toString();
    QCOMPARE(second.waitFor(QStringLiteral("handover")),
             QStringLiteral("1 ")
                 + (clone || !command.startsWith(QLatin1String("clone")) ? pageUrl : QString()));

    if (predecessorQuits) {
        QCOMPARE(first.waitForExit(), 0);
    } else {
        QCOMPARE(first.process().state(), QProcess::Running);
        first.send(QStringLiteral("close"));
        QCOMPARE(first.waitForExit(), 0);
    }
    second.send(QStringLiteral("close"));
    QCOMPARE(second.waitForExit(), 0);
}

// The record is consumed by the first instance that reads it: a later start under the same key
// gets the defaults, not the old window again.
void TestShellHandOver::successorWithoutRecordStartsWithDefaults()
{
    PeerWorkDir dir;
    QVERIFY(dir.writePage(QStringLiteral("app/page.html"), PlainPage));
    const QString key = uniqueKey();
    const QStringList shared { QStringLiteral("--page"), QStringLiteral("app/page.html"),
                               QStringLiteral("--handover-key"), key };

    ShellPeer first(dir);
    first.start(shared
                + QStringList { QStringLiteral("--record-starts"), QStringLiteral("--geometry"),
                                QStringLiteral("30,40,500,400") });
    QVERIFY(!first.waitFor(QStringLiteral("ready")).isNull());
    first.send(QStringLiteral("clone"));
    QVERIFY(!first.waitFor(QStringLiteral("start")).isNull());

    ShellPeer second(dir);
    second.start(shared + QStringList { QString() });
    QVERIFY(!second.waitFor(QStringLiteral("ready")).isNull());
    QCOMPARE(second.waitFor(QStringLiteral("geometry")), QStringLiteral("80 90 500 400 normal"));

    ShellPeer third(dir);
    third.start(shared + QStringList { QString() });
    QVERIFY(!third.waitFor(QStringLiteral("ready")).isNull());
    QCOMPARE(third.waitFor(QStringLiteral("geometry")).section(QLatin1Char(' '), 2),
             QStringLiteral("800 600 normal"));
    QCOMPARE(third.waitFor(QStringLiteral("handover")), QStringLiteral("0 "));

    for (ShellPeer *peer : { &first, &second, &third }) {
        peer->send(QStringLiteral("close"));
        QCOMPARE(peer->waitForExit(), 0);
    }
}

QTEST_GUILESS_MAIN(TestShellHandOver)
#include "tst_shellhandover.moc"
