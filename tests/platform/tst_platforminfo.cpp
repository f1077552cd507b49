#include "platform/platforminfo.h"

#include <QtTest>

class TestPlatformInfo : public QObject
{
    Q_OBJECT

private slots:
    void versionNumberFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("number");
        QTest::newRow("release") << "22.04" << 22.04f;
        QTest::newRow("kernel") << "6.5.0-14-generic" << 6.5f;
        QTest::newRow("two-digit minor stays decimal") << "5.15.90" << 5.15f;
        QTest::newRow("major only, after a blank") << " 12" << 12.0f;
        QTest::newRow("no number") << "rolling" << 0.0f;
    }

    void versionNumberFromText()
    {
        QFETCH(QString, text);
        QFETCH(float, number);
        QCOMPARE(PlatformInfo::versionNumberFromText(text), number);
    }
};

QTEST_APPLESS_MAIN(TestPlatformInfo)
#include "tst_platforminfo.moc"
