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

class TestZipReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void peerArchivesMatchPython_data();
    void peerArchivesMatchPython();
    void peerArchivesExtract_data();
    void peerArchivesExtract();
    void fileInfoFields();
    void notAZipFile();
    void commentLengthMismatch_data();
    void commentLengthMismatch();
    void noModeBits();
    void fileDataIsCaseSensitive();
    void duplicateNamesGiveFirst();
    void outOfRangeEntry();
    void missingFile();
    void callerOwnedDevice();
    void hostileContent_data();
    void hostileContent();
    void truncatedCentralDirectory();
    void escapingArchivesAreRefused_data();
    void escapingArchivesAreRefused();
    void linkInsideDestination();
    void linkChainCannotLeadOutside();

private:
    QString archive(const QString &name) const { return m_archives.filePath(name); }
    QJsonObject pythonView(const QString &path);

    QTemporaryDir m_dir;
    QDir m_archives;
    QString m_infoZipTree;
};

void TestZipReader::initTestCase()
{
    QVERIFY2(m_dir.isValid(), "no temporary directory");
    m_archives = QDir(m_dir.filePath(QStringLiteral("archives")));
    QVERIFY2(makeArchives(m_archives.path()), "make_archives.py failed");

    // A small tree for Info-ZIP to pack in its different ways.
    m_infoZipTree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(writeAll(m_infoZipTree + QStringLiteral("/docs/readme.txt"),
                     QByteArray("Read me, read me again.\n").repeated(50)));
    QVERIFY(writeAll(m_infoZipTree + QStringLiteral("/docs/deeper/noise.bin"), noise(70000, 7)));
    QVERIFY(writeAll(m_infoZipTree + QStringLiteral("/empty.txt"), QByteArray()));
    QVERIFY(QFile::setPermissions(m_infoZipTree + QStringLiteral("/empty.txt"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser));
    const QString comment = QStringLiteral("comment from Info-ZIP");
    const QList<QPair<QString, QStringList>> runs = {
        { QStringLiteral("iz_deflated.zip"), { QStringLiteral("-q"), QStringLiteral("-r") } },
        { QStringLiteral("iz_stored.zip"),
          { QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-0") } },
        { QStringLiteral("iz_descriptors.zip"),
          { QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-fd") } },
        { QStringLiteral("iz_comment.zip"),
          { QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-z") } },
    };
    for (const auto &run : runs) {
        const ToolRun result
            = runTool(QStringLiteral("zip"),
                      run.second + QStringList { archive(run.first), QStringLiteral(".") },
                      m_infoZipTree, comment.toUtf8() + '\n');
        QVERIFY2(result.started && result.exitCode == 0, result.output.constData());
    }
    // Written to a pipe, Info-ZIP cannot seek back and follows each entry with a descriptor.
    const ToolRun piped = runTool(QStringLiteral("sh"),
                                  { QStringLiteral("-c"),
                                    QStringLiteral("zip -q -r -fz- - . | cat > '%1'")
                                        .arg(archive(QStringLiteral("iz_piped.zip"))) },
                                  m_infoZipTree);
    QVERIFY2(piped.started && piped.exitCode == 0, piped.output.constData());
}

void TestZipReader::cleanup()
{
    m_dir.setAutoRemove(!QTest::currentTestFailed());
}

QJsonObject TestZipReader::pythonView(const QString &path)
{
    const ToolRun run = runTool(QStringLiteral("python3"),
                                { QStringLiteral(CORVID_TEST_DATA "/zip/dump_archive.py"), path });
    if (!run.started || run.exitCode != 0)
        return QJsonObject();
    return QJsonDocument::fromJson(run.output).object();
}

void TestZipReader::peerArchivesMatchPython_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expectedFlags");
    QTest::newRow("python deflated") << "py_deflated.zip" << 0;
    QTest::newRow("python stored") << "py_stored.zip" << 0;
    QTest::newRow("python comment") << "py_comment.zip" << 0;
    QTest::newRow("python comment of 65535 bytes") << "py_long_comment.zip" << 0;
    QTest::newRow("python data descriptors") << "py_descriptors.zip" << 8;
    QTest::newRow("Info-ZIP deflated") << "iz_deflated.zip" << 0;
    QTest::newRow("Info-ZIP stored") << "iz_stored.zip" << 0;
    QTest::newRow("Info-ZIP data descriptors") << "iz_descriptors.zip" << 8;
    QTest::newRow("Info-ZIP comment") << "iz_comment.zip" << 0;
    QTest::newRow("Info-ZIP to a pipe") << "iz_piped.zip" << 8;
}

void TestZipReader::peerArchivesMatchPython()
{
    QFETCH(QString, name);
    QFETCH(int, expectedFlags);
    const QJsonObject python = pythonView(archive(name));
    QVERIFY2(!python.isEmpty(), "python could not read the archive");
    const QJsonArray expected = python.value(QStringLiteral("entries")).toArray();
    QVERIFY(!expected.isEmpty());
    int flags = 0;
    for (const QJsonValue &entry : expected)
        flags |= entry.toObject().value(QStringLiteral("flags")).toInt();
    QCOMPARE(flags & 8, expectedFlags);

    ZipReader reader(archive(name));
    QCOMPARE(reader.status(), ZipReader::NoError);
    const QVector<ZipReader::FileInfo> entries = reader.fileInfoList();
    QCOMPARE(entries.size(), expected.size());
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject want = expected.at(i).toObject();
        const QString entryName = want.value(QStringLiteral("name")).toString();
        const QByteArray content
            = QByteArray::fromBase64(want.value(QStringLiteral("data")).toString().toLatin1());
        QCOMPARE(entries.at(i).filePath, entryName);
        QCOMPARE(entries.at(i).size, qint64(content.size()));
        QVERIFY2(reader.fileData(entryName) == content, qPrintable(entryName));
        const QJsonArray time = want.value(QStringLiteral("time")).toArray();
        QCOMPARE(entries.at(i).lastModified,
                 QDateTime(QDate(time.at(0).toInt(), time.at(1).toInt(), time.at(2).toInt()),
                           QTime(time.at(3).toInt(), time.at(4).toInt(), time.at(5).toInt())));
        const int mode = want.value(QStringLiteral("mode")).toInt();
        QCOMPARE(bool(entries.at(i).isDir), (mode & 0x4000) != 0);
        QCOMPARE(bool(entries.at(i).isFile), (mode & 0xF000) == 0x8000);
    }
}

void TestZipReader::peerArchivesExtract_data()
{
    peerArchivesMatchPython_data();
}

void TestZipReader::peerArchivesExtract()
{
    QFETCH(QString, name);
    const QJsonArray expected
        = pythonView(archive(name)).value(QStringLiteral("entries")).toArray();
    QVERIFY(!expected.isEmpty());
    QTemporaryDir target;
    ZipReader reader(archive(name));
    QVERIFY(reader.extractAll(target.path()));
    for (const QJsonValue &value : expected) {
        const QJsonObject want = value.toObject();
        const QString entryName = want.value(QStringLiteral("name")).toString();
        const QString path = target.filePath(entryName);
        if (entryName.endsWith(QLatin1Char('/'))) {
            QVERIFY2(QFileInfo(path).isDir(), qPrintable(entryName));
            continue;
        }
        QCOMPARE(readAll(path),
                 QByteArray::fromBase64(want.value(QStringLiteral("data")).toString().toLatin1()));
        const int mode = want.value(QStringLiteral("mode")).toInt();
        if (mode & 0x8000) {
            QCOMPARE(QFile::permissions(path) & QFile::ExeOwner ? 1 : 0, (mode & 0x40) ? 1 : 0);
            QCOMPARE(QFile::permissions(path) & QFile::WriteGroup ? 1 : 0, (mode & 0x10) ? 1 : 0);
        }
    }
}

void TestZipReader::fileInfoFields()
{
    ZipReader reader(archive(QStringLiteral("py_deflated.zip")));
    QCOMPARE(reader.count(), 4);
    const ZipReader::FileInfo dir = reader.entryInfoAt(0);
    QCOMPARE(dir.filePath, QStringLiteral("top/"));
    QVERIFY(dir.isDir && !dir.isFile && !dir.isSymLink && dir.isValid());

    const ZipReader::FileInfo text = reader.entryInfoAt(1);
    QCOMPARE(text.filePath, QStringLiteral("top/text.txt"));
    QVERIFY(text.isFile && !text.isDir && !text.isSymLink);
    // Mode 0640: owner read and write (both the owner and the user flags), group read.
    QCOMPARE(text.permissions,
             QFile::ReadOwner | QFile::ReadUser | QFile::WriteOwner | QFile::WriteUser
                 | QFile::ReadGroup);
    const QByteArray content = reader.fileData(text.filePath);
    QCOMPARE(text.size, qint64(content.size()));
    QCOMPARE(
        text.crc,
        uint(crc32(0, reinterpret_cast<const Bytef *>(content.constData()), uInt(content.size()))));
    QCOMPARE(text.lastModified, QDateTime(QDate(2021, 6, 15), QTime(10, 20, 30)));
    QCOMPARE(reader.entryInfoAt(3).permissions & QFile::ExeOther, QFile::ExeOther);
}

void TestZipReader::notAZipFile()
{
    // The central directory is intact; only the first signature is wrong.
    QTest::ignoreMessage(QtWarningMsg, "QZip: not a zip file!");
    ZipReader reader(archive(QStringLiteral("not_zip_start.zip")));
    QCOMPARE(reader.count(), 0);
    QVERIFY(reader.fileData(QStringLiteral("file.txt")).isEmpty());
}

void TestZipReader::commentLengthMismatch_data()
{
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<int>("storedLengthChange");
    QTest::newRow("bytes appended behind the comment") << QByteArray("xyz") << 0;
    QTest::newRow("stored length too long") << QByteArray() << 5;
}

void TestZipReader::commentLengthMismatch()
{
    QFETCH(QByteArray, tail);
    QFETCH(int, storedLengthChange);
    QByteArray data = readAll(archive(QStringLiteral("py_comment.zip")));
    const int end = endRecordOffset(data);
    const quint16 length = quint16(u16(data, end + 20) + storedLengthChange);
    qToLittleEndian<quint16>(length, reinterpret_cast<uchar *>(data.data()) + end + 20);
    data += tail;
    QBuffer buffer(&data);
    QTest::ignoreMessage(QtWarningMsg, "QZip: failed to parse zip file.");
    ZipReader reader(&buffer);
    QCOMPARE(reader.count(), 1);
    QCOMPARE(reader.fileData(QStringLiteral("c.txt")), QByteArray("commented"));
}

void TestZipReader::noModeBits()
{
    ZipReader reader(archive(QStringLiteral("py_nomode.zip")));
    const ZipReader::FileInfo info = reader.entryInfoAt(0);
    QCOMPARE(info.filePath, QStringLiteral("nomode.txt"));
    QVERIFY(!info.isDir && !info.isFile && !info.isSymLink);
    QVERIFY(!info.isValid());
    QCOMPARE(reader.fileData(info.filePath), QByteArray("no mode"));

    // Archives from systems that keep no mode still extract; the name tells directories apart.
    QTemporaryDir target;
    QVERIFY(reader.extractAll(target.path()));
    QCOMPARE(readAll(target.filePath(QStringLiteral("nomode.txt"))), QByteArray("no mode"));
    QVERIFY(QFileInfo(target.filePath(QStringLiteral("nomodedir"))).isDir());
}

void TestZipReader::fileDataIsCaseSensitive()
{
    ZipReader reader(archive(QStringLiteral("py_comment.zip")));
    QCOMPARE(reader.fileData(QStringLiteral("c.txt")), QByteArray("commented"));
    QVERIFY(reader.fileData(QStringLiteral("C.txt")).isEmpty());
    QVERIFY(reader.fileData(QStringLiteral("C.TXT")).isEmpty());
}

void TestZipReader::duplicateNamesGiveFirst()
{
    ZipReader reader(archive(QStringLiteral("py_duplicate.zip")));
    QCOMPARE(reader.count(), 2);
    QCOMPARE(reader.fileData(QStringLiteral("twice.txt")), QByteArray("first"));
}

void TestZipReader::outOfRangeEntry()
{
    ZipReader reader(archive(QStringLiteral("py_comment.zip")));
    QVERIFY(reader.entryInfoAt(0).isValid());
    QVERIFY(!reader.entryInfoAt(1).isValid());
    QVERIFY(!reader.entryInfoAt(-1).isValid());
    QVERIFY(reader.entryInfoAt(5).filePath.isEmpty());
    QVERIFY(!reader.entryInfoAt(5).lastModified.isValid());
}

void TestZipReader::missingFile()
{
    ZipReader reader(m_dir.filePath(QStringLiteral("no/such.zip")));
    QVERIFY(!reader.exists());
    QVERIFY(!reader.isReadable());
    QCOMPARE(reader.status(), ZipReader::FileOpenError);
    QCOMPARE(reader.count(), 0);
}

void TestZipReader::callerOwnedDevice()
{
    QByteArray data = readAll(archive(QStringLiteral("py_stored.zip")));
    QBuffer buffer(&data);
    {
        ZipReader reader(&buffer);
        QVERIFY(reader.exists());
        QCOMPARE(reader.status(), ZipReader::NoError);
        QCOMPARE(reader.fileData(QStringLiteral("deep/er/file.txt")), QByteArray("deep"));
        QVERIFY(buffer.isOpen());
    }
    QVERIFY(!buffer.isOpen());
}

void TestZipReader::hostileContent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("warning");
    QTest::newRow("stored size smaller than content")
        << "lying_size_small.zip"
        << "QZip: Entry size differs from its stored size";
    QTest::newRow("stored size far larger than content")
        << "lying_size_huge.zip"
        << "QZip: Entry size differs from its stored size";
    QTest::newRow("stored size beyond what memory can hold")
        << "lying_size_4g.zip"
        << "QZip: Entry is too large to be held in memory";
    QTest::newRow("flipped content byte") << "flipped_byte.zip"
                                          << "QZip: CRC-32 mismatch, entry content is corrupted";
    QTest::newRow("compressed size past the end")
        << "size_past_end.zip"
        << "QZip: Entry data lies beyond the end of the file";
    QTest::newRow("local header past the end")
        << "offset_past_end.zip"
        << "QZip: Entry data lies beyond the end of the file";
    QTest::newRow("encrypted") << "encrypted_flag.zip"
                               << "QZip: Encrypted entries are not supported";
    QTest::newRow("ZIP64 size") << "zip64_marker.zip"
                                << "QZip: ZIP64 entries are not supported";
    QTest::newRow("unknown method") << "unknown_method.zip"
                                    << "QZip: Unknown compression method";
    QTest::newRow("corrupt deflate stream") << "corrupt_deflate.zip"
                                            << "QZip: Z_DATA_ERROR: Input data is corrupted";
}

void TestZipReader::hostileContent()
{
    QFETCH(QString, name);
    QFETCH(QString, warning);
    ZipReader reader(archive(name));
    QCOMPARE(reader.count(), 1);
    const QString entry = reader.entryInfoAt(0).filePath;
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QVERIFY(reader.fileData(entry).isEmpty());

    QTemporaryDir target;
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QVERIFY2(!reader.extractAll(target.path()), "an unreadable entry must not extract as success");
}

void TestZipReader::truncatedCentralDirectory()
{
    QTest::ignoreMessage(QtWarningMsg,
                         "QZip: Failed to read complete header, index may be incomplete");
    ZipReader reader(archive(QStringLiteral("truncated_central.zip")));
    QCOMPARE(reader.count(), 0);
}

void TestZipReader::escapingArchivesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("badEntry");
    QTest::newRow("dot-dot first") << "dotdot.zip"
                                   << "../evil.txt";
    QTest::newRow("dot-dot after descending") << "dotdot_inner.zip"
                                              << "a/b/../../../evil.txt";
    QTest::newRow("absolute") << "absolute.zip"
                              << "/tmp/evil.txt";
    QTest::newRow("drive") << "drive.zip"
                           << "C:/evil.txt";
    QTest::newRow("backslash dot-dot") << "backslash_dotdot.zip"
                                       << "..\\evil.txt";
    QTest::newRow("link escaping, then a file through it") << "symlink_escape.zip"
                                                           << "link";
}

void TestZipReader::escapingArchivesAreRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, badEntry);
    QTemporaryDir outer;
    const QString destination = outer.filePath(QStringLiteral("level1/dest"));
    QVERIFY(QDir(outer.path()).mkdir(QStringLiteral("level1")));
    ZipReader reader(archive(name));
    QTest::ignoreMessage(QtWarningMsg,
                         qPrintable(QStringLiteral("QZip: Entry lies outside the destination "
                                                   "directory: ")
                                    + badEntry));
    QVERIFY(!reader.extractAll(destination));
    // Nothing at all was written, neither inside nor outside.
    QVERIFY(!QFileInfo::exists(destination));
    QCOMPARE(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList { QStringLiteral("level1") });
    QVERIFY(QDir(outer.filePath(QStringLiteral("level1")))
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                .isEmpty());
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/evil.txt")));
}

void TestZipReader::linkInsideDestination()
{
    QTemporaryDir target;
    ZipReader reader(archive(QStringLiteral("symlink_inside.zip")));
    QVERIFY(reader.entryInfoAt(2).isSymLink);
    QVERIFY(reader.extractAll(target.path()));
    const QFileInfo link(target.filePath(QStringLiteral("link")));
    QVERIFY(link.isSymLink());
    QCOMPARE(readAll(link.filePath()), QByteArray("target"));
}

void TestZipReader::linkChainCannotLeadOutside()
{
    // Each target looks harmless on its own, but "hop" resolves through "here" to the parent.
    QTemporaryDir outer;
    const QString archivePath = outer.filePath(QStringLiteral("chain.zip"));
    {
        ZipWriter writer(archivePath);
        writer.addSymLink(QStringLiteral("here"), QStringLiteral("."));
        writer.addSymLink(QStringLiteral("hop"), QStringLiteral("here/.."));
        writer.addFile(QStringLiteral("hop/escaped.txt"), QByteArray("out"));
    }
    const QString destination = outer.filePath(QStringLiteral("dest"));
    ZipReader reader(archivePath);
    QVERIFY(!reader.extractAll(destination));
    QVERIFY(!QFileInfo::exists(outer.filePath(QStringLiteral("escaped.txt"))));
}

QTEST_GUILESS_MAIN(TestZipReader)
#include "tst_zipreader.moc"
