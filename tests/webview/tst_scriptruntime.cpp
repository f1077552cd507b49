#include "webview/scriptruntime.h"
#include "webview/webview.h"

#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <QtTest>

// The escaping and the generated script, evaluated in a real page without the shell around it.
class TestScriptRuntime : public QObject
{
    Q_OBJECT

private slots:
    void encodeArguments_data();
    void encodeArguments();
    void pageFolder_data();
    void pageFolder();
    void generatedScript_data();
    void generatedScript();
    void reEvaluationKeepsFrameState();
};

// Every text becomes one single-quoted literal of this engine (less its CRs); only booleans and
// numbers go bare.
void TestScriptRuntime::encodeArguments_data()
{
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<QString>("expected");
    const QChar ls(0x2028);
    const QChar ps(0x2029);
    QTest::newRow("response") << QVariantList { 12u, true, 0, QString() } << "[12,true,0,'']";
    QTest::newRow("booleans and numbers bare")
        << QVariantList { false, -3, 2.5 } << "[false,-3,2.5]";
    QTest::newRow("url and bytes are quoted")
        << QVariantList { QUrl("file:///a b"), QByteArray("x'y") } << "['file:///a b','x\\'y']";
    QTest::newRow("lists and invalid skipped")
        << QVariantList { QVariant(), QVariantList { 1 }, QStringLiteral("k") } << "['k']";
    QTest::newRow("empty") << QVariantList {} << "[]";
    QTest::newRow("quotes and backslashes")
        << QVariantList { QStringLiteral("O'Brien \"hi\" C:\\x\\") }
        << "['O\\'Brien \\\"hi\\\" C:\\\\x\\\\']";
    QTest::newRow("line breaks lose CR")
        << QVariantList { QStringLiteral("\ra\r\nb\nc\r") } << "['a\\nb\\nc']";
    QTest::newRow("line separators")
        << QVariantList { QString(QStringLiteral("a") + ls + QStringLiteral("b") + ps) }
        << "['a\\u2028b\\u2029']";
    QTest::newRow("separators only, many")
        << QVariantList { QString(300, ps) }
        << QStringLiteral("['") + QStringLiteral("\\u2029").repeated(300) + QStringLiteral("']");
    QTest::newRow("non-ASCII kept") << QVariantList { QStringLiteral("\u00e9\u4e2d\u2027\u202a") }
                                    << QStringLiteral("['\u00e9\u4e2d\u2027\u202a']");
    QTest::newRow("texts side by side")
        << QVariantList { 5, QStringLiteral("x'"), QString(QString(ls) + QLatin1Char('"')) }
        << "[5,'x\\'','\\u2028\\\"']";
    QTest::newRow("long mixed text")
        << QVariantList { QString(QStringLiteral("ab'\"\\\r\n") + ls + QStringLiteral("\u00e9"))
                              .repeated(30000) }
        << QStringLiteral("['") + QStringLiteral("ab\\'\\\"\\\\\\n\\u2028\u00e9").repeated(30000)
            + QStringLiteral("']");
}

void TestScriptRuntime::encodeArguments()
{
    QFETCH(QVariantList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(WebView::encodeArguments(arguments), expected);
    QWebPage page;
    QVERIFY2(page.mainFrame()->evaluateJavaScript(expected).isValid(), "not a script value");
}

void TestScriptRuntime::pageFolder_data()
{
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows folder") << true << "C:\\Users\\x\\Temp"
                                    << "C:/Users/x/Temp/";
    QTest::newRow("already ends with slash") << true << "/tmp/a/"
                                             << "/tmp/a/";
    QTest::newRow("quote in a name") << true << "/home/o'neil"
                                     << "/home/o\\'neil/";
    QTest::newRow("log file") << false << "C:\\Users\\o'neil\\app.log"
                              << "C:/Users/o\\'neil/app.log";
}

void TestScriptRuntime::pageFolder()
{
    QFETCH(bool, folder);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(folder ? ScriptRuntime::pageFolder(path) : ScriptRuntime::pageFile(path), expected);
}

// The generated script, evaluated in a fresh page, then asked one question. Text from outside
// (names, addresses, credentials) stays data inside it.
void TestScriptRuntime::generatedScript_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("expected");
    const QString hostile = QStringLiteral("o'+(window.pwned=1)+'\"\\\u2028");
    const QUrl address(QStringLiteral("http://h/x?'+(window.pwned=1)+'"));
    const QString runtime = ScriptRuntime::frameRuntime({ 3, 6.2f, hostile });
    QTest::newRow("credentials")
        << QStringLiteral("var got; function autoLogin( u, p ) { got = u + '|' + p; }")
            + ScriptRuntime::credentialsScript(hostile, hostile)
        << "got" << hostile + QLatin1Char('|') + hostile;
    QTest::newRow("frame address") << ScriptRuntime::frameIdentityScript(7, address, 0, address)
                                   << "frameUrl()" << address.toString();
    QTest::newRow("version name") << runtime << "platformVersionName()" << hostile;
    QTest::newRow("platform and version")
        << runtime << "[ platform() == LINUX_PLATFORM, platformVersionNumber() ].join()"
        << "true,6.2";
    QTest::newRow("no key, no host object") << runtime << "String( Qt() )"
                                            << "null";
    QTest::newRow("replacement taken as it is")
        << runtime << "replaceAll( 'a.b', '$&', 'xa.bya.b' )"
        << "x$&y$&";
    QTest::newRow("indicator pops once")
        << runtime << "[ popQtStateChangeIndicator(), popQtStateChangeIndicator() ].join()"
        << "1,0";
    // The retries are run one after the other instead of waiting for their timers.
    QTest::newRow("load signal gives up after fifty tries")
        << QStringLiteral("var loaded = 0; function onQtLoad() { loaded++; }"
                          "var queued = null; setTimeout = function( f ) { queued = f; };")
            + runtime
            + QStringLiteral("while ( queued ) { var next = queued; queued = null; next(); }")
        << "[ trySignalLoadAttempts_, loaded ].join()"
        << "50,0";
}

void TestScriptRuntime::generatedScript()
{
    QFETCH(QString, script);
    QFETCH(QString, probe);
    QFETCH(QString, expected);
    QWebPage page;
    page.mainFrame()->evaluateJavaScript(script);
    QCOMPARE(page.mainFrame()->evaluateJavaScript(probe).toString(), expected);
    QVERIFY(page.mainFrame()->evaluateJavaScript(QStringLiteral("window.pwned")).isNull());
}

// The host evaluates the runtime again in a frame after every load in the page. What the frame
// was given stays, and nothing it reacts to happens twice.
void TestScriptRuntime::reEvaluationKeepsFrameState()
{
    QWebPage page;
    QWebFrame *frame = page.mainFrame();
    frame->setHtml(QStringLiteral("<html><body><a id='link'>link</a></body></html>"));
    frame->evaluateJavaScript(QStringLiteral(
        "var QtObj = {}; var loads = 0; var got = []; var links = 0; var done;"
        "function onQtLoad() { loads++; }"
        "function victim() { got.push( JSON.stringify( [].slice.call( arguments ) ) ); }"
        "addEventListener( 'message', function( e ) {"
        " if ( e.data === 'qtLinkClicked' ) links++; done = e.data === 'done'; } );"));
    const QString runtime = ScriptRuntime::frameRuntime({ 3, 1.0f, QStringLiteral("x") })
        + ScriptRuntime::frameClickScript();
    frame->evaluateJavaScript(runtime);
    frame->evaluateJavaScript(QStringLiteral("setQtKey( 'key' ); setQtTempDirPath( '/t/' );"
                                             "setQtStateChangeIndicator( 5 ); trySignalQtLoad();"));
    frame->evaluateJavaScript(runtime);
    QCOMPARE(frame
                 ->evaluateJavaScript(QStringLiteral("[ qtKey(), qtTempDirPath(), "
                                                     "qtStateChangeIndicator(), loads ].join()"))
                 .toString(),
             QStringLiteral("key,/t/,5,1"));
    frame->evaluateJavaScript(
        QStringLiteral("postMessage( [ 'qtCallback', 1, 'victim', [ 'a', 'b' ], 0 ], '*' );"
                       "document.getElementById( 'link' ).click(); postMessage( 'done', '*' );"));
    // Messages from one window arrive in order.
    QTRY_VERIFY(frame->evaluateJavaScript(QStringLiteral("done")).toBool());
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("links")).toInt(), 1);
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("got")).toStringList(),
             QStringList { QStringLiteral("[\"a\",\"b\"]") });
}

QTEST_MAIN(TestScriptRuntime)
#include "tst_scriptruntime.moc"
