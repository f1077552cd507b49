#include "app/corvidapplication.h"

#include <QtTest>

class TestCorvidApplication : public QObject
{
    Q_OBJECT

private slots:
    // The file the shell was started with is its last argument; a successor gets an empty one.
    void launchFilePath_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("program only") << QStringList { "corvid" } << QString();
        QTest::newRow("last of several") << QStringList { "corvid", "-x", "b.txt" } << "b.txt";
        QTest::newRow("successor") << QStringList { "corvid", "" } << QString("");
    }

    void launchFilePath()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QCOMPARE(CorvidApplication::launchFilePathFrom(arguments), expected);
    }
};

QTEST_APPLESS_MAIN(TestCorvidApplication)
#include "tst_corvidapplication.moc"
