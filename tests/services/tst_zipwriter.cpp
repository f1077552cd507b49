#include "services/zipreader.h"
#include "services/zipwriter.h"
#include "ziptestsupport.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

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

QByteArray sampleText()
{
    return QByteArray("A line of text that deflate will shrink a lot.\n").repeated(200);
}

} // namespace

class TestZipWriter : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void emptyDirectoryEntry();
    void headerLayout();
    void compressionPolicy_data();
    void compressionPolicy();
    void namesAreNormalised_data();
    void namesAreNormalised();
    void permissionsToMode_data();
    void permissionsToMode();
    void roundTrip_data();
    void roundTrip();
    void peersAcceptOurArchives_data();
    void peersAcceptOurArchives();
    void shortWriteSetsStatus();
    void openFailure();
    void emptyArchive();
    void longNameIsChopped();
    void addFileFromDevice();
    void addFileFromUnopenableDevice();

private:
    QTemporaryDir m_dir;
};

void TestZipWriter::cleanup()
{
    m_dir.setAutoRemove(!QTest::currentTestFailed());
}

void TestZipWriter::emptyDirectoryEntry()
{
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        writer.addDirectory(QStringLiteral("empty"));
    }
    const int central = centralDirectoryOffset(data);
    QCOMPARE(u16(data, central + 10), quint16(8));
    QCOMPARE(u32(data, central + 16), quint32(0));
    QCOMPARE(u32(data, central + 20), quint32(2));
    QCOMPARE(u32(data, central + 24), quint32(0));
    QCOMPARE(data.mid(central + 46, 6), QByteArray("empty/"));
    QCOMPARE(u32(data, central + 38) >> 16, quint32(0x4000 | 0x180));
}

void TestZipWriter::headerLayout()
{
    const QByteArray content = sampleText();
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        writer.addFile(QStringLiteral("first.txt"), QByteArray("x"));
        writer.addFile(QStringLiteral("second.txt"), content);
    }
    const int end = endRecordOffset(data);
    QCOMPARE(end, data.size() - 22);
    QCOMPARE(u16(data, end + 8), quint16(2));
    QCOMPARE(u16(data, end + 10), quint16(2));
    const int central = int(u32(data, end + 16));
    QCOMPARE(int(u32(data, end + 12)), end - central);
    QCOMPARE(u16(data, end + 20), quint16(0));

    const int secondCentral = central + 46 + 9;
    QCOMPARE(u32(data, secondCentral), quint32(0x02014B50));
    QCOMPARE(u16(data, secondCentral + 4), quint16(0x0300));
    QCOMPARE(u16(data, secondCentral + 6), quint16(20));
    QCOMPARE(u16(data, secondCentral + 8), quint16(0));
    QCOMPARE(u16(data, secondCentral + 10), quint16(8));
    QCOMPARE(u32(data, secondCentral + 16),
             quint32(crc32(0, reinterpret_cast<const Bytef *>(content.constData()),
                           uInt(content.size()))));
    QCOMPARE(u32(data, secondCentral + 24), quint32(content.size()));
    QCOMPARE(u16(data, secondCentral + 28), quint16(10));
    QCOMPARE(u16(data, secondCentral + 30), quint16(0));
    QCOMPARE(u16(data, secondCentral + 32), quint16(0));
    QCOMPARE(u32(data, secondCentral + 38) >> 16, quint32(0x8000 | 0x180));
    const int local = int(u32(data, secondCentral + 42));
    QCOMPARE(local, 30 + 9 + int(u32(data, central + 20)));
    QCOMPARE(u32(data, local), quint32(0x04034B50));
    // The local header is the central one from "version needed" on.
    QCOMPARE(data.mid(local + 4, 26), data.mid(secondCentral + 6, 26));
    QCOMPARE(data.mid(local + 30, 10), QByteArray("second.txt"));
    const int compressed = int(u32(data, secondCentral + 20));
    QCOMPARE(local + 30 + 10 + compressed, central);
}

void TestZipWriter::compressionPolicy_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("method");
    QTest::newRow("always, tiny") << int(ZipWriter::AlwaysCompress) << 1 << 8;
    QTest::newRow("never, large") << int(ZipWriter::NeverCompress) << 5000 << 0;
    QTest::newRow("auto, 63 bytes") << int(ZipWriter::AutoCompress) << 63 << 0;
    QTest::newRow("auto, 64 bytes") << int(ZipWriter::AutoCompress) << 64 << 8;
    QTest::newRow("auto, empty") << int(ZipWriter::AutoCompress) << 0 << 0;
}

void TestZipWriter::compressionPolicy()
{
    QFETCH(int, policy);
    QFETCH(int, size);
    QFETCH(int, method);
    const QByteArray content = sampleText().left(size);
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        writer.setCompressionPolicy(ZipWriter::CompressionPolicy(policy));
        QCOMPARE(writer.compressionPolicy(), ZipWriter::CompressionPolicy(policy));
        writer.addFile(QStringLiteral("f"), content);
    }
    const int central = centralDirectoryOffset(data);
    QCOMPARE(int(u16(data, central + 10)), method);
    QCOMPARE(int(u16(data, 8)), method);
    if (method == 0)
        QCOMPARE(int(u32(data, central + 20)), size);
    QBuffer readBack(&data);
    QCOMPARE(ZipReader(&readBack).fileData(QStringLiteral("f")), content);
}

void TestZipWriter::namesAreNormalised_data()
{
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");
    QTest::newRow("file with backslashes") << false << "a\\b\\c.txt"
                                           << "a/b/c.txt";
    QTest::newRow("directory without slash") << true << "dir"
                                             << "dir/";
    QTest::newRow("directory with slash") << true << "dir/"
                                          << "dir/";
    QTest::newRow("directory with backslashes") << true << "dir\\sub\\"
                                                << "dir/sub/";
}

void TestZipWriter::namesAreNormalised()
{
    QFETCH(bool, directory);
    QFETCH(QString, given);
    QFETCH(QString, stored);
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        if (directory)
            writer.addDirectory(given);
        else
            writer.addFile(given, QByteArray("content"));
    }
    QBuffer readBack(&data);
    ZipReader reader(&readBack);
    QCOMPARE(reader.count(), 1);
    QCOMPARE(reader.entryInfoAt(0).filePath, stored);
    QCOMPARE(bool(reader.entryInfoAt(0).isDir), directory);
}

void TestZipWriter::permissionsToMode_data()
{
    QTest::addColumn<int>("permissions");
    QTest::addColumn<int>("mode");
    QTest::newRow("default") << int(QFile::ReadOwner | QFile::WriteOwner) << 0x180;
    QTest::newRow("user flags alone") << int(QFile::ReadUser | QFile::ExeUser) << 0x140;
    QTest::newRow("group") << int(QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup) << 0x038;
    QTest::newRow("others") << int(QFile::ReadOther | QFile::WriteOther | QFile::ExeOther) << 0x007;
    QTest::newRow("0755") << int(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                 | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                 | QFile::ExeOther)
                          << 0x1ED;
    QTest::newRow("none") << 0 << 0;
}

void TestZipWriter::permissionsToMode()
{
    QFETCH(int, permissions);
    QFETCH(int, mode);
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        writer.setCreationPermissions(QFile::Permissions(permissions));
        QCOMPARE(int(writer.creationPermissions()), permissions);
        writer.addFile(QStringLiteral("f"), QByteArray("x"));
    }
    QCOMPARE(int(u32(data, centralDirectoryOffset(data) + 38) >> 16), 0x8000 | mode);
    // Reading maps each owner bit back to both the owner and the user flags.
    QBuffer readBack(&data);
    const QFile::Permissions read = ZipReader(&readBack).entryInfoAt(0).permissions;
    QCOMPARE(bool(read & QFile::ReadOwner), bool(mode & 0x100));
    QCOMPARE(bool(read & QFile::ReadUser), bool(mode & 0x100));
    QCOMPARE(bool(read & QFile::ExeOwner), bool(mode & 0x040));
    QCOMPARE(int(read & 0x0FFF & ~0x0F00), permissions & 0x00FF);
}

void TestZipWriter::roundTrip_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << sampleText();
    QTest::newRow("noise over several chunks") << noise(3 * 1024 * 1024 + 17, 3);
}

void TestZipWriter::roundTrip()
{
    QFETCH(QByteArray, content);
    const QString path = m_dir.filePath(QStringLiteral("roundtrip.zip"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    {
        ZipWriter writer(path);
        QCOMPARE(writer.status(), ZipWriter::NoError);
        QVERIFY(writer.isWritable());
        writer.setCreationPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        writer.addFile(QStringLiteral("dir/data.bin"), content);
        QCOMPARE(writer.status(), ZipWriter::NoError);
    }
    ZipReader reader(path);
    const ZipReader::FileInfo info = reader.entryInfoAt(0);
    QCOMPARE(info.filePath, QStringLiteral("dir/data.bin"));
    QVERIFY(reader.fileData(info.filePath) == content);
    QCOMPARE(info.size, qint64(content.size()));
    QCOMPARE(
        info.crc,
        uint(crc32(0, reinterpret_cast<const Bytef *>(content.constData()), uInt(content.size()))));
    QCOMPARE(info.permissions,
             QFile::ReadOwner | QFile::ReadUser | QFile::WriteOwner | QFile::WriteUser
                 | QFile::ReadGroup);
    QCOMPARE(info.lastModified.time().second() % 2, 0);
    QVERIFY(info.lastModified >= before);
    QVERIFY(info.lastModified <= QDateTime::currentDateTime());
}

void TestZipWriter::peersAcceptOurArchives_data()
{
    QTest::addColumn<int>("policy");
    QTest::newRow("always compress") << int(ZipWriter::AlwaysCompress);
    QTest::newRow("never compress") << int(ZipWriter::NeverCompress);
    QTest::newRow("auto compress") << int(ZipWriter::AutoCompress);
}

void TestZipWriter::peersAcceptOurArchives()
{
    QFETCH(int, policy);
    const QString path = m_dir.filePath(QStringLiteral("ours.zip"));
    const QMap<QString, QByteArray> files = {
        { QStringLiteral("top/text.txt"), sampleText() },
        { QStringLiteral("top/small.txt"), QByteArray("small") },
        { QStringLiteral("top/empty.txt"), QByteArray() },
        { QStringLiteral("top/sub/noise.bin"), noise(300000, 11) },
    };
    {
        ZipWriter writer(path);
        writer.setCompressionPolicy(ZipWriter::CompressionPolicy(policy));
        writer.setCreationPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                      | QFile::ReadOther);
        writer.addDirectory(QStringLiteral("top"));
        writer.addDirectory(QStringLiteral("top/sub"));
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            writer.addFile(it.key(), it.value());
    }

    const ToolRun test = runTool(QStringLiteral("unzip"), { QStringLiteral("-t"), path });
    QVERIFY2(test.started && test.exitCode == 0, test.output.constData());
    QVERIFY2(test.output.contains("No errors detected"), test.output.constData());

    const ToolRun dump = runTool(QStringLiteral("python3"),
                                 { QStringLiteral(CORVID_TEST_DATA "/zip/dump_archive.py"), path });
    QVERIFY2(dump.started && dump.exitCode == 0, dump.output.constData());
    const QJsonObject python = QJsonDocument::fromJson(dump.output).object();
    QVERIFY2(python.value(QStringLiteral("bad")).isNull(), "zipfile.testzip() found a bad entry");
    ZipReader reader(path);
    const QJsonArray entries = python.value(QStringLiteral("entries")).toArray();
    QCOMPARE(entries.size(), 2 + files.size());
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries.at(i).toObject();
        const QString name = entry.value(QStringLiteral("name")).toString();
        QCOMPARE(name, reader.entryInfoAt(i).filePath);
        if (!name.endsWith(QLatin1Char('/'))) {
            QVERIFY2(
                QByteArray::fromBase64(entry.value(QStringLiteral("data")).toString().toLatin1())
                    == files.value(name),
                qPrintable(name));
        }
        QCOMPARE(entry.value(QStringLiteral("mode")).toInt() & 0777, 0644);
        const QJsonArray time = entry.value(QStringLiteral("time")).toArray();
        QCOMPARE(time.at(5).toInt() % 2, 0);
        QCOMPARE(QDateTime(QDate(time.at(0).toInt(), time.at(1).toInt(), time.at(2).toInt()),
                           QTime(time.at(3).toInt(), time.at(4).toInt(), time.at(5).toInt())),
                 reader.entryInfoAt(i).lastModified);
    }

    // Info-ZIP extracts the same bytes with the same permissions.
    QTemporaryDir target;
    const ToolRun unzip = runTool(
        QStringLiteral("unzip"),
        { QStringLiteral("-q"), QStringLiteral("-o"), path, QStringLiteral("-d"), target.path() });
    QVERIFY2(unzip.started && unzip.exitCode == 0, unzip.output.constData());
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString extracted = target.filePath(it.key());
        QVERIFY2(readAll(extracted) == it.value(), qPrintable(it.key()));
        QCOMPARE(QFile::permissions(extracted) & 0x0777,
                 QFile::Permissions(QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup
                                    | QFile::ReadOther));
    }
}

void TestZipWriter::shortWriteSetsStatus()
{
    FullDevice device(100);
    QVERIFY(device.open(QIODevice::WriteOnly));
    ZipWriter writer(&device);
    writer.addFile(QStringLiteral("fits.txt"), QByteArray("x"));
    QCOMPARE(writer.status(), ZipWriter::NoError);
    writer.addFile(QStringLiteral("does-not-fit.bin"), noise(5000, 1));
    QCOMPARE(writer.status(), ZipWriter::FileWriteError);
}

void TestZipWriter::openFailure()
{
    ZipWriter writer(m_dir.filePath(QStringLiteral("missing/dir/out.zip")));
    QCOMPARE(writer.status(), ZipWriter::FileOpenError);
    QVERIFY(!writer.isWritable());
    QVERIFY(!writer.exists());
    writer.addFile(QStringLiteral("a"), QByteArray("a"));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("missing/dir/out.zip"))));
}

void TestZipWriter::emptyArchive()
{
    const QString path = m_dir.filePath(QStringLiteral("empty.zip"));
    {
        ZipWriter writer(path);
        QVERIFY(writer.exists());
    }
    const QByteArray data = readAll(path);
    QCOMPARE(data.size(), 22);
    QCOMPARE(u32(data, 0), quint32(0x06054B50));
    QCOMPARE(u16(data, 10), quint16(0));
}

void TestZipWriter::longNameIsChopped()
{
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        QTest::ignoreMessage(QtWarningMsg,
                             "QZip: Filename too long, chopping it to 65535 characters");
        writer.addFile(QString(70000, QLatin1Char('n')), QByteArray("x"));
    }
    QCOMPARE(u16(data, 26), quint16(65535));
    QBuffer readBack(&data);
    QCOMPARE(ZipReader(&readBack).entryInfoAt(0).filePath, QString(65535, QLatin1Char('n')));
}

void TestZipWriter::addFileFromDevice()
{
    const QString source = m_dir.filePath(QStringLiteral("source.txt"));
    QVERIFY(writeAll(source, sampleText()));
    QFile file(source);
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        writer.addFile(QStringLiteral("copied.txt"), &file);
        QCOMPARE(writer.status(), ZipWriter::NoError);
        QVERIFY2(!file.isOpen(), "a device the writer opened must be closed again");
    }
    QBuffer readBack(&data);
    QCOMPARE(ZipReader(&readBack).fileData(QStringLiteral("copied.txt")), sampleText());
}

void TestZipWriter::addFileFromUnopenableDevice()
{
    QFile missing(m_dir.filePath(QStringLiteral("not-there.txt")));
    QByteArray data;
    QBuffer buffer(&data);
    {
        ZipWriter writer(&buffer);
        writer.addFile(QStringLiteral("never.txt"), &missing);
        QCOMPARE(writer.status(), ZipWriter::FileOpenError);
    }
    // With no entry the buffer was never opened for writing: it holds nothing, not even an end
    // record, so there is no archive to read.
    QTest::ignoreMessage(QtWarningMsg, "QZip: not a zip file!");
    QBuffer readBack(&data);
    QCOMPARE(ZipReader(&readBack).count(), 0);
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "tst_zipwriter.moc"
