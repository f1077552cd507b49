#include "platform/standby.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const char InhibitThenQuit[] = "--inhibit-then-quit";

bool screenSaverOnBus()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(
        "org.freedesktop.ScreenSaver");
}

// Started through timeout, so that nothing outlives a test run that dies midway; timeout hands
// terminate's signal on to its command.
void startBounded(QProcess &process, const QStringList &command)
{
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start("timeout", QStringList("300") + command);
}
} // namespace

class TestStandBy : public QObject
{
    Q_OBJECT

private slots:
    // A bus of the test's own, named before the process first asks for the session bus.
    void initTestCase()
    {
        QFile config(m_dir.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly)
                && config.write("<busconfig><type>session</type><listen>unix:path="
                                + m_dir.filePath("bus").toUtf8()
                                + "</listen><policy context='default'><allow own='*'/>"
                                  "<allow send_destination='*'/><allow receive_sender='*'/>"
                                  "</policy></busconfig>")
                    > 0);
        config.close();
        startBounded(
            m_bus,
            { "dbus-daemon", "--config-file=" + config.fileName(), "--nofork", "--print-address" });
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 30000);
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        QVERIFY2(QDBusConnection::sessionBus().isConnected(),
                 qPrintable(QDBusConnection::sessionBus().lastError().message()));
    }

    void cleanupTestCase()
    {
        m_bus.terminate();
        QVERIFY(m_bus.waitForFinished(30000));
    }

    void cleanup()
    {
        m_screenSaver.terminate();
        m_screenSaver.waitForFinished(30000);
        QTRY_VERIFY_WITH_TIMEOUT(!screenSaverOnBus(), 30000);
        QFile::remove(m_dir.filePath("calls"));
    }

    void inhibitsOnceThenReleases()
    {
        startScreenSaver();
        QVERIFY(StandBy::setEnabled(false) && StandBy::setEnabled(false));
        QVERIFY(StandBy::isInhibited());
        QCOMPARE(calls(), QStringList("Inhibit 41"));
        QVERIFY(StandBy::setEnabled(true));
        QVERIFY(!StandBy::isInhibited());
        QCOMPARE(calls(), QStringList({ "Inhibit 41", "UnInhibit 41" }));
        QVERIFY(StandBy::setEnabled(true)); // nothing is held
    }

    void inAnotherProcess_data()
    {
        QTest::addColumn<bool>("screenSaver");
        QTest::addColumn<QString>("busAddress"); // empty: the test's bus
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("released when it quits")
            << true << QString() << 0 << QStringList({ "Inhibit 41", "UnInhibit 41" });
        QTest::newRow("no screen saver") << false << QString() << 1 << QStringList();
        QTest::newRow("no session bus")
            << true << QString("unix:path=" + m_dir.filePath("none")) << 1 << QStringList();
    }

    void inAnotherProcess()
    {
        QFETCH(bool, screenSaver);
        QFETCH(QString, busAddress);
        if (screenSaver)
            startScreenSaver();
        QProcess child;
        if (!busAddress.isEmpty())
            child.setEnvironment(QProcess::systemEnvironment()
                                 << "DBUS_SESSION_BUS_ADDRESS=" + busAddress);
        child.start(QCoreApplication::applicationFilePath(), { InhibitThenQuit });
        QVERIFY(child.waitForFinished(60000));
        QTEST(child.exitCode(), "exitCode");
        QTEST(calls(), "calls");
    }

private:
    void startScreenSaver()
    {
        startBounded(m_screenSaver, { CORVID_FAKE_SCREENSAVER, m_dir.filePath("calls") });
        QTRY_VERIFY_WITH_TIMEOUT(screenSaverOnBus(), 30000);
    }
    QStringList calls() const
    {
        QFile file(m_dir.filePath("calls"));
        return file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
            : QStringList();
    }

    QTemporaryDir m_dir;
    QProcess m_bus, m_screenSaver;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The child takes the inhibition and quits as the shell does; exit code 1 when refused.
    if (argc == 2 && qstrcmp(argv[1], InhibitThenQuit) == 0) {
        if (!StandBy::setEnabled(false))
            return 1;
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        return app.exec();
    }
    TestStandBy test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_standby.moc"
