#include "platform/windowsversion.h"

#include <QtTest>

using WindowsVersion::OsVersion;
using WindowsVersion::Release;

Q_DECLARE_METATYPE(Release)
Q_DECLARE_METATYPE(OsVersion)

namespace {

OsVersion os(int major, int minor)
{
    OsVersion version;
    version.known = true;
    version.major = major;
    version.minor = minor;
    return version;
}

} // namespace

class TestWindowsVersion : public QObject
{
    Q_OBJECT

private slots:
    void versionAndName_data();
    void versionAndName();
    void formatVersionNumber_data();
    void formatVersionNumber();
    void releaseForVersion_data();
    void releaseForVersion();
};

void TestWindowsVersion::versionAndName_data()
{
    QTest::addColumn<Release>("release");
    QTest::addColumn<OsVersion>("osVersion");
    QTest::addColumn<float>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");

    // A table release wins over whatever the operating system says.
    QTest::newRow("3.1") << Release::Win32s << os(9, 9) << 3.1f << "3.1"
                         << "Windows 3.1";
    QTest::newRow("95") << Release::Win95 << OsVersion() << 4.0f << "4"
                        << "Windows 95";
    QTest::newRow("98") << Release::Win98 << OsVersion() << 4.1f << "4.1"
                        << "Windows 98";
    QTest::newRow("Me") << Release::WinMe << OsVersion() << 4.9f << "4.9"
                        << "Windows Me";
    QTest::newRow("NT") << Release::NT << OsVersion() << 4.0f << "4"
                        << "Windows NT";
    QTest::newRow("2000") << Release::Win2000 << OsVersion() << 5.0f << "5"
                          << "Windows 2000";
    QTest::newRow("XP") << Release::XP << OsVersion() << 5.1f << "5.1"
                        << "Windows XP";
    QTest::newRow("2003") << Release::Server2003 << OsVersion() << 5.2f << "5.2"
                          << "Windows 2003";
    QTest::newRow("Vista") << Release::Vista << OsVersion() << 6.0f << "6"
                           << "Windows Vista";
    QTest::newRow("7") << Release::Windows7 << os(6, 1) << 6.1f << "6.1"
                       << "Windows 7";
    QTest::newRow("8") << Release::Windows8 << os(6, 2) << 6.2f << "6.2"
                       << "Windows 8";

    // Releases outside the table are numbered and named from the operating system's answer.
    QTest::newRow("8.1 from os") << Release::Windows8_1 << os(6, 3) << 6.3f << "6.3"
                                 << "Windows 8.1";
    QTest::newRow("unknown 6.3") << Release::Unknown << os(6, 3) << 6.3f << "6.3"
                                 << "Windows 8.1";
    QTest::newRow("10 from os") << Release::Windows10 << os(10, 0) << 10.0f << "10"
                                << "Windows 10";
    QTest::newRow("10.9 still 10") << Release::Unknown << os(10, 9) << 10.9f << "10.9"
                                   << "Windows 10";
    QTest::newRow("11") << Release::Unknown << os(11, 0) << 11.0f << "11"
                        << "Windows";
    QTest::newRow("9.9") << Release::Unknown << os(9, 9) << 9.9f << "9.9"
                         << "Windows";
    QTest::newRow("6.4 is not 8.1") << Release::Unknown << os(6, 4) << 6.4f << "6.4"
                                    << "Windows";
    QTest::newRow("os question failed") << Release::Unknown << OsVersion() << 0.0f << "0"
                                        << "Windows";
}

void TestWindowsVersion::versionAndName()
{
    QFETCH(Release, release);
    QFETCH(OsVersion, osVersion);
    QFETCH(float, number);
    QFETCH(QString, text);
    QFETCH(QString, name);

    const float actual = WindowsVersion::windowsVersionNumber(release, osVersion);
    QCOMPARE(actual, number);
    QCOMPARE(WindowsVersion::formatVersionNumber(actual), text);
    QCOMPARE(WindowsVersion::windowsVersionName(release, actual), name);
}

void TestWindowsVersion::formatVersionNumber_data()
{
    QTest::addColumn<float>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("3.1") << 3.1f << "3.1";
    QTest::newRow("whole") << 4.0f << "4";
    QTest::newRow("6.2") << 6.2f << "6.2";
    QTest::newRow("10") << 10.0f << "10";
    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("six digits") << 22.0412f << "22.0412";
    QTest::newRow("rounded to six") << 1.23456789f << "1.23457";
    QTest::newRow("large uses exponent") << 1234567.0f << "1.23457e+06";
}

void TestWindowsVersion::formatVersionNumber()
{
    QFETCH(float, number);
    QFETCH(QString, text);
    QCOMPARE(WindowsVersion::formatVersionNumber(number), text);
}

void TestWindowsVersion::releaseForVersion_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<Release>("release");

    QTest::newRow("NT 4") << 4 << 0 << Release::NT;
    QTest::newRow("XP") << 5 << 1 << Release::XP;
    QTest::newRow("7") << 6 << 1 << Release::Windows7;
    QTest::newRow("8") << 6 << 2 << Release::Windows8;
    QTest::newRow("8.1") << 6 << 3 << Release::Windows8_1;
    QTest::newRow("10") << 10 << 0 << Release::Windows10;
    QTest::newRow("future") << 11 << 0 << Release::Unknown;
    QTest::newRow("nonsense") << -1 << 7 << Release::Unknown;
}

void TestWindowsVersion::releaseForVersion()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(Release, release);
    QCOMPARE(WindowsVersion::releaseForVersion(major, minor), release);
}

QTEST_APPLESS_MAIN(TestWindowsVersion)
#include "tst_windowsversion.moc"
