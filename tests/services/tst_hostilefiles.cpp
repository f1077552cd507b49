// Archives and folders built to make the shell write, empty or report where it must not: links
// planted where extraction writes, links passed as folders to empty, damaged or foreign archives
// and archives whose listing would grow without bound.

#include "services/directorylisting.h"
#include "services/directoryoperations.h"
#include "services/zipoperations.h"
#include "services/zipreader.h"
#include "ziptestsupport.h"

#include <QBuffer>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZipTestSupport;

namespace {

// Python's zipfile writes the archive; `names` is a Python expression giving the entry names.
// Each file holds its own name.
bool pythonArchive(const QString &path, const QString &names)
{
    const QString script
        = QStringLiteral("import sys, zipfile\n"
                         "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                         "    for n in eval(sys.argv[2]):\n"
                         "        z.writestr(n, b'' if n.endswith('/') else n.encode())\n");
    const ToolRun run
        = runTool(QStringLiteral("python3"), { QStringLiteral("-c"), script, path, names });
    return run.started && run.exitCode == 0;
}

// Everything below root, links as links, so that any change there shows in a comparison.
QStringList snapshot(const QString &root)
{
    QStringList items;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            items.append(name + QStringLiteral(" -> ") + info.symLinkTarget());
        else if (info.isDir())
            items.append(name + QLatin1Char('/'));
        else
            items.append(name + QStringLiteral(": ") + QString::fromUtf8(readAll(info.filePath())));
    }
    items.sort();
    return items;
}

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
    void init();
    void cleanup();

    void extractionNeverFollowsExistingLinks_data();
    void extractionNeverFollowsExistingLinks();
    void linkedFolderIsNeverEmptied_data();
    void linkedFolderIsNeverEmptied();
    void damagedIndexIsReported_data();
    void damagedIndexIsReported();
    void damagedArchiveFailsWhole_data();
    void damagedArchiveFailsWhole();
    void listingIsBounded_data();
    void listingIsBounded();

private:
    QString path(const QString &relative) const { return m_work->filePath(relative); }
    int secondCentralRecord() const;
    // The good archive cut inside its second central record, its end record kept.
    QByteArray cutShort() const;

    std::unique_ptr<QTemporaryDir> m_work;
    // What the attacks aim at: it must come through every test unchanged.
    std::unique_ptr<QTemporaryDir> m_outside;
    QStringList m_outsideBefore;
    // A good archive of three files, the material of the damaged ones.
    QByteArray m_plain;
};

void TestHostileFiles::initTestCase()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString archive = dir.filePath(QStringLiteral("plain.zip"));
    QVERIFY(pythonArchive(archive, QStringLiteral("['one.txt', 'two.txt', 'three.txt']")));
    m_plain = readAll(archive);
    QVERIFY(!m_plain.isEmpty());
}

void TestHostileFiles::init()
{
    m_work.reset(new QTemporaryDir);
    m_outside.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid() && m_outside->isValid());
    QVERIFY(writeAll(m_outside->filePath(QStringLiteral("victim.txt")), "precious"));
    QVERIFY(writeAll(m_outside->filePath(QStringLiteral("sub/inner.txt")), "inner"));
    m_outsideBefore = snapshot(m_outside->path());
}

void TestHostileFiles::cleanup()
{
    const QStringList outside = snapshot(m_outside->path());
    const bool keep = QTest::currentTestFailed() || outside != m_outsideBefore;
    m_work->setAutoRemove(!keep);
    m_outside->setAutoRemove(!keep);
    QCOMPARE(outside, m_outsideBefore);
}

void TestHostileFiles::extractionNeverFollowsExistingLinks_data()
{
    QTest::addColumn<QString>("via"); // "extract all", "extract" (one chosen entry) or "reader"
    QTest::addColumn<QString>("names"); // Python expression
    QTest::addColumn<QString>("linkName"); // below the destination
    QTest::addColumn<QString>("linkTarget"); // below the outside folder
    QTest::addColumn<QString>("badEntry");
    QTest::newRow("extract all: folder link on the way") << "extract all"
                                                         << "['dir/file.txt']"
                                                         << "dir"
                                                         << ""
                                                         << "dir/";
    QTest::newRow("extract all: folder link deeper on the way") << "extract all"
                                                                << "['a/b/file.txt']"
                                                                << "a/b"
                                                                << "sub"
                                                                << "a/b/";
    QTest::newRow("extract all: link in a file's place") << "extract all"
                                                         << "['victim.txt']"
                                                         << "victim.txt"
                                                         << "victim.txt"
                                                         << "victim.txt";
    QTest::newRow("extract all: dangling link in a file's place") << "extract all"
                                                                  << "['new.txt']"
                                                                  << "new.txt"
                                                                  << "new.txt"
                                                                  << "new.txt";
    QTest::newRow("extract: link at the chosen destination") << "extract"
                                                             << "['victim.txt']"
                                                             << "victim.txt"
                                                             << "victim.txt"
                                                             << "victim.txt";
    QTest::newRow("reader: folder link on the way") << "reader"
                                                    << "['dir/file.txt']"
                                                    << "dir"
                                                    << ""
                                                    << "dir/file.txt";
}

void TestHostileFiles::extractionNeverFollowsExistingLinks()
{
    QFETCH(QString, via);
    QFETCH(QString, names);
    QFETCH(QString, linkName);
    QFETCH(QString, linkTarget);
    QFETCH(QString, badEntry);
    const QString archive = path(QStringLiteral("attack.zip"));
    QVERIFY(pythonArchive(archive, names));
    const QString destination = path(QStringLiteral("dest"));
    const QString link = destination + QLatin1Char('/') + linkName;
    QVERIFY(QDir().mkpath(QFileInfo(link).path()));
    QVERIFY(QFile::link(m_outside->filePath(linkTarget), link));

    if (via == QLatin1String("reader")) {
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("QZip: Entry lies outside the destination "
                                                       "directory: ")
                                        + badEntry));
        QVERIFY(!ZipReader(archive).extractAll(destination));
    } else {
        const CallResult result = via == QLatin1String("extract")
            ? ZipOperations::zipExtract(archive, badEntry, link)
            : ZipOperations::zipExtractAll(archive, destination);
        QCOMPARE(result.errorCode, 1003);
        QCOMPARE(result.message,
                 QStringLiteral("Cannot extract from zip file. The entry: ") + badEntry
                     + QStringLiteral(" lies outside the destination directory."));
    }
    QVERIFY2(QFileInfo(link).isSymLink(), "the planted link must stay as it was");
}

void TestHostileFiles::linkedFolderIsNeverEmptied_data()
{
    QTest::addColumn<bool>("remove"); // removeDirectory, else clearDirectory
    QTest::addColumn<QString>("suffix"); // appended to the link's path
    QTest::addColumn<int>("code"); // 0 for success
    QTest::addColumn<QString>("message"); // %1 the display path
    QTest::newRow("remove: the link goes") << true << "" << 0 << "%1";
    QTest::newRow("remove: the link goes, named as a folder") << true << "/" << 0 << "%1";
    QTest::newRow("clear: refused")
        << false << "" << 2000 << "Could not remove all content from directory: %1";
    QTest::newRow("clear: refused, named as a folder")
        << false << "/." << 2000 << "Could not remove all content from directory: %1";
}

void TestHostileFiles::linkedFolderIsNeverEmptied()
{
    QFETCH(bool, remove);
    QFETCH(QString, suffix);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QString link = path(QStringLiteral("linked"));
    QVERIFY(QFile::link(m_outside->path(), link));
    const QString dirPath = link + suffix;
    const CallResult result = remove ? DirectoryOperations::removeDirectory(dirPath)
                                     : DirectoryOperations::clearDirectory(dirPath);
    QCOMPARE(result.errorCode, code);
    QCOMPARE(result.message,
             message.replace(QLatin1String("%1"), DirectoryListing::displayPath(dirPath)));
    QCOMPARE(QFileInfo(link).isSymLink(), !remove);
}

int TestHostileFiles::secondCentralRecord() const
{
    const int central = centralDirectoryOffset(m_plain);
    return central + 46 + u16(m_plain, central + 28) + u16(m_plain, central + 30)
        + u16(m_plain, central + 32);
}

QByteArray TestHostileFiles::cutShort() const
{
    return m_plain.left(secondCentralRecord() + 10) + m_plain.right(22);
}

void TestHostileFiles::damagedIndexIsReported_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("warning");
    const int end = endRecordOffset(m_plain);
    QTest::newRow("cut inside the central directory, end record lost")
        << m_plain.left(secondCentralRecord() + 10) << "QZip: EndOfDirectory not found";
    QTest::newRow("cut inside the central directory, end record kept")
        << cutShort() << "QZip: Failed to read complete header, index may be incomplete";
    QTest::newRow("second central record malformed")
        << patched16(m_plain, secondCentralRecord() + 2, 0)
        << "QZip: invalid header signature, index may be incomplete";
    QTest::newRow("end record counts fewer entries")
        << patched16(patched16(m_plain, end + 8, 2), end + 10, 2)
        << "QZip: The central directory holds more entries than its end record counts";
    QTest::newRow("directory offset past the end")
        << patched16(m_plain, end + 18, 0x7FFF)
        << "QZip: Failed to read complete header, index may be incomplete";
    QTest::newRow("not a zip file")
        << QByteArray("Just text, no archive.\n") << "QZip: not a zip file!";
}

void TestHostileFiles::damagedIndexIsReported()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, warning);
    QByteArray data = bytes;
    QBuffer buffer(&data);
    ZipReader reader(&buffer);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QVERIFY2(reader.status() != ZipReader::NoError, "damage must show in the status");
    const QString destination = path(QStringLiteral("out"));
    QVERIFY(!reader.extractAll(destination));
    QVERIFY2(!QFileInfo::exists(destination), "nothing of a damaged archive is extracted");
}

void TestHostileFiles::damagedArchiveFailsWhole_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code"); // 0 for success
    QTest::addColumn<QString>("message"); // %1 the archive
    const QByteArray cut = cutShort();
    const QByteArray text("Just text, no archive.\n");
    const QString shortened = QStringLiteral(" The central directory is cut short.");
    const QString notZip = QStringLiteral(" The file is not a zip archive.");
    QTest::newRow("read: cut short")
        << "read" << cut << 1001 << "Cannot read zip file: %1." + shortened;
    QTest::newRow("read: not a zip file")
        << "read" << text << 1001 << "Cannot read zip file: %1." + notZip;
    QTest::newRow("append: cut short")
        << "append" << cut << 1001
        << "Cannot add to zip file. The path: %1 is not readable." + shortened;
    QTest::newRow("append: not a zip file")
        << "append" << text << 1001
        << "Cannot add to zip file. The path: %1 is not readable." + notZip;
    QTest::newRow("append: an empty file is a new archive") << "append" << QByteArray() << 0 << "";
    QTest::newRow("append: an archive without entries")
        << "append" << QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0') << 0 << "";
    QTest::newRow("extract all: cut short")
        << "extract all" << cut << 1001
        << "Cannot extract from zip file. The path: %1 is not readable." + shortened;
    QTest::newRow("extract all: not a zip file")
        << "extract all" << text << 1001
        << "Cannot extract from zip file. The path: %1 is not readable." + notZip;
}

void TestHostileFiles::damagedArchiveFailsWhole()
{
    QFETCH(QString, call);
    QFETCH(QByteArray, bytes);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QString archive = path(QStringLiteral("damaged.zip"));
    QVERIFY(writeAll(archive, bytes));
    QVERIFY(writeAll(path(QStringLiteral("new.txt")), "new"));
    const QString destination = path(QStringLiteral("out"));
    if (code != 0)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QZip: ")));

    CallResult result;
    if (call == QLatin1String("read"))
        result = ZipOperations::zipRead(archive);
    else if (call == QLatin1String("append"))
        result = ZipOperations::zipAppend(archive, path(QStringLiteral("new.txt")),
                                          QStringLiteral("new.txt"));
    else
        result = ZipOperations::zipExtractAll(archive, destination);
    QCOMPARE(result.errorCode, code);
    QCOMPARE(result.message, message.replace(QLatin1String("%1"), archive));
    if (code == 0) {
        QCOMPARE(ZipOperations::entryList(archive), QStringList { QStringLiteral("new.txt") });
        return;
    }
    QVERIFY2(readAll(archive) == bytes, "a damaged archive must stay byte for byte as it was");
    QVERIFY2(!QFileInfo::exists(destination), "nothing of a damaged archive is extracted");
}

void TestHostileFiles::listingIsBounded_data()
{
    QTest::addColumn<QString>("names"); // Python expression
    QTest::addColumn<QString>("problem");
    QTest::newRow("four names 16000 levels deep")
        << "['%d/' % i + 'd/' * 16000 + 'f' for i in range(4)]"
        << "The entry names of the archive exceed 16777216 characters in all.";
    QTest::newRow("more entries with their folders than the bound")
        << "['d%d/f' % i for i in range(33000)]"
        << "The archive lists more than 65535 entries.";
}

void TestHostileFiles::listingIsBounded()
{
    QFETCH(QString, names);
    QFETCH(QString, problem);
    const QString archive = path(QStringLiteral("large.zip"));
    QVERIFY(pythonArchive(archive, names));
    const CallResult result = ZipOperations::zipRead(archive);
    QCOMPARE(result.errorCode, 1001);
    QCOMPARE(result.message,
             QStringLiteral("Cannot read zip file: ") + archive + QStringLiteral(". ") + problem);
}

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
