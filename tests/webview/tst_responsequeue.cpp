#include "shellfixture.h"

#include "webview/webview.h"

// Responses wait for the event loop and are evaluated in the main frame in one batch. The page's
// entry point is replaced by one that records what reaches it.
class TestResponseQueue : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void throwingEntryPointKeepsLaterResponses();
    void scriptsAndStepsKeepTheirOrder();
    void engineMemoryReleasedAfterManyResponses();

private:
    QVariant mainEval(const QString &script) { return m_shell->eval(m_shell->mainFrame(), script); }
    QScopedPointer<ShellFixture> m_shell;
};

void TestResponseQueue::init()
{
    m_shell.reset(new ShellFixture);
    m_shell->create();
}

void TestResponseQueue::cleanup()
{
    m_shell.reset();
}

// An exception in the page function for one response loses none of a large batch after it;
// callback names are text in the script like any other.
void TestResponseQueue::throwingEntryPointKeepsLaterResponses()
{
    mainEval(QStringLiteral("window.got = []; invokeCallback = function( name, result ) {"
                            "  if ( name == 'bo\\'om' ) throw new Error( 'boom' );"
                            "  got.push( name + '|' + result[0] + '|' + result[3] ); };"));
    WebView *view = m_shell->view();
    QStringList expected;
    view->respondSuccess(QStringLiteral("bo'om"), 0);
    for (uint id = 1; id < 2000; ++id) {
        const QString name = QStringLiteral("it's \"%1\"\\").arg(id);
        view->respondSuccess(name, id, name + QLatin1Char('\n'), {});
        expected.append(name + QLatin1Char('|') + QString::number(id) + QLatin1Char('|') + name
                        + QLatin1Char('\n'));
    }
    view->flushPageWork();
    QCOMPARE(mainEval(QStringLiteral("got.length")).toInt(), expected.size());
    QCOMPARE(mainEval(QStringLiteral("got.join( '#' )")).toString(),
             expected.join(QLatin1Char('#')));
}

// Nothing reaches the page inside the call that answers it; steps run between the scripts
// queued before and after them.
void TestResponseQueue::scriptsAndStepsKeepTheirOrder()
{
    mainEval(QStringLiteral(
        "window.order = []; invokeCallback = function( name ) { order.push( name ); };"));
    WebView *view = m_shell->view();
    QString seenByStep;
    view->respondSuccess(QStringLiteral("a"), 1);
    view->respondSuccess(QStringLiteral("b"), 2);
    view->runForPage([&] { seenByStep = mainEval(QStringLiteral("order.join( '' )")).toString(); });
    view->respondSuccess(QStringLiteral("c"), 3);
    QCOMPARE(mainEval(QStringLiteral("order.length")).toInt(), 0);
    QTRY_COMPARE(mainEval(QStringLiteral("order.join( '' )")).toString(), QStringLiteral("abc"));
    QCOMPARE(seenByStep, QStringLiteral("ab"));
}

// The engine's garbage is released after every so many responses, from a turn of its own.
void TestResponseQueue::engineMemoryReleasedAfterManyResponses()
{
    WebView *view = m_shell->view();
    view->setResponsesPerRelease(3);
    QSignalSpy released(view, &WebView::engineMemoryReleased);
    const auto respond = [view](int count) {
        for (int i = 0; i < count; ++i)
            view->respondSuccess(QStringLiteral("f"), uint(i));
        view->flushPageWork();
    };
    respond(2);
    QTest::qWait(50);
    QCOMPARE(released.count(), 0);
    respond(1);
    QCOMPARE(released.count(), 0);
    QTRY_COMPARE(released.count(), 1);
    respond(2);
    QTest::qWait(50);
    QCOMPARE(released.count(), 1);
}

QTEST_MAIN(TestResponseQueue)
#include "tst_responsequeue.moc"
