#include "shellfixture.h"

namespace {

const char LinkPage[] = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>function onQtLoad() {}</script>
<a id="seen" href="links.html">this page</a> <a id="unseen" href="elsewhere.html">another</a>
</body></html>)HTML";

} // namespace

class TestPageHost : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void visitedLinksAreMarked();
    void settingsVariablesReachTheContainer();
    void updateSettingsFromThePage_data();
    void updateSettingsFromThePage();
    void frameParametersAreTakenOnce();
    void localStartFileIsChecked_data();
    void localStartFileIsChecked();
    void udpFailureBoxThenDefault();
    void pageSeesThisPlatform();
    void pageFillsTheWindow();

private:
    bool startOn(const QString &page, const QByteArray &html = LinkPage);
    QScopedPointer<ShellFixture> m_shell;
};

void TestPageHost::init()
{
    m_shell.reset(new ShellFixture);
}

void TestPageHost::cleanup()
{
    m_shell.reset();
}

bool TestPageHost::startOn(const QString &page, const QByteArray &html)
{
    m_shell->writePage(QStringLiteral("app/") + page, html);
    m_shell->start(QStringLiteral("app/") + page);
    return QTest::qWaitFor([&] { return m_shell->contentReady(page); }, 10000);
}

void TestPageHost::visitedLinksAreMarked()
{
    QVERIFY(startOn(QStringLiteral("links.html")));
    QWebFrame *content = m_shell->content();
    QTRY_VERIFY(
        !m_shell->eval(content, QStringLiteral("document.getElementById('seen').style.color"))
             .toString()
             .isEmpty());
    QVERIFY(m_shell->eval(content, QStringLiteral("document.getElementById('unseen').style.color"))
                .toString()
                .isEmpty());
    QVERIFY2(
        m_shell->eval(content, QStringLiteral("document.getElementById('QT_VISITED')")).isNull(),
        "the probe anchors must be removed again");
}

void TestPageHost::settingsVariablesReachTheContainer()
{
    QVERIFY(startOn(QStringLiteral("links.html")));
    QWebFrame *main = m_shell->mainFrame();
    QCOMPARE(m_shell->eval(main, QStringLiteral("settingsElements.join(',')")).toString(),
             QStringLiteral("url,user,pass,maximize,save"));
    QCOMPARE(m_shell->eval(main, QStringLiteral("configFilePath")).toString(),
             QStringLiteral(":/config/ini/config.ini"));
    QCOMPARE(m_shell->eval(main, QStringLiteral("qtKeyCookieName")).toString(),
             QStringLiteral("QT_ACCESS_KEY_COOKIE"));
    QCOMPARE(m_shell->eval(main, QStringLiteral("onLoadUrl")).toString(),
             QUrl::fromLocalFile(m_shell->path(QStringLiteral("app/links.html"))).toString());
}

void TestPageHost::updateSettingsFromThePage_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("maximize");
    QTest::newRow("two items keep the password, maximize off")
        << "[ 'https://new.example.org/', 'bob' ]"
        << "https://new.example.org/"
        << "bob"
        << "demo" << false;
    QTest::newRow("all four") << "[ 'https://a.example.org/', 'ann', 'p\\'w', true ]"
                              << "https://a.example.org/"
                              << "ann"
                              << "p'w" << true;
}

void TestPageHost::updateSettingsFromThePage()
{
    QFETCH(QString, list);
    QFETCH(QString, url);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, maximize);
    for (const char *key : { "on_load_username", "on_load_password" })
        m_shell->set(
            QLatin1String(key),
            QSettings(AppConfig::configFilePath(), QSettings::IniFormat).value(QLatin1String(key)));
    m_shell->set(QStringLiteral("on_load_maximize"), true);
    QVERIFY(startOn(QStringLiteral("links.html")));
    QWebFrame *main = m_shell->mainFrame();
    m_shell->eval(
        main,
        QStringLiteral("window.saved = null; window.onSaved = function( ok ) { saved = ok; };"
                       "QtObj.updateSettings( '%1', %2, 'onSaved' );")
            .arg(m_shell->view()->accessKey(), list));
    QTRY_VERIFY(m_shell->eval(main, QStringLiteral("saved === true")).toBool());
    AppConfig config;
    QCOMPARE(config.onLoadUrl(), QUrl(url));
    QCOMPARE(config.onLoadUsername(), user);
    QCOMPARE(config.onLoadPassword(), password);
    QCOMPARE(config.onLoadMaximize(), maximize);

    m_shell->eval(main,
                  QStringLiteral("window.fetched = null; window.onFetched = function() { fetched = "
                                 "JSON.stringify( Array.prototype.slice.call( arguments ) ); };"
                                 "QtObj.fetchSettings( '%1', 'onFetched' );")
                      .arg(m_shell->view()->accessKey()));
    QTRY_VERIFY(!m_shell->eval(main, QStringLiteral("fetched")).isNull());
    QCOMPARE(m_shell->eval(main, QStringLiteral("fetched")).toString(),
             QStringLiteral("[\"%1\",\"%2\",\"%3\",%4]")
                 .arg(url, user, QString(password).replace(QLatin1Char('\''), QLatin1String("'")),
                      maximize ? QStringLiteral("true") : QStringLiteral("false")));
}

void TestPageHost::frameParametersAreTakenOnce()
{
    QVERIFY(startOn(QStringLiteral("links.html")));
    QWebFrame *content = m_shell->content();
    const uint id
        = m_shell->eval(content, QStringLiteral("qtCallbackParameters( [ 'key', 'cb', 3, true ] )"))
              .toUInt();
    QVariantList parameters;
    QVERIFY(m_shell->host()->takeFrameParameters(id, &parameters));
    QCOMPARE(parameters, (QVariantList { QStringLiteral("key"), QStringLiteral("cb"), 3.0, true }));
    QVERIFY(m_shell->host()->takeFrameParameters(id, &parameters));
    QVERIFY(parameters.isEmpty());
    QVERIFY(!m_shell->host()->takeFrameParameters(id + 1000, &parameters));
}

void TestPageHost::localStartFileIsChecked_data()
{
    QTest::addColumn<bool>("marked");
    QTest::newRow("clean page") << false;
    QTest::newRow("page with hard injection") << true;
}

void TestPageHost::localStartFileIsChecked()
{
    QFETCH(bool, marked);
    if (marked)
        QTest::ignoreMessage(
            QtDebugMsg,
            "*** Hard JavaScript injection must be removed from the local onLoad file! ***");
    QByteArray html = LinkPage;
    if (marked)
        html.replace("<body>", "<body><!-- CORVID INJECTION -->");
    QVERIFY2(startOn(QStringLiteral("links.html"), html), "the start page still loads");
}

void TestPageHost::udpFailureBoxThenDefault()
{
    m_shell->set(QStringLiteral("use_udp_on_load_url"), true);
    QVERIFY(startOn(QStringLiteral("links.html")));
    QCOMPARE(m_shell->prompter.shown,
             QStringList { QStringLiteral("UDP Failure|A Dynamic Address Could Not Be "
                                          "Acquired.\nLoading A Default Instead...") });
}

void TestPageHost::pageSeesThisPlatform()
{
    QVERIFY(startOn(QStringLiteral("links.html")));
    QWebFrame *content = m_shell->content();
    QCOMPARE(m_shell->eval(content, QStringLiteral("platform()")).toInt(), 3);
    QCOMPARE(m_shell->eval(content, QStringLiteral("LINUX_PLATFORM")).toInt(), 3);
    QVERIFY(!m_shell->eval(content, QStringLiteral("platformVersionName()")).toString().isEmpty());
    QTRY_VERIFY(m_shell->eval(content, QStringLiteral("qtTempDirPath() != null")).toBool());
    QVERIFY(m_shell->eval(content, QStringLiteral("qtTempDirPath()"))
                .toString()
                .endsWith(QLatin1Char('/')));
}

void TestPageHost::pageFillsTheWindow()
{
    QVERIFY(startOn(QStringLiteral("links.html")));
    QTRY_COMPARE(m_shell->host()->webView()->size().toSize(), m_shell->host()->viewport()->size());
    m_shell->viewer->resize(900, 700);
    QTRY_COMPARE(m_shell->host()->webView()->size().toSize(), m_shell->host()->viewport()->size());
    QTRY_COMPARE(m_shell->eval(m_shell->mainFrame(), QStringLiteral("window.innerWidth")).toInt(),
                 m_shell->host()->viewport()->width());
}

QTEST_MAIN(TestPageHost)
#include "tst_pagehost.moc"
