#include "config/logsettings.h"
#include "config/preferencestore.h"
#include "platform/logger.h"
#include "scopedconfig.h"

#include <QRegularExpression>

namespace {

const QString Time = QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");

QString readLog(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void configure(ScopedRunValues &values, bool debugLog, bool dynamic, bool categoriesOn)
{
    values.set("debug_log_enabled", debugLog);
    values.set("dynamic_log_settings", dynamic);
    for (const char *key : { "app_log_enabled", "shell_log_enabled", "udp_log_enabled" })
        values.set(QLatin1String(key), categoriesOn);
}

} // namespace

// The log core, and its switches as the configuration and the stored preferences set them.
class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    // Every message is one line, whatever a logged name or text holds.
    void linesAreEscaped_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("written");
        QTest::newRow("line feed cannot start a forged line")
            << "a.txt\n[12:00:00.000] CORVID" << QString("a.txt\\n[12:00:00.000] CORVID");
        QTest::newRow("backslash, so escapes stay unambiguous") << "C:\\n" << QString("C:\\\\n");
        QTest::newRow("other control characters")
            << QString::fromLatin1("\r\t\x01\x1b[31m\x7f") << "\\r\\t\\x01\\x1b[31m\\x7f";
        QTest::newRow("next line, line and paragraph separators")
            << QString::fromUtf16(u"a\u0085b\u2028c\u2029") << "a\\x85b\\u2028c\\u2029";
        QTest::newRow("printable text is left as it is")
            << QString::fromUtf8("äöü [x]") << QString::fromUtf8("äöü [x]");
    }

    // Where the file cannot be written, the entry goes to the debug output instead.
    void linesAreEscaped()
    {
        QFETCH(QString, message);
        QFETCH(QString, written);
        QTemporaryDir dir;
        Logger logger;
        logger.setFilePath(dir.filePath(QStringLiteral("e.log")));
        logger.enable();
        logger.log(LogCategory::Shell, message);
        const QString text = readLog(logger.filePath());
        const QString entry = QRegularExpression::escape(written);
        QVERIFY2(QRegularExpression('^' + Time + entry + "\n$").match(text).hasMatch(),
                 qPrintable(text));
        logger.setFilePath(dir.filePath(QStringLiteral("missing/e.log")));
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression("^Can't Write To Log File: "
                                                ".*/missing/e.log Error: .+"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression('^' + entry + '$'));
        logger.log(LogCategory::Shell, message);
    }

    void startUpTrimsThenSeparates_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("kept");
        QTest::newRow("keeps the last characters") << 3 << QString::fromUtf8("äöü");
        QTest::newRow("negative leaves the file") << -1 << QString::fromUtf8("0123äöü");
    }

    // An unnamed log is Corvid.log in the temporary folder, kept short from one start to the
    // next, and each start is marked.
    void startUpTrimsThenSeparates()
    {
        QFETCH(int, limit);
        QFETCH(QString, kept);
        ScopedWorkDir dir;
        ScopedRunValues values;
        configure(values, true, false, true);
        values.set("debug_log_name", QString());
        values.set("debug_log_max_chars_on_load", limit);
        QFile old(dir.filePath(QStringLiteral("Corvid.log")));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("0123\xc3\xa4\xc3\xb6\xc3\xbc") == 10);
        old.close();
        PreferenceStore prefs;
        Logger logger;
        LogSettings::startUp(logger, AppConfig(), prefs, dir.path() + '/');
        QCOMPARE(logger.filePath(), old.fileName());
        logger.log(LogCategory::App, QStringLiteral("from the page"));
        const QString text = readLog(old.fileName());
        const QRegularExpression expected('^' + kept + "\\n-{54}\\n" + Time
                                          + "CORVID DEBUGGING\\.\\.\\.\\n" + Time
                                          + "from the page\\n$");
        QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));
    }

    void switchLoading_data()
    {
        QTest::addColumn<bool>("debugLog");
        QTest::addColumn<bool>("dynamic");
        QTest::addColumn<bool>("configCategories");
        QTest::addColumn<QString>("stored"); // as the page stores them; null for never stored
        QTest::addColumn<QString>("expected"); // app, shell, udp as isOn() sees them; '-' if off
        const QString none;
        QTest::newRow("all off, nothing stored") << false << true << false << none << "---";
        QTest::newRow("configured on, static") << true << false << true << none << "111";
        QTest::newRow("dynamic, nothing stored: categories off")
            << true << true << true << none << "000";
        QTest::newRow("stored switch turns logging on")
            << false << true << false << "0_INTRADELIM_1_INTRADELIM_0" << QString("010");
        QTest::newRow("stored switches ignored when static")
            << false << false << false << "1_INTRADELIM_1_INTRADELIM_1" << QString("---");
        QTest::newRow("stored zeros never turn logging off")
            << true << true << true << "0_INTRADELIM_0_INTRADELIM_0" << QString("000");
        QTest::newRow("empty middle part is dropped first")
            << false << true << false << "1_INTRADELIM__INTRADELIM_1" << QString("110");
        QTest::newRow("missing parts are off") << false << true << false << "1" << QString("100");
        QTest::newRow("only the text 1 is on")
            << false << true << false << "true_INTRADELIM_ 1_INTRADELIM_1" << QString("001");
    }

    void switchLoading()
    {
        QFETCH(bool, debugLog);
        QFETCH(bool, dynamic);
        QFETCH(bool, configCategories);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        ScopedWorkDir dir;
        ScopedRunValues values;
        configure(values, debugLog, dynamic, configCategories);
        PreferenceStore prefs;
        QCOMPARE(LogSettings::storedSwitches(prefs).join(QString()), QString());
        if (!stored.isNull()) {
            Logger page;
            LogSettings::updateSettings(page, stored, AppConfig(), prefs);
            // Where the stored switches count, they are the ones in force.
            if (dynamic)
                QCOMPARE(LogSettings::storedSwitches(prefs).join(QString()), expected);
        }
        Logger logger;
        LogSettings::startUp(logger, AppConfig(), prefs, dir.path());
        QCOMPARE(logger.writesToFile(), logger.isEnabled());
        QString seen;
        for (LogCategory category : { LogCategory::App, LogCategory::Shell, LogCategory::Udp })
            seen += logger.isEnabled() ? QString::number(logger.isOn(category)) : "-";
        QCOMPARE(seen, expected);
        // A disabled log writes nothing at all, not even its start.
        logger.log(LogCategory::App, QStringLiteral("dropped"));
        QCOMPARE(QFile::exists(logger.filePath()), logger.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
