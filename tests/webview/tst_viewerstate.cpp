#include "webview/viewerstate.h"

#include <QDataStream>
#include <QWebFrame>
#include <QWebPage>
#include <QWidget>
#include <QtTest>

namespace {

const QString Delimiter = QStringLiteral("__CONTENT_DELIM__");

// Reads a record the way a reader that knows only the published field order would.
struct ReadBack
{
    quint32 magic = 0;
    quint32 length = 0;
    qint32 width = 0, height = 0, x = 0, y = 0;
    bool minimized = true, maximized = true;
    QString url;
    QStringList snapshots;
    QStringList visited;
    qint32 request = -1;
    bool atEnd = false;
};

ReadBack readBack(const QByteArray &record)
{
    ReadBack r;
    QDataStream in(record);
    in >> r.magic >> r.length >> r.width >> r.height >> r.x >> r.y >> r.minimized >> r.maximized
        >> r.url;
    qint32 count = 0;
    in >> count;
    for (qint32 i = 0; i < count; ++i) {
        QString text;
        in >> text;
        r.snapshots << text;
    }
    in >> count;
    for (qint32 i = 0; i < count; ++i) {
        QString text;
        in >> text;
        r.visited << text;
    }
    in >> r.request;
    r.atEnd = in.status() == QDataStream::Ok && in.atEnd();
    return r;
}

ViewerState sampleState(bool asChild)
{
    ViewerState state;
    state.url = QUrl(QStringLiteral("file:///opt/corvid/app/VellumMobile/VellumMobile.html"));
    state.asChild = asChild;
    state.request = OnLoadClearStorage;
    state.width = 800;
    state.height = 600;
    state.x = 10;
    state.y = 20;
    state.minimized = true;
    state.maximized = false;
    state.pageSnapshots << PageSnapshot { QByteArray("<html><body>one</body></html>"),
                                          QStringLiteral("text/html"),
                                          QUrl(QStringLiteral("file:///a.html")) };
    state.visitedUrls << QUrl(QStringLiteral("http://127.0.0.1/one"));
    return state;
}

// A body in the record's field order; the counts may lie.
QByteArray body(qint32 snapshotCount, const QStringList &snapshots, qint32 visitedCount,
                const QStringList &visited, bool withRequest = true)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << qint32(640) << qint32(480) << qint32(5) << qint32(6) << false << true
        << QStringLiteral("http://127.0.0.1/");
    out << snapshotCount;
    for (const QString &text : snapshots)
        out << text;
    out << visitedCount;
    for (const QString &text : visited)
        out << text;
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

QString snapshotText(const QString &content)
{
    return content + Delimiter + QStringLiteral("text/html") + Delimiter
        + QStringLiteral("file:///f.html");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

// Depth first in child order, the order the hand-over walks.
QList<QWebFrame *> descendants(QWebFrame *frame)
{
    QList<QWebFrame *> frames;
    const QList<QWebFrame *> children = frame->childFrames();
    for (QWebFrame *child : children) {
        frames << child;
        frames << descendants(child);
    }
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
    void init();
    void cleanup();

    void serializeFieldOrder_data();
    void serializeFieldOrder();
    void roundTrip_data();
    void roundTrip();
    void snapshotSplit_data();
    void snapshotSplit();
    void badRecordsGiveDefaults_data();
    void badRecordsGiveDefaults();
    void acceptsSegmentTail();
    void fromWindow();
    void applyToWindow_data();
    void applyToWindow();
    void collectSnapshots();
    void restoreSnapshots();
    void restoreKeepsFramesBeyondSnapshots();
    void snapshotsSurviveHandOver();

private:
    bool loadPage(QWebPage *page, const QUrl &url);
    void writeFramePages();

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestViewerState::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TestViewerState::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

void TestViewerState::serializeFieldOrder_data()
{
    QTest::addColumn<bool>("asChild");
    QTest::addColumn<bool>("newWindowIsClone");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("urlSent");

    QTest::newRow("child, clone") << true << true << false << false << 60 << 70 << true;
    QTest::newRow("child, not clone") << true << false << false << false << 60 << 70 << false;
    QTest::newRow("replacement keeps minimized")
        << false << false << true << false << 10 << 20 << true;
    QTest::newRow("replacement keeps maximized")
        << false << true << false << true << 10 << 20 << true;
}

void TestViewerState::serializeFieldOrder()
{
    QFETCH(bool, asChild);
    QFETCH(bool, newWindowIsClone);
    QFETCH(bool, minimized);
    QFETCH(bool, maximized);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, urlSent);

    ViewerState state = sampleState(asChild);
    state.minimized = asChild ? true : minimized; // a child is never minimized or maximized
    state.maximized = asChild ? true : maximized;
    const QByteArray record = state.serialize(newWindowIsClone);
    const ReadBack r = readBack(record);

    QCOMPARE(r.magic, ViewerState::RecordMagic);
    QCOMPARE(int(r.length), record.size() - ViewerState::RecordHeaderSize);
    QCOMPARE(r.width, 800);
    QCOMPARE(r.height, 600);
    QCOMPARE(r.x, x);
    QCOMPARE(r.y, y);
    QCOMPARE(r.minimized, minimized);
    QCOMPARE(r.maximized, maximized);
    QCOMPARE(r.url, urlSent ? state.url.toString() : QString());
    QCOMPARE(r.snapshots,
             QStringList { QStringLiteral("<html><body>one</body></html>") + Delimiter
                           + QStringLiteral("text/html") + Delimiter
                           + QStringLiteral("file:///a.html") });
    QCOMPARE(r.visited, QStringList { QStringLiteral("http://127.0.0.1/one") });
    QCOMPARE(r.request, 1);
    QVERIFY2(r.atEnd, "the record holds more or less than its fields");
}

void TestViewerState::roundTrip_data()
{
    QTest::addColumn<bool>("asChild");
    QTest::newRow("child") << true;
    QTest::newRow("replacement") << false;
}

void TestViewerState::roundTrip()
{
    QFETCH(bool, asChild);
    ViewerState state = sampleState(asChild);
    state.visitedUrls << QUrl(QStringLiteral("http://127.0.0.1/two"));
    state.pageSnapshots << PageSnapshot { QByteArray("<p>two __CONTENT_DELIM__ inside</p>"),
                                          QStringLiteral("text/html"),
                                          QUrl(QStringLiteral("file:///b.html")) };
    QVERIFY(!state.restored);

    const ViewerState read = ViewerState::deserialize(state.serialize(true));
    QVERIFY(read.restored);
    QCOMPARE(read.width, 800);
    QCOMPARE(read.height, 600);
    QCOMPARE(read.x, asChild ? 60 : 10);
    QCOMPARE(read.y, asChild ? 70 : 20);
    QCOMPARE(read.minimized, !asChild);
    QCOMPARE(read.maximized, false);
    QCOMPARE(read.url, state.url);
    QCOMPARE(read.pageSnapshots, state.pageSnapshots);
    QCOMPARE(read.visitedUrls, state.visitedUrls);
    QCOMPARE(read.request, OnLoadClearStorage);
    QVERIFY(read.window.isNull());
}

void TestViewerState::snapshotSplit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QString>("url");

    QTest::newRow("plain") << snapshotText(QStringLiteral("<p>x</p>")) << true << "<p>x</p>"
                           << "text/html"
                           << "file:///f.html";
    QTest::newRow("marker inside the html")
        << snapshotText(QStringLiteral("<p>a__CONTENT_DELIM__b__CONTENT_DELIM__c</p>")) << true
        << "<p>a__CONTENT_DELIM__b__CONTENT_DELIM__c</p>"
        << "text/html"
        << "file:///f.html";
    QTest::newRow("empty content") << snapshotText(QString()) << true << ""
                                   << "text/html"
                                   << "file:///f.html";
    QTest::newRow("empty parts") << Delimiter + Delimiter << true << ""
                                 << ""
                                 << "";
    QTest::newRow("overlapping markers are not two")
        << QStringLiteral("x__CONTENT_DELIM__CONTENT_DELIM__y") << false << ""
        << ""
        << "";
    QTest::newRow("one marker") << QStringLiteral("html__CONTENT_DELIM__text/html") << false << ""
                                << ""
                                << "";
    QTest::newRow("no marker") << QStringLiteral("<p>x</p>") << false << ""
                               << ""
                               << "";
}

void TestViewerState::snapshotSplit()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, content);
    QFETCH(QString, mimeType);
    QFETCH(QString, url);

    PageSnapshot snapshot;
    QCOMPARE(PageSnapshot::fromText(text, &snapshot), ok);
    QCOMPARE(QString::fromLocal8Bit(snapshot.content), content);
    QCOMPARE(snapshot.mimeType, mimeType);
    QCOMPARE(snapshot.requestedUrl, QUrl(url));
    if (ok)
        QCOMPARE(snapshot.toText(), text);
}

void TestViewerState::badRecordsGiveDefaults_data()
{
    QTest::addColumn<QByteArray>("record");

    const QStringList one { snapshotText(QStringLiteral("<p>x</p>")) };
    const QStringList visited { QStringLiteral("http://127.0.0.1/") };
    const QByteArray good = body(1, one, 1, visited);
    QVERIFY(ViewerState::deserialize(withHeader(good)).restored);

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("shorter than the header") << withHeader(good).left(7);
    QTest::newRow("cleared header") << QByteArray(8, '\0') + good;
    QTest::newRow("wrong magic") << withHeader(good, 0x12345678);
    QTest::newRow("length beyond the record") << withHeader(good, ViewerState::RecordMagic, 1);
    QTest::newRow("length cuts the body") << withHeader(good, ViewerState::RecordMagic, -1);
    QTest::newRow("body cut short")
        << withHeader(good.left(good.size() - 2), ViewerState::RecordMagic);
    QTest::newRow("no request") << withHeader(body(1, one, 1, visited, false));
    QTest::newRow("snapshot count beyond the record")
        << withHeader(body(0x7fffffff, one, 1, visited));
    QTest::newRow("snapshot count one too many") << withHeader(body(2, one, 1, visited));
    QTest::newRow("negative snapshot count") << withHeader(body(-1, one, 1, visited));
    QTest::newRow("visited count beyond the record") << withHeader(body(1, one, 1000000, visited));
    QTest::newRow("negative visited count") << withHeader(body(1, one, -5, visited));
    QTest::newRow("snapshot without markers")
        << withHeader(body(1, { QStringLiteral("<p>x</p>") }, 1, visited));
    QTest::newRow("trailing bytes") << withHeader(good + QByteArray(4, 'x'));
    QTest::newRow("garbage") << QByteArray(64, '\xff');
}

void TestViewerState::badRecordsGiveDefaults()
{
    QFETCH(QByteArray, record);
    const ViewerState state = ViewerState::deserialize(record);
    QVERIFY(!state.restored);
    QCOMPARE(state.width, 0);
    QCOMPARE(state.height, 0);
    QCOMPARE(state.x, 0);
    QCOMPARE(state.y, 0);
    QVERIFY(!state.minimized);
    QVERIFY(!state.maximized);
    QVERIFY(state.url.isEmpty());
    QVERIFY(state.pageSnapshots.isEmpty());
    QVERIFY(state.visitedUrls.isEmpty());
    QCOMPARE(state.request, OnLoadNothing);
}

// A segment may be larger than the record in it; the header says where the record ends.
void TestViewerState::acceptsSegmentTail()
{
    const QByteArray record = sampleState(false).serialize(true);
    const ViewerState read = ViewerState::deserialize(record + QByteArray(100, 'z'));
    QVERIFY(read.restored);
    QCOMPARE(read.x, 10);
    QCOMPARE(read.request, OnLoadClearStorage);
}

void TestViewerState::fromWindow()
{
    QWidget window;
    window.setGeometry(100, 120, 640, 480);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QUrl url(QStringLiteral("http://127.0.0.1/page"));
    ViewerState state = ViewerState::fromWindow(&window, url, true, OnLoadClearStorage);
    QCOMPARE(state.window.data(), &window);
    QCOMPARE(state.url, url);
    QVERIFY(state.asChild);
    QCOMPARE(state.request, OnLoadClearStorage);
    QCOMPARE(state.width, 640);
    QCOMPARE(state.height, 480);
    QCOMPARE(state.x, window.x());
    QCOMPARE(state.y, window.y());
    QVERIFY(!state.minimized);
    QVERIFY(!state.maximized);
    QVERIFY(!state.restored);

    window.showMaximized();
    state = ViewerState::fromWindow(&window, url, false, OnLoadNothing);
    QVERIFY(state.maximized);
    QVERIFY(!state.minimized);
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
    if (!maximized && !minimized) {
        QCOMPARE(window.pos(), QPoint(30, 40));
        QCOMPARE(window.size(), QSize(320, 200));
    }
    if (maximized) {
        QCOMPARE(window.normalGeometry().size(), QSize(320, 200));
    }
}

bool TestViewerState::loadPage(QWebPage *page, const QUrl &url)
{
    QSignalSpy finished(page, &QWebPage::loadFinished);
    page->mainFrame()->load(url);
    return finished.wait(10000) && finished.first().first().toBool();
}

// main holds A (which holds B) and then C.
void TestViewerState::writeFramePages()
{
    const QString dir = m_dir->path() + QLatin1Char('/');
    writeFile(dir + QStringLiteral("main.html"),
              "<html><body><p>main</p><iframe src=\"a.html\"></iframe>"
              "<iframe src=\"c.html\"></iframe></body></html>");
    writeFile(dir + QStringLiteral("a.html"),
              "<html><body><p>frame A __CONTENT_DELIM__ kept</p>"
              "<iframe src=\"b.html\"></iframe></body></html>");
    writeFile(dir + QStringLiteral("b.html"), "<html><body><p>frame B</p></body></html>");
    writeFile(dir + QStringLiteral("c.html"),
              "<html><head><meta charset=\"utf-8\"></head><body><p>frame C caf\xc3\xa9</p>"
              "</body></html>");
}

void TestViewerState::collectSnapshots()
{
    writeFramePages();
    QWebPage page;
    QVERIFY(loadPage(&page, QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("main.html")))));
    QTRY_COMPARE(descendants(page.mainFrame()).size(), 3);

    ViewerState state;
    state.collectSnapshots(page.mainFrame());
    QCOMPARE(state.pageSnapshots.size(), 3);
    const QStringList names { QStringLiteral("a.html"), QStringLiteral("b.html"),
                              QStringLiteral("c.html") };
    const QStringList words { QStringLiteral("frame A"), QStringLiteral("frame B"),
                              QStringLiteral("frame C") };
    for (int i = 0; i < 3; ++i) {
        const PageSnapshot &snapshot = state.pageSnapshots.at(i);
        QCOMPARE(snapshot.requestedUrl, QUrl::fromLocalFile(m_dir->filePath(names.at(i))));
        QCOMPARE(snapshot.mimeType, QStringLiteral("text/html"));
        QVERIFY2(QString::fromLocal8Bit(snapshot.content).contains(words.at(i)),
                 snapshot.content.constData());
    }
    QVERIFY(QString::fromLocal8Bit(state.pageSnapshots.at(2).content)
                .contains(QStringLiteral("caf\u00e9")));
    QVERIFY(state.pageSnapshots.at(0).content.contains("iframe"));

    ViewerState empty;
    empty.collectSnapshots(nullptr);
    QVERIFY(empty.pageSnapshots.isEmpty());
}

void TestViewerState::restoreSnapshots()
{
    writeFramePages();
    QWebPage page;
    QVERIFY(loadPage(&page, QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("main.html")))));
    QTRY_COMPARE(descendants(page.mainFrame()).size(), 3);

    // A's new content has its own child, which must receive the second snapshot, not b.html.
    const QUrl base = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("x.html")));
    ViewerState state;
    state.pageSnapshots
        << PageSnapshot { "<html><body><p>restored A</p><iframe src=\"b.html\"></iframe>"
                          "</body></html>",
                          QStringLiteral("text/html"), base }
        << PageSnapshot { "<html><body><p>restored B</p></body></html>",
                          QStringLiteral("text/html"), base }
        << PageSnapshot { "<html><body><p>restored C</p></body></html>",
                          QStringLiteral("text/html"), base };

    QCOMPARE(state.restoreSnapshots(page.mainFrame()), 3);
    const QStringList expected { QStringLiteral("restored A"), QStringLiteral("restored B"),
                                 QStringLiteral("restored C") };
    QTRY_COMPARE(texts(page.mainFrame()), expected);
    QCOMPARE(page.mainFrame()->toPlainText().simplified(), QStringLiteral("main"));
    QCOMPARE(state.restoreSnapshots(nullptr), 0);
}

void TestViewerState::restoreKeepsFramesBeyondSnapshots()
{
    writeFramePages();
    QWebPage page;
    QVERIFY(loadPage(&page, QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("main.html")))));
    QTRY_COMPARE(descendants(page.mainFrame()).size(), 3);

    ViewerState state;
    state.pageSnapshots << PageSnapshot { "<html><body><p>only A</p></body></html>",
                                          QStringLiteral("text/html"), QUrl() };
    QCOMPARE(state.restoreSnapshots(page.mainFrame()), 1);
    const QStringList expected { QStringLiteral("only A"), QStringLiteral("frame C caf\u00e9") };
    QTRY_COMPARE(texts(page.mainFrame()), expected);
}

// Collected from one page, through the record, put back into a fresh page.
void TestViewerState::snapshotsSurviveHandOver()
{
    writeFramePages();
    const QUrl mainUrl = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("main.html")));
    QWebPage before;
    QVERIFY(loadPage(&before, mainUrl));
    QTRY_COMPARE(descendants(before.mainFrame()).size(), 3);
    // What the user did in the page is what the hand-over keeps.
    const QList<QWebFrame *> frames = descendants(before.mainFrame());
    frames.at(1)->evaluateJavaScript(
        QStringLiteral("document.body.innerHTML = '<p>typed into B</p>';"));
    const QStringList expected = texts(before.mainFrame());
    QCOMPARE(expected.at(1), QStringLiteral("typed into B"));

    ViewerState state;
    state.collectSnapshots(before.mainFrame());
    const ViewerState read = ViewerState::deserialize(state.serialize(true));
    QVERIFY(read.restored);
    QCOMPARE(read.pageSnapshots, state.pageSnapshots);

    QWebPage after;
    QVERIFY(loadPage(&after, mainUrl));
    QTRY_COMPARE(descendants(after.mainFrame()).size(), 3);
    QCOMPARE(texts(after.mainFrame()).at(1), QStringLiteral("frame B"));
    QCOMPARE(read.restoreSnapshots(after.mainFrame()), 3);
    QTRY_COMPARE(texts(after.mainFrame()), expected);
    QVERIFY(texts(after.mainFrame()).at(0).contains(QStringLiteral("__CONTENT_DELIM__ kept")));
}

QTEST_MAIN(TestViewerState)
#include "tst_viewerstate.moc"
