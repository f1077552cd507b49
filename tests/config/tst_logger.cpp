#include "config/appconfig.h"
#include "config/logsettings.h"
#include "config/preferencestore.h"
#include "platform/logger.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pathFor_data();
    void pathFor();
    void switchLoading_data();
    void switchLoading();
    void updateSettings_data();
    void updateSettings();
    void storedSwitchesBeforeUpdate();
    void trim_data();
    void trim();
    void lineFormatAndSeparator();
    void valuesAreEscaped_data();
    void valuesAreEscaped();
    void disabledWritesNothing();
    void unwritableFileFallsBack();

private:
    void configure(bool debugLog, bool dynamic, bool categoriesOn);
    QString readLog(const QString &path) const;
    QScopedPointer<QTemporaryDir> m_dir;
    QString m_startDir;
};

void TestLogger::init()
{
    m_startDir = QDir::currentPath();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestLogger::cleanup()
{
    configure(false, true, false);
    QDir::setCurrent(m_startDir);
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

void TestLogger::configure(bool debugLog, bool dynamic, bool categoriesOn)
{
    AppConfig::setRunValue(QStringLiteral("debug_log_enabled"), debugLog);
    AppConfig::setRunValue(QStringLiteral("dynamic_log_settings"), dynamic);
    for (const char *key : { "app_log_enabled", "shell_log_enabled", "udp_log_enabled" })
        AppConfig::setRunValue(QLatin1String(key), categoriesOn);
}

QString TestLogger::readLog(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestLogger::pathFor_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "/tmp/corvid-1"
                           << "Vellum.log"
                           << "/tmp/corvid-1/Vellum.log";
    QTest::newRow("trailing slash kept single") << "/tmp/x/"
                                                << "a.log"
                                                << "/tmp/x/a.log";
    QTest::newRow("backslashes") << "C:\\Temp"
                                 << "a.log"
                                 << "C:/Temp/a.log";
    QTest::newRow("empty name") << "/tmp/x"
                                << ""
                                << "/tmp/x/Corvid.log";
}

void TestLogger::pathFor()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(Logger::pathFor(folder, name), expected);
}

void TestLogger::switchLoading_data()
{
    QTest::addColumn<bool>("debugLog");
    QTest::addColumn<bool>("dynamic");
    QTest::addColumn<bool>("configCategories");
    QTest::addColumn<QString>("stored"); // app, shell, udp; '-' for never stored
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("expected"); // app, shell, udp as seen by isOn()

    QTest::newRow("all off, nothing stored") << false << true << false << "---" << false << "000";
    QTest::newRow("configured on, static") << true << false << true << "---" << true << "111";
    QTest::newRow("dynamic with nothing stored turns categories off")
        << true << true << true << "---" << true << "000";
    QTest::newRow("stored switch turns logging on")
        << false << true << false << "010" << true << "010";
    QTest::newRow("stored switches ignored when static")
        << false << false << false << "111" << false << "000";
    QTest::newRow("stored zeros never turn logging off")
        << true << true << true << "000" << true << "000";
}

void TestLogger::switchLoading()
{
    QFETCH(bool, debugLog);
    QFETCH(bool, dynamic);
    QFETCH(bool, configCategories);
    QFETCH(QString, stored);
    QFETCH(bool, enabled);
    QFETCH(QString, expected);

    configure(debugLog, dynamic, configCategories);
    PreferenceStore prefs;
    const QStringList keys { "isAppLogging", "isShellLogging", "isUdpLogging" };
    for (int i = 0; i < 3; ++i) {
        if (stored.at(i) != QLatin1Char('-'))
            prefs.setPref(keys.at(i), stored.mid(i, 1));
    }
    Logger logger;
    LogSettings::startUp(logger, AppConfig(), prefs, m_dir->path());
    QCOMPARE(logger.isEnabled(), enabled);
    QCOMPARE(logger.writesToFile(), enabled);
    const QString seen = QString::number(logger.isOn(LogCategory::App))
        + QString::number(logger.isOn(LogCategory::Shell))
        + QString::number(logger.isOn(LogCategory::Udp));
    QCOMPARE(seen, expected);
}

void TestLogger::updateSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("empty middle part is dropped first")
        << "1_INTRADELIM__INTRADELIM_1" << QStringList { "1", "1", "0" };
    QTest::newRow("all off") << "0_INTRADELIM_0_INTRADELIM_0" << QStringList { "0", "0", "0" };
    QTest::newRow("missing parts are off") << "1" << QStringList { "1", "0", "0" };
    QTest::newRow("only the text 1 is on")
        << "true_INTRADELIM_ 1_INTRADELIM_1" << QStringList { "0", "0", "1" };
    QTest::newRow("nothing") << "" << QStringList { "0", "0", "0" };
}

void TestLogger::updateSettings()
{
    QFETCH(QString, settings);
    QFETCH(QStringList, stored);
    configure(true, true, true);
    PreferenceStore prefs;
    Logger logger;
    LogSettings::startUp(logger, AppConfig(), prefs, m_dir->path());
    QVERIFY(logger.isEnabled());
    LogSettings::updateSettings(logger, settings, AppConfig(), prefs);
    QCOMPARE(LogSettings::storedSwitches(prefs), stored);
    QVERIFY2(logger.isEnabled(), "updating the switches never turns logging off");
    QCOMPARE(logger.isOn(LogCategory::App), stored.at(0) == QLatin1String("1"));
    QCOMPARE(logger.isOn(LogCategory::Udp), stored.at(2) == QLatin1String("1"));
}

void TestLogger::storedSwitchesBeforeUpdate()
{
    PreferenceStore prefs;
    QCOMPARE(LogSettings::storedSwitches(prefs), (QStringList { "", "", "" }));
}

void TestLogger::trim_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("expected");
    const QString content = QString::fromUtf8("0123456789äöü\nend");
    QTest::newRow("zero empties") << 0 << QString();
    QTest::newRow("keeps the last characters") << 5 << QString::fromUtf8("ü\nend");
    QTest::newRow("limit above size keeps all") << 100000 << content;
    QTest::newRow("negative leaves the file") << -1 << content;
}

void TestLogger::trim()
{
    QFETCH(int, limit);
    QFETCH(QString, expected);
    const QString path = m_dir->filePath(QStringLiteral("t.log"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QString::fromUtf8("0123456789äöü\nend").toUtf8());
    file.close();
    Logger::trimFile(path, limit);
    QCOMPARE(readLog(path), expected);
    Logger::trimFile(m_dir->filePath(QStringLiteral("missing.log")), 10);
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("missing.log"))));
}

void TestLogger::lineFormatAndSeparator()
{
    configure(true, false, true);
    AppConfig::setRunValue(QStringLiteral("debug_log_name"), QStringLiteral("format.log"));
    PreferenceStore prefs;
    Logger logger;
    LogSettings::startUp(logger, AppConfig(), prefs, m_dir->path());
    AppConfig::setRunValue(QStringLiteral("debug_log_name"), QStringLiteral("VellumMobile.log"));
    logger.log(LogCategory::App, QStringLiteral("from the page"));
    const QString text = readLog(m_dir->filePath(QStringLiteral("format.log")));
    const QRegularExpression expected(QStringLiteral(
        "^\\n-{54}\\n\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] CORVID DEBUGGING\\.\\.\\.\\n"
        "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] from the page\\n$"));
    QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));
}

void TestLogger::valuesAreEscaped_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");
    QTest::newRow("line feed cannot start a forged line")
        << "entry.txt\n[12:00:00.000] CORVID DEBUGGING..."
        << "entry.txt\\n[12:00:00.000] CORVID DEBUGGING...";
    QTest::newRow("carriage return and tab") << "a\rb\tc"
                                             << "a\\rb\\tc";
    QTest::newRow("backslash, so escapes stay unambiguous") << "C:\\dir\\n"
                                                            << "C:\\\\dir\\\\n";
    QTest::newRow("other control characters")
        << QString::fromLatin1("\x01\x1b[31m\x7f\x0b\x0c") << "\\x01\\x1b[31m\\x7f\\x0b\\x0c";
    QTest::newRow("next line, line and paragraph separators")
        << QString::fromUtf16(u"a\u0085b\u2028c\u2029") << "a\\x85b\\u2028c\\u2029";
    QTest::newRow("printable text is left as it is")
        << QString::fromUtf8("äöü [x] ok") << QString::fromUtf8("äöü [x] ok");
}

void TestLogger::valuesAreEscaped()
{
    QFETCH(QString, message);
    QFETCH(QString, written);
    configure(true, false, true);
    PreferenceStore prefs;
    Logger logger;
    LogSettings::startUp(logger, AppConfig(), prefs, m_dir->path());
    QFile::remove(logger.filePath());
    logger.log(LogCategory::Shell, message);
    const QRegularExpression oneLine(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ")
                                     + QRegularExpression::escape(written) + QStringLiteral("\n$"));
    const QString text = readLog(logger.filePath());
    QVERIFY2(oneLine.match(text).hasMatch(), qPrintable(text));
}

void TestLogger::disabledWritesNothing()
{
    configure(false, true, false);
    PreferenceStore prefs;
    Logger logger;
    LogSettings::startUp(logger, AppConfig(), prefs, m_dir->path());
    logger.log(LogCategory::App, QStringLiteral("dropped"));
    logger.log(LogCategory::Shell, QStringLiteral("dropped"));
    QVERIFY(!QFile::exists(logger.filePath()));
    QCOMPARE(logger.filePath(), m_dir->path() + QStringLiteral("/VellumMobile.log"));
}

void TestLogger::unwritableFileFallsBack()
{
    configure(true, false, true);
    PreferenceStore prefs;
    Logger logger;
    LogSettings::startUp(logger, AppConfig(), prefs,
                         m_dir->filePath(QStringLiteral("no/such/folder")));
    QTest::ignoreMessage(
        QtDebugMsg,
        QRegularExpression(QStringLiteral(
            "^Can't Write To Log File: .*/no/such/folder/VellumMobile\\.log Error: .+")));
    QTest::ignoreMessage(QtDebugMsg, "still delivered");
    logger.log(LogCategory::Shell, QStringLiteral("still delivered"));
    QVERIFY(logger.isEnabled());
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
