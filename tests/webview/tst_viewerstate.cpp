#include "webview/viewerstate.h"

#include <QDataStream>
#include <QWebFrame>
#include <QWebPage>
#include <QWidget>
#include <QtTest>

namespace {

const QString Delimiter = QStringLiteral("__CONTENT_DELIM__");

QString snapshotText(const QString &content)
{
    return content + Delimiter + QStringLiteral("text/html") + Delimiter
        + QStringLiteral("file:///f.html");
}

// A body in the record's field order; the counts may lie.
QByteArray body(qint32 snapshotCount, const QStringList &snapshots, qint32 visitedCount,
                bool withRequest = true)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << qint32(640) << qint32(480) << qint32(5) << qint32(6) << false << true
        << QStringLiteral("http://127.0.0.1/") << snapshotCount;
    for (const QString &text : snapshots)
        out << text;
    out << visitedCount << QStringLiteral("http://127.0.0.1/");
    if (withRequest)
        out << qint32(1);
    return bytes;
}

QByteArray withHeader(const QByteArray &bytes, quint32 magic = ViewerState::RecordMagic,
                      qint64 lengthDelta = 0)
{
    QByteArray record;
    QDataStream out(&record, QIODevice::WriteOnly);
    out << magic << quint32(bytes.size() + lengthDelta);
    return record + bytes;
}

// Depth first in child order, the order the hand-over walks.
QList<QWebFrame *> descendants(QWebFrame *frame)
{
    QList<QWebFrame *> frames;
    const QList<QWebFrame *> children = frame->childFrames();
    for (QWebFrame *child : children)
        frames << child << descendants(child);
    return frames;
}

QStringList texts(QWebFrame *mainFrame)
{
    QStringList result;
    const QList<QWebFrame *> frames = descendants(mainFrame);
    for (QWebFrame *frame : frames)
        result << frame->toPlainText().simplified();
    return result;
}

} // namespace

class TestViewerState : public QObject
{
    Q_OBJECT

private slots:
    void serializeFieldOrder_data();
    void serializeFieldOrder();
    void snapshotSplit_data();
    void snapshotSplit();
    void fuzzedRecordsRoundTrip_data();
    void fuzzedRecordsRoundTrip();
    void badRecordsGiveDefaults_data();
    void badRecordsGiveDefaults();
    void applyToWindow_data();
    void applyToWindow();
    void restoreSnapshots_data();
    void restoreSnapshots();
};

// The record is a header (magic, length of the rest) and the fields in their published order;
// deserialize() reads it back even from a segment larger than the record.
void TestViewerState::serializeFieldOrder_data()
{
    QTest::addColumn<bool>("asChild");
    QTest::addColumn<bool>("newWindowIsClone");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<int>("x");
    QTest::addColumn<bool>("urlSent");
    QTest::newRow("child, clone") << true << true << false << false << 60 << true;
    QTest::newRow("child, not clone") << true << false << false << false << 60 << false;
    QTest::newRow("replacement keeps minimized") << false << false << true << false << 10 << true;
    QTest::newRow("replacement keeps maximized") << false << true << false << true << 10 << true;
}

void TestViewerState::serializeFieldOrder()
{
    QFETCH(bool, asChild);
    QFETCH(bool, newWindowIsClone);
    QFETCH(bool, minimized);
    QFETCH(bool, maximized);
    QFETCH(int, x);
    QFETCH(bool, urlSent);
    ViewerState state;
    state.url = QUrl(QStringLiteral("file:///opt/corvid/app/index.html"));
    state.asChild = asChild;
    state.request = OnLoadClearStorage;
    state.width = 800;
    state.height = 600;
    state.x = 10;
    state.y = 20;
    // A child opens in normal state whatever its parent's.
    state.minimized = asChild || minimized;
    state.maximized = asChild || maximized;
    const PageSnapshot snapshot { QByteArray("<p>one __CONTENT_DELIM__ two</p>"),
                                  QStringLiteral("text/html"),
                                  QUrl(QStringLiteral("file:///a.html")) };
    state.pageSnapshots << snapshot;
    state.visitedUrls << QUrl(QStringLiteral("http://127.0.0.1/one"));
    const QByteArray record = state.serialize(newWindowIsClone);

    QByteArray fields;
    QDataStream out(&fields, QIODevice::WriteOnly);
    out << qint32(800) << qint32(600) << qint32(x) << qint32(x + 10) << minimized << maximized
        << (urlSent ? state.url.toString() : QString()) << qint32(1) << snapshot.toText()
        << qint32(1) << QStringLiteral("http://127.0.0.1/one") << qint32(OnLoadClearStorage);
    QCOMPARE(record, withHeader(fields));

    const ViewerState read = ViewerState::deserialize(record + QByteArray(100, 'z'));
    QVERIFY(read.restored);
    QCOMPARE(read.x, x);
    QCOMPARE(read.minimized, minimized);
    QCOMPARE(read.url, urlSent ? state.url : QUrl());
    QCOMPARE(read.pageSnapshots, state.pageSnapshots);
    QCOMPARE(read.visitedUrls, state.visitedUrls);
    QCOMPARE(read.request, OnLoadClearStorage);
}

// Split at the last two markers: content, MIME type and address; none when there are fewer.
void TestViewerState::snapshotSplit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("parts");
    const QStringList rest { QStringLiteral("text/html"), QStringLiteral("file:///f.html") };
    const QStringList none { QString(), QString(), QString() };
    const QString marked = QStringLiteral("<p>a__CONTENT_DELIM__b__CONTENT_DELIM__c</p>");
    QTest::newRow("plain") << snapshotText(QStringLiteral("<p>x</p>")) << true
                           << QStringList { QStringLiteral("<p>x</p>") } + rest;
    QTest::newRow("marker inside the html")
        << snapshotText(marked) << true << QStringList { marked } + rest;
    QTest::newRow("empty parts") << Delimiter + Delimiter << true << none;
    QTest::newRow("overlapping markers are not two")
        << QStringLiteral("x__CONTENT_DELIM__CONTENT_DELIM__y") << false << none;
    QTest::newRow("one marker") << QStringLiteral("html__CONTENT_DELIM__text/html") << false
                                << none;
    QTest::newRow("no marker") << QStringLiteral("<p>x</p>") << false << none;
}

void TestViewerState::snapshotSplit()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QStringList, parts);
    PageSnapshot snapshot;
    QCOMPARE(PageSnapshot::fromText(text, &snapshot), ok);
    const QStringList got { QString::fromLocal8Bit(snapshot.content), snapshot.mimeType,
                            snapshot.requestedUrl.toString() };
    QCOMPARE(got, parts);
    if (ok)
        QCOMPARE(snapshot.toText(), text);
}

// Records found by fuzz_viewerstate whose snapshots changed when written out again: a frame
// address holding the delimiter (percent-encoded in the record) was written bare and split wrongly,
// and HTML holding a NUL was cut short there.
void TestViewerState::fuzzedRecordsRoundTrip_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::newRow("delimiter in address") << QStringLiteral("viewerstate_delimiter_url.bin");
    QTest::newRow("NUL in html") << QStringLiteral("viewerstate_nul_content.bin");
    QTest::newRow("html starting with a byte-order mark")
        << QStringLiteral("viewerstate_bom_content.bin");
}

void TestViewerState::fuzzedRecordsRoundTrip()
{
    QFETCH(QString, fixture);
    QFile file(QStringLiteral(CORVID_TEST_DATA "/") + fixture);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const ViewerState state = ViewerState::deserialize(file.readAll());
    QVERIFY(state.restored);
    QVERIFY(!state.pageSnapshots.isEmpty());
    const ViewerState again = ViewerState::deserialize(state.serialize(false));
    QVERIFY(again.restored);
    QCOMPARE(again.pageSnapshots, state.pageSnapshots);
}

void TestViewerState::badRecordsGiveDefaults_data()
{
    QTest::addColumn<QByteArray>("record");
    const QStringList one { snapshotText(QStringLiteral("<p>x</p>")) };
    const QByteArray good = body(1, one, 1);
    QVERIFY(ViewerState::deserialize(withHeader(good)).restored);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("shorter than the header") << withHeader(good).left(7);
    QTest::newRow("cleared header") << QByteArray(8, '\0') + good;
    QTest::newRow("wrong magic") << withHeader(good, 0x12345678);
    QTest::newRow("length beyond the record") << withHeader(good, ViewerState::RecordMagic, 1);
    QTest::newRow("length cuts the body") << withHeader(good, ViewerState::RecordMagic, -1);
    QTest::newRow("body cut short") << withHeader(good.left(good.size() - 2));
    QTest::newRow("no request") << withHeader(body(1, one, 1, false));
    QTest::newRow("snapshot count beyond the record") << withHeader(body(0x7fffffff, one, 1));
    QTest::newRow("snapshot count one too many") << withHeader(body(2, one, 1));
    QTest::newRow("negative snapshot count") << withHeader(body(-1, one, 1));
    QTest::newRow("visited count beyond the record") << withHeader(body(1, one, 1000000));
    QTest::newRow("negative visited count") << withHeader(body(1, one, -5));
    QTest::newRow("snapshot without markers")
        << withHeader(body(1, { QStringLiteral("<p>x</p>") }, 1));
    QTest::newRow("trailing bytes") << withHeader(good + QByteArray(4, 'x'));
    QTest::newRow("garbage") << QByteArray(64, '\xff');
}

void TestViewerState::badRecordsGiveDefaults()
{
    QFETCH(QByteArray, record);
    const ViewerState state = ViewerState::deserialize(record);
    QVERIFY(!state.restored);
    QCOMPARE(QList<qint32>({ state.width, state.height, state.x, state.y }),
             QList<qint32>({ 0, 0, 0, 0 }));
    QVERIFY(!state.minimized && !state.maximized);
    QVERIFY(state.url.isEmpty());
    QVERIFY(state.pageSnapshots.isEmpty());
    QVERIFY(state.visitedUrls.isEmpty());
    QCOMPARE(state.request, OnLoadNothing);
}

void TestViewerState::applyToWindow_data()
{
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("maximized");
    QTest::newRow("normal") << false << false;
    QTest::newRow("minimized") << true << false;
    QTest::newRow("maximized") << false << true;
    QTest::newRow("maximized wins") << true << true;
}

void TestViewerState::applyToWindow()
{
    QFETCH(bool, minimized);
    QFETCH(bool, maximized);
    ViewerState state;
    state.x = 30;
    state.y = 40;
    state.width = 320;
    state.height = 200;
    state.minimized = minimized;
    state.maximized = maximized;
    QWidget window;
    state.applyToWindow(&window);
    QVERIFY(window.isVisible());
    QCOMPARE(window.isMaximized(), maximized);
    QCOMPARE(window.isMinimized(), minimized && !maximized);
    if (maximized)
        QCOMPARE(window.normalGeometry().size(), QSize(320, 200));
    else if (!minimized)
        QCOMPARE(QRect(window.pos(), window.size()), QRect(30, 40, 320, 200));
}

// A page whose main frame holds A (which holds B) and then C. Snapshots go to the frames depth
// first; setting a frame's content replaces its children, so a restored A's own child takes the
// next snapshot, and frames beyond the snapshots keep what they show.
void TestViewerState::restoreSnapshots_data()
{
    QTest::addColumn<QStringList>("snapshots"); // none: collected from a page the user changed
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("restored A holds the next")
        << QStringList { "<p>restored A</p><iframe src=\"b.html\"></iframe>", "<p>restored B</p>",
                         "<p>restored C</p>" }
        << QStringList { "restored A", "restored B", "restored C" };
    QTest::newRow("frames beyond the snapshots")
        << QStringList { "<p>only A</p>" }
        << QStringList { "only A", QStringLiteral("frame C caf\u00e9") };
    QTest::newRow("collected and handed over")
        << QStringList {}
        << QStringList { "frame A __CONTENT_DELIM__ kept", "typed into B",
                         QStringLiteral("frame C caf\u00e9") };
}

void TestViewerState::restoreSnapshots()
{
    QFETCH(QStringList, snapshots);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QMap<QString, QByteArray> pages {
        { "main.html",
          "<p>main</p><iframe src=\"a.html\"></iframe><iframe src=\"c.html\"></iframe>" },
        { "a.html", "<p>frame A __CONTENT_DELIM__ kept</p><iframe src=\"b.html\"></iframe>" },
        { "b.html", "<p>frame B</p>" },
        { "c.html", "<p>frame C caf\xc3\xa9</p>" },
    };
    for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
        QFile file(dir.filePath(it.key()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("<html><head><meta charset=\"utf-8\"></head><body>") + it.value()
                   + QByteArray("</body></html>"));
    }
    const auto load = [&](QWebPage *page) {
        QSignalSpy finished(page, &QWebPage::loadFinished);
        page->mainFrame()->load(QUrl::fromLocalFile(dir.filePath(QStringLiteral("main.html"))));
        return finished.wait(10000)
            && QTest::qWaitFor([&] { return descendants(page->mainFrame()).size() == 3; });
    };
    ViewerState state;
    const QUrl base = QUrl::fromLocalFile(dir.filePath(QStringLiteral("x.html")));
    for (const QString &html : snapshots)
        state.pageSnapshots << PageSnapshot { html.toUtf8(), QStringLiteral("text/html"), base };
    if (snapshots.isEmpty()) {
        QWebPage before;
        QVERIFY(load(&before));
        descendants(before.mainFrame())
            .at(1)
            ->evaluateJavaScript(
                QStringLiteral("document.body.innerHTML = '<p>typed into B</p>';"));
        state.collectSnapshots(before.mainFrame());
        QCOMPARE(state.pageSnapshots.at(2).requestedUrl,
                 QUrl::fromLocalFile(dir.filePath(QStringLiteral("c.html"))));
        state = ViewerState::deserialize(state.serialize(true));
    }
    QWebPage after;
    QVERIFY(load(&after));
    QCOMPARE(state.restoreSnapshots(after.mainFrame()), qMin(state.pageSnapshots.size(), 3));
    QTRY_COMPARE(texts(after.mainFrame()), expected);
    QCOMPARE(after.mainFrame()->toPlainText().simplified(), QStringLiteral("main"));
}

QTEST_MAIN(TestViewerState)
#include "tst_viewerstate.moc"
