#include "services/zipreader.h"
#include "writeinchild.h"
#include "ziptestsupport.h"

#include <QtTest>

using namespace ZipTestSupport;

class TestZipReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void peerArchives_data();
    void peerArchives();
    void hostileContent_data();
    void hostileContent();
    void escapesAreRefused_data();
    void escapesAreRefused();
    void linkInsideDestination();
    void directoryPermissionsComeLast();

private:
    QString archive(const QString &name) const { return m_archives.filePath(name); }

    QTemporaryDir m_dir;
    QDir m_archives;
};

void TestZipReader::initTestCase()
{
    m_archives = QDir(m_dir.filePath("archives"));
    QVERIFY2(makeArchives(m_archives.path()), "make_archives.py failed");
    // Written to a pipe, Info-ZIP cannot seek back: each entry is followed by a data descriptor.
    const QString tree = m_dir.filePath("tree");
    QVERIFY(writeAll(tree + "/docs/readme.txt", QByteArray("Read me again.\n").repeated(50)));
    QVERIFY(writeAll(tree + "/docs/deeper/noise.bin", noise(70000, 7)));
    QVERIFY(writeAll(tree + "/run.sh", QByteArray()));
    QVERIFY(QFile::setPermissions(tree + "/run.sh", QFile::ReadOwner | QFile::ExeOwner));
    const ToolRun run
        = runTool(QStringLiteral("sh"),
                  { "-c", "zip -q -r -fz- - . | cat > " + archive("iz_piped.zip") }, tree);
    QVERIFY2(run.ok(), run.output.constData());
}

void TestZipReader::cleanup()
{
    m_dir.setAutoRemove(!QTest::currentTestFailed());
}

void TestZipReader::peerArchives_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("descriptorFlag");
    const auto row = [](const char *name, const char *archive, int descriptorFlag) {
        QTest::newRow(name) << archive << descriptorFlag;
    };
    row("python deflated", "py_deflated.zip", 0);
    row("python stored, no directory entries", "py_stored.zip", 0);
    row("python comment of 65535 bytes", "py_long_comment.zip", 0);
    row("python data descriptors", "py_descriptors.zip", 8);
    row("python, no mode bits", "py_nomode.zip", 0);
    row("Info-ZIP to a pipe, data descriptors", "iz_piped.zip", 8);
}

// Python's zipfile is the reference for every field, for the content and for what extracts.
// Without mode bits the name tells a directory.
void TestZipReader::peerArchives()
{
    QFETCH(QString, name);
    QFETCH(int, descriptorFlag);
    const QJsonArray expected = pythonEntries(archive(name));
    QVERIFY2(!expected.isEmpty(), "python could not read the archive");
    int flags = 0;
    for (const QJsonValue &entry : expected)
        flags |= entry.toObject().value("flags").toInt();
    QCOMPARE(flags & 8, descriptorFlag);

    ZipReader reader(archive(name));
    QCOMPARE(reader.status(), ZipReader::NoError);
    const QVector<ZipReader::FileInfo> entries = reader.fileInfoList();
    QCOMPARE(entries.size(), expected.size());
    QTemporaryDir target;
    QVERIFY(reader.extractAll(target.path()));
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject want = expected.at(i).toObject();
        const QString entryName = want.value("name").toString();
        const QByteArray content = pythonData(want);
        const int mode = want.value("mode").toInt();
        const QJsonArray time = want.value("time").toArray();
        QCOMPARE(entries.at(i).filePath, entryName);
        QCOMPARE(entries.at(i).size, qint64(content.size()));
        QVERIFY2(reader.fileData(entryName) == content, qPrintable(entryName));
        QCOMPARE(entries.at(i).lastModified,
                 QDateTime(QDate(time.at(0).toInt(), time.at(1).toInt(), time.at(2).toInt()),
                           QTime(time.at(3).toInt(), time.at(4).toInt(), time.at(5).toInt())));
        QCOMPARE(bool(entries.at(i).isDir), (mode & 0x4000) != 0);
        QCOMPARE(bool(entries.at(i).isFile), (mode & 0xF000) == 0x8000);

        const QString path = target.filePath(entryName);
        QCOMPARE(QFileInfo(path).isDir(), entryName.endsWith(QLatin1Char('/')));
        if (QFileInfo(path).isDir())
            continue;
        QVERIFY2(readAll(path) == content, qPrintable(entryName));
        if (mode & 0100000) {
            const QFile::Permissions permissions = QFile::permissions(path);
            QCOMPARE(bool(permissions & QFile::ExeOwner), bool(mode & 0100));
            QCOMPARE(bool(permissions & QFile::WriteGroup), bool(mode & 020));
        }
    }
}

void TestZipReader::hostileContent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("warning");
    const auto row = [](const char *name, const char *archive, const char *warning) {
        QTest::newRow(name) << archive << QStringLiteral("QZip: ") + QLatin1String(warning);
    };
    const char *sizeDiffers = "Entry size differs from its stored size";
    const char *beyondEnd = "Entry data lies beyond the end of the file";
    row("stored size smaller than content", "lying_size_small.zip", sizeDiffers);
    row("stored size far larger than content", "lying_size_huge.zip", sizeDiffers);
    row("stored size beyond what memory can hold", "lying_size_4g.zip",
        "Entry is too large to be held in memory");
    row("flipped content byte", "flipped_byte.zip", "CRC-32 mismatch, entry content is corrupted");
    row("compressed size past the end", "size_past_end.zip", beyondEnd);
    row("local header past the end", "offset_past_end.zip", beyondEnd);
    row("encrypted", "encrypted_flag.zip", "Encrypted entries are not supported");
    row("ZIP64 size", "zip64_marker.zip", "ZIP64 entries are not supported");
    row("unknown method", "unknown_method.zip", "Unknown compression method");
    row("corrupt deflate stream", "corrupt_deflate.zip", "Z_DATA_ERROR: Input data is corrupted");
}

// An entry that cannot be read intact gives no content, and extracting it is a failure rather
// than an empty file.
void TestZipReader::hostileContent()
{
    QFETCH(QString, name);
    QFETCH(QString, warning);
    ZipReader reader(archive(name));
    QCOMPARE(reader.count(), 1);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QVERIFY(reader.fileData(reader.entryInfoAt(0).filePath).isEmpty());
    QTemporaryDir target;
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QVERIFY(!reader.extractAll(target.path()));
    QVERIFY(!QFileInfo::exists(target.filePath(reader.entryInfoAt(0).filePath)));
}

void TestZipReader::escapesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("badEntry");
    QTest::addColumn<bool>("plantLink"); // a link at dest/dir to a folder beside dest
    const auto row = [](const char *name, const char *archive, const char *badEntry, bool plant) {
        QTest::newRow(name) << archive << badEntry << plant;
    };
    row("dot-dot first", "dotdot.zip", "../evil.txt", false);
    row("dot-dot after descending", "dotdot_inner.zip", "a/b/../../../evil.txt", false);
    row("absolute", "absolute.zip", "/tmp/evil.txt", false);
    row("drive", "drive.zip", "C:/evil.txt", false);
    row("backslash dot-dot", "backslash_dotdot.zip", "..\\evil.txt", false);
    row("link escaping, then a file through it", "symlink_escape.zip", "link", false);
    row("folder link already on the way", "symlink_inside.zip", "dir/", true);
}

// Nothing at all is written, neither inside the destination nor beside it.
void TestZipReader::escapesAreRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, badEntry);
    QFETCH(bool, plantLink);
    QTemporaryDir outer;
    const QString destination = outer.filePath("dest");
    QVERIFY(QDir().mkpath(outer.filePath("beside")));
    if (plantLink) {
        QVERIFY(QDir().mkpath(destination));
        QVERIFY(QFile::link(outer.filePath("beside"), destination + "/dir"));
    }
    const QStringList before = snapshot(outer.path());
    QTest::ignoreMessage(
        QtWarningMsg,
        qPrintable("QZip: Entry lies outside the destination directory: " + badEntry));
    QVERIFY(!ZipReader(archive(name)).extractAll(destination));
    QCOMPARE(snapshot(outer.path()), before);
    QVERIFY(!QFileInfo::exists("/tmp/evil.txt"));
}

void TestZipReader::linkInsideDestination()
{
    QTemporaryDir target;
    ZipReader reader(archive("symlink_inside.zip"));
    QVERIFY(reader.entryInfoAt(2).isSymLink);
    QVERIFY(reader.extractAll(target.path()));
    const QFileInfo link(target.filePath("link"));
    QVERIFY(link.isSymLink());
    QCOMPARE(readAll(link.filePath()), QByteArray("target"));
}

// A directory that its owner may not write to gets its mode only once its files are in it.
void TestZipReader::directoryPermissionsComeLast()
{
    if (geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty())
        QSKIP("the superuser's right to pass over permissions cannot be dropped here");
    const QString archivePath = archive("py_readonly_dir.zip");
    QTemporaryDir target;
    const QString report = writeInChildBoundByPermissions("extractAll", archivePath, target.path());
    const QString readOnly = target.filePath("ro");
    QCOMPARE(report, "1 0");
    QCOMPARE(readAll(readOnly + QStringLiteral("/f.txt")), QByteArray("in"));
    QCOMPARE(QFile::permissions(readOnly) & 0x7077, QFile::Permissions(0x5055)); // 0555
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QTEST_GUILESS_MAIN(TestZipReader)
#include "tst_zipreader.moc"
