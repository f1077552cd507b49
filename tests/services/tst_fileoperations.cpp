#include "../docs/deletionguard.h"
#include "platform/prompter.h"
#include "platform/systemopener.h"
#include "platform/textcipher.h"
#include "services/fileoperations.h"
#include "writeinchild.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Answers the file dialogs from a script and records what was asked.
class ScriptedPrompter : public Prompter
{
public:
    QString answer;
    QStringList answers;
    QStringList calls;
    QWidget *lastParent = nullptr;
    QStringList lastArguments;

    QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override
    {
        record(QStringLiteral("open"), parent, { caption, dir, filter });
        return answer;
    }
    QStringList openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                              const QString &filter) override
    {
        record(QStringLiteral("openMany"), parent, { caption, dir, filter });
        return answers;
    }
    QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override
    {
        record(QStringLiteral("save"), parent, { caption, dir, filter });
        return answer;
    }
    QString existingDirectory(QWidget *parent, const QString &caption, const QString &dir) override
    {
        record(QStringLiteral("directory"), parent, { caption, dir });
        return answer;
    }

private:
    void record(const QString &call, QWidget *parent, const QStringList &arguments)
    {
        calls.append(call);
        lastParent = parent;
        lastArguments = arguments;
    }
};

// Opens only files whose name ends with one of the accepted suffixes, and records every path.
class ScriptedOpener : public SystemOpener
{
public:
    QStringList acceptedSuffixes;
    QStringList opened;

    bool openWithAssociatedApplication(const QString &path) override
    {
        opened.append(path);
        for (const QString &suffix : qAsConst(acceptedSuffixes)) {
            if (path.endsWith(suffix))
                return true;
        }
        return false;
    }
};

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestFileOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writeFileCreatesTheDirectoryChain();
    void writeFileKeepsLineFeedsOnThisPlatform();
    void writeFileReportsParentDirectoryFailure();
    void writeFileOntoDirectoryReportsFileError();
    void writeFailingMidwayKeepsOldContent_data();
    void writeFailingMidwayKeepsOldContent();
    void readFileStopsAtNul();
    void readFileKeepsCarriageReturnsOnThisPlatform();
    void readMissingFile_data();
    void readMissingFile();
    void readDirectoryAsFileReportsFileError();
    void binaryForms_data();
    void binaryForms();
    void encryptedRoundTrip_data();
    void encryptedRoundTrip();
    void readEncryptedFileThatDoesNotDecipher();
    void deleteFile();
    void deleteMissingFile();
    void deleteDirectoryReportsFileError();
    void moveFile_data();
    void moveFile();
    void moveOntoExistingFileKeepsBoth();
    void moveCaseOnlyOnCaseSensitiveFileSystem();
    void moveAcrossIntoNewDirectory();
    void moveAcrossWhenTargetDirectoryCannotBeMade();
    void moveDirectoryAcrossFailsToCopy();
    void moveAcrossWhenSourceCannotBeDeleted();
    void renameRefusedInPlace();
    void browseForPath_data();
    void browseForPath();
    void browseForPathCancelled_data();
    void browseForPathCancelled();
    void exportOpensTheWrittenFile();
    void exportRenamesToCarryTheFileType();
    void exportKeepsExtensionDifferingOnlyInCase();
    void exportReportsWriteFailure();
    void exportOfUserFileOutsideSurvivesCleanup();
    void deliverFile_data();
    void deliverFile();
    void deliverGivenBytes();
    void deliverNothingWithoutCallbackOrPath();
    void deliverMissingFileReportsFileError();
    void importWithoutLaunchFileReportsNothing();
    void importDeliversTheLaunchFile();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString makeFile(const QString &relative, const QByteArray &content);

    QScopedPointer<QTemporaryDir> m_dir;
    ScriptedPrompter m_prompter;
    ScriptedOpener m_opener;
};

void TestFileOperations::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), "no temporary directory");
    m_prompter = ScriptedPrompter();
    m_opener = ScriptedOpener();
    Prompter::setCurrent(&m_prompter);
    SystemOpener::setCurrent(&m_opener);
}

void TestFileOperations::cleanup()
{
    Prompter::setCurrent(nullptr);
    SystemOpener::setCurrent(nullptr);
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

QString TestFileOperations::makeFile(const QString &relative, const QByteArray &content)
{
    const QString filePath = path(relative);
    QDir().mkpath(QFileInfo(filePath).path());
    QFile file(filePath);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return filePath;
}

void TestFileOperations::writeFileCreatesTheDirectoryChain()
{
    const QString filePath = path(QStringLiteral("a/b/c/notes.txt"));
    const CallResult result = FileOperations::writeFile(filePath, QStringLiteral("Grüße"));
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(result.message, QString());
    QVERIFY(result.values.isEmpty());
    QCOMPARE(contentOf(filePath), QStringLiteral("Grüße").toUtf8());
}

void TestFileOperations::writeFileKeepsLineFeedsOnThisPlatform()
{
    // Text mode is the platform's: Linux stores a line feed as it is, without a carriage return.
    const QString filePath = path(QStringLiteral("lines.txt"));
    QVERIFY(FileOperations::writeFile(filePath, QStringLiteral("a\nb")).success);
    QCOMPARE(contentOf(filePath), QByteArray("a\nb"));
    QCOMPARE(FileOperations::readFile(filePath).message, QStringLiteral("a\nb"));
}

void TestFileOperations::writeFileReportsParentDirectoryFailure()
{
    makeFile(QStringLiteral("plain"), "x");
    const QString filePath = path(QStringLiteral("plain/sub/notes.txt"));
    for (const CallResult &result :
         { FileOperations::writeFile(filePath, QStringLiteral("x")),
           FileOperations::writeBinaryFile(filePath, QStringLiteral("eA==")),
           FileOperations::writeEncryptedFile(filePath, 0, QStringLiteral("x")) }) {
        QVERIFY(!result.success);
        QCOMPARE(result.errorCode, 2000);
        QCOMPARE(result.message,
                 "Directory: " + path(QStringLiteral("plain/sub")) + " not could not be created.");
    }
}

void TestFileOperations::writeFileOntoDirectoryReportsFileError()
{
    QVERIFY(QDir().mkpath(path(QStringLiteral("taken"))));
    const QString filePath = path(QStringLiteral("taken"));
    const CallResult result = FileOperations::writeFile(filePath, QStringLiteral("x"));
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, int(QFileDevice::OpenError));
    QCOMPARE(result.message, "Is a directory (File Path: " + filePath + ")");
    QVERIFY(QFileInfo(filePath).isDir());
}

void TestFileOperations::writeFailingMidwayKeepsOldContent_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("writeFile") << "writeFile";
    QTest::newRow("writeBinaryFile") << "writeBinaryFile";
    QTest::newRow("writeEncryptedFile") << "writeEncryptedFile";
}

void TestFileOperations::writeFailingMidwayKeepsOldContent()
{
    QFETCH(QString, mode);
    const QByteArray old("old content\r\n\x00\x01 kept byte for byte", 35);
    const QString filePath = makeFile(QStringLiteral("data.bin"), old);
    const QString report = writeInChildWithSizeLimit(mode, filePath, 1 << 20);
    QVERIFY2(!report.isEmpty(), "the write helper did not run");
    // The disk refused the data midway: the file error is reported with its path.
    QVERIFY2(report.startsWith(QLatin1String("0 ")), qPrintable(report));
    QCOMPARE(report, "0 2 File too large (File Path: " + filePath + ")");
    QCOMPARE(contentOf(filePath), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList { "data.bin" });
}

void TestFileOperations::readFileStopsAtNul()
{
    const QByteArray bytes("before\0after", 12);
    const QString filePath = makeFile(QStringLiteral("nul.txt"), bytes);
    const CallResult text = FileOperations::readFile(filePath);
    QVERIFY(text.success);
    QCOMPARE(text.message, QStringLiteral("before"));
    QVERIFY(text.values.isEmpty());
    const CallResult binary = FileOperations::readBinaryFile(filePath);
    QVERIFY(binary.success);
    QCOMPARE(QByteArray::fromBase64(binary.message.toLatin1()), bytes);
    QCOMPARE(binary.message, QString::fromLatin1(bytes.toBase64()));
}

void TestFileOperations::readFileKeepsCarriageReturnsOnThisPlatform()
{
    // Linux has no text mode of its own: CR LF is read back unchanged.
    const QString filePath = makeFile(QStringLiteral("crlf.txt"), "a\r\nb");
    QCOMPARE(FileOperations::readFile(filePath).message, QStringLiteral("a\r\nb"));
}

void TestFileOperations::readMissingFile_data()
{
    QTest::addColumn<int>("call");
    QTest::newRow("readFile") << 0;
    QTest::newRow("readBinaryFile") << 1;
    QTest::newRow("readEncryptedFile") << 2;
}

void TestFileOperations::readMissingFile()
{
    QFETCH(int, call);
    const QString filePath = path(QStringLiteral("missing.txt"));
    const CallResult result = call == 0 ? FileOperations::readFile(filePath)
        : call == 1                     ? FileOperations::readBinaryFile(filePath)
                                        : FileOperations::readEncryptedFile(filePath, 0);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message, "File not found: " + filePath);
}

void TestFileOperations::readDirectoryAsFileReportsFileError()
{
    const CallResult result = FileOperations::readFile(m_dir->path());
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, int(QFileDevice::OpenError));
    QCOMPARE(result.message, "file to open is a directory (File Path: " + m_dir->path() + ")");
}

void TestFileOperations::binaryForms_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray bytes("\x89PNG\r\n\x1a\n\x00\xff", 10);
    const QString base64 = QString::fromLatin1(bytes.toBase64());
    QTest::newRow("bare Base64") << base64 << bytes;
    QTest::newRow("data URL") << "data:image/png;base64," + base64 << bytes;
    QTest::newRow("data URL with a comma in its type")
        << "data:text/plain;name=a,b;base64," + base64 << bytes;
    QTest::newRow("characters outside the alphabet skipped") << "aGVs\nbG8=" << QByteArray("hello");
    QTest::newRow("capital DATA is no data URL")
        << "DATA:x,aGVsbG8=" << QByteArray::fromBase64("DATAx,aGVsbG8=");
    QTest::newRow("empty") << "" << QByteArray();
}

void TestFileOperations::binaryForms()
{
    QFETCH(QString, data);
    QFETCH(QByteArray, expected);
    const QString filePath = path(QStringLiteral("deep/out.bin"));
    const CallResult result = FileOperations::writeBinaryFile(filePath, data);
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(contentOf(filePath), expected);
    QCOMPARE(FileOperations::readBinaryFile(filePath).message,
             QString::fromLatin1(expected.toBase64()));
}

void TestFileOperations::encryptedRoundTrip_data()
{
    QTest::addColumn<quint32>("key");
    QTest::newRow("default key") << 0u;
    QTest::newRow("own key") << 0x12345678u;
}

void TestFileOperations::encryptedRoundTrip()
{
    QFETCH(quint32, key);
    const QString filePath = path(QStringLiteral("secret/file.enc"));
    const QString clear = QStringLiteral("line one\nline two: äöü");
    QVERIFY(FileOperations::writeEncryptedFile(filePath, key, clear).success);
    const QString stored = QString::fromUtf8(contentOf(filePath));
    QVERIFY(!stored.contains(QLatin1String("line one")));
    QCOMPARE(TextCipher::decryptWithKey(stored, key ? key : TextCipher::DefaultKey), clear);
    const CallResult read = FileOperations::readEncryptedFile(filePath, key);
    QVERIFY(read.success);
    QCOMPARE(read.message, clear);
}

void TestFileOperations::readEncryptedFileThatDoesNotDecipher()
{
    const QString filePath = makeFile(QStringLiteral("plain.txt"), "not enciphered at all");
    QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
    const CallResult read = FileOperations::readEncryptedFile(filePath, 0);
    QVERIFY(read.success);
    QCOMPARE(read.message, QString());
}

void TestFileOperations::deleteFile()
{
    const QString filePath = makeFile(QStringLiteral("gone.txt"), "x");
    const CallResult result = FileOperations::deleteFile(filePath);
    QVERIFY(result.success);
    QVERIFY(!QFileInfo::exists(filePath));
}

void TestFileOperations::deleteMissingFile()
{
    const QString filePath = path(QStringLiteral("never.txt"));
    const CallResult result = FileOperations::deleteFile(filePath);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message, "File not found: " + filePath);
}

void TestFileOperations::deleteDirectoryReportsFileError()
{
    const QString dirPath = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(dirPath + "/inside"));
    const CallResult result = FileOperations::deleteFile(dirPath);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, int(QFileDevice::RemoveError));
    QCOMPARE(result.message, "Is a directory (File Path: " + dirPath + ")");
    QVERIFY(QFileInfo(dirPath).isDir());
}

void TestFileOperations::moveFile_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("messageTemplate"); // %1 from, %2 to, paths absolute
    QTest::newRow("rename in place") << "a.txt"
                                     << "b.txt" << -1 << "";
    QTest::newRow("same path") << "a.txt"
                               << "a.txt" << -1 << "";
    QTest::newRow("missing source") << "none.txt"
                                    << "b.txt" << 1000 << "File: %1 does not exist.";
    QTest::newRow("existing target") << "a.txt"
                                     << "other.txt" << 1001 << "File: %2 already exists.";
    QTest::newRow("existing directory target") << "a.txt"
                                               << "dir" << 1001 << "File: %2 already exists.";
}

void TestFileOperations::moveFile()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, code);
    QFETCH(QString, messageTemplate);
    makeFile(QStringLiteral("a.txt"), "payload");
    makeFile(QStringLiteral("other.txt"), "other");
    QVERIFY(QDir().mkpath(path(QStringLiteral("dir"))));
    const CallResult result = FileOperations::moveFile(path(from), path(to));
    if (code < 0) {
        QVERIFY2(result.success, qPrintable(result.message));
        QCOMPARE(contentOf(path(to)), QByteArray("payload"));
        QCOMPARE(QFileInfo::exists(path(from)), from == to);
    } else {
        QVERIFY(!result.success);
        QCOMPARE(result.errorCode, code);
        QString expected = messageTemplate;
        expected.replace(QLatin1String("%1"), path(from)).replace(QLatin1String("%2"), path(to));
        QCOMPARE(result.message, expected);
    }
}

void TestFileOperations::moveOntoExistingFileKeepsBoth()
{
    const QString from = makeFile(QStringLiteral("x/a.txt"), "first");
    const QString to = makeFile(QStringLiteral("y/b.txt"), "second");
    QCOMPARE(FileOperations::moveFile(from, to).errorCode, 1001);
    QCOMPARE(contentOf(from), QByteArray("first"));
    QCOMPARE(contentOf(to), QByteArray("second"));
}

void TestFileOperations::moveCaseOnlyOnCaseSensitiveFileSystem()
{
    // Here two names differing in case are two files, so the move is carried out.
    const QString from = makeFile(QStringLiteral("report.txt"), "payload");
    const QString to = path(QStringLiteral("Report.TXT"));
    const CallResult result = FileOperations::moveFile(from, to);
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList { "Report.TXT" });
    QCOMPARE(contentOf(to), QByteArray("payload"));
}

void TestFileOperations::moveAcrossIntoNewDirectory()
{
    const QString from = makeFile(QStringLiteral("src/a.txt"), "payload");
    const QString to = path(QStringLiteral("new/deeper/a.txt"));
    const CallResult result = FileOperations::moveFile(from, to);
    QVERIFY2(result.success, qPrintable(result.message));
    QVERIFY(!QFileInfo::exists(from));
    QCOMPARE(contentOf(to), QByteArray("payload"));
}

void TestFileOperations::moveAcrossWhenTargetDirectoryCannotBeMade()
{
    const QString from = makeFile(QStringLiteral("a.txt"), "payload");
    makeFile(QStringLiteral("blocker"), "x");
    const CallResult result
        = FileOperations::moveFile(from, path(QStringLiteral("blocker/sub/a.txt")));
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 2000);
    QCOMPARE(result.message,
             "Directory: " + path(QStringLiteral("blocker/sub")) + " not could not be created.");
    QCOMPARE(contentOf(from), QByteArray("payload"));
}

void TestFileOperations::moveDirectoryAcrossFailsToCopy()
{
    const QString from = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(from));
    const QString to = path(QStringLiteral("elsewhere/folder"));
    const CallResult result = FileOperations::moveFile(from, to);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1003);
    QCOMPARE(result.message, "File: " + from + " could not be copied to: " + to + ".");
    QVERIFY(QFileInfo(from).isDir());
}

void TestFileOperations::moveAcrossWhenSourceCannotBeDeleted()
{
    const QString from = makeFile(QStringLiteral("held/a.txt"), "payload");
    const QString to = path(QStringLiteral("out/a.txt"));
    DeletionGuard guard(path(QStringLiteral("held")));
    if (!guard.isActive())
        QSKIP("this system cannot make a directory refuse deletion");
    const CallResult result = FileOperations::moveFile(from, to);
    guard.release();
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1004);
    QCOMPARE(result.message, "File: " + from + " could not be deleted.");
    QCOMPARE(contentOf(from), QByteArray("payload"));
    QCOMPARE(contentOf(to), QByteArray("payload"));
}

void TestFileOperations::renameRefusedInPlace()
{
    const QString from = makeFile(QStringLiteral("held/a.txt"), "payload");
    const QString to = path(QStringLiteral("held/b.txt"));
    DeletionGuard guard(path(QStringLiteral("held")));
    if (!guard.isActive())
        QSKIP("this system cannot make a directory refuse deletion");
    const CallResult result = FileOperations::moveFile(from, to);
    guard.release();
    QCOMPARE(result.errorCode, 1002);
    QCOMPARE(result.message, "File: " + from + " could not be renamed to: " + to + ".");
    QCOMPARE(contentOf(from), QByteArray("payload"));
}

void TestFileOperations::browseForPath_data()
{
    QTest::addColumn<uint>("mode");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("0 save") << 0u << "save"
                            << "/chosen/one" << QStringList { "/chosen/one" };
    QTest::newRow("1 open") << 1u << "open"
                            << "/chosen/one" << QStringList { "/chosen/one" };
    QTest::newRow("2 open several") << 2u << "openMany"
                                    << "" << QStringList { "/a", "/b" };
    QTest::newRow("3 directory") << 3u << "directory"
                                 << "/chosen/one" << QStringList { "/chosen/one" };
    QTest::newRow("7 no dialog") << 7u << ""
                                 << "" << QStringList();
}

void TestFileOperations::browseForPath()
{
    QFETCH(uint, mode);
    QFETCH(QString, dialog);
    QFETCH(QString, data);
    QFETCH(QStringList, values);
    m_prompter.answer = QStringLiteral("/chosen/one");
    m_prompter.answers = QStringList { "/a", "/b" };
    QWidget *parent = reinterpret_cast<QWidget *>(&m_opener); // only passed through, never used
    const QString filter = QStringLiteral("Text (*.txt *.log);;All (*)");
    const CallResult result = FileOperations::browseForPath(
        mode, QStringLiteral("Pick"), QStringLiteral("/start"), filter, parent);
    QVERIFY(result.success);
    QCOMPARE(result.message, data);
    QCOMPARE(result.values, values);
    QCOMPARE(m_prompter.calls, dialog.isEmpty() ? QStringList() : QStringList { dialog });
    if (!dialog.isEmpty()) {
        QCOMPARE(m_prompter.lastParent, parent);
        const QStringList expected = mode == 3 ? QStringList { "Pick", "/start" }
                                               : QStringList { "Pick", "/start", filter };
        QCOMPARE(m_prompter.lastArguments, expected);
    }
}

void TestFileOperations::browseForPathCancelled_data()
{
    QTest::addColumn<uint>("mode");
    QTest::newRow("0 save") << 0u;
    QTest::newRow("1 open") << 1u;
    QTest::newRow("2 open several") << 2u;
    QTest::newRow("3 directory") << 3u;
}

void TestFileOperations::browseForPathCancelled()
{
    QFETCH(uint, mode);
    const CallResult result
        = FileOperations::browseForPath(mode, QString(), QString(), QString(), nullptr);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 0);
    QCOMPARE(result.message, QString());
    QVERIFY(result.values.isEmpty());
    QCOMPARE(m_prompter.calls.size(), 1);
}

void TestFileOperations::exportOpensTheWrittenFile()
{
    m_opener.acceptedSuffixes = QStringList { ".csv" };
    QStringList registered;
    const auto tempFiles = [&registered](const QString &path) { registered.append(path); };
    const QString exportDir = path(QStringLiteral("temp"));
    const CallResult result
        = FileOperations::exportFile(QStringLiteral("table.csv"), QStringLiteral("a;b\n1;2"), false,
                                     QStringLiteral("csv"), tempFiles, exportDir);
    QVERIFY2(result.success, qPrintable(result.message));
    const QString written = exportDir + "/table.csv";
    QCOMPARE(m_opener.opened, QStringList { written });
    QCOMPARE(contentOf(written), QByteArray("a;b\n1;2"));
    QCOMPARE(registered, QStringList { written });
}

void TestFileOperations::exportRenamesToCarryTheFileType()
{
    const QByteArray pdf("%PDF-1.4 bytes");
    QStringList registered;
    const auto tempFiles = [&registered](const QString &path) { registered.append(path); };
    const QString exportDir = path(QStringLiteral("temp"));
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const CallResult result = FileOperations::exportFile(
        QStringLiteral("report"),
        QString::fromLatin1("data:application/pdf;base64," + pdf.toBase64()), true,
        QStringLiteral("pdf"), tempFiles, exportDir);
    QDir::setCurrent(saved);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message,
             QStringLiteral("Could not export file: report. This computer may not "
                            "have an application associated with this file type."));
    // The renamed file lies in the export directory, not in the current directory.
    const QString renamed = exportDir + "/report.pdf";
    QCOMPARE(m_opener.opened, (QStringList { exportDir + "/report", renamed }));
    QCOMPARE(contentOf(renamed), pdf);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("report.pdf"))));
    QCOMPARE(registered, QStringList { renamed });

    m_opener.opened.clear();
    m_opener.acceptedSuffixes = QStringList { ".pdf" };
    QVERIFY(FileOperations::exportFile(QStringLiteral("second"),
                                       QString::fromLatin1(pdf.toBase64()), true,
                                       QStringLiteral("pdf"), tempFiles, exportDir)
                .success);
    QCOMPARE(m_opener.opened.last(), exportDir + "/second.pdf");
}

void TestFileOperations::exportKeepsExtensionDifferingOnlyInCase()
{
    QStringList registered;
    const auto tempFiles = [&registered](const QString &path) { registered.append(path); };
    const QString exportDir = path(QStringLiteral("temp"));
    const CallResult result
        = FileOperations::exportFile(QStringLiteral("report.PDF"), QStringLiteral("x"), false,
                                     QStringLiteral("pdf"), tempFiles, exportDir);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(m_opener.opened, QStringList { exportDir + "/report.PDF" });
    QCOMPARE(registered, QStringList { exportDir + "/report.PDF" });
}

void TestFileOperations::exportReportsWriteFailure()
{
    makeFile(QStringLiteral("blocker"), "x");
    QStringList registered;
    const auto tempFiles = [&registered](const QString &path) { registered.append(path); };
    const CallResult result = FileOperations::exportFile(
        QStringLiteral("a.txt"), QStringLiteral("x"), false, QStringLiteral("txt"), tempFiles,
        path(QStringLiteral("blocker/temp")));
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1001);
    QCOMPARE(result.message,
             QStringLiteral("Could not export file: a.txt. Duplication process failed."));
    QVERIFY(m_opener.opened.isEmpty());
    QVERIFY(registered.isEmpty());
}

void TestFileOperations::exportOfUserFileOutsideSurvivesCleanup()
{
    m_opener.acceptedSuffixes = QStringList { ".txt" };
    QStringList registered;
    const auto tempFiles = [&registered](const QString &path) { registered.append(path); };
    const QString exportDir = path(QStringLiteral("temp"));
    const QString userFile = path(QStringLiteral("documents/mine.txt"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("documents"))));
    const QString inside = QStringLiteral("inside.txt");
    QVERIFY(FileOperations::exportFile(userFile, QStringLiteral("user's own"), false,
                                       QStringLiteral("txt"), tempFiles, exportDir)
                .success);
    QVERIFY(FileOperations::exportFile(inside, QStringLiteral("temporary"), false,
                                       QStringLiteral("txt"), tempFiles, exportDir)
                .success);
    QVERIFY(FileOperations::exportFile(QStringLiteral("../escaped.txt"), QStringLiteral("out"),
                                       false, QStringLiteral("txt"), tempFiles, exportDir)
                .success);
    QCOMPARE(registered, QStringList { exportDir + "/" + inside });
    QCOMPARE(contentOf(userFile), QByteArray("user's own"));
    QCOMPARE(contentOf(path(QStringLiteral("escaped.txt"))), QByteArray("out"));
}

void TestFileOperations::deliverFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("binaryFlag");
    QTest::addColumn<QString>("extension");
    const QByteArray png("\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR", 16);
    QTest::newRow("text") << "notes.txt" << QByteArray("hello\nworld") << "hello\nworld"
                          << "0"
                          << "txt";
    QTest::newRow("capital extension") << "NOTES.TXT" << QByteArray("hi") << "hi"
                                       << "0"
                                       << "txt";
    QTest::newRow("text stops at NUL") << "cut.txt" << QByteArray("kept\0dropped", 12) << "kept"
                                       << "0"
                                       << "txt";
    QTest::newRow("binary") << "image.png" << png << QString::fromLatin1(png.toBase64()) << "1"
                            << "png";
    QTest::newRow("no extension text")
        << "notes" << QByteArray("plain text here\n") << "plain text here\n"
        << "0"
        << "";
}

void TestFileOperations::deliverFile()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, content);
    QFETCH(QString, binaryFlag);
    QFETCH(QString, extension);
    const QString filePath = makeFile(fileName, bytes);
    const std::optional<CallResult> result
        = FileOperations::deliverFile(QStringLiteral("onFile"), filePath);
    QVERIFY(result.has_value());
    QVERIFY(result->success);
    QCOMPARE(result->message, QString());
    QCOMPARE(result->values, (QStringList { fileName, content, binaryFlag, extension }));
}

void TestFileOperations::deliverGivenBytes()
{
    // The bytes in memory are sent; the path only names the file and need not exist.
    const QByteArray pdf("%PDF-1.4\n\x00\x01", 11);
    const std::optional<CallResult> result = FileOperations::deliverFile(
        QStringLiteral("onPdf"), path(QStringLiteral("out/Doc.PDF")), pdf);
    QVERIFY(result.has_value());
    QVERIFY(result->success);
    QCOMPARE(result->values,
             (QStringList { "Doc.PDF", QString::fromLatin1(pdf.toBase64()), "1", "pdf" }));
}

void TestFileOperations::deliverNothingWithoutCallbackOrPath()
{
    const QString filePath = makeFile(QStringLiteral("a.txt"), "x");
    QVERIFY(!FileOperations::deliverFile(QString(), filePath).has_value());
    QVERIFY(!FileOperations::deliverFile(QStringLiteral("onFile"), QString()).has_value());
    QVERIFY(!FileOperations::deliverFile(QString(), filePath, QByteArray("x")).has_value());
}

void TestFileOperations::deliverMissingFileReportsFileError()
{
    const QString filePath = path(QStringLiteral("gone.txt"));
    const std::optional<CallResult> result
        = FileOperations::deliverFile(QStringLiteral("onFile"), filePath);
    QVERIFY(result.has_value());
    QVERIFY(!result->success);
    QCOMPARE(result->errorCode, int(QFileDevice::OpenError));
    QCOMPARE(result->message, "No such file or directory (File Path: " + filePath + ")");
}

void TestFileOperations::importWithoutLaunchFileReportsNothing()
{
    QVERIFY(!FileOperations::onImportFile(QString(), QStringLiteral("onImport")).has_value());
}

void TestFileOperations::importDeliversTheLaunchFile()
{
    const QString filePath = makeFile(QStringLiteral("Start.XML"), "<doc/>");
    QVERIFY(!FileOperations::onImportFile(filePath, QString()).has_value());
    for (int call = 0; call < 2; ++call) {
        const std::optional<CallResult> result
            = FileOperations::onImportFile(filePath, QStringLiteral("onImport"));
        QVERIFY(result.has_value());
        QVERIFY(result->success);
        QCOMPARE(result->values, (QStringList { "Start.XML", "<doc/>", "0", "xml" }));
    }
}

QTEST_MAIN(TestFileOperations)
#include "tst_fileoperations.moc"
