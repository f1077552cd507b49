// Damaged, foreign and oversized archives: the reader reports the damage and extracts nothing,
// and a listing that would grow without bound is refused with its reason.

#include "services/zipoperations.h"
#include "services/zipreader.h"
#include "ziptestsupport.h"

#include <QtTest>

using namespace ZipTestSupport;

namespace {

QByteArray patched16(QByteArray data, int offset, quint16 value)
{
    qToLittleEndian<quint16>(value, reinterpret_cast<uchar *>(data.data()) + offset);
    return data;
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void damagedIndexIsReported_data();
    void damagedIndexIsReported();
    void listingIsBounded_data();
    void listingIsBounded();

private:
    // The good archive cut inside its second central record, its end record kept.
    QByteArray cutShort() const { return m_plain.left(m_second + 10) + m_plain.right(22); }

    // A good archive of three files, the material of the damaged ones.
    QByteArray m_plain;
    int m_second = 0; // where its second central record starts
};

void TestHostileFiles::initTestCase()
{
    QTemporaryDir dir;
    const QString archive = dir.filePath("plain.zip");
    QVERIFY(makeArchive(archive, { "one.txt", "two.txt", "three.txt" }));
    m_plain = readAll(archive);
    const int central = centralDirectoryOffset(m_plain);
    m_second = central + 46 + u16(m_plain, central + 28) + u16(m_plain, central + 30)
        + u16(m_plain, central + 32);
}

void TestHostileFiles::damagedIndexIsReported_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("warning");
    const int end = endRecordOffset(m_plain);
    const QString cut = QStringLiteral("QZip: Failed to read complete header, index may be "
                                       "incomplete");
    QTest::newRow("cut inside the central directory, end record lost")
        << m_plain.left(m_second + 10) << "QZip: EndOfDirectory not found";
    QTest::newRow("cut inside the central directory, end record kept") << cutShort() << cut;
    QTest::newRow("second central record malformed")
        << patched16(m_plain, m_second + 2, 0)
        << "QZip: invalid header signature, index may be incomplete";
    QTest::newRow("end record counts fewer entries")
        << patched16(patched16(m_plain, end + 8, 2), end + 10, 2)
        << "QZip: The central directory holds more entries than its end record counts";
    QTest::newRow("directory offset past the end") << patched16(m_plain, end + 18, 0x7FFF) << cut;
    QTest::newRow("not a zip file")
        << QByteArray("Just text, no archive.\n") << "QZip: not a zip file!";
    QTest::newRow("intact central directory, no entry at the start")
        << "XXXX" + m_plain.mid(4) << "QZip: not a zip file!";
}

void TestHostileFiles::damagedIndexIsReported()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, warning);
    QBuffer buffer(&bytes);
    ZipReader reader(&buffer);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QCOMPARE(reader.status(), ZipReader::FileDamagedError);
    QTemporaryDir work;
    QVERIFY(!reader.extractAll(work.filePath("out")));
    QVERIFY2(QDir(work.path()).isEmpty(), "nothing of a damaged archive is extracted");
}

void TestHostileFiles::listingIsBounded_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("problem");
    QStringList deep;
    for (int i = 0; i < 4; ++i)
        deep.append(QString::number(i) + QStringLiteral("/d").repeated(16000)
                    + QStringLiteral("/f"));
    QStringList many;
    for (int i = 0; i < 33000; ++i)
        many.append(QStringLiteral("d%1/f").arg(i));
    QTest::newRow("four names 16000 levels deep")
        << deep << "The entry names of the archive exceed 16777216 characters in all.";
    QTest::newRow("more entries with their folders than the bound")
        << many << "The archive lists more than 65535 entries.";
}

// Each name brings its folders into the listing, so a small archive could list without bound.
void TestHostileFiles::listingIsBounded()
{
    QFETCH(QStringList, names);
    QFETCH(QString, problem);
    QTemporaryDir work;
    const QString archive = work.filePath("large.zip");
    QVERIFY(makeArchive(archive, names));
    const CallResult result = ZipOperations::zipRead(archive);
    QCOMPARE(result.errorCode, 1001);
    QCOMPARE(result.message, QString("Cannot read zip file: " + archive + ". " + problem));
}

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
