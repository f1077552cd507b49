#include "platform/platforminfo.h"

#include <QSysInfo>
#include <QtTest>

class TestPlatformInfo : public QObject
{
    Q_OBJECT

private slots:
    void linuxIdentity();
    void versionNumberFromText_data();
    void versionNumberFromText();
};

void TestPlatformInfo::linuxIdentity()
{
    QCOMPARE(PlatformInfo::platformCode(), 3);
    QCOMPARE(PlatformInfo::versionName(), QSysInfo::prettyProductName());
    QVERIFY(!PlatformInfo::versionName().isEmpty());
    // Every Linux system has at least a kernel version to report.
    QVERIFY2(PlatformInfo::versionNumber() > 0.0f,
             qPrintable(QSysInfo::productVersion() + QLatin1Char(' ') + QSysInfo::kernelVersion()));
    const float product = PlatformInfo::versionNumberFromText(QSysInfo::productVersion());
    if (product > 0.0f)
        QCOMPARE(PlatformInfo::versionNumber(), product);
    else
        QCOMPARE(PlatformInfo::versionNumber(),
                 PlatformInfo::versionNumberFromText(QSysInfo::kernelVersion()));
}

void TestPlatformInfo::versionNumberFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("number");

    QTest::newRow("release") << "22.04" << 22.04f;
    QTest::newRow("kernel") << "6.5.0-14-generic" << 6.5f;
    QTest::newRow("two-digit minor stays decimal") << "5.15.90" << 5.15f;
    QTest::newRow("major only") << "12" << 12.0f;
    QTest::newRow("leading space") << " 11.4" << 11.4f;
    QTest::newRow("rolling") << "rolling" << 0.0f;
    QTest::newRow("unknown") << "unknown" << 0.0f;
    QTest::newRow("empty") << "" << 0.0f;
    QTest::newRow("trailing dot") << "7." << 7.0f;
}

void TestPlatformInfo::versionNumberFromText()
{
    QFETCH(QString, text);
    QFETCH(float, number);
    QCOMPARE(PlatformInfo::versionNumberFromText(text), number);
}

QTEST_APPLESS_MAIN(TestPlatformInfo)
#include "tst_platforminfo.moc"
