#include "platform/prompter.h"
#include "webview/handoversegment.h"
#include "webview/viewerstate.h"

#include <QRandomGenerator>
#include <QtTest>

#include <unistd.h>

namespace {

// Answers boxes for the tests and remembers what they said.
class RecordingPrompter : public Prompter
{
public:
    void critical(QWidget *, const QString &title, const QString &text) override
    {
        boxes << title + QLatin1Char('|') + text;
    }
    QStringList boxes;
};

QByteArray recordWith(int snapshots, int x = 10)
{
    ViewerState state;
    state.x = x;
    state.width = 800;
    state.url = QUrl(QStringLiteral("http://127.0.0.1/app"));
    for (int i = 0; i < snapshots; ++i) {
        state.pageSnapshots << PageSnapshot { QByteArray(200, 'a' + char(i % 26)),
                                              QStringLiteral("text/html"), QUrl() };
    }
    return state.serialize(true);
}

} // namespace

class TestHandOverSegment : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void defaultKeyIsPerUser();
    void takenOnce();
    void secondRecord_data();
    void secondRecord();
    void heldSegmentTooSmall();

private:
    QString m_key;
    RecordingPrompter m_prompter;
};

void TestHandOverSegment::init()
{
    // A key of its own, so that the tests never meet a running shell or each other.
    m_key = QStringLiteral("corvid-test-handover-%1-%2")
                .arg(QCoreApplication::applicationPid())
                .arg(QRandomGenerator::global()->generate());
    m_prompter.boxes.clear();
    Prompter::setCurrent(&m_prompter);
}

void TestHandOverSegment::cleanup()
{
    Prompter::setCurrent(nullptr);
}

void TestHandOverSegment::defaultKeyIsPerUser()
{
    QCOMPARE(HandOverSegment::defaultKey(),
             QStringLiteral("APP_SHARED_KEY_") + QString::number(::getuid()));
}

void TestHandOverSegment::takenOnce()
{
    QVERIFY(HandOverSegment(m_key).take().isEmpty());
    HandOverSegment writer(m_key);
    const QByteArray record = recordWith(2);
    QVERIFY2(writer.write(record), qPrintable(writer.errorString()));
    QCOMPARE(writer.size(), record.size());
    HandOverSegment reader(m_key);
    QCOMPARE(reader.take(), record);
    QVERIFY2(!reader.isAttached(), "the reader holds the segment and keeps it from growing");
    QVERIFY(writer.isAttached());
    QVERIFY(HandOverSegment(m_key).take().isEmpty());
    QVERIFY(m_prompter.boxes.isEmpty());
}

// A second record goes whole into a segment made for the first: one too small is made anew,
// and in a larger one the header says where the record ends.
void TestHandOverSegment::secondRecord_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<bool>("takenBetween");
    QTest::addColumn<int>("second");
    QTest::newRow("larger, read in between") << 0 << true << 40;
    QTest::newRow("larger, not read in between") << 0 << false << 40;
    QTest::newRow("smaller") << 10 << false << 0;
}

void TestHandOverSegment::secondRecord()
{
    QFETCH(int, first);
    QFETCH(bool, takenBetween);
    QFETCH(int, second);
    HandOverSegment writer(m_key);
    const QByteArray firstRecord = recordWith(first);
    QVERIFY(writer.write(firstRecord));
    if (takenBetween)
        QCOMPARE(HandOverSegment(m_key).take(), firstRecord);
    const QByteArray secondRecord = recordWith(second, 99);
    QVERIFY2(writer.write(secondRecord), qPrintable(writer.errorString()));
    QCOMPARE(writer.size(), qMax(firstRecord.size(), secondRecord.size()));
    QCOMPARE(HandOverSegment(m_key).take(), secondRecord);
}

// Another instance still holds a smaller segment: the record must not be cut short, so the write
// fails and says so.
void TestHandOverSegment::heldSegmentTooSmall()
{
    HandOverSegment holder(m_key);
    const QByteArray small = recordWith(0);
    QVERIFY(holder.write(small));
    HandOverSegment other(m_key);
    QVERIFY(!other.writeOrReport(recordWith(20), nullptr));
    QVERIFY(!other.errorString().isEmpty());
    QCOMPARE(m_prompter.boxes,
             QStringList { QStringLiteral("Error|Unable to create shared memory segment.") });
    QCOMPARE(HandOverSegment(m_key).take(), small);
}

QTEST_MAIN(TestHandOverSegment)
#include "tst_handoversegment.moc"
