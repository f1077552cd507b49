#include "platform/textcipher.h"
#include "scopedconfig.h"

class TestAppConfig : public QObject
{
    Q_OBJECT

private slots:
    void onLoadUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<QUrl>("expected");
        const QString none;
        QTest::newRow("file prefix in any case")
            << "FILE://C:/x/a.html" << none << none << QUrl::fromLocalFile("C:/x/a.html");
        QTest::newRow("dots name the working directory")
            << "../app/a.html" << none << none
            << QUrl::fromLocalFile(QDir::currentPath() + "/app/a.html");
        QTest::newRow("surrounding blanks")
            << "  https://h/m/  " << none << none << QUrl("https://h/m/");
        QTest::newRow("empty") << "" << none << none << QUrl();
        const QString page = QStringLiteral("https://h/p");
        QTest::newRow("blank query is dropped") << page << QString("  ") << none << QUrl(page);
        QTest::newRow("query and fragment trimmed")
            << page << QString(" a=1 ") << QString(" top ") << QUrl("https://h/p?a=1#top");
    }

    void onLoadUrl()
    {
        QFETCH(QString, url);
        QFETCH(QString, query);
        QFETCH(QString, fragment);
        QFETCH(QUrl, expected);
        ScopedRunValues values;
        values.set("on_load_url", url);
        values.set("on_load_query_string", query);
        values.set("on_load_fragment", fragment);
        QCOMPARE(AppConfig().fullOnLoadUrl(), expected);
    }

    void trustedHosts_data()
    {
        QTest::addColumn<QString>("startUrl");
        QTest::addColumn<bool>("onLoadDomain");
        QTest::addColumn<QStringList>("expected");
        const QString other = QStringLiteral("other.example");
        QTest::newRow("local start page") << "../app/a.html" << true << QStringList { other };
        QTest::newRow("remote start page")
            << "https://Start.Example.org/x" << true << QStringList { other, "start.example.org" };
        QTest::newRow("remote, switch off")
            << "https://start.example.org/x" << false << QStringList { other };
    }

    void trustedHosts()
    {
        QFETCH(QString, startUrl);
        QFETCH(bool, onLoadDomain);
        QFETCH(QStringList, expected);
        ScopedRunValues values;
        values.set("shell_access_other_domains", "other.example");
        values.set("on_load_url", startUrl);
        values.set("shell_access_on_load_domain", onLoadDomain);
        QCOMPARE(AppConfig().trustedHosts(), expected);
    }

    // Null strings leave a value alone; everything else is seen by every record. The password
    // is stored enciphered with its own key.
    void settersReachEveryRecord()
    {
        ScopedRunValues values;
        for (const char *key : { "on_load_url", "on_load_username", "on_load_password" })
            values.set(key, QString());
        values.set("on_load_maximize", true);
        {
            AppConfig writer;
            writer.setOnLoadUrl(QStringLiteral("https://new.example.org/"));
            writer.setOnLoadUsername(QString(""));
            writer.setOnLoadPassword(QStringLiteral("p'w\"d"));
            writer.setOnLoadMaximize(false);
        }
        AppConfig reader;
        reader.setOnLoadUrl(QString());
        reader.setOnLoadPassword(QString());
        QCOMPARE(reader.onLoadUrl(), QUrl("https://new.example.org/"));
        QCOMPARE(reader.onLoadUsername(), QString(""));
        QCOMPARE(reader.onLoadPassword(), QStringLiteral("p'w\"d"));
        QVERIFY(!reader.onLoadMaximize());
        QVERIFY2(!reader.appTitle().isEmpty(), "the compiled-in configuration was not read");
        const QSettings raw(AppConfig::configFilePath(), QSettings::IniFormat);
        QCOMPARE(TextCipher(TextCipher::PasswordKey)
                     .decryptText(raw.value("on_load_password").toString()),
                 QStringLiteral("p'w\"d"));
    }

    void workingDirectoryRule_data()
    {
        QTest::addColumn<QString>("app");
        QTest::addColumn<bool>("moves");
        QTest::newRow("program folder holds app") << "folder" << true;
        QTest::newRow("app is only a link") << "link" << false;
        QTest::newRow("app is a file") << "file" << false;
        QTest::newRow("no app folder") << "none" << false;
    }

    void workingDirectoryRule()
    {
        QFETCH(QString, app);
        QFETCH(bool, moves);
        QTemporaryDir program;
        ScopedWorkDir elsewhere;
        QVERIFY(app != "folder" || QDir(program.path()).mkdir("app"));
        QVERIFY(app != "link" || QFile::link(elsewhere.path(), program.filePath("app")));
        QVERIFY(app != "file" || QFile(program.filePath("app")).open(QIODevice::WriteOnly));
        QCOMPARE(AppConfig::applyWorkingDirectoryRule(program.path()), moves);
        QCOMPARE(QDir::currentPath(),
                 QFileInfo(moves ? program.path() : elsewhere.path()).canonicalFilePath());
        // Already there: nothing to do.
        QVERIFY(!AppConfig::applyWorkingDirectoryRule(QDir::currentPath()));
    }
};

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
