#include "services/zipreader.h"
#include "services/zipwriter.h"
#include "ziptestsupport.h"

#include <QtTest>

using namespace ZipTestSupport;

namespace {

// Accepts a fixed number of bytes, then writes short, like a full disk.
class FullDevice : public QIODevice
{
public:
    explicit FullDevice(qint64 capacity)
        : m_capacity(capacity)
    {
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_written; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 length) override
    {
        const qint64 accepted = qMin(length, qMax<qint64>(0, m_capacity - pos()));
        m_written = qMax(m_written, pos() + accepted);
        return accepted;
    }

private:
    qint64 m_capacity;
    qint64 m_written = 0;
};

QByteArray sampleText(int size = 9600)
{
    return QByteArray("A line of text that deflate will shrink a lot.\n").repeated(200).left(size);
}

} // namespace

class TestZipWriter : public QObject
{
    Q_OBJECT

private slots:
    void oneEntry_data();
    void oneEntry();
    void peersReadOurArchives();
    void shortWriteSetsStatus();
};

void TestZipWriter::oneEntry_data()
{
    QTest::addColumn<QString>("given"); // a name ending in "/" is added as a directory
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("policy");
    QTest::addColumn<int>("permissions");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("mode");
    const auto row = [](const char *name, const QString &given, int size, int policy,
                        int permissions, const QString &stored, int method, int mode) {
        QTest::newRow(name) << given << size << policy << permissions << stored << method << mode;
    };
    const int always = ZipWriter::AlwaysCompress, never = ZipWriter::NeverCompress,
              automatic = ZipWriter::AutoCompress;
    const int owner = QFile::ReadOwner | QFile::WriteOwner; // the default
    row("always compress, 1 byte", "f", 1, always, owner, "f", 8, 0100600);
    row("never compress, 5000 bytes", "f", 5000, never, owner, "f", 0, 0100600);
    row("automatic, 63 bytes", "f", 63, automatic, owner, "f", 0, 0100600);
    row("automatic, 64 bytes", "f", 64, automatic, owner, "f", 8, 0100600);
    row("automatic, empty", "f", 0, automatic, owner, "f", 0, 0100600);
    row("owner may run it", "f", 1, always, owner | QFile::ExeOwner, "f", 8, 0100700);
    row("user flags alone", "f", 1, always, QFile::ReadUser | QFile::ExeUser, "f", 8, 0100500);
    row("group and others", "f", 1, always,
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther,
        "f", 8, 0100077);
    row("backslashes in a file name", "a\\b\\c.txt", 1, always, owner, "a/b/c.txt", 8, 0100600);
    row("directory without slash", "dir", -1, always, owner, "dir/", 8, 040600);
    row("name too long", QString(70000, QLatin1Char('n')), 1, always, owner,
        QString(65535, QLatin1Char('n')), 8, 0100600);
}

// Read back through the reader, an entry keeps its name, content and permissions; the method
// and the mode are checked in the central and the local header.
void TestZipWriter::oneEntry()
{
    QFETCH(QString, given);
    QFETCH(int, size); // -1 for a directory
    QFETCH(int, policy);
    QFETCH(int, permissions);
    QFETCH(QString, stored);
    QFETCH(int, method);
    QFETCH(int, mode);
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        writer.setCompressionPolicy(ZipWriter::CompressionPolicy(policy));
        writer.setCreationPermissions(QFile::Permissions(permissions));
        QCOMPARE(int(writer.compressionPolicy()), policy);
        QCOMPARE(int(writer.creationPermissions()), permissions);
        if (given.size() > 65535)
            QTest::ignoreMessage(QtWarningMsg,
                                 "QZip: Filename too long, chopping it to 65535 characters");
        if (size < 0)
            writer.addDirectory(given);
        else
            writer.addFile(given, sampleText(size));
    }
    const int central = centralDirectoryOffset(data);
    QCOMPARE(int(u16(data, central + 10)), method);
    QCOMPARE(int(u16(data, 8)), method);
    QCOMPARE(int(u32(data, central + 38) >> 16), mode);
    if (method == 0)
        QCOMPARE(int(u32(data, central + 20)), qMax(size, 0));
    QBuffer readBack(&data);
    ZipReader reader(&readBack);
    const ZipReader::FileInfo info = reader.entryInfoAt(0);
    QCOMPARE(info.filePath, stored);
    QCOMPARE(bool(info.isDir), size < 0);
    QCOMPARE(reader.fileData(stored), sampleText(qMax(size, 0)));
    // Reading maps each owner bit to both the owner and the user flags.
    QCOMPARE(bool(info.permissions & QFile::ReadUser), bool(mode & 0400));
    QCOMPARE(bool(info.permissions & QFile::ExeOwner), bool(mode & 0100));
    QCOMPARE(int(info.permissions & 0x00FF), permissions & 0x00FF);
}

// Info-ZIP and Python's zipfile read what was written, stored and deflated alike, with its
// permissions and time.
void TestZipWriter::peersReadOurArchives()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ours.zip");
    const QMap<QString, QByteArray> files = { { "top/text.txt", sampleText() },
                                              { "top/small.txt", "small" },
                                              { "top/empty.txt", "" },
                                              { "top/sub/noise.bin", noise(300000, 11) } };
    {
        ZipWriter writer(path);
        writer.setCompressionPolicy(ZipWriter::AutoCompress);
        writer.setCreationPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        writer.addDirectory("top/sub");
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            writer.addFile(it.key(), it.value());
    }
    const ToolRun test = runTool("unzip", { "-t", path });
    QVERIFY2(test.ok() && test.output.contains("No errors detected"), test.output.constData());
    const QJsonArray entries = pythonEntries(path);
    QCOMPARE(entries.size(), 1 + files.size());
    ZipReader reader(path);
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries.at(i).toObject();
        const QString name = entry.value("name").toString();
        const int mode = entry.value("mode").toInt();
        QCOMPARE(name, reader.entryInfoAt(i).filePath);
        QCOMPARE(mode, (name.endsWith(QLatin1Char('/')) ? 040000 : 0100000) | 0640);
        QVERIFY2(pythonData(entry) == files.value(name), qPrintable(name));
        const QJsonArray time = entry.value("time").toArray();
        QCOMPARE(QDateTime(QDate(time.at(0).toInt(), time.at(1).toInt(), time.at(2).toInt()),
                           QTime(time.at(3).toInt(), time.at(4).toInt(), time.at(5).toInt())),
                 reader.entryInfoAt(i).lastModified);
    }
}

void TestZipWriter::shortWriteSetsStatus()
{
    FullDevice device(100);
    QVERIFY(device.open(QIODevice::WriteOnly));
    ZipWriter writer(&device);
    writer.addFile("fits.txt", QByteArray("x"));
    QCOMPARE(writer.status(), ZipWriter::NoError);
    writer.addFile("does-not-fit.bin", noise(5000, 1));
    QCOMPARE(writer.status(), ZipWriter::FileWriteError);
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "tst_zipwriter.moc"
