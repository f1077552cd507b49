#include "services/zipoperations.h"
#include "services/zipreader.h"
#include "writeinchild.h"
#include "ziptestsupport.h"

#include <QtTest>

using namespace ZipTestSupport;

namespace {

QStringList rawNames(const QString &archivePath)
{
    QStringList names;
    for (const ZipReader::FileInfo &info : ZipReader(archivePath).fileInfoList())
        names.append(info.filePath);
    return names;
}

QString join(const QString &list)
{
    return list.split(QLatin1Char('|')).join(ZipOperations::delimiter());
}

QString entryOutside(const QString &entry)
{
    return "Cannot extract from zip file. The entry: " + entry
        + " lies outside the destination directory.";
}

// See failures_data().
struct Failure
{
    QString call, archive, sources, destinations, link;
    int code;
    QString message;
};

} // namespace

Q_DECLARE_METATYPE(Failure)

class TestZipOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void zipReadEntryList_data();
    void zipReadEntryList();
    void zipAppendCarriesExistingEntriesOver();
    void zipAppendToEmptyArchive_data();
    void zipAppendToEmptyArchive();
    void zipAppendAll_data();
    void zipAppendAll();
    void zipExtractChosenEntries();
    void zipExtractAllCreatesTree();
    void failures_data();
    void failures();

private:
    QString path(const QString &relative) const { return m_work->filePath(relative); }
    // "a|b" as the joined absolute paths of a and b in the work directory.
    QString paths(const QString &relativeList) const
    {
        const QString root = m_work->path() + QLatin1Char('/');
        return join(root + QString(relativeList).replace(QLatin1String("|"), "|" + root));
    }
    QString generated(const QString &name) const { return m_archives + QLatin1Char('/') + name; }

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_archives;
};

void TestZipOperations::initTestCase()
{
    m_archives = m_dir.filePath("archives");
    QVERIFY2(makeArchives(m_archives), "make_archives.py failed");
}

void TestZipOperations::init()
{
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
}

void TestZipOperations::cleanup()
{
    m_work->setAutoRemove(!QTest::currentTestFailed());
    m_dir.setAutoRemove(!QTest::currentTestFailed());
}

void TestZipOperations::zipReadEntryList_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("expected");
    const auto row = [](const char *name, const QStringList &names, const QStringList &expected) {
        QTest::newRow(name) << names << expected;
    };
    row("resource forks and finder files removed",
        { "__MACOSX/._a.txt", "a.txt", "sub/.DS_Store", "sub/b.txt", "x.DS_Store" },
        { "a.txt", "sub/", "sub/b.txt" });
    row("listed directory not repeated", { "a/", "a/b.txt" }, { "a/", "a/b.txt" });
    row("shared ancestors inserted once, outermost first", { "x/y/1.txt", "x/z/2.txt" },
        { "x/", "x/y/", "x/y/1.txt", "x/z/", "x/z/2.txt" });
    row("directory listed after its content stays", { "a/b.txt", "a/" }, { "a/b.txt", "a/" });
    row("backslash separators", { "d\\f.txt" }, { "d/", "d\\f.txt" });
    row("dot-slash is the top level", { "./top.txt" }, { "./top.txt" });
    row("duplicates kept", { "t.txt", "t.txt" }, { "t.txt", "t.txt" });
    row("mac names are case-sensitive", { "__macosx/a", "b.ds_store" },
        { "__macosx/", "__macosx/a", "b.ds_store" });
}

void TestZipOperations::zipReadEntryList()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, expected);
    const QString archive = path("list.zip");
    QVERIFY(makeArchive(archive, names));
    const CallResult result = ZipOperations::zipRead(archive);
    QVERIFY(result.success);
    QCOMPARE(result.message, archive);
    QCOMPARE(result.values, expected);
    QCOMPARE(ZipOperations::entryList(archive), expected);
}

// The existing entries are read by position (two of one name stay two), the resource fork goes,
// missing ancestors come in, and every entry is rewritten deflated with the default permissions
// and the time of writing; a deflated entry keeps its stream as it was. Of the new entries, a
// directory never reads its source, which need not even exist.
void TestZipOperations::zipAppendCarriesExistingEntriesOver()
{
    const QString archive = path("existing.zip");
    QVERIFY(QFile::copy(generated("py_existing.zip"), archive));
    const QJsonValue deflatedBefore = pythonEntries(archive).at(1).toObject().value("compressed");
    QVERIFY(writeAll(path("new.txt"), "new") && writeAll(path("b.bin"), noise(200000, 5)));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    const CallResult result = ZipOperations::zipAppend(archive, paths("new.txt|nowhere/|b.bin"),
                                                       join("new.txt|emptydir\\|docs/b.bin"));
    QVERIFY2(result.success && result.message.isEmpty() && result.values.isEmpty(),
             qPrintable(result.message));
    QCOMPARE(rawNames(archive),
             (QStringList { "stored.txt", "deep/", "deep/er/", "deep/er/deflated.txt", "twice.txt",
                            "twice.txt", "empty.txt", "new.txt", "emptydir/", "docs/b.bin" }));
    const QJsonArray entries = pythonEntries(archive);
    const QList<QByteArray> contents = { QByteArray("stored ").repeated(50),
                                         {},
                                         {},
                                         QByteArray("deflated ").repeated(500),
                                         "first",
                                         "second",
                                         {},
                                         "new",
                                         {},
                                         noise(200000, 5) };
    QCOMPARE(entries.size(), contents.size());
    ZipReader reader(archive);
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries.at(i).toObject();
        QVERIFY2(pythonData(entry) == contents.at(i), qPrintable(reader.entryInfoAt(i).filePath));
        QCOMPARE(entry.value("compress").toInt(), 8);
        QCOMPARE(entry.value("mode").toInt() & 0777, 0600);
        QVERIFY(reader.entryInfoAt(i).lastModified >= before);
    }
    QCOMPARE(entries.at(3).toObject().value("compressed"), deflatedBefore);
    const ToolRun test = runTool("unzip", { "-t", archive });
    QVERIFY2(test.ok(), test.output.constData());
}

void TestZipOperations::zipAppendToEmptyArchive_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("an empty file") << QByteArray();
    QTest::newRow("an end record alone") << QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0');
}

void TestZipOperations::zipAppendToEmptyArchive()
{
    QFETCH(QByteArray, bytes);
    const QString archive = path("empty.zip");
    QVERIFY(writeAll(archive, bytes) && writeAll(path("new.txt"), "new"));
    QVERIFY(ZipOperations::zipAppend(archive, path("new.txt"), "new.txt").success);
    QCOMPARE(rawNames(archive), QStringList { "new.txt" });
}

void TestZipOperations::zipAppendAll_data()
{
    QTest::addColumn<QStringList>("files"); // below the source directory "data"
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<bool>("relative");
    QTest::addColumn<QStringList>("expected");
    const auto row = [](const char *name, const QStringList &files, bool wrap, bool relative,
                        const QStringList &expected) {
        QTest::newRow(name) << files << wrap << relative << expected;
    };
    row("absolute", { "file.txt" }, false, false, { "file.txt" });
    row("absolute, wrapped", { "file.txt" }, true, false, { "data/file.txt" });
    // Relative, the prefix "data/" also occurs inside "data/metadata/x".
    row("relative: prefix text inside a name survives", { "metadata/x" }, false, true,
        { "metadata/", "metadata/x" });
    row("relative, wrapped", { "metadata/x", "z.txt" }, true, true,
        { "data/metadata/", "data/z.txt", "data/metadata/x" });
}

void TestZipOperations::zipAppendAll()
{
    QFETCH(QStringList, files);
    QFETCH(bool, wrap);
    QFETCH(bool, relative);
    QFETCH(QStringList, expected);
    for (const QString &file : files)
        QVERIFY(writeAll(path(QStringLiteral("data/") + file), file.toUtf8()));
    const QString archive = path("all.zip");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(m_work->path());
    const CallResult result = ZipOperations::zipAppendAll(
        archive, relative ? QStringLiteral("data") : path("data"), wrap);
    QDir::setCurrent(previous);
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(rawNames(archive), expected);
    ZipReader reader(archive);
    for (const QString &file : files)
        QCOMPARE(reader.fileData((wrap ? QStringLiteral("data/") : QString()) + file),
                 file.toUtf8());
}

void TestZipOperations::zipExtractChosenEntries()
{
    const QString archive = path("pick.zip");
    QVERIFY(makeArchive(archive, { "a/one.txt", "two.txt", "three.txt" }));
    const CallResult result = ZipOperations::zipExtract(
        archive, join("a/one.txt|two.txt|a/"), paths("out/deep/first.txt|out/second.txt|out/d/"));
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(snapshot(path("out")),
             (QStringList { "d/", "deep/", "deep/first.txt: a/one.txt", "second.txt: two.txt" }));
}

// Missing directories are made; resource forks and finder files stay behind.
void TestZipOperations::zipExtractAllCreatesTree()
{
    const QString destination = path("not/yet/there");
    const CallResult result = ZipOperations::zipExtractAll(generated("py_macosx.zip"), destination);
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(snapshot(destination), (QStringList { "a.txt: a", "sub/", "sub/b.txt: b" }));
}

void TestZipOperations::failures_data()
{
    // The archive is target.zip in the work directory: none for "", a copy of a generated one,
    // or one made of the "|"-separated entries given (each holding its name); "<directory>" is
    // a directory. Sources and destinations are "|"-separated entries or paths in the work
    // directory, and a link "path -> target" there is planted first. In messages %1 stands for
    // the archive and %2 for the work directory.
    QTest::addColumn<Failure>("c");
    const auto row = [](const char *name, const Failure &failure) {
        QTest::addRow("%s: %s", qPrintable(failure.call), name) << failure;
    };
    const QString add = QStringLiteral("Cannot add to zip file. The ");
    const QString extract = QStringLiteral("Cannot extract from zip file. The ");
    const QString unreadable = QStringLiteral("path: %1 is not readable.");
    const QString cut = QStringLiteral(" The central directory is cut short.");
    const QString notAligned = QStringLiteral("() source list and destination list parameters are "
                                              "not aligned.");
    const char *made = "old/one.txt|two.txt";
    row("missing",
        { "read", "", "", "", "", 1000, "Cannot read zip. The path: %1 does not exist." });
    row("a directory", { "read", "<directory>", "", "", "", 1001, "Cannot read zip file: %1." });
    // A damaged or foreign archive is refused whole, with the reason.
    row("central directory cut short",
        { "read", "truncated_central.zip", "", "", "", 1001, "Cannot read zip file: %1." + cut });

    row("new archive, source missing",
        { "append", "", "x.txt", "x", "", 1003, add + "source file: %2/x.txt does not exist." });
    row("lists not aligned",
        { "append", made, "a.txt|b.txt", "a", "", 5000, "zipAppend" + notAligned });
    row("second source missing",
        { "append", made, "a.txt|x.txt", "a|x", "", 1003,
          add + "source file: %2/x.txt does not exist." });
    row("source is a directory named without slash",
        { "append", made, "a.txt|adir", "a|d", "", 1004,
          add + "source path: %2/adir is not readable." });
    row("read-only archive",
        { "append", made, "a.txt", "a", "", 1002, add + "path: %1 is not writable." });
    row("the disk takes only part of it",
        { "append, writing little", made, "noise.bin", "", "", 1002,
          "Write failure occurred adding: noise.bin to: %1" });
    // Existing entries that cannot be read intact, and an index that cannot.
    for (const char *archive : { "flipped_byte.zip", "encrypted_flag.zip", "unknown_method.zip" })
        row(archive, { "append", archive, "a.txt", "a", "", 1001, add + unreadable });
    row("central directory cut short",
        { "append", "truncated_central.zip", "a.txt", "a", "", 1001, add + unreadable + cut });
    row("missing directory",
        { "append all", "", "x", "", "", 1000, "Directory: %2/x does not exist." });

    row("lists of different length",
        { "extract", "two.txt", "two.txt", "x|y", "", 5000, "zipExtract" + notAligned });
    row("source not in the archive, checked before writing",
        { "extract", "two.txt", "two.txt|Two.txt", "x|y", "", 1002,
          extract + "zip file: %1 does not contain this path: Two.txt" });
    row("missing archive",
        { "extract", "", "two.txt", "x", "", 1000, extract + "path: %1 does not exist." });
    row("corrupt entry",
        { "extract", "flipped_byte.zip", "file.txt", "x", "", 1001, extract + unreadable });
    row("directory cannot be made",
        { "extract", "two.txt", "two.txt", "blocker/sub/x", "", 2000,
          "Directory: %2/blocker/sub not could not be created." });
    row("onto a directory",
        { "extract", "two.txt", "two.txt", "adir", "", QFileDevice::OpenError,
          "Is a directory (File Path: %2/adir)" });
    row("link at the destination",
        { "extract", "two.txt", "two.txt", "x", "x -> outside/victim.txt", 1003,
          entryOutside("two.txt") });

    row("not a zip",
        { "extract all", "not_zip_start.zip", "", "dest", "", 1001,
          extract + unreadable + " The file is not a zip archive." });
    // The name alone says that this leaves; an inserted ancestor is checked too, and leaves first.
    row("dot-dot after descending",
        { "extract all", "dotdot_inner.zip", "", "dest", "", 1003, entryOutside("a/b/../../../") });
    row("link entry leaving",
        { "extract all", "symlink_escape.zip", "", "dest", "", 1003, entryOutside("link") });
    row("folder link on the way",
        { "extract all", "d/f.txt", "", "dest", "dest/d -> outside", 1003, entryOutside("d/") });
    row("folder link deeper on the way",
        { "extract all", "a/b/f", "", "dest", "dest/a/b -> outside/sub", 1003,
          entryOutside("a/b/") });
    row("link in a file's place",
        { "extract all", "v.txt", "", "dest", "dest/v.txt -> outside/victim.txt", 1003,
          entryOutside("v.txt") });
    row("dangling link in a file's place",
        { "extract all", "n.txt", "", "dest", "dest/n.txt -> outside/n.txt", 1003,
          entryOutside("n.txt") });
}

// Nothing in the work directory changes: an archive stays byte for byte, none appears where
// there was none, no temporary file is left, nothing is extracted, and what a planted link
// points to is untouched.
void TestZipOperations::failures()
{
    QFETCH(Failure, c);
    QString target = path("target.zip");
    if (c.archive == QLatin1String("<directory>"))
        target = path("adir");
    else if (c.archive.endsWith(QLatin1String(".zip")))
        QVERIFY(QFile::copy(generated(c.archive), target));
    else if (!c.archive.isEmpty())
        QVERIFY(makeArchive(target, c.archive.split(QLatin1Char('|'))));
    if (QTest::currentDataTag() == QByteArray("append: read-only archive")) {
        if (geteuid() == 0)
            QSKIP("file permissions do not bind the superuser");
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadUser));
    }
    QVERIFY(writeAll(path("a.txt"), "a") && writeAll(path("noise.bin"), noise(100000, 2)));
    QVERIFY(writeAll(path("blocker"), "a file where a directory is wanted"));
    QVERIFY(writeAll(path("outside/victim.txt"), "precious"));
    QVERIFY(writeAll(path("outside/sub/inner.txt"), "inner") && QDir().mkpath(path("adir")));
    if (!c.link.isEmpty()) {
        const QString at = path(c.link.section(" -> ", 0, 0));
        QVERIFY(QDir().mkpath(QFileInfo(at).path()));
        QVERIFY(QFile::link(path(c.link.section(" -> ", 1)), at));
    }
    const QStringList before = snapshot(m_work->path());
    if (c.code == 1001 && c.archive.endsWith(QLatin1String(".zip")))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QZip: "));

    CallResult result;
    if (c.call == QLatin1String("read")) {
        result = ZipOperations::zipRead(target);
    } else if (c.call == QLatin1String("append")) {
        result = ZipOperations::zipAppend(target, paths(c.sources), join(c.destinations));
    } else if (c.call == QLatin1String("append all")) {
        result = ZipOperations::zipAppendAll(target, path(c.sources), false);
    } else if (c.call == QLatin1String("extract")) {
        result = ZipOperations::zipExtract(target, join(c.sources), paths(c.destinations));
    } else if (c.call == QLatin1String("extract all")) {
        result = ZipOperations::zipExtractAll(target, path(c.destinations));
    } else {
        const QStringList report = writeInChildWithSizeLimit("zipAppend", target, path(c.sources))
                                       .split(QLatin1Char(' '));
        result = CallResult::failure(report.value(1).toInt(), report.mid(2).join(QLatin1Char(' ')));
        result.success = report.first() != QLatin1String("0");
    }
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, c.code);
    QCOMPARE(result.message, c.message.replace("%1", target).replace("%2", m_work->path()));
    QCOMPARE(snapshot(m_work->path()), before);
}

QTEST_GUILESS_MAIN(TestZipOperations)
#include "tst_zipoperations.moc"
