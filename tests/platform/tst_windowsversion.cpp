#include "platform/windowsversion.h"

#include <QtTest>

using WindowsVersion::OsVersion;
using WindowsVersion::Release;

Q_DECLARE_METATYPE(Release)
Q_DECLARE_METATYPE(OsVersion)

// The naming rules around the release table, checked on every build.
class TestWindowsVersion : public QObject
{
    Q_OBJECT

private slots:
    // The number as page script sees it, and the name.
    void versionAndName_data()
    {
        QTest::addColumn<Release>("release");
        QTest::addColumn<OsVersion>("os");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("name");
        QTest::newRow("table wins")
            << Release::Win32s << os(9, 9) << "3.1" << QString("Windows 3.1");
        QTest::newRow("whole number")
            << Release::Vista << OsVersion() << "6" << QString("Windows Vista");
        QTest::newRow("6.3 is 8.1")
            << Release::Unknown << os(6, 3) << "6.3" << QString("Windows 8.1");
        QTest::newRow("10.9 is 10")
            << Release::Unknown << os(10, 9) << "10.9" << QString("Windows 10");
        QTest::newRow("11") << Release::Unknown << os(11, 0) << "11" << QString("Windows");
        QTest::newRow("6.4") << Release::Unknown << os(6, 4) << "6.4" << QString("Windows");
        QTest::newRow("no answer") << Release::Unknown << OsVersion() << "0" << QString("Windows");
    }

    void versionAndName()
    {
        QFETCH(Release, release);
        QFETCH(OsVersion, os);
        QFETCH(QString, number);
        QFETCH(QString, name);
        const float value = WindowsVersion::windowsVersionNumber(release, os);
        QCOMPARE(WindowsVersion::formatVersionNumber(value), number);
        QCOMPARE(WindowsVersion::windowsVersionName(release, value), name);
    }

private:
    static OsVersion os(int major, int minor) { return OsVersion { true, major, minor }; }
};

QTEST_APPLESS_MAIN(TestWindowsVersion)
#include "tst_windowsversion.moc"
