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
    void startPage_data();
    void startPage();
    void localStartFileWithInjectionIsReported();
    void updateSettingsFromThePage();
    void frameParametersAreTakenOnce();
    void pageFillsTheWindow();

private:
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

// The start page goes into the container's content frame once both exist, whichever comes
// first, unless an address was saved before the wait ended. Its address is text in the
// container's script.
void TestPageHost::startPage_data()
{
    QTest::addColumn<int>("udpWaitSecs");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("udp");
    QTest::newRow("no wait: placed once the container is there") << 0 << false << false;
    QTest::newRow("placed when the wait ends") << 1 << false << false;
    QTest::newRow("saved address keeps it away") << 0 << true << false;
    QTest::newRow("no dynamic address: a box, then the default") << 0 << false << true;
}

void TestPageHost::startPage()
{
    QFETCH(int, udpWaitSecs);
    QFETCH(bool, saved);
    QFETCH(bool, udp);
    m_shell->set(QStringLiteral("use_udp_on_load_url"), udp);
    const QString name = QStringLiteral("start';top.pwned=1;'.html");
    m_shell->set(QStringLiteral("udp_wait_secs"), udpWaitSecs);
    m_shell->writePage(QStringLiteral("app/") + name, LinkPage);
    m_shell->start(QStringLiteral("app/") + name);
    QWebFrame *main = m_shell->mainFrame();
    if (saved) {
        const QString elsewhere = QStringLiteral("https://elsewhere.example.org/");
        m_shell->host()->saveUrl(elsewhere);
        QSignalSpy finished(m_shell->host()->webView(), &QGraphicsWebView::loadFinished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(m_shell->host()->savedUrl(), QUrl(elsewhere));
        QCOMPARE(m_shell->content()->requestedUrl().fileName(), QStringLiteral("blank.html"));
        return;
    }
    QVERIFY(QTest::qWaitFor([&] { return m_shell->contentReady(name); }, 10000));
    QCOMPARE(m_shell->eval(main, QStringLiteral("onLoadUrl")).toString(),
             QUrl::fromLocalFile(m_shell->path(QStringLiteral("app/") + name)).toString());
    QVERIFY(m_shell->eval(main, QStringLiteral("window.pwned")).isNull());
    // Set while the view was built, before the container's load replaced the document.
    QCOMPARE(m_shell->eval(main, QStringLiteral("settingsElements.join(',')")).toString(),
             QStringLiteral("url,user,pass,maximize,save"));
    QCOMPARE(m_shell->eval(main, QStringLiteral("configFilePath")).toString(),
             QStringLiteral(":/config/ini/config.ini"));
    QWebFrame *content = m_shell->content();
    QVERIFY(m_shell->eval(content, QStringLiteral("platform() == LINUX_PLATFORM")).toBool());
    QTRY_VERIFY(m_shell->eval(content, QStringLiteral("qtTempDirPath()"))
                    .toString()
                    .endsWith(QLatin1Char('/')));
    const QString box = QStringLiteral(
        "UDP Failure|A Dynamic Address Could Not Be Acquired.\nLoading A Default Instead...");
    QCOMPARE(m_shell->prompter.shown, udp ? QStringList { box } : QStringList());
}

void TestPageHost::localStartFileWithInjectionIsReported()
{
    QTest::ignoreMessage(
        QtDebugMsg,
        "*** Hard JavaScript injection must be removed from the local onLoad file! ***");
    QByteArray html = LinkPage;
    html.replace("<body>", "<body><!-- CORVID INJECTION -->");
    QVERIFY2(m_shell->open(QStringLiteral("links.html"), html), "the start page still loads");
}

void TestPageHost::visitedLinksAreMarked()
{
    QWebFrame *content = m_shell->open(QStringLiteral("links.html"), LinkPage);
    QVERIFY(content);
    const QString color = QStringLiteral("document.getElementById('%1').style.color");
    QTRY_VERIFY(!m_shell->eval(content, color.arg(QStringLiteral("seen"))).toString().isEmpty());
    QVERIFY(m_shell->eval(content, color.arg(QStringLiteral("unseen"))).toString().isEmpty());
    QVERIFY2(
        m_shell->eval(content, QStringLiteral("document.getElementById('QT_VISITED')")).isNull(),
        "the probe anchors must be removed again");
}

// The settings calls take the key and a list, and answer by name without a callback id.
void TestPageHost::updateSettingsFromThePage()
{
    // Registered with the fixture, which puts back what the page changes.
    for (const char *key : { "on_load_username", "on_load_password", "on_load_maximize" })
        m_shell->set(
            QLatin1String(key),
            QSettings(AppConfig::configFilePath(), QSettings::IniFormat).value(QLatin1String(key)));
    QVERIFY(m_shell->open(QStringLiteral("links.html"), LinkPage));
    QWebFrame *main = m_shell->mainFrame();
    const QString key = m_shell->view()->accessKey();
    m_shell->eval(
        main,
        QStringLiteral("window.saved = null; window.onSaved = function( ok ) { saved = ok; };"
                       "QtObj.updateSettings( '%1', [ 'https://a.example.org/', 'ann', "
                       "'p\\'w', true ], 'onSaved' );")
            .arg(key));
    QTRY_VERIFY(m_shell->eval(main, QStringLiteral("saved === true")).toBool());
    m_shell->eval(main,
                  QStringLiteral("window.fetched = null; window.onFetched = function() { fetched = "
                                 "JSON.stringify( Array.prototype.slice.call( arguments ) ); };"
                                 "QtObj.fetchSettings( '%1', 'onFetched' );")
                      .arg(key));
    QTRY_COMPARE(m_shell->eval(main, QStringLiteral("fetched")).toString(),
                 QStringLiteral("[\"https://a.example.org/\",\"ann\",\"p'w\",true]"));
}

void TestPageHost::frameParametersAreTakenOnce()
{
    QWebFrame *content = m_shell->open(QStringLiteral("links.html"), LinkPage);
    QVERIFY(content);
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

void TestPageHost::pageFillsTheWindow()
{
    QVERIFY(m_shell->open(QStringLiteral("links.html"), LinkPage));
    m_shell->viewer->resize(900, 700);
    QTRY_COMPARE(m_shell->host()->webView()->size().toSize(), m_shell->host()->viewport()->size());
    QTRY_COMPARE(m_shell->eval(m_shell->mainFrame(), QStringLiteral("window.innerWidth")).toInt(),
                 m_shell->host()->viewport()->width());
}

QTEST_MAIN(TestPageHost)
#include "tst_pagehost.moc"
