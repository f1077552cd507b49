#include "shellfixture.h"

#include "webview/webview.h"

namespace {

// The escaping as a chain of whole-text replacements in its defined order; the single-pass
// escaping must give exactly this.
QString stepwiseEscape(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\''), QLatin1String("\\'"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    text.remove(QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QChar(0x2028), QLatin1String("\\u2028"));
    text.replace(QChar(0x2029), QLatin1String("\\u2029"));
    return text;
}

QString mixedText(int size)
{
    const QString pieces[]
        = { QStringLiteral("O'Brien "), QStringLiteral("\"q\" "),       QStringLiteral("C:\\x "),
            QStringLiteral("a\r\n"),    QStringLiteral("plain words "), QString(QChar(0x2028)),
            QString(QChar(0x2029)),     QStringLiteral("\u00e9\u4e2d ") };
    QString text;
    for (int i = 0; text.size() < size; ++i)
        text += pieces[(i * 7 + i / 3) % 8];
    return text;
}

} // namespace

class TestResponseQueue : public QObject
{
    Q_OBJECT

private slots:
    void escapeMatchesStepwise_data();
    void escapeMatchesStepwise();
    void escapeSharesPlainText();
    void init();
    void cleanup();
    void throwingEntryPointKeepsLaterResponses();
    void scriptsAndStepsKeepTheirOrder();
    void largeBatchArrivesInOrder();

private:
    QScopedPointer<ShellFixture> m_shell;
    bool startContainer();
    QVariant mainEval(const QString &script) { return m_shell->eval(m_shell->mainFrame(), script); }
};

void TestResponseQueue::escapeMatchesStepwise_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain") << QStringLiteral("nothing to do here");
    QTest::newRow("special first and last") << QStringLiteral("'middle\\");
    QTest::newRow("only specials") << QStringLiteral("\\'\"\r\n");
    QTest::newRow("CR LF pairs") << QStringLiteral("a\r\nb\r\n\r\nc\r");
    QTest::newRow("separators side by side")
        << (QString(QChar(0x2028)) + QChar(0x2029) + QChar(0x2028));
    QTest::newRow("separators only, many") << QString(300, QChar(0x2029));
    QTest::newRow("non-ASCII kept") << QStringLiteral("\u00e9\u4e2d\u2027\u202a");
    QTest::newRow("long mixed text") << mixedText(200000);
}

void TestResponseQueue::escapeMatchesStepwise()
{
    QFETCH(QString, text);
    QCOMPARE(WebView::escapeForScript(text), stepwiseEscape(text));
    // And inside an argument list, where it is appended to text already there.
    QCOMPARE(WebView::encodeArguments({ 5, text, text }),
             QStringLiteral("[5,'") + stepwiseEscape(text) + QStringLiteral("','")
                 + stepwiseEscape(text) + QStringLiteral("']"));
}

void TestResponseQueue::escapeSharesPlainText()
{
    // Text without anything to escape is handed on, not copied: it may be a whole file.
    const QString text(100000, QLatin1Char('x'));
    QVERIFY(WebView::escapeForScript(text).constData() == text.constData());
}

void TestResponseQueue::init()
{
    m_shell.reset(new ShellFixture);
}

void TestResponseQueue::cleanup()
{
    m_shell.reset();
}

bool TestResponseQueue::startContainer()
{
    m_shell->writePage(QStringLiteral("app/start.html"), "<html><body>start</body></html>");
    m_shell->start(QStringLiteral("app/start.html"));
    return QTest::qWaitFor(
        [this] {
            return !m_shell->view()->accessKey().isEmpty()
                && mainEval(QStringLiteral("typeof invokeCallback == 'function'")).toBool();
        },
        10000);
}

void TestResponseQueue::throwingEntryPointKeepsLaterResponses()
{
    QVERIFY(startContainer());
    // A page whose own entry point throws for one function must still get the responses that
    // were queued after it.
    mainEval(QStringLiteral("window.got = []; var plain = invokeCallback;"
                            "invokeCallback = function( name, result, indicator ) {"
                            "  if ( name == 'boom' ) throw new Error( 'boom' );"
                            "  got.push( name + ':' + result[0] ); };"));
    WebView *view = m_shell->view();
    view->respondSuccess(QStringLiteral("first"), 1);
    view->respondSuccess(QStringLiteral("boom"), 2);
    view->respondError(QStringLiteral("last"), 3, 1000, QStringLiteral("failed"));
    view->flushPageWork();
    QCOMPARE(mainEval(QStringLiteral("got.join( ',' )")).toString(),
             QStringLiteral("first:1,last:3"));
}

void TestResponseQueue::scriptsAndStepsKeepTheirOrder()
{
    QVERIFY(startContainer());
    mainEval(QStringLiteral(
        "window.order = []; invokeCallback = function( name ) { order.push( name ); };"));
    WebView *view = m_shell->view();
    QString seenByStep;
    view->respondSuccess(QStringLiteral("a"), 1);
    view->respondSuccess(QStringLiteral("b"), 2);
    view->runForPage([&] { seenByStep = mainEval(QStringLiteral("order.join( '' )")).toString(); });
    view->respondSuccess(QStringLiteral("c"), 3);
    QCOMPARE(mainEval(QStringLiteral("order.length")).toInt(), 0); // nothing inside the call
    QTRY_COMPARE(mainEval(QStringLiteral("order.join( '' )")).toString(), QStringLiteral("abc"));
    QCOMPARE(seenByStep, QStringLiteral("ab"));
}

void TestResponseQueue::largeBatchArrivesInOrder()
{
    QVERIFY(startContainer());
    mainEval(QStringLiteral("window.ids = []; invokeCallback = function( name, result ) {"
                            "  ids.push( result[0] + '|' + result[3] ); };"));
    WebView *view = m_shell->view();
    QStringList expected;
    for (uint id = 0; id < 3000; ++id) {
        const QString message = QStringLiteral("it's \"%1\"\\\n").arg(id);
        view->respondSuccess(QStringLiteral("many"), id, message, {});
        expected.append(QString::number(id) + QLatin1Char('|') + message);
    }
    view->flushPageWork();
    QCOMPARE(mainEval(QStringLiteral("ids.length")).toInt(), expected.size());
    QCOMPARE(mainEval(QStringLiteral("ids.join( '#' )")).toString(),
             expected.join(QLatin1Char('#')));
}

QTEST_MAIN(TestResponseQueue)
#include "tst_responsequeue.moc"
