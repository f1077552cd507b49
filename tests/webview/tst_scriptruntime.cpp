#include "webview/scriptruntime.h"
#include "webview/webview.h"

#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <QtTest>

// The generated script, evaluated in a real page without the shell around it.
class TestScriptRuntime : public QObject
{
    Q_OBJECT

private slots:
    void escapeForScript_data();
    void escapeForScript();
    void encodeArguments_data();
    void encodeArguments();
    void pageFolder_data();
    void pageFolder();
    void versionText_data();
    void versionText();
    void credentialsSurviveQuotes();
    void loadSignalGivesUpAfterFiftyTries();
    void frameRuntimeDefinesItsGlobals();
    void qtCallbackIgnoresOtherSenders();
    void frameIdentityEscapesAddresses();
};

void TestScriptRuntime::escapeForScript_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "hello";
    QTest::newRow("quotes") << "O'Brien said \"hi\"";
    QTest::newRow("backslashes") << "C:\\Users\\x\\";
    QTest::newRow("line breaks") << "a\r\nb\nc";
    QTest::newRow("line separators") << QString::fromUtf8("a\u2028b\u2029c");
    QTest::newRow("script end tag") << "</script><script>alert(1)</script>";
}

// Whatever the text, it must parse as one single-quoted literal holding the text (less CR).
void TestScriptRuntime::escapeForScript()
{
    QFETCH(QString, text);
    QWebPage page;
    const QString script
        = QStringLiteral("var t = '") + WebView::escapeForScript(text) + QStringLiteral("'; t");
    QString expected = text;
    expected.remove(QLatin1Char('\r'));
    QCOMPARE(page.mainFrame()->evaluateJavaScript(script).toString(), expected);
}

void TestScriptRuntime::encodeArguments_data()
{
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("response") << QVariantList { 12u, true, 0, QString() } << "[12,true,0,'']";
    QTest::newRow("booleans and numbers bare")
        << QVariantList { false, -3, 2.5 } << "[false,-3,2.5]";
    QTest::newRow("url and bytes are quoted")
        << QVariantList { QUrl("file:///a b"), QByteArray("x'y") } << "['file:///a b','x\\'y']";
    QTest::newRow("lists and invalid skipped")
        << QVariantList { QVariant(), QVariantList { 1 }, QStringLiteral("k") } << "['k']";
    QTest::newRow("empty") << QVariantList {} << "[]";
}

void TestScriptRuntime::encodeArguments()
{
    QFETCH(QVariantList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(WebView::encodeArguments(arguments), expected);
}

void TestScriptRuntime::pageFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows folder") << "C:\\Users\\x\\Temp"
                                    << "C:/Users/x/Temp/";
    QTest::newRow("already ends with slash") << "/tmp/a/"
                                             << "/tmp/a/";
    QTest::newRow("quote in a name") << "/home/o'neil"
                                     << "/home/o\\'neil/";
}

void TestScriptRuntime::pageFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(ScriptRuntime::pageFolder(path), expected);
}

void TestScriptRuntime::versionText_data()
{
    QTest::addColumn<float>("number");
    QTest::addColumn<QString>("expected");
    QTest::newRow("3.1") << 3.1f << "3.1";
    QTest::newRow("4") << 4.0f << "4";
    QTest::newRow("6.2") << 6.2f << "6.2";
    QTest::newRow("10") << 10.0f << "10";
}

void TestScriptRuntime::versionText()
{
    QFETCH(float, number);
    QFETCH(QString, expected);
    QCOMPARE(ScriptRuntime::versionText(number), expected);
}

void TestScriptRuntime::credentialsSurviveQuotes()
{
    QWebPage page;
    QWebFrame *frame = page.mainFrame();
    frame->evaluateJavaScript(
        QStringLiteral("var got = null; function autoLogin( u, p ) { got = u + '|' + p; }"));
    frame->evaluateJavaScript(
        ScriptRuntime::credentialsScript(QStringLiteral("o'neil"), QStringLiteral("p'w\"\\d")));
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("got")).toString(),
             QStringLiteral("o'neil|p'w\"\\d"));
}

void TestScriptRuntime::loadSignalGivesUpAfterFiftyTries()
{
    QWebPage page;
    QWebFrame *frame = page.mainFrame();
    frame->evaluateJavaScript(QStringLiteral("var loaded = 0; function onQtLoad() { loaded++; }"));
    frame->evaluateJavaScript(ScriptRuntime::frameRuntime({ 3, 6.1f, QStringLiteral("Linux") }));
    QTRY_COMPARE_WITH_TIMEOUT(
        frame->evaluateJavaScript(QStringLiteral("trySignalLoadAttempts_")).toInt(), 50, 8000);
    QTest::qWait(300);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("trySignalLoadAttempts_")).toInt(), 50);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("loaded")).toInt(), 0);
}

void TestScriptRuntime::frameRuntimeDefinesItsGlobals()
{
    QWebPage page;
    QWebFrame *frame = page.mainFrame();
    frame->evaluateJavaScript(
        ScriptRuntime::frameRuntime({ 3, 6.2f, QStringLiteral("Debian 12") }));
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("platform() == LINUX_PLATFORM")).toBool(),
             true);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("platformVersionName()")).toString(),
             QStringLiteral("Debian 12"));
    QCOMPARE(
        frame->evaluateJavaScript(QStringLiteral("String( platformVersionNumber() )")).toString(),
        QStringLiteral("6.2"));
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("Qt()")).isNull(), true);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("qtDelimiter()")).toString(),
             QStringLiteral("_INTRADELIM_"));
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("replaceAll( 'a.b', '$&', 'xa.bya.b' )"))
                 .toString(),
             QStringLiteral("x$&y$&"));
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("popQtStateChangeIndicator()")).toInt(), 1);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("popQtStateChangeIndicator()")).toInt(), 0);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("QT_ERR_ACCESS_DENIED")).toInt(), 4);
}

void TestScriptRuntime::qtCallbackIgnoresOtherSenders()
{
    QWebPage page;
    QWebFrame *frame = page.mainFrame();
    frame->setHtml(QStringLiteral("<html><body><iframe name='child'></iframe></body></html>"));
    QWebFrame *child = frame->childFrames().value(0);
    QVERIFY(child);
    child->evaluateJavaScript(ScriptRuntime::frameRuntime({ 3, 1.0f, QStringLiteral("x") }));
    child->evaluateJavaScript(QStringLiteral("var hits = 0; function victim() { hits++; }"));
    // The child posting to itself is not the top window.
    child->evaluateJavaScript(QStringLiteral(
        "window.postMessage( [ 'qtCallback', 1, 'victim', [], 0 ], '*' );"
        "window.postMessage( [ 'qtSetGlobals', 2, 'stolen', '', '', '', '', '' ], '*' );"));
    // The top window may.
    frame->evaluateJavaScript(
        QStringLiteral("frames[0].postMessage( [ 'qtCallback', 3, 'victim', [], 0 ], '*' );"));
    QTRY_COMPARE(child->evaluateJavaScript(QStringLiteral("hits")).toInt(), 1);
    QTest::qWait(100);
    QCOMPARE(child->evaluateJavaScript(QStringLiteral("hits")).toInt(), 1);
    QVERIFY(child->evaluateJavaScript(QStringLiteral("qtKey()")).isNull());
}

void TestScriptRuntime::frameIdentityEscapesAddresses()
{
    QWebPage page;
    QWebFrame *frame = page.mainFrame();
    const QUrl hostile(QStringLiteral("http://h/x?'+(window.pwned=1)+'"));
    frame->evaluateJavaScript(ScriptRuntime::frameIdentityScript(7, hostile, 0, hostile));
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("frameId()")).toInt(), 7);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("frameUrl()")).toString(),
             hostile.toString());
    QVERIFY(frame->evaluateJavaScript(QStringLiteral("window.pwned")).isNull());
}

QTEST_MAIN(TestScriptRuntime)
#include "tst_scriptruntime.moc"
