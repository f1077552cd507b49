#include "shellfixture.h"

#include "webview/scriptapi.h"

#include <QMetaMethod>
#include <QMetaProperty>

namespace {

// A hosted page, with a frame of its own inside, that records every callback it receives.
const char RecorderPage[] = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>
var received = [];
function onQtLoad() { qtOnError( 'onShellError' ); }
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
function onText( id, success, code, text ) {
    // Inside the container's answer: its other texts must not be taken through this frame.
    for ( var i = 0; i < 4000; ++i ) if ( QtObj.takeResponseValue( i ) !== '' ) stolen = true;
    received.push( text );
}
var stolen = false;
function onShellError( unused, code, details ) { received.push( code + ':' + details.join( '|' ) ); }
</script>
<iframe name="inner" src="inner.html"></iframe>
</body></html>)HTML";

const char InnerPage[] = R"HTML(<!DOCTYPE html><html><body><script>
var received = [];
function onQtLoad() {}
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
function onText( id, success, code, text ) { received.push( text ); }
</script></body></html>)HTML";

} // namespace

class TestScriptBridge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void callGetsResponse_data();
    void callGetsResponse();
    void textArrivesWhole_data();
    void textArrivesWhole();
    void accessKeyDiffersPerView();
    void emptyCallbackNameGetsNoResponse();
    void everyKeyedSlotRefusesWrongKey_data();
    void everyKeyedSlotRefusesWrongKey();
    void inheritedMembersLeaveHostObjectAlone_data();
    void inheritedMembersLeaveHostObjectAlone();

private:
    QWebFrame *startRecorder();
    QScopedPointer<ShellFixture> m_shell;
};

void TestScriptBridge::init()
{
    m_shell.reset(new ShellFixture);
}

void TestScriptBridge::cleanup()
{
    m_shell.reset();
}

// Ready once the inner frame has its key and the error handler is registered with the container.
QWebFrame *TestScriptBridge::startRecorder()
{
    m_shell->writePage(QStringLiteral("app/inner.html"), InnerPage);
    QWebFrame *content = m_shell->open(QStringLiteral("recorder.html"), RecorderPage);
    const auto isTrue = [this](QWebFrame *frame, const char *script) {
        return m_shell->eval(frame, QLatin1String(script)).toBool();
    };
    const bool ready
        = content && QTest::qWaitFor([&] {
              return isTrue(m_shell->frameNamed(QStringLiteral("inner")), "qtKey() != null")
                  && isTrue(m_shell->mainFrame(), "!!corvidRegistry.onShellError");
          });
    return ready ? content : nullptr;
}

// The response reaches the calling frame's callback as separate arguments.
void TestScriptBridge::callGetsResponse_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("expected");
    const QString content = QStringLiteral("contentFrame");
    const QString callback = QStringLiteral("Qt().%1( qtKey(), qtCallback( 'onDone' ), %2 )");
    QTest::newRow("success") << content << callback.arg("updateLogSettings", "3, '0'")
                             << QStringLiteral("[3,true,0,\"\"]");
    QTest::newRow("failure") << content << callback.arg("onDeactivated", "7")
                             << QStringLiteral(
                                    "[7,false,1,\"This web view does not support the function: "
                                    "onDeactivated.\"]");
    QTest::newRow("values list") << content << callback.arg("fetchLogSettings", "12")
                                 << QStringLiteral("[12,true,0,\"\",\"\",\"\",\"\"]");
    QTest::newRow("binary result") << content << callback.arg("readBinaryFile", "1, 'bytes.bin'")
                                   << QStringLiteral("[1,true,0,\"AQI=\"]");
    QTest::newRow("frame one deeper")
        << QStringLiteral("inner") << callback.arg("decrypt", "4, 'bm90IGEgY2lwaGVy', 0")
        << QStringLiteral("[4,true,0,\"\"]");
    // The key is compared as it is, never trimmed.
    QTest::newRow("padded key") << content
                                << QStringLiteral(
                                       "Qt().encrypt( ' ' + qtKey(), 'onDone', 5, 'x', 0 )")
                                << QStringLiteral("4:Invalid access key provided.");
}

void TestScriptBridge::callGetsResponse()
{
    QFETCH(QString, frame);
    QFETCH(QString, call);
    QFETCH(QString, expected);
    m_shell->writePage(QStringLiteral("bytes.bin"), "\x01\x02");
    QVERIFY(startRecorder());
    QWebFrame *caller = m_shell->frameNamed(frame);
    m_shell->eval(caller, call);
    QTRY_COMPARE(m_shell->eval(caller, QStringLiteral("received.length")).toInt(), 1);
    QCOMPARE(m_shell->eval(caller, QStringLiteral("received[0]")).toString(), expected);
}

// A long text is fetched by the container rather than parsed from the script, and handed to a
// local frame without a copy; it must arrive exactly as a short one does.
void TestScriptBridge::textArrivesWhole_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("length");
    // Long texts are handed over in pieces of 2^20 characters.
    QTest::newRow("long, in pieces, content frame") << QStringLiteral("contentFrame") << 1200000;
    QTest::newRow("long, frame one deeper") << QStringLiteral("inner") << 40000;
    QTest::newRow("short, written into the script") << QStringLiteral("contentFrame") << 3000;
}

void TestScriptBridge::textArrivesWhole()
{
    QFETCH(QString, frame);
    QFETCH(int, length);
    const QString piece = QStringLiteral("O'Brien \"said\" C:\\app\r\n\u2028\u00e9\U0001F600 ");
    QString text;
    while (text.size() < length)
        text += piece;
    m_shell->writePage(QStringLiteral("a.txt"), text.toUtf8());
    m_shell->writePage(QStringLiteral("b.txt"), text.left(length / 2).toUtf8());
    QVERIFY(startRecorder());
    QWebFrame *caller = m_shell->frameNamed(frame);
    // Both in one turn, so that both answers wait in the same script.
    m_shell->eval(
        caller,
        QStringLiteral("Qt().readFile( qtKey(), qtCallbackPersistent( 'onText' ), 1, '%1' );"
                       "Qt().readFile( qtKey(), 'onText', 2, '%2' );")
            .arg(m_shell->path(QStringLiteral("a.txt")), m_shell->path(QStringLiteral("b.txt"))));
    QTRY_COMPARE(m_shell->eval(caller, QStringLiteral("received.length")).toInt(), 2);
    const QString half = QString::fromUtf8(text.left(length / 2).toUtf8());
    QCOMPARE(m_shell->eval(caller, QStringLiteral("received[0]")).toString(),
             text.remove(QLatin1Char('\r')));
    QCOMPARE(m_shell->eval(caller, QStringLiteral("received[1]")).toString(),
             QString(half).remove(QLatin1Char('\r')));
    QCOMPARE(m_shell->eval(m_shell->content(), QStringLiteral("stolen")).toBool(), false);
}

// The key opens every service, so no view may make the key of another.
void TestScriptBridge::accessKeyDiffersPerView()
{
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    const QString key = m_shell->view()->accessKey();
    QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9]{64}$")).match(key).hasMatch(),
             qPrintable(key));
    QCOMPARE(m_shell->eval(content, QStringLiteral("qtKey()")).toString(), key);
    QtWebAppViewer other;
    other.view()->generateAccessKey();
    QVERIFY(other.view()->accessKey() != key);
}

// A call without a callback name is answered by nobody; the same call with a name is.
void TestScriptBridge::emptyCallbackNameGetsNoResponse()
{
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    m_shell->eval(m_shell->mainFrame(),
                  QStringLiteral("window.answered = 0; invokeCallback = (function( original ) {"
                                 " return function() { answered++; return original.apply( window,"
                                 " arguments ); }; })( invokeCallback );"));
    for (const char *name : { "", "onDone" }) {
        m_shell->eval(content,
                      QStringLiteral("Qt().encrypt( qtKey(), '%1', 5, 'x', 0 )").arg(name));
        m_shell->view()->flushPageWork();
    }
    QCOMPARE(m_shell->eval(m_shell->mainFrame(), QStringLiteral("answered")).toInt(), 1);
}

// Every slot that takes qtKey, present or added later, must do nothing for a wrong key: slots
// with a callback id report code 4 to the error callback, the others stay silent. Before the
// first load has made the key, an empty key is as wrong as any other.
void TestScriptBridge::everyKeyedSlotRefusesWrongKey_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("report");
    QTest::newRow("wrong key") << true << "wrong-key"
                               << "error:4:Invalid access key provided.";
    QTest::newRow("empty key before the key exists") << false << ""
                                                     << "error:4:No access key provided.";
}

void TestScriptBridge::everyKeyedSlotRefusesWrongKey()
{
    QFETCH(bool, loaded);
    QFETCH(QString, key);
    QFETCH(QString, report);
    if (loaded)
        QVERIFY(startRecorder());
    else
        m_shell->create();
    QVERIFY(m_shell->view()->accessKey().isEmpty() != loaded);
    QWebFrame *main = m_shell->mainFrame();
    m_shell->eval(
        main,
        QStringLiteral("window.calls = [];"
                       "invokeCallback = function( f ) { calls.push( 'callback:' + f ); };"
                       "invokeCallbackAll = function( f ) { calls.push( 'all:' + f ); };"
                       "invokeOnErrorCallback = function( n, c, a ) {"
                       " calls.push( 'error:' + c + ':' + a[0] ); };"));
    QSignalSpy quits(m_shell->view()->webViewPrivate(), &WebViewPrivate::quitRequested);
    ScriptApi *api = m_shell->host()->scriptApi();
    const QMetaObject *meta = api->metaObject();
    int keyed = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        const QList<QByteArray> names = method.parameterNames();
        // Slots too long to invoke from here are covered by their shorter defaulted forms.
        if (method.methodType() != QMetaMethod::Slot || names.value(0) != "qtKey"
            || method.parameterCount() > 10)
            continue;
        ++keyed;
        // Harmless arguments, should a body run after all: paths stay in the test's folder.
        QVariantList values;
        for (int p = 0; p < method.parameterCount(); ++p) {
            const int type = method.parameterType(p);
            values.append(p == 0                              ? QVariant(key)
                              : names.at(p) == "callbackFunc" ? QVariant(QStringLiteral("cb"))
                              : type == QMetaType::QString    ? QVariant(QStringLiteral("swept"))
                                                              : QVariant(type, nullptr));
        }
        QGenericArgument args[10];
        for (int p = 0; p < values.size(); ++p)
            args[p] = QGenericArgument(values[p].typeName(), values[p].constData());
        m_shell->eval(main, QStringLiteral("calls = [];"));
        QVERIFY(method.invoke(api, Qt::DirectConnection, args[0], args[1], args[2], args[3],
                              args[4], args[5], args[6], args[7], args[8], args[9]));
        m_shell->view()->flushPageWork();
        const QStringList calls = m_shell->eval(main, QStringLiteral("calls")).toStringList();
        const QStringList expected
            = names.contains("callbackId") ? QStringList { report } : QStringList {};
        QVERIFY2(calls == expected,
                 qPrintable(QString::fromLatin1(method.methodSignature()) + QStringLiteral(" -> ")
                            + calls.join(QLatin1Char(';'))));
    }
    QVERIFY(keyed >= 14);
    QVERIFY(quits.isEmpty());
    QVERIFY(!m_shell->view()->webViewPrivate()->isQuitAllowed());
}

// Page script reaches every public member of the published object, the toolkit's own included
// (deleteLater, the destroyed signals, objectName). None of them may end the object's life or
// change it, and none of a widget's slots may be reachable at all.
void TestScriptBridge::inheritedMembersLeaveHostObjectAlone_data()
{
    QTest::addColumn<QString>("script");
    const auto call = [](const QMetaMethod &method) {
        QStringList arguments;
        for (int p = 0; p < method.parameterCount(); ++p)
            arguments.append(method.parameterType(p) == QMetaType::QString
                                 ? QStringLiteral("'x'")
                                 : QStringLiteral("null"));
        return QStringLiteral("try { QtObj['%1']( %2 ); QtObj.%3( %2 ); } catch ( e ) {}")
            .arg(QString::fromLatin1(method.methodSignature()), arguments.join(QLatin1Char(',')),
                 QString::fromLatin1(method.name()));
    };
    const QMetaObject &meta = ScriptApi::staticMetaObject;
    for (int i = 0; i < meta.methodOffset(); ++i) {
        if (meta.method(i).access() != QMetaMethod::Private)
            QTest::newRow(meta.method(i).methodSignature().constData()) << call(meta.method(i));
    }
    for (int i = 0; i < meta.propertyCount(); ++i) {
        QTest::newRow(qPrintable(QStringLiteral("write ") + QLatin1String(meta.property(i).name())))
            << QStringLiteral("QtObj.%1 = 'pwned';").arg(QLatin1String(meta.property(i).name()));
    }
    QString widgetSlots;
    const QMetaObject &widget = QWidget::staticMetaObject;
    for (int i = QObject::staticMetaObject.methodCount(); i < widget.methodCount(); ++i) {
        if (widget.method(i).methodType() == QMetaMethod::Slot)
            widgetSlots += call(widget.method(i));
    }
    QTest::newRow("widget slots") << widgetSlots;
}

void TestScriptBridge::inheritedMembersLeaveHostObjectAlone()
{
    QFETCH(QString, script);
    QWebFrame *content = startRecorder();
    QVERIFY(content);
    const QString name = m_shell->eval(content, QStringLiteral("QtObj.objectName")).toString();
    m_shell->eval(content, script);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(m_shell->eval(content, QStringLiteral("QtObj.objectName")).toString(), name);
    QVERIFY(m_shell->viewer->isVisible() && m_shell->view()->isVisible());
    QVERIFY(m_shell->view()->isEnabled());
    // The same document goes on being served.
    m_shell->eval(content,
                  QStringLiteral("Qt().fetchLogSettings( qtKey(), qtCallback( 'onDone' ), 8 )"));
    QTRY_COMPARE(m_shell->eval(content, QStringLiteral("received.length")).toInt(), 1);
}

QTEST_MAIN(TestScriptBridge)
#include "tst_scriptbridge.moc"
