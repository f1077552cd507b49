#include "config/appconfig.h"
#include "config/logsettings.h"
#include "platform/logger.h"
#include "services/zipoperations.h"
#include "services/zipreader.h"
#include "ziptestsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace ZipTestSupport;

namespace {

// Python's zipfile writes the archive, so names reach it exactly as given (backslashes too).
// Each file holds "content of " + its name.
bool makeArchive(const QString &path, const QStringList &names)
{
    const QString script = QStringLiteral(
        "import sys, zipfile, warnings\n"
        "warnings.simplefilter('ignore')\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for n in sys.argv[2:]:\n"
        "        z.writestr(n, b'' if n.endswith('/') else ('content of ' + n).encode())\n");
    const ToolRun run = runTool(QStringLiteral("python3"),
                                QStringList { QStringLiteral("-c"), script, path } + names);
    return run.started && run.exitCode == 0;
}

QStringList rawNames(const QString &archivePath)
{
    ZipReader reader(archivePath);
    QStringList names;
    for (const ZipReader::FileInfo &info : reader.fileInfoList())
        names.append(info.filePath);
    return names;
}

QJsonObject pythonView(const QString &path)
{
    const ToolRun run = runTool(QStringLiteral("python3"),
                                { QStringLiteral(CORVID_TEST_DATA "/zip/dump_archive.py"), path });
    return run.started && run.exitCode == 0 ? QJsonDocument::fromJson(run.output).object()
                                            : QJsonObject();
}

QString join(const QStringList &parts)
{
    return parts.join(ZipOperations::delimiter());
}

} // namespace

class TestZipOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void zipReadFailures();
    void zipReadEntryList_data();
    void zipReadEntryList();
    void zipReadLogsItsBlock();

    void zipAppendCreatesArchive();
    void zipAppendRewritesExistingEntries();
    void zipAppendListsNotAligned();
    void zipAppendFailuresLeaveArchive_data();
    void zipAppendFailuresLeaveArchive();
    void zipAppendCopiesDeflatedBytesVerbatim();
    void zipAppendKeepsArchiveFile();
    void zipAppendFailureCreatesNothing();
    void zipAppendReadOnlyArchive();
    void zipAppendLogsItsBlock();

    void zipAppendAll_data();
    void zipAppendAll();
    void zipAppendAllMissingDirectory();

    void zipExtractChosenEntries();
    void zipExtractFailures_data();
    void zipExtractFailures();
    void zipExtractIntoUnwritableFile();
    void zipExtractAllCreatesTree();
    void zipExtractAllRefusesEscapes_data();
    void zipExtractAllRefusesEscapes();
    void zipExtractAllMissingArchive();

private:
    QString path(const QString &relative) const { return m_work->filePath(relative); }
    QStringList logLines();

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_archives;
    QString m_logPath;
};

void TestZipOperations::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_archives = m_dir.filePath(QStringLiteral("archives"));
    QVERIFY2(makeArchives(m_archives), "make_archives.py failed");
    // The shell log, on and written to a file of this test's own.
    AppConfig::setRunValue(QStringLiteral("debug_log_enabled"), true);
    AppConfig::setRunValue(QStringLiteral("shell_log_enabled"), true);
    LogSettings::loadConfiguredSwitches(Logger::instance(), AppConfig());
    m_logPath = m_dir.filePath(QStringLiteral("shell.log"));
    Logger::instance().setFilePath(m_logPath);
}

void TestZipOperations::init()
{
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
    QFile::remove(m_logPath);
}

void TestZipOperations::cleanup()
{
    m_work->setAutoRemove(!QTest::currentTestFailed());
    m_dir.setAutoRemove(!QTest::currentTestFailed());
}

QStringList TestZipOperations::logLines()
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(readAll(m_logPath)).split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            lines.append(line.section(QStringLiteral("] "), 1)); // drop the time stamp
    }
    return lines;
}

void TestZipOperations::zipReadFailures()
{
    const QString missing = path(QStringLiteral("missing.zip"));
    CallResult result = ZipOperations::zipRead(missing);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message,
             QStringLiteral("Cannot read zip. The path: ") + missing
                 + QStringLiteral(" does not exist."));

    const QString directory = path(QStringLiteral("adir.zip"));
    QVERIFY(QDir().mkpath(directory));
    result = ZipOperations::zipRead(directory);
    QCOMPARE(result.errorCode, 1001);
    QCOMPARE(result.message,
             QStringLiteral("Cannot read zip file: ") + directory + QLatin1Char('.'));
}

void TestZipOperations::zipReadEntryList_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("resource forks and finder files removed")
        << QStringList { "__MACOSX/._a.txt", "a.txt", "sub/.DS_Store", "sub/b.txt", "x.DS_Store" }
        << QStringList { "a.txt", "sub/", "sub/b.txt" };
    QTest::newRow("one file two directories deep")
        << QStringList { "outer/inner/file.txt" }
        << QStringList { "outer/", "outer/inner/", "outer/inner/file.txt" };
    QTest::newRow("listed directory not repeated")
        << QStringList { "a/", "a/b.txt" } << QStringList { "a/", "a/b.txt" };
    QTest::newRow("shared ancestors inserted once")
        << QStringList { "x/y/1.txt", "x/z/2.txt" }
        << QStringList { "x/", "x/y/", "x/y/1.txt", "x/z/", "x/z/2.txt" };
    QTest::newRow("directory listed after its content stays in place")
        << QStringList { "a/b.txt", "a/" } << QStringList { "a/b.txt", "a/" };
    QTest::newRow("backslash separators")
        << QStringList { "d\\f.txt" } << QStringList { "d/", "d\\f.txt" };
    QTest::newRow("dot-slash is the top level")
        << QStringList { "./top.txt" } << QStringList { "./top.txt" };
    QTest::newRow("duplicates kept")
        << QStringList { "t.txt", "t.txt" } << QStringList { "t.txt", "t.txt" };
    QTest::newRow("mac names are case-sensitive")
        << QStringList { "__macosx/a", "b.ds_store" }
        << QStringList { "__macosx/", "__macosx/a", "b.ds_store" };
}

void TestZipOperations::zipReadEntryList()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, expected);
    const QString archive = path(QStringLiteral("list.zip"));
    QVERIFY(makeArchive(archive, names));
    const CallResult result = ZipOperations::zipRead(archive);
    QVERIFY(result.success);
    QCOMPARE(result.message, archive);
    QCOMPARE(result.values, expected);
    QCOMPARE(ZipOperations::entryList(archive), expected);
}

void TestZipOperations::zipReadLogsItsBlock()
{
    const QString archive = path(QStringLiteral("log.zip"));
    QVERIFY(makeArchive(archive, { QStringLiteral("d/f.txt") }));
    QVERIFY(ZipOperations::zipRead(archive).success);
    QCOMPARE(logLines(),
             (QStringList { "--zipRead--", "zipFilePath: " + archive, "contentsList: ", "d/",
                            "d/f.txt", "-----------" }));
}

void TestZipOperations::zipAppendCreatesArchive()
{
    const QString archive = path(QStringLiteral("new.zip"));
    QVERIFY(writeAll(path(QStringLiteral("src/a.txt")), "alpha"));
    QVERIFY(writeAll(path(QStringLiteral("src/b.bin")), noise(200000, 5)));
    // A directory destination never reads its source, which need not even exist.
    const CallResult result = ZipOperations::zipAppend(
        archive,
        join({ path(QStringLiteral("src/a.txt")), path(QStringLiteral("nowhere/")),
               path(QStringLiteral("src/b.bin")) }),
        join({ QStringLiteral("docs/a.txt"), QStringLiteral("emptydir\\"),
               QStringLiteral("b.bin") }));
    QVERIFY2(result.success, qPrintable(result.message));
    QVERIFY(result.message.isEmpty() && result.values.isEmpty());
    QCOMPARE(rawNames(archive), (QStringList { "docs/a.txt", "emptydir/", "b.bin" }));

    const QJsonObject python = pythonView(archive);
    QVERIFY(python.value(QStringLiteral("bad")).isNull());
    const QJsonArray entries = python.value(QStringLiteral("entries")).toArray();
    QCOMPARE(QByteArray::fromBase64(entries.at(0).toObject().value("data").toString().toLatin1()),
             QByteArray("alpha"));
    QVERIFY(QByteArray::fromBase64(entries.at(2).toObject().value("data").toString().toLatin1())
            == noise(200000, 5));
    const ToolRun test = runTool(QStringLiteral("unzip"), { QStringLiteral("-t"), archive });
    QVERIFY2(test.exitCode == 0, test.output.constData());
}

void TestZipOperations::zipAppendRewritesExistingEntries()
{
    const QString archive = path(QStringLiteral("existing.zip"));
    // Stored, deflated, with data descriptors, a resource fork and two entries of one name.
    const QString script = QStringLiteral(
        "import sys, zipfile, warnings\n"
        "warnings.simplefilter('ignore')\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "z.writestr(zipfile.ZipInfo('stored.txt', (2001, 2, 3, 4, 5, 6)), b'stored ' * 50)\n"
        "i = zipfile.ZipInfo('deep/er/deflated.txt', (2001, 2, 3, 4, 5, 6))\n"
        "i.compress_type = zipfile.ZIP_DEFLATED; i.external_attr = 0o100755 << 16\n"
        "z.writestr(i, b'deflated ' * 500)\n"
        "z.writestr('__MACOSX/._stored.txt', b'fork')\n"
        "z.writestr('twice.txt', b'first')\n"
        "z.writestr('twice.txt', b'second')\n"
        "z.writestr('empty.txt', b'')\n"
        "z.close()\n");
    const ToolRun made
        = runTool(QStringLiteral("python3"), { QStringLiteral("-c"), script, archive });
    QVERIFY2(made.exitCode == 0, made.output.constData());
    QVERIFY(writeAll(path(QStringLiteral("new.txt")), "new"));

    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    const CallResult result = ZipOperations::zipAppend(archive, path(QStringLiteral("new.txt")),
                                                       QStringLiteral("new.txt"));
    QVERIFY2(result.success, qPrintable(result.message));

    QCOMPARE(rawNames(archive),
             (QStringList { "stored.txt", "deep/", "deep/er/", "deep/er/deflated.txt", "twice.txt",
                            "twice.txt", "empty.txt", "new.txt" }));
    const QJsonObject python = pythonView(archive);
    QVERIFY(python.value(QStringLiteral("bad")).isNull());
    const QJsonArray entries = python.value(QStringLiteral("entries")).toArray();
    const QList<QByteArray> contents = { QByteArray("stored ").repeated(50),
                                         {},
                                         {},
                                         QByteArray("deflated ").repeated(500),
                                         "first",
                                         "second",
                                         {},
                                         "new" };
    QCOMPARE(entries.size(), contents.size());
    ZipReader reader(archive);
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries.at(i).toObject();
        QCOMPARE(QByteArray::fromBase64(entry.value("data").toString().toLatin1()), contents.at(i));
        // Rewritten: deflated, default permissions, the time of writing.
        QCOMPARE(entry.value("compress").toInt(), 8);
        QCOMPARE(entry.value("mode").toInt() & 0777, 0600);
        QVERIFY(reader.entryInfoAt(i).lastModified >= before);
    }
    const ToolRun test = runTool(QStringLiteral("unzip"), { QStringLiteral("-t"), archive });
    QVERIFY2(test.exitCode == 0, test.output.constData());
}

void TestZipOperations::zipAppendListsNotAligned()
{
    const QString archive = path(QStringLiteral("keep.zip"));
    QVERIFY(makeArchive(archive, { QStringLiteral("a.txt") }));
    const QByteArray before = readAll(archive);
    const CallResult result
        = ZipOperations::zipAppend(archive, join({ "x", "y" }), QStringLiteral("x"));
    QCOMPARE(result.errorCode, 5000);
    QCOMPARE(
        result.message,
        QStringLiteral("zipAppend() source list and destination list parameters are not aligned."));
    QCOMPARE(readAll(archive), before);
}

void TestZipOperations::zipAppendFailuresLeaveArchive_data()
{
    QTest::addColumn<QString>("existing"); // archive from the generated set, or "" for a fresh one
    QTest::addColumn<QString>("secondSource"); // relative to the work directory
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // %1 archive, %2 second source
    QTest::newRow("second source missing")
        << ""
        << "missing.txt" << 1003 << "Cannot add to zip file. The source file: %2 does not exist.";
    QTest::newRow("source is a directory named without slash")
        << ""
        << "adir" << 1004 << "Cannot add to zip file. The source path: %2 is not readable.";
    QTest::newRow("existing entry with a flipped byte")
        << "flipped_byte.zip"
        << "b.txt" << 1001 << "Cannot add to zip file. The path: %1 is not readable.";
    QTest::newRow("existing entry past the end of the file")
        << "size_past_end.zip"
        << "b.txt" << 1001 << "Cannot add to zip file. The path: %1 is not readable.";
    QTest::newRow("existing entry's header past the end of the file")
        << "offset_past_end.zip"
        << "b.txt" << 1001 << "Cannot add to zip file. The path: %1 is not readable.";
    QTest::newRow("existing entry encrypted")
        << "encrypted_flag.zip"
        << "b.txt" << 1001 << "Cannot add to zip file. The path: %1 is not readable.";
    QTest::newRow("existing entry of unknown method")
        << "unknown_method.zip"
        << "b.txt" << 1001 << "Cannot add to zip file. The path: %1 is not readable.";
}

void TestZipOperations::zipAppendFailuresLeaveArchive()
{
    QFETCH(QString, existing);
    QFETCH(QString, secondSource);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QString archive = path(QStringLiteral("target.zip"));
    if (existing.isEmpty())
        QVERIFY(makeArchive(archive, { QStringLiteral("old/one.txt"), QStringLiteral("two.txt") }));
    else
        QVERIFY(QFile::copy(m_archives + QLatin1Char('/') + existing, archive));
    const QByteArray before = readAll(archive);
    QVERIFY(writeAll(path(QStringLiteral("a.txt")), "a"));
    QVERIFY(writeAll(path(QStringLiteral("b.txt")), "b"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("adir"))));

    const QString second = path(secondSource);
    if (!existing.isEmpty()) // the unreadable entry is also reported in the message log
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QZip: ")));
    const CallResult result = ZipOperations::zipAppend(
        archive, join({ path(QStringLiteral("a.txt")), second }), join({ "a.txt", "second.txt" }));
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, code);
    QCOMPARE(result.message,
             message.replace(QLatin1String("%1"), archive).replace(QLatin1String("%2"), second));
    QVERIFY2(readAll(archive) == before, "the archive must stay byte for byte as it was");
    QCOMPARE(QDir(m_work->path()).entryList({ QStringLiteral("target.zip*") }, QDir::Files),
             QStringList { QStringLiteral("target.zip") });
}

void TestZipOperations::zipAppendCopiesDeflatedBytesVerbatim()
{
    // Deflated entries are carried over without inflating them: even a damaged stream arrives
    // byte for byte, neither dropped nor emptied.
    const QString archive = path(QStringLiteral("damaged.zip"));
    QVERIFY(QFile::copy(m_archives + QStringLiteral("/corrupt_deflate.zip"), archive));
    const QByteArray before = readAll(archive);
    const int centralBefore = centralDirectoryOffset(before);
    const QByteArray stream = before.mid(30 + 8, int(u32(before, centralBefore + 20)));
    QVERIFY(writeAll(path(QStringLiteral("b.txt")), "b"));
    const CallResult result
        = ZipOperations::zipAppend(archive, path(QStringLiteral("b.txt")), QStringLiteral("b.txt"));
    QVERIFY2(result.success, qPrintable(result.message));
    const QByteArray after = readAll(archive);
    const int central = centralDirectoryOffset(after);
    QCOMPARE(after.mid(30, 8), QByteArray("file.txt"));
    QCOMPARE(after.mid(30 + 8, int(u32(after, central + 20))), stream);
    QCOMPARE(u32(after, central + 16), u32(before, centralBefore + 16));
    QCOMPARE(rawNames(archive), (QStringList { "file.txt", "b.txt" }));
}

void TestZipOperations::zipAppendKeepsArchiveFile()
{
    // The replacement takes over the old archive's permissions, and a link to the archive stays
    // a link.
    const QString archive = path(QStringLiteral("real.zip"));
    QVERIFY(makeArchive(archive, { QStringLiteral("a.txt") }));
    const QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser
        | QFile::WriteUser | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(archive, permissions));
    const QString link = path(QStringLiteral("link.zip"));
    QVERIFY(QFile::link(archive, link));
    QVERIFY(writeAll(path(QStringLiteral("b.txt")), "b"));
    const CallResult result
        = ZipOperations::zipAppend(link, path(QStringLiteral("b.txt")), QStringLiteral("b.txt"));
    QVERIFY2(result.success, qPrintable(result.message));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(rawNames(archive), (QStringList { "a.txt", "b.txt" }));
    QCOMPARE(QFile::permissions(archive), permissions);
}

void TestZipOperations::zipAppendFailureCreatesNothing()
{
    const QString archive = path(QStringLiteral("never.zip"));
    const CallResult result = ZipOperations::zipAppend(archive, path(QStringLiteral("missing.txt")),
                                                       QStringLiteral("m"));
    QCOMPARE(result.errorCode, 1003);
    QVERIFY(!QFileInfo::exists(archive));
}

void TestZipOperations::zipAppendReadOnlyArchive()
{
    if (geteuid() == 0)
        QSKIP("file permissions do not bind the superuser");
    const QString archive = path(QStringLiteral("readonly.zip"));
    QVERIFY(makeArchive(archive, { QStringLiteral("a.txt") }));
    QVERIFY(QFile::setPermissions(archive, QFile::ReadOwner | QFile::ReadUser));
    const QByteArray before = readAll(archive);
    QVERIFY(writeAll(path(QStringLiteral("b.txt")), "b"));
    const CallResult result
        = ZipOperations::zipAppend(archive, path(QStringLiteral("b.txt")), QStringLiteral("b.txt"));
    QCOMPARE(result.errorCode, 1002);
    QCOMPARE(result.message,
             QStringLiteral("Cannot add to zip file. The path: ") + archive
                 + QStringLiteral(" is not writable."));
    QCOMPARE(readAll(archive), before);
}

void TestZipOperations::zipAppendLogsItsBlock()
{
    const QString archive = path(QStringLiteral("log.zip"));
    QVERIFY(writeAll(path(QStringLiteral("a.txt")), "a"));
    QVERIFY(ZipOperations::zipAppend(archive, join({ path("a.txt"), path("d/") }),
                                     join({ "a.txt", "d/" }))
                .success);
    QCOMPARE(
        logLines(),
        (QStringList { "--zipAppend--", "zipFilePath: " + archive, "srcFileList: ", path("a.txt"),
                       path("d/"), "destFileList: ", "a.txt", "d/", "-----------" }));
}

void TestZipOperations::zipAppendAll_data()
{
    QTest::addColumn<QStringList>("files"); // below the source directory "data"
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<bool>("relative");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one file") << QStringList { "file.txt" } << false << false
                              << QStringList { "file.txt" };
    QTest::newRow("one file, wrapped")
        << QStringList { "file.txt" } << true << false << QStringList { "data/file.txt" };
    // Relative, the prefix "data/" also occurs inside "data/metadata/x".
    QTest::newRow("prefix text inside a name survives")
        << QStringList { "metadata/x" } << false << true
        << QStringList { "metadata/", "metadata/x" };
    QTest::newRow("prefix text inside a name survives, wrapped")
        << QStringList { "metadata/x" } << true << true
        << QStringList { "data/metadata/", "data/metadata/x" };
    QTest::newRow("nested, absolute") << QStringList { "metadata/x" } << false << false
                                      << QStringList { "metadata/", "metadata/x" };
    QTest::newRow("relative source directory, wrapped")
        << QStringList { "sub/y.txt", "z.txt" } << true << true
        << QStringList { "data/sub/", "data/z.txt", "data/sub/y.txt" };
}

void TestZipOperations::zipAppendAll()
{
    QFETCH(QStringList, files);
    QFETCH(bool, wrap);
    QFETCH(bool, relative);
    QFETCH(QStringList, expected);
    for (const QString &file : files)
        QVERIFY(writeAll(path(QStringLiteral("data/") + file), file.toUtf8()));
    const QString archive = path(QStringLiteral("all.zip"));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(m_work->path());
    const CallResult result = ZipOperations::zipAppendAll(
        archive, relative ? QStringLiteral("data") : path(QStringLiteral("data")), wrap);
    QDir::setCurrent(previous);
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(rawNames(archive), expected);
    ZipReader reader(archive);
    for (const QString &file : files)
        QCOMPARE(reader.fileData((wrap ? QStringLiteral("data/") : QString()) + file),
                 file.toUtf8());
}

void TestZipOperations::zipAppendAllMissingDirectory()
{
    const QString missing = path(QStringLiteral("nope"));
    const CallResult result = ZipOperations::zipAppendAll(path("x.zip"), missing, false);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message,
             QStringLiteral("Directory: ") + missing + QStringLiteral(" does not exist."));
    QVERIFY(!QFileInfo::exists(path("x.zip")));
}

void TestZipOperations::zipExtractChosenEntries()
{
    const QString archive = path(QStringLiteral("pick.zip"));
    QVERIFY(makeArchive(archive, { "a/one.txt", "two.txt", "three.txt" }));
    const CallResult result = ZipOperations::zipExtract(
        archive, join({ "a/one.txt", "two.txt", "a/" }),
        join({ path("out/deep/first.txt"), path("out/second.txt"), path("out/made/dir/") }));
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(readAll(path("out/deep/first.txt")), QByteArray("content of a/one.txt"));
    QCOMPARE(readAll(path("out/second.txt")), QByteArray("content of two.txt"));
    QVERIFY(QFileInfo(path("out/made/dir")).isDir());
    QVERIFY(!QFileInfo::exists(path("out/three.txt")));

    QVERIFY(QFile::remove(m_logPath));
    QVERIFY(ZipOperations::zipExtract(archive, "two.txt", path("again.txt")).success);
    QCOMPARE(logLines(),
             (QStringList { "--zipExtract--", "zipFilePath: " + archive, "srcFileList: ", "two.txt",
                            "destFileList: ", path("again.txt"), "-----------" }));
}

void TestZipOperations::zipExtractFailures_data()
{
    QTest::addColumn<QString>("archiveName"); // "ok" for a good archive of its own
    QTest::addColumn<QString>("sources");
    QTest::addColumn<QString>("destinations"); // relative to the work directory
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // %1 archive, %2 work directory
    QTest::newRow("lists of different length")
        << "ok"
        << "two.txt"
        << "x_INTRADELIM_y" << 5000
        << "zipExtract() source list and destination list parameters are not aligned.";
    QTest::newRow("source not in the archive, checked before writing")
        << "ok"
        << "two.txt_INTRADELIM_Two.txt"
        << "x.txt_INTRADELIM_y.txt" << 1002
        << "Cannot extract from zip file. The zip file: %1 does not contain this path: Two.txt";
    QTest::newRow("missing archive")
        << "missing.zip"
        << "two.txt"
        << "x.txt" << 1000 << "Cannot extract from zip file. The path: %1 does not exist.";
    QTest::newRow("corrupt entry")
        << "flipped_byte.zip"
        << "file.txt"
        << "x.txt" << 1001 << "Cannot extract from zip file. The path: %1 is not readable.";
    QTest::newRow("directory cannot be made")
        << "ok"
        << "two.txt"
        << "blocker/sub/x.txt" << 2000 << "Directory: %2/blocker/sub not could not be created.";
}

void TestZipOperations::zipExtractFailures()
{
    QFETCH(QString, archiveName);
    QFETCH(QString, sources);
    QFETCH(QString, destinations);
    QFETCH(int, code);
    QFETCH(QString, message);
    QString archive = path(QStringLiteral("ok.zip"));
    if (archiveName == QLatin1String("ok"))
        QVERIFY(makeArchive(archive, { "two.txt" }));
    else if (QFileInfo::exists(m_archives + QLatin1Char('/') + archiveName))
        archive = m_archives + QLatin1Char('/') + archiveName;
    else
        archive = path(archiveName);
    QVERIFY(writeAll(path("blocker"), "a file where a directory is wanted"));
    QStringList targets;
    for (const QString &destination : destinations.split(ZipOperations::delimiter()))
        targets.append(path(destination));

    if (code == 1001)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QZip: ")));
    const CallResult result = ZipOperations::zipExtract(archive, sources, join(targets));
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, code);
    QCOMPARE(
        result.message,
        message.replace(QLatin1String("%1"), archive).replace(QLatin1String("%2"), m_work->path()));
    QCOMPARE(QDir(m_work->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (archiveName == QLatin1String("ok") ? QStringList { "blocker", "ok.zip" }
                                                 : QStringList { "blocker" }));
}

void TestZipOperations::zipExtractIntoUnwritableFile()
{
    // A directory where the file should go: the open fails with the toolkit's own error.
    const QString archive = path(QStringLiteral("ok.zip"));
    QVERIFY(makeArchive(archive, { "two.txt" }));
    const QString destination = path(QStringLiteral("taken"));
    QVERIFY(QDir().mkpath(destination));
    QFile probe(destination);
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const CallResult result = ZipOperations::zipExtract(archive, "two.txt", destination);
    QCOMPARE(result.errorCode, int(probe.error()));
    QCOMPARE(result.message,
             probe.errorString() + QStringLiteral(" (File Path: ") + destination
                 + QLatin1Char(')'));
}

void TestZipOperations::zipExtractAllCreatesTree()
{
    const QString archive = m_archives + QStringLiteral("/py_macosx.zip");
    const QString destination = path(QStringLiteral("not/yet/there"));
    const CallResult result = ZipOperations::zipExtractAll(archive, destination);
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(readAll(destination + QStringLiteral("/a.txt")), QByteArray("a"));
    QCOMPARE(readAll(destination + QStringLiteral("/sub/b.txt")), QByteArray("b"));
    QVERIFY(!QFileInfo::exists(destination + QStringLiteral("/__MACOSX")));
    QVERIFY(!QFileInfo::exists(destination + QStringLiteral("/sub/.DS_Store")));

    // A tree written by Info-ZIP comes back whole.
    QVERIFY(writeAll(path("tree/x/y/deep.txt"), "deep"));
    QVERIFY(writeAll(path("tree/top.bin"), noise(100000, 9)));
    const ToolRun zip
        = runTool(QStringLiteral("zip"), { "-q", "-r", path("iz.zip"), "." }, path("tree"));
    QVERIFY2(zip.exitCode == 0, zip.output.constData());
    QVERIFY(ZipOperations::zipExtractAll(path("iz.zip"), path("back\\")).success);
    QCOMPARE(readAll(path("back/x/y/deep.txt")), QByteArray("deep"));
    QVERIFY(readAll(path("back/top.bin")) == noise(100000, 9));
}

void TestZipOperations::zipExtractAllRefusesEscapes_data()
{
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<QString>("entry");
    QTest::newRow("dot-dot") << "dotdot.zip"
                             << "../";
    // The inserted ancestor directories are checked too, and one of them leaves first.
    QTest::newRow("dot-dot after descending") << "dotdot_inner.zip"
                                              << "a/b/../../../";
    QTest::newRow("absolute") << "absolute.zip"
                              << "/tmp/";
    QTest::newRow("drive") << "drive.zip"
                           << "C:/";
    QTest::newRow("backslash dot-dot") << "backslash_dotdot.zip"
                                       << "../";
    QTest::newRow("link leaving the destination") << "symlink_escape.zip"
                                                  << "link";
}

void TestZipOperations::zipExtractAllRefusesEscapes()
{
    QFETCH(QString, archiveName);
    QFETCH(QString, entry);
    const QString archive = m_archives + QLatin1Char('/') + archiveName;
    const QString destination = path(QStringLiteral("level/dest"));
    const CallResult result = ZipOperations::zipExtractAll(archive, destination);
    QCOMPARE(result.errorCode, 1003);
    QCOMPARE(result.message,
             QStringLiteral("Cannot extract from zip file. The entry: ") + entry
                 + QStringLiteral(" lies outside the destination directory."));
    QVERIFY(QDir(m_work->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestZipOperations::zipExtractAllMissingArchive()
{
    const QString archive = path(QStringLiteral("gone.zip"));
    const CallResult result = ZipOperations::zipExtractAll(archive, path("dest"));
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message,
             QStringLiteral("Cannot extract from zip file. The path: ") + archive
                 + QStringLiteral(" does not exist."));
    QVERIFY(!QFileInfo::exists(path("dest")));
}

QTEST_GUILESS_MAIN(TestZipOperations)
#include "tst_zipoperations.moc"
