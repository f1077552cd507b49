#include "platform/prompter.h"
#include "webview/handoversegment.h"
#include "webview/viewerstate.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QtTest>

#include <cstring>
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

// Keys of their own, so that the tests never meet a running shell or each other.
QString testKey()
{
    return QStringLiteral("corvid-test-handover-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->generate());
}

QByteArray recordWith(int snapshots, int x = 10)
{
    ViewerState state;
    state.x = x;
    state.y = 20;
    state.width = 800;
    state.height = 600;
    state.url = QUrl(QStringLiteral("http://127.0.0.1/app"));
    for (int i = 0; i < snapshots; ++i) {
        state.pageSnapshots << PageSnapshot { QByteArray(200, 'a' + char(i % 26)),
                                              QStringLiteral("text/html"),
                                              QUrl(QStringLiteral("file:///f%1.html").arg(i)) };
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
    void writeThenTake();
    void takeWithoutSegment();
    void consumedOnce();
    void largerSecondRecord_data();
    void largerSecondRecord();
    void smallerRecordAfterLarger();
    void heldSegmentTooSmall();
    void leftoverGarbage();
    void twoProcesses();
    void segmentGoesWithItsLastHolder();

private:
    QString m_key;
    RecordingPrompter m_prompter;
};

void TestHandOverSegment::init()
{
    m_key = testKey();
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

void TestHandOverSegment::writeThenTake()
{
    HandOverSegment writer(m_key);
    const QByteArray record = recordWith(2);
    QVERIFY2(writer.write(record), qPrintable(writer.errorString()));
    QVERIFY(writer.isAttached());
    QCOMPARE(writer.size(), record.size());

    HandOverSegment reader(m_key);
    QCOMPARE(reader.take(), record);
    QVERIFY2(!reader.isAttached(), "the reader holds the segment and keeps it from growing");
    QVERIFY(writer.isAttached());
    QVERIFY(m_prompter.boxes.isEmpty());
}

void TestHandOverSegment::takeWithoutSegment()
{
    HandOverSegment reader(m_key);
    QVERIFY(reader.take().isEmpty());
    QVERIFY(!reader.isAttached());
}

void TestHandOverSegment::consumedOnce()
{
    HandOverSegment writer(m_key);
    QVERIFY(writer.write(recordWith(1)));
    HandOverSegment first(m_key);
    QVERIFY(ViewerState::deserialize(first.take()).restored);
    HandOverSegment second(m_key);
    QVERIFY(second.take().isEmpty());
    QVERIFY(!ViewerState::deserialize(second.take()).restored);
}

void TestHandOverSegment::largerSecondRecord_data()
{
    QTest::addColumn<bool>("takenBetween");
    QTest::newRow("read in between") << true;
    QTest::newRow("not read in between") << false;
}

void TestHandOverSegment::largerSecondRecord()
{
    QFETCH(bool, takenBetween);
    HandOverSegment writer(m_key);
    const QByteArray small = recordWith(0);
    QVERIFY(writer.write(small));
    if (takenBetween) {
        HandOverSegment reader(m_key);
        QCOMPARE(reader.take(), small);
    }

    const QByteArray large = recordWith(40, 99);
    QVERIFY(large.size() > small.size() * 10);
    QVERIFY2(writer.write(large), qPrintable(writer.errorString()));
    QVERIFY(writer.size() >= large.size());

    HandOverSegment reader(m_key);
    const QByteArray read = reader.take();
    QCOMPARE(read.size(), large.size());
    QCOMPARE(read, large);
    const ViewerState state = ViewerState::deserialize(read);
    QVERIFY(state.restored);
    QCOMPARE(state.pageSnapshots.size(), 40);
    QCOMPARE(state.x, 99);
}

void TestHandOverSegment::smallerRecordAfterLarger()
{
    HandOverSegment writer(m_key);
    QVERIFY(writer.write(recordWith(10)));
    const int segmentSize = writer.size();
    const QByteArray small = recordWith(0, 5);
    QVERIFY(writer.write(small));
    QCOMPARE(writer.size(), segmentSize);
    HandOverSegment reader(m_key);
    QCOMPARE(reader.take(), small);
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

    // What the holder wrote is still whole.
    HandOverSegment reader(m_key);
    QCOMPARE(reader.take(), small);

    // A record that fits goes into the held segment.
    const QByteArray fits = recordWith(0, 77);
    QCOMPARE(fits.size(), small.size());
    QVERIFY(other.writeOrReport(fits, nullptr));
    QCOMPARE(m_prompter.boxes.size(), 1);
    QCOMPARE(reader.take(), fits);
}

// Bytes left by a crashed instance or another program are never taken for a record.
void TestHandOverSegment::leftoverGarbage()
{
    QSharedMemory leftover(m_key);
    QVERIFY2(leftover.create(256), qPrintable(leftover.errorString()));
    std::memset(leftover.data(), 0x5a, 256);

    HandOverSegment reader(m_key);
    QVERIFY(reader.take().isEmpty());

    HandOverSegment writer(m_key);
    const QByteArray record = recordWith(0);
    QVERIFY(record.size() < 256);
    QVERIFY2(writer.write(record), qPrintable(writer.errorString()));
    QCOMPARE(reader.take(), record);
}

void TestHandOverSegment::twoProcesses()
{
    QProcess writer;
    writer.start(QStringLiteral(HANDOVER_PEER),
                 { QStringLiteral("write"), m_key, QStringLiteral("30"), QStringLiteral("40"),
                   QStringLiteral("320"), QStringLiteral("200"),
                   QStringLiteral("http://127.0.0.1/x") });
    QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(writer.canReadLine() || writer.state() == QProcess::NotRunning, 15000);
    QCOMPARE(writer.readLine().trimmed(), QByteArray("written"));

    QProcess reader;
    reader.start(QStringLiteral(HANDOVER_PEER), { QStringLiteral("read"), m_key });
    QVERIFY(reader.waitForFinished(15000));
    QCOMPARE(reader.exitCode(), 0);
    QCOMPARE(reader.readAllStandardOutput().trimmed(),
             QByteArray("restored 30 40 320 200 http://127.0.0.1/x"));

    // A later start finds nothing to apply.
    reader.start(QStringLiteral(HANDOVER_PEER), { QStringLiteral("read"), m_key });
    QVERIFY(reader.waitForFinished(15000));
    QCOMPARE(reader.readAllStandardOutput().trimmed(), QByteArray("defaults"));

    writer.closeWriteChannel();
    QVERIFY(writer.waitForFinished(15000));
    QCOMPARE(writer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(writer.exitCode(), 0);
}

// Why a writer keeps its segment until the successor has read it.
void TestHandOverSegment::segmentGoesWithItsLastHolder()
{
    QProcess writer;
    writer.start(QStringLiteral(HANDOVER_PEER),
                 { QStringLiteral("write"), m_key, QStringLiteral("1"), QStringLiteral("2"),
                   QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("about:blank") });
    QVERIFY(writer.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(writer.canReadLine() || writer.state() == QProcess::NotRunning, 15000);
    QCOMPARE(writer.readLine().trimmed(), QByteArray("written"));
    writer.closeWriteChannel();
    QVERIFY(writer.waitForFinished(15000));

    QProcess reader;
    reader.start(QStringLiteral(HANDOVER_PEER), { QStringLiteral("read"), m_key });
    QVERIFY(reader.waitForFinished(15000));
    QCOMPARE(reader.readAllStandardOutput().trimmed(), QByteArray("defaults"));
}

QTEST_MAIN(TestHandOverSegment)
#include "tst_handoversegment.moc"
