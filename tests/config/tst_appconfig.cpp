#include "config/appconfig.h"
#include "platform/textcipher.h"

#include <QTemporaryDir>
#include <QtTest>

class TestAppConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void shippedValues();
    void onLoadUrl_data();
    void onLoadUrl();
    void fullOnLoadUrl_data();
    void fullOnLoadUrl();
    void trustedHosts_data();
    void trustedHosts();
    void settersChangeEveryRecord();
    void nullSettersAreIgnored();
    void settingsPageScripts_data();
    void settingsPageScripts();
    void workingDirectoryRule_data();
    void workingDirectoryRule();

private:
    QString m_startDir;
    QMap<QString, QVariant> m_saved;
    void override(const QString &key, const QVariant &value);
};

void TestAppConfig::init()
{
    m_startDir = QDir::currentPath();
}

void TestAppConfig::cleanup()
{
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
        AppConfig::setRunValue(it.key(), it.value());
    m_saved.clear();
    QDir::setCurrent(m_startDir);
}

void TestAppConfig::override(const QString &key, const QVariant &value)
{
    if (!m_saved.contains(key))
        m_saved.insert(key,
                       QSettings(AppConfig::configFilePath(), QSettings::IniFormat).value(key));
    AppConfig::setRunValue(key, value);
}

void TestAppConfig::shippedValues()
{
    AppConfig config;
    QCOMPARE(config.appTitle(), QStringLiteral("Vellum Mobile"));
    QCOMPARE(config.appVersion(), QStringLiteral("2.0.3"));
    QCOMPARE(config.companyName(), QStringLiteral("Corvid Project"));
    QCOMPARE(config.debugLogName(), QStringLiteral("VellumMobile.log"));
    QCOMPARE(config.debugLogMaxCharsOnLoad(), 100000);
    QVERIFY(config.dynamicLogSettings());
    QVERIFY(!config.debugLogEnabled());
    QVERIFY(config.onLoadMaximize());
    QCOMPARE(config.onLoadUrlText(), QStringLiteral("../app/VellumMobile/VellumMobile.html"));
    QCOMPARE(config.onLoadUsername(), QStringLiteral("demo"));
    QCOMPARE(config.onLoadPassword(), QStringLiteral("demo"));
    QCOMPARE(config.shellAccessOtherDomains(),
             QStringList { QStringLiteral("vellum.example.com") });
    QCOMPARE(config.userConfigElements(), QStringLiteral("url,user,pass,maximize,save"));
    QVERIFY(!config.navigationOption());
    QVERIFY(!config.displayMenuBar());
    QCOMPARE(config.udpWaitSecs(), 5);
    QCOMPARE(config.udpListeningPort(), 4520);
    QCOMPARE(config.maxPagesInMemory(), 0);
    QVERIFY(config.helpIsCollection());
    QCOMPARE(config.messagePipeName(), QStringLiteral("VellumInterfacePipe"));
    QVERIFY(config.pipePath().endsWith(QStringLiteral("/VellumInterfacePipe")));
}

void TestAppConfig::onLoadUrl_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QUrl>("expected");
    const QString cwd = QDir::currentPath();
    QTest::newRow("file prefix in any case")
        << "FILE://C:/x/a.html" << QUrl::fromLocalFile("C:/x/a.html");
    QTest::newRow("dots name the working directory")
        << "../app/a.html" << QUrl::fromLocalFile(cwd + "/app/a.html");
    QTest::newRow("surrounding blanks")
        << "  https://vellum.example.com/m/  " << QUrl("https://vellum.example.com/m/");
    QTest::newRow("tolerant parsing") << "http://host/a b" << QUrl("http://host/a%20b");
    QTest::newRow("empty") << "" << QUrl();
}

void TestAppConfig::onLoadUrl()
{
    QFETCH(QString, setting);
    QFETCH(QUrl, expected);
    override(QStringLiteral("on_load_url"), setting);
    QCOMPARE(AppConfig().onLoadUrl(), expected);
}

void TestAppConfig::fullOnLoadUrl_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<QUrl>("expected");
    QTest::newRow("neither") << ""
                             << "" << QUrl("https://h/p");
    QTest::newRow("blank query is dropped") << "   "
                                            << "" << QUrl("https://h/p");
    QTest::newRow("query trimmed") << " a=1&b=2 "
                                   << "" << QUrl("https://h/p?a=1&b=2");
    QTest::newRow("fragment") << ""
                              << " top " << QUrl("https://h/p#top");
    QTest::newRow("both") << "x=y"
                          << "f" << QUrl("https://h/p?x=y#f");
}

void TestAppConfig::fullOnLoadUrl()
{
    QFETCH(QString, query);
    QFETCH(QString, fragment);
    QFETCH(QUrl, expected);
    override(QStringLiteral("on_load_url"), QStringLiteral("https://h/p"));
    override(QStringLiteral("on_load_query_string"), query);
    override(QStringLiteral("on_load_fragment"), fragment);
    QCOMPARE(AppConfig().fullOnLoadUrl(), expected);
}

void TestAppConfig::trustedHosts_data()
{
    QTest::addColumn<QString>("startUrl");
    QTest::addColumn<bool>("onLoadDomain");
    QTest::addColumn<QStringList>("expected");
    const QString other = QStringLiteral("vellum.example.com");
    QTest::newRow("local start page") << "../app/a.html" << true << QStringList { other };
    QTest::newRow("remote start page")
        << "https://Start.Example.org/x" << true << QStringList { other, "start.example.org" };
    QTest::newRow("remote, switch off")
        << "https://start.example.org/x" << false << QStringList { other };
    QTest::newRow("empty start") << "" << true << QStringList { other };
}

void TestAppConfig::trustedHosts()
{
    QFETCH(QString, startUrl);
    QFETCH(bool, onLoadDomain);
    QFETCH(QStringList, expected);
    override(QStringLiteral("on_load_url"), startUrl);
    override(QStringLiteral("shell_access_on_load_domain"), onLoadDomain);
    QCOMPARE(AppConfig().trustedHosts(), expected);
}

void TestAppConfig::settersChangeEveryRecord()
{
    override(QStringLiteral("on_load_url"), QString());
    override(QStringLiteral("on_load_username"), QString());
    override(QStringLiteral("on_load_password"), QString());
    override(QStringLiteral("on_load_maximize"), QString());
    {
        AppConfig writer;
        writer.setOnLoadUrl(QStringLiteral("https://new.example.org/"));
        writer.setOnLoadUsername(QString(""));
        writer.setOnLoadPassword(QStringLiteral("p'w\"d"));
        writer.setOnLoadMaximize(false);
    }
    AppConfig reader;
    QCOMPARE(reader.onLoadUrl(), QUrl("https://new.example.org/"));
    QCOMPARE(reader.onLoadUsername(), QString(""));
    QCOMPARE(reader.onLoadPassword(), QStringLiteral("p'w\"d"));
    QVERIFY(!reader.onLoadMaximize());
    const QSettings raw(AppConfig::configFilePath(), QSettings::IniFormat);
    QCOMPARE(raw.value("on_load_maximize").toString(), QStringLiteral("false"));
    const QString stored = raw.value("on_load_password").toString();
    QVERIFY2(!stored.contains("p'w"), "the password must be stored enciphered");
    QCOMPARE(TextCipher(TextCipher::PasswordKey).decryptText(stored), QStringLiteral("p'w\"d"));
}

void TestAppConfig::nullSettersAreIgnored()
{
    override(QStringLiteral("on_load_username"), QStringLiteral("kept"));
    override(QStringLiteral("on_load_password"),
             TextCipher(TextCipher::PasswordKey).encryptText("pw"));
    AppConfig config;
    config.setOnLoadUrl(QString());
    config.setOnLoadUsername(QString());
    config.setOnLoadPassword(QString());
    QCOMPARE(config.onLoadUsername(), QStringLiteral("kept"));
    QCOMPARE(config.onLoadPassword(), QStringLiteral("pw"));
    QCOMPARE(config.onLoadUrlText(), QStringLiteral("../app/VellumMobile/VellumMobile.html"));
}

void TestAppConfig::settingsPageScripts_data()
{
    QTest::addColumn<QString>("elements");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("elementsScript");
    QTest::newRow("shipped") << "url,user,pass,maximize,save" << true
                             << "var settingsElements =['url','user','pass','maximize','save'];;";
    QTest::newRow("blank after comma is kept")
        << " url, user " << false << "var settingsElements =['url',' user'];;";
}

void TestAppConfig::settingsPageScripts()
{
    QFETCH(QString, elements);
    QFETCH(bool, editable);
    QFETCH(QString, elementsScript);
    override(QStringLiteral("user_config_elements"), elements);
    override(QStringLiteral("user_can_edit_config"), editable);
    const QStringList scripts = AppConfig().settingsPageScripts();
    const QStringList expected {
        "qtKeyCookieName = 'QT_ACCESS_KEY_COOKIE';",
        "showMenuBar =false;",
        editable ? "userEditableSettings =true;" : "userEditableSettings =false;",
        "var configFilePath = ':/config/ini/config.ini';",
        elementsScript,
    };
    QCOMPARE(scripts, expected);
}

void TestAppConfig::workingDirectoryRule_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("moves");
    QTest::newRow("program folder holds app") << "dir" << true;
    QTest::newRow("app is only a link") << "link" << false;
    QTest::newRow("app is a file") << "file" << false;
    QTest::newRow("no app folder") << "none" << false;
}

void TestAppConfig::workingDirectoryRule()
{
    QFETCH(QString, layout);
    QFETCH(bool, moves);
    QTemporaryDir programDir;
    QTemporaryDir elsewhere;
    const QString app = programDir.filePath(QStringLiteral("app"));
    if (layout == QLatin1String("dir")) {
        QVERIFY(QDir().mkdir(app));
    } else if (layout == QLatin1String("link")) {
        QVERIFY(QDir().mkdir(elsewhere.filePath(QStringLiteral("real"))));
        QVERIFY(QFile::link(elsewhere.filePath(QStringLiteral("real")), app));
    } else if (layout == QLatin1String("file")) {
        QFile file(app);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    QCOMPARE(AppConfig::applyWorkingDirectoryRule(programDir.path()), moves);
    const QString expected = moves ? programDir.path() : elsewhere.path();
    QCOMPARE(QFileInfo(QDir::currentPath()).canonicalFilePath(),
             QFileInfo(expected).canonicalFilePath());
    // Already there: nothing to do.
    QVERIFY(!AppConfig::applyWorkingDirectoryRule(QDir::currentPath()));
}

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
