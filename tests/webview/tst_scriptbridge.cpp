#include "shellfixture.h"

#include "webview/scriptapi.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QPointer>

namespace {

// A hosted page that records every callback it receives.
const char RecorderPage[] = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>
var received = [];
var errors = [];
var loads = 0;
function onQtLoad() { loads++; qtOnError( 'onShellError' ); }
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
function onShellError( unused, code, details ) { errors.push( code + ':' + details.join( '|' ) ); }
</script>
<iframe name="inner" src="inner.html"></iframe>
</body></html>)HTML";

const char InnerPage[] = R"HTML(<!DOCTYPE html><html><body><script>
var received = [];
function onQtLoad() {}
function onInner() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
</script></body></html>)HTML";

} // namespace

class TestScriptBridge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startPageLandsInContentFrame();
    void savedUrlKeepsStartPageAway();
    void callFromHostedFrameGetsResponse_data();
    void callFromHostedFrameGetsResponse();
    void frameOneDeeperIsServed();
    void wrongKeyReachesErrorCallbackOnly_data();
    void wrongKeyReachesErrorCallbackOnly();
    void emptyCallbackSuppressesResponse();
    void awkwardTextArrivesIntact();
    void onQtLoadFiresOnce();
    void stateChangeIndicatorPops();
    void everyKeyedSlotRefusesWrongKey();
    void inheritedMembersLeaveHostObjectAlone_data();
    void inheritedMembersLeaveHostObjectAlone();

private:
    QScopedPointer<ShellFixture> m_shell;
    QWebFrame *startRecorder();
};

void TestScriptBridge::init()
{
    m_shell.reset(new ShellFixture);
}

void TestScriptBridge::cleanup()
{
    m_shell.reset();
}

QWebFrame *TestScriptBridge::startRecorder()
{
    m_shell->writePage(QStringLiteral("app/recorder.html"), RecorderPage);
    m_shell->writePage(QStringLiteral("app/inner.html"), InnerPage);
    m_shell->start(QStringLiteral("app/recorder.html"));
    // Ready once the page has its key and its error handler is registered with the container.
    const bool ready = QTest::qWaitFor(
        [this] {
            return m_shell->contentReady(QStringLiteral("recorder.html"))
                && m_shell
                       ->eval(m_shell->mainFrame(),
                              QStringLiteral("!!corvidRegistry['onShellError']"))
                       .toBool();
        },
        10000);
    if (!ready)
        qWarning() << "not ready:" << m_shell->mainFrame()->url() << m_shell->host()->loadCount()
                   << (m_shell->content() ? m_shell->content()->url() : QUrl())
                   << m_shell->prompter.shown << m_shell->mainFrame()->toHtml().left(300);
    return ready ? m_shell->content() : nullptr;
}

void TestScriptBridge::startPageLandsInContentFrame()
{
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    QCOMPARE(content->url(),
             QUrl::fromLocalFile(m_shell->path(QStringLiteral("app/recorder.html"))));
    QCOMPARE(m_shell->view()->accessKey().size(), 64);
    QVERIFY(
        m_shell->eval(content, QStringLiteral("qtKey() == '%1'").arg(m_shell->view()->accessKey()))
            .toBool());
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("loads")).toInt(), 1);
}

void TestScriptBridge::savedUrlKeepsStartPageAway()
{
    m_shell->set(QStringLiteral("udp_wait_secs"), 1);
    m_shell->writePage(QStringLiteral("app/recorder.html"), RecorderPage);
    m_shell->start(QStringLiteral("app/recorder.html"));
    m_shell->host()->saveUrl(QStringLiteral("https://elsewhere.example.org/"));
    QTest::qWait(1500);
    QCOMPARE(m_shell->content()->requestedUrl().fileName(), QStringLiteral("blank.html"));
}

void TestScriptBridge::callFromHostedFrameGetsResponse_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain success has four elements")
        << "Qt().fetchLogSettings( qtKey(), qtCallback( 'onDone' ), 12 )"
        << "[12,true,0,\"\",\"\",\"\",\"\"]";
    QTest::newRow("unsupported call")
        << "Qt().onDeactivated( qtKey(), qtCallback( 'onDone' ), 7 )"
        << "[7,false,1,\"This web view does not support the function: onDeactivated.\"]";
    QTest::newRow("update log settings")
        << "Qt().updateLogSettings( qtKey(), qtCallback( 'onDone' ), 3, '0_INTRADELIM_0' )"
        << "[3,true,0,\"\"]";
    QTest::newRow("decipher garbage is empty success")
        << "Qt().decrypt( qtKey(), qtCallback( 'onDone' ), 4, 'bm90IGEgY2lwaGVy', 0 )"
        << "[4,true,0,\"\"]";
}

void TestScriptBridge::callFromHostedFrameGetsResponse()
{
    QFETCH(QString, call);
    QFETCH(QString, expected);
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    m_shell->eval(content, call);
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("received.length")).toInt(), 1);
    QCOMPARE(m_shell->eval(content, QStringLiteral("received[0]")).toString(), expected);
}

void TestScriptBridge::frameOneDeeperIsServed()
{
    QVERIFY(startRecorder());
    QWebFrame *inner = m_shell->frameNamed(QStringLiteral("inner"));
    QVERIFY(inner);
    QTRY_VERIFY(
        m_shell->eval(inner, QStringLiteral("typeof(qtKey) == 'function' && qtKey() != null"))
            .toBool());
    m_shell->eval(
        inner, QStringLiteral("Qt().encrypt( qtKey(), qtCallback( 'onInner' ), 99, 'deep', 0 )"));
    QTRY_COMPARE(m_shell->eval(inner, QStringLiteral("received.length")).toInt(), 1);
    const QString response = m_shell->eval(inner, QStringLiteral("received[0]")).toString();
    QVERIFY2(response.startsWith(QStringLiteral("[99,true,0,\"Aw")), qPrintable(response));
}

void TestScriptBridge::wrongKeyReachesErrorCallbackOnly_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong") << "'abc'"
                           << "Invalid access key provided.";
    QTest::newRow("key with blanks") << "' ' + qtKey() + ' '"
                                     << "Invalid access key provided.";
    QTest::newRow("blank") << "'   '"
                           << "No access key provided.";
    QTest::newRow("empty") << "''"
                           << "No access key provided.";
}

void TestScriptBridge::wrongKeyReachesErrorCallbackOnly()
{
    QFETCH(QString, key);
    QFETCH(QString, message);
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    m_shell->eval(content,
                  QStringLiteral("Qt().encrypt( %1, qtCallback( 'onDone' ), 5, 'x', 0 )").arg(key));
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("errors.length")).toInt(), 1);
    QCOMPARE(m_shell->eval(content, QStringLiteral("errors[0]")).toString(),
             QStringLiteral("4:") + message);
    QTest::qWait(100);
    QCOMPARE(m_shell->eval(content, QStringLiteral("received.length")).toInt(), 0);
}

void TestScriptBridge::emptyCallbackSuppressesResponse()
{
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    m_shell->eval(content,
                  QStringLiteral("window.invoked = 0; top.invokeCallback = (function( original ) {"
                                 " return function() { window.invoked++; return original.apply( "
                                 "top, arguments ); }; })( top.invokeCallback );"));
    m_shell->eval(content, QStringLiteral("Qt().encrypt( qtKey(), '', 5, 'x', 0 )"));
    m_shell->view()->flushPageWork();
    QCOMPARE(m_shell->eval(content, QStringLiteral("window.invoked")).toInt(), 0);
    m_shell->eval(content,
                  QStringLiteral("Qt().encrypt( qtKey(), qtCallback( 'onDone' ), 6, 'x', 0 )"));
    m_shell->view()->flushPageWork();
    QCOMPARE(m_shell->eval(content, QStringLiteral("window.invoked")).toInt(), 1);
}

void TestScriptBridge::awkwardTextArrivesIntact()
{
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    const QString text = QStringLiteral("O'Brien \\\\ \\\" \\r\\n </script> \\u2028 end");
    m_shell->eval(
        content,
        QStringLiteral(
            "var t = encrypt = null; Qt().encrypt( qtKey(), qtCallback( 'onDone' ), 1, \"%1\", 0 )")
            .arg(text));
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("received.length")).toInt(), 1);
    const QString cipher
        = m_shell->eval(content, QStringLiteral("JSON.parse( received[0] )[3]")).toString();
    m_shell->eval(
        content,
        QStringLiteral("Qt().decrypt( qtKey(), qtCallback( 'onDone' ), 2, '%1', 0 )").arg(cipher));
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("received.length")).toInt(), 2);
    const QString back
        = m_shell->eval(content, QStringLiteral("JSON.parse( received[1] )[3]")).toString();
    QCOMPARE(back, QString::fromUtf8("O'Brien \\ \" \n </script> \u2028 end"));
}

void TestScriptBridge::onQtLoadFiresOnce()
{
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("loads")).toInt(), 1);
    // Another load elsewhere in the page evaluates the runtime again in this frame.
    m_shell->eval(m_shell->frameNamed(QStringLiteral("inner")),
                  QStringLiteral("location.reload()"));
    QTest::qWait(500);
    QCOMPARE(m_shell->eval(content, QStringLiteral("loads")).toInt(), 1);
}

void TestScriptBridge::stateChangeIndicatorPops()
{
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    QCOMPARE(m_shell->eval(content, QStringLiteral("popQtStateChangeIndicator()")).toInt(), 1);
    QCOMPARE(m_shell->eval(content, QStringLiteral("popQtStateChangeIndicator()")).toInt(), 0);
}

// Every slot that takes qtKey, present or added later, must do nothing for a wrong key: slots
// with a callback id report code 4 to the error callback, the others stay silent.
void TestScriptBridge::everyKeyedSlotRefusesWrongKey()
{
    QVERIFY(startRecorder());
    QWebFrame *main = m_shell->mainFrame();
    m_shell->eval(
        main,
        QStringLiteral(
            "window.calls = [];"
            "window.invokeCallback = function( f, a, i ) { calls.push( 'callback:' + f ); };"
            "window.invokeCallbackAll = function( f, a, i ) { calls.push( 'all:' + f ); };"
            "window.invokeOnErrorCallback = function( n, c, a ) { calls.push( 'error:' + c + ':' + "
            "a[0] ); };"));
    ScriptApi *api = m_shell->host()->scriptApi();
    const QMetaObject *meta = api->metaObject();
    int keyed = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Public)
            continue;
        const QList<QByteArray> names = method.parameterNames();
        if (names.isEmpty() || names.first() != "qtKey")
            continue;
        ++keyed;
        QList<QVariant> values;
        QGenericArgument args[10];
        for (int p = 0; p < method.parameterCount(); ++p) {
            const int type = method.parameterType(p);
            QVariant value = p == 0
                ? QVariant(QStringLiteral("wrong-key"))
                : (names.at(p) == "callbackFunc" ? QVariant(QStringLiteral("cb"))
                                                 : QVariant(type, nullptr));
            if (type == QMetaType::UInt || type == QMetaType::Int)
                value = QVariant(type, nullptr);
            values.append(value);
        }
        for (int p = 0; p < values.size(); ++p)
            args[p] = QGenericArgument(values[p].typeName(), values[p].constData());
        m_shell->eval(main, QStringLiteral("calls = [];"));
        QVERIFY(method.invoke(api, Qt::DirectConnection, args[0], args[1], args[2], args[3],
                              args[4], args[5], args[6], args[7], args[8], args[9]));
        m_shell->view()->flushPageWork();
        const QStringList calls = m_shell->eval(main, QStringLiteral("calls")).toStringList();
        const bool reports = names.contains("callbackId");
        const QStringList expected = reports
            ? QStringList { QStringLiteral("error:4:Invalid access key provided.") }
            : QStringList {};
        QVERIFY2(calls == expected,
                 qPrintable(QString::fromLatin1(method.methodSignature()) + QStringLiteral(" -> ")
                            + calls.join(QLatin1Char(';'))));
    }
    QVERIFY(keyed >= 14);
    QVERIFY2(m_shell->viewer->isVisible(), "a refused quit must not close the window");
    QVERIFY(!m_shell->view()->webViewPrivate()->isQuitAllowed());
}

// Page script reaches every public member of the published object, the toolkit's own included
// (deleteLater, the destroyed signals, objectName). None of them may end the object's life or
// change it: the host keeps using it after the page is gone.
void TestScriptBridge::inheritedMembersLeaveHostObjectAlone_data()
{
    QTest::addColumn<QString>("script");
    const QMetaObject &meta = ScriptApi::staticMetaObject;
    for (int i = 0; i < meta.methodOffset(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.access() == QMetaMethod::Private)
            continue;
        QStringList arguments;
        for (int p = 0; p < method.parameterCount(); ++p)
            arguments.append(method.parameterType(p) == QMetaType::QString
                                 ? QStringLiteral("'x'")
                                 : QStringLiteral("null"));
        const QString signature = QString::fromLatin1(method.methodSignature());
        QTest::newRow(qPrintable(signature))
            << QStringLiteral("QtObj['%1']( %2 ); QtObj.%3( %2 );")
                   .arg(signature, arguments.join(QStringLiteral(", ")),
                        QString::fromLatin1(method.name()));
    }
    for (int i = 0; i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        QTest::newRow(qPrintable(QStringLiteral("write ") + QLatin1String(property.name())))
            << QStringLiteral("QtObj.%1 = 'pwned';").arg(QLatin1String(property.name()));
    }
}

void TestScriptBridge::inheritedMembersLeaveHostObjectAlone()
{
    QFETCH(QString, script);
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    QPointer<ScriptApi> api = m_shell->host()->scriptApi();
    const QString name = api->objectName();
    m_shell->eval(content, QStringLiteral("try { %1 } catch ( e ) {}").arg(script));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(api, "the host object was deleted");
    QCOMPARE(api->objectName(), name);
    // The next page is published into and served by the same object.
    content->evaluateJavaScript(QStringLiteral("window.stale = true; location.reload();"));
    QTRY_VERIFY(m_shell->contentReady(QStringLiteral("recorder.html"))
                && m_shell->eval(content, QStringLiteral("typeof(stale) == 'undefined'")).toBool());
    m_shell->eval(content,
                  QStringLiteral("Qt().fetchLogSettings( qtKey(), qtCallback( 'onDone' ), 8 )"));
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("received.length")).toInt(), 1);
}

QTEST_MAIN(TestScriptBridge)
#include "tst_scriptbridge.moc"
