#include "app/corvidapplication.h"

#include <QElapsedTimer>
#include <QtTest>

class TestCorvidApplication : public QObject
{
    Q_OBJECT

public:
    explicit TestCorvidApplication(CorvidApplication *app)
        : m_app(app)
    {
    }

private slots:
    void launchFilePath_data();
    void launchFilePath();
    void forcedQuitEndsLoopWithZero();
    void forcedQuitTurnsHardInsideInnerLoop();

private:
    CorvidApplication *m_app;
};

void TestCorvidApplication::launchFilePath_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("program only") << QStringList { "corvid" } << QString();
    QTest::newRow("one file") << QStringList { "corvid", "/home/u/a.vellum" } << "/home/u/a.vellum";
    QTest::newRow("last of several") << QStringList { "corvid", "-x", "b.txt" } << "b.txt";
    QTest::newRow("hand-over start") << QStringList { "corvid", "" } << QString("");
}

void TestCorvidApplication::launchFilePath()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(CorvidApplication::launchFilePathFrom(arguments), expected);
}

void TestCorvidApplication::forcedQuitEndsLoopWithZero()
{
    m_app->setForceQuitDelay(20);
    QTimer::singleShot(0, m_app, &CorvidApplication::forceQuit);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_app->exec(), 0);
    QVERIFY(clock.elapsed() >= 20);
}

void TestCorvidApplication::forcedQuitTurnsHardInsideInnerLoop()
{
    m_app->setForceQuitDelay(20);
    // An inner loop that pumps events, as a quit request waiting for the page does.
    QTimer::singleShot(0, m_app, [this] {
        m_app->forceQuit();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    });
    QCOMPARE(m_app->exec(), 1);
}

int main(int argc, char *argv[])
{
    char *appArgs[] = { argv[0], nullptr };
    int appArgc = 1;
    CorvidApplication app(appArgc, appArgs);
    TestCorvidApplication test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_corvidapplication.moc"
