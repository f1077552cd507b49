#include "../docs/deletionguard.h"
#include "platform/systemopener.h"
#include "platform/textcipher.h"
#include "services/fileoperations.h"
#include "writeinchild.h"
#include "ziptestsupport.h"

#include <QtTest>

using namespace ZipTestSupport;

namespace {

// Opens only files whose name ends with the accepted suffix, and records every path.
class ScriptedOpener : public SystemOpener
{
public:
    QString acceptedSuffix;
    QStringList opened;

    bool openWithAssociatedApplication(const QString &path) override
    {
        opened.append(path);
        return !acceptedSuffix.isEmpty() && path.endsWith(acceptedSuffix);
    }
};

// The message with %1, %2, ... replaced by the values in their order.
QString filled(QString message, const QStringList &values)
{
    for (int i = 0; i < values.size(); ++i)
        message.replace(QLatin1Char('%') + QString::number(i + 1), values.at(i));
    return message;
}

// The rows of the tables below; their _data() functions say what the fields hold.
struct RoundTrip
{
    QString call, data;
    QByteArray stored;
    QString readBack;
    quint32 key = 0;
};

struct Call
{
    QString call, from, to, guarded;
    int code;
    QString message;
};

struct Export
{
    QString fileName, data;
    bool binary;
    QString accepted;
    int code;
    QStringList opened;
    bool queued;
};

struct Delivery
{
    QString via, fileName;
    QByteArray bytes;
    QStringList values;
};

} // namespace

Q_DECLARE_METATYPE(RoundTrip)
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Export)
Q_DECLARE_METATYPE(Delivery)

class TestFileOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void roundTrips_data();
    void roundTrips();
    void writeFailingMidwayKeepsOldContent_data();
    void writeFailingMidwayKeepsOldContent();
    void calls_data();
    void calls();
    void exportFile_data();
    void exportFile();
    void deliverFile_data();
    void deliverFile();
    void nothingToDeliver();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString makeFile(const QString &relative, const QByteArray &content) const
    {
        return writeAll(path(relative), content) ? path(relative) : QString();
    }

    QScopedPointer<QTemporaryDir> m_dir;
    ScriptedOpener m_opener;
};

void TestFileOperations::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), "no temporary directory");
    m_opener = ScriptedOpener();
    SystemOpener::setCurrent(&m_opener);
}

void TestFileOperations::cleanup()
{
    SystemOpener::setCurrent(nullptr);
    m_dir->setAutoRemove(!QTest::currentTestFailed());
}

void TestFileOperations::roundTrips_data()
{
    // Written by call ("text", "binary" or "encrypted"), data is stored (enciphered when null)
    // and read back. Text mode is the platform's: here line ends are stored as they are.
    QTest::addColumn<RoundTrip>("c");
    QTest::newRow("text: UTF-8") << RoundTrip { "text", "Grüße", "Grüße", "Grüße" };
    QTest::newRow("text: line feeds") << RoundTrip { "text", "a\nb", "a\nb", "a\nb" };
    QTest::newRow("text: carriage returns") << RoundTrip { "text", "a\r\nb", "a\r\nb", "a\r\nb" };
    QTest::newRow("text: reading stops at NUL")
        << RoundTrip { "text", QString::fromLatin1("before\0after", 12),
                       QByteArray("before\0after", 12), "before" };
    const QByteArray bytes("\x89PNG\r\n\x1a\n\x00\xff", 10);
    const QString base64 = QString::fromLatin1(bytes.toBase64());
    QTest::newRow("binary: bare Base64") << RoundTrip { "binary", base64, bytes, base64 };
    QTest::newRow("binary: data URL, comma in its type")
        << RoundTrip { "binary", "data:text/plain;name=a,b;base64," + base64, bytes, base64 };
    QTest::newRow("encrypted: default key")
        << RoundTrip { "encrypted", "line\näöü", QByteArray(), "line\näöü" };
    QTest::newRow("encrypted: own key")
        << RoundTrip { "encrypted", "line", QByteArray(), "line", 0x12345678 };
}

// The directories on the way are made.
void TestFileOperations::roundTrips()
{
    QFETCH(RoundTrip, c);
    const QString filePath = path("a/b/file");
    const bool text = c.call == QLatin1String("text"), binary = c.call == QLatin1String("binary");
    const CallResult written = text ? FileOperations::writeFile(filePath, c.data)
        : binary                    ? FileOperations::writeBinaryFile(filePath, c.data)
                                    : FileOperations::writeEncryptedFile(filePath, c.key, c.data);
    QVERIFY2(written.success && written.message.isEmpty() && written.values.isEmpty(),
             qPrintable(written.message));
    const QByteArray stored = readAll(filePath);
    if (c.stored.isNull()) {
        const quint32 key = c.key ? c.key : TextCipher::DefaultKey;
        QCOMPARE(TextCipher::decryptWithKey(QString::fromUtf8(stored), key), c.data);
    } else {
        QCOMPARE(stored, c.stored);
    }
    const CallResult read = text ? FileOperations::readFile(filePath)
        : binary                 ? FileOperations::readBinaryFile(filePath)
                                 : FileOperations::readEncryptedFile(filePath, c.key);
    QVERIFY(read.success && read.values.isEmpty());
    QCOMPARE(read.message, c.readBack);
}

void TestFileOperations::writeFailingMidwayKeepsOldContent_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("writeFile") << "writeFile";
    QTest::newRow("writeBinaryFile") << "writeBinaryFile";
    QTest::newRow("writeEncryptedFile") << "writeEncryptedFile";
}

// The disk refuses the data midway: the write reports the disk's error with the path, and the
// old file stays byte for byte with no temporary file beside it.
void TestFileOperations::writeFailingMidwayKeepsOldContent()
{
    QFETCH(QString, mode);
    const QByteArray old("old content\r\n\x00\x01 kept byte for byte", 35);
    const QString filePath = makeFile("data.bin", old);
    const QString report = writeInChildWithSizeLimit(mode, filePath, 1 << 20);
    QCOMPARE(report, QString("0 2 File too large (File Path: " + filePath + ")"));
    QCOMPARE(readAll(filePath), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList { "data.bin" });
}

void TestFileOperations::calls_data()
{
    // Paths are in the test's directory, which holds a.txt and held/a.txt ("payload"),
    // other/b.txt and the file blocker; guarded names a directory that refuses deletions. In
    // messages %1 stands for the path (or the source of a move), %2 for the target of a move
    // and %3 for the directory of either.
    QTest::addColumn<Call>("c");
    const auto row = [](const char *name, const Call &call) {
        QTest::addRow("%s: %s", qPrintable(call.call), name) << call;
    };
    const char *parentFailed = "Directory: %3 not could not be created.";
    for (const char *call : { "writeFile", "writeBinaryFile", "writeEncryptedFile" })
        row("its directory cannot be made",
            { call, "blocker/sub/n.txt", "", "", 2000, parentFailed });
    row("onto a directory", { "writeFile", "other", "", "", 5, "Is a directory (File Path: %1)" });
    for (const char *call : { "readFile", "readBinaryFile", "readEncryptedFile", "deleteFile" })
        row("missing", { call, "none.txt", "", "", 1000, "File not found: %1" });
    row("a directory",
        { "readFile", "other", "", "", 5, "file to open is a directory (File Path: %1)" });
    row("a file", { "deleteFile", "a.txt", "", "", 0, "" });
    row("a directory",
        { "deleteFile", "other", "", "", QFileDevice::RemoveError,
          "Is a directory (File Path: %1)" });
    row("missing",
        { "deliverFile", "none.txt", "", "", 5, "No such file or directory (File Path: %1)" });
    row("rename in place", { "moveFile", "a.txt", "b.txt", "", 0, "" });
    row("same path", { "moveFile", "a.txt", "a.txt", "", 0, "" });
    // Here two names differing in case are two files, so the move is carried out.
    row("letter case only", { "moveFile", "a.txt", "A.TXT", "", 0, "" });
    row("across into new directories", { "moveFile", "a.txt", "new/deeper/a.txt", "", 0, "" });
    row("missing source",
        { "moveFile", "none.txt", "b.txt", "", 1000, "File: %1 does not exist." });
    row("existing target",
        { "moveFile", "a.txt", "other/b.txt", "", 1001, "File: %2 already exists." });
    row("existing directory target",
        { "moveFile", "a.txt", "other", "", 1001, "File: %2 already exists." });
    row("target directory cannot be made",
        { "moveFile", "a.txt", "blocker/sub/a.txt", "", 2000, parentFailed });
    row("a directory across",
        { "moveFile", "other", "elsewhere/other", "", 1003,
          "File: %1 could not be copied to: %2." });
    row("across, source cannot be deleted",
        { "moveFile", "held/a.txt", "out/a.txt", "held", 1004, "File: %1 could not be deleted." });
    row("rename refused in place",
        { "moveFile", "held/a.txt", "held/b.txt", "held", 1002,
          "File: %1 could not be renamed to: %2." });
}

// A call that fails loses and changes nothing; one that succeeds leaves the file where it says.
void TestFileOperations::calls()
{
    QFETCH(Call, c);
    for (const char *name : { "a.txt", "held/a.txt" })
        QVERIFY(writeAll(path(QLatin1String(name)), "payload"));
    QVERIFY(writeAll(path("other/b.txt"), "other") && writeAll(path("blocker"), "x"));
    const QStringList before = snapshot(m_dir->path());
    std::unique_ptr<DeletionGuard> guard;
    if (!c.guarded.isEmpty()) {
        guard.reset(new DeletionGuard(path(c.guarded)));
        if (!guard->isActive())
            QSKIP("this system cannot make a directory refuse deletion");
    }
    const QString from = path(c.from), to = path(c.to);
    CallResult result;
    if (c.call == QLatin1String("writeFile"))
        result = FileOperations::writeFile(from, "x");
    else if (c.call == QLatin1String("writeBinaryFile"))
        result = FileOperations::writeBinaryFile(from, "eA==");
    else if (c.call == QLatin1String("writeEncryptedFile"))
        result = FileOperations::writeEncryptedFile(from, 0, "x");
    else if (c.call == QLatin1String("readFile"))
        result = FileOperations::readFile(from);
    else if (c.call == QLatin1String("readBinaryFile"))
        result = FileOperations::readBinaryFile(from);
    else if (c.call == QLatin1String("readEncryptedFile"))
        result = FileOperations::readEncryptedFile(from, 0);
    else if (c.call == QLatin1String("deleteFile"))
        result = FileOperations::deleteFile(from);
    else if (c.call == QLatin1String("deliverFile"))
        result = FileOperations::deliverFile("onFile", from).value_or(CallResult());
    else
        result = FileOperations::moveFile(from, to);
    guard.reset();
    QCOMPARE(result.errorCode, c.code);
    QCOMPARE(result.message,
             filled(c.message, { from, to, QFileInfo(c.to.isEmpty() ? from : to).path() }));
    QCOMPARE(result.success, c.code == 0);
    if (c.code != 0) {
        const QStringList after = snapshot(m_dir->path());
        for (const QString &item : before)
            QVERIFY2(after.contains(item), qPrintable("lost or changed: " + item));
    } else if (c.call == QLatin1String("deleteFile")) {
        QVERIFY(!QFileInfo::exists(from));
    } else {
        QCOMPARE(readAll(to), QByteArray("payload"));
        QCOMPARE(QFileInfo::exists(from), from == to);
    }
}

void TestFileOperations::exportFile_data()
{
    // The name, the data and whether it is binary; the suffix the opener accepts; the code, the
    // paths opened (the last holds the data; "%" stands for the export directory, "@" for the
    // test's) and whether the last is queued for deletion.
    QTest::addColumn<Export>("c");
    const QString pdf = QString::fromLatin1(QByteArray("%PDF-1.4 bytes").toBase64());
    const QStringList renamed { "%/report", "%/report.pdf" };
    QTest::newRow("opened as written")
        << Export { "table.csv", "a;b", false, ".csv", 0, { "%/table.csv" }, true };
    // Without an application for the bare name the type is appended, beside the written file.
    QTest::newRow("renamed to carry the type, no application")
        << Export { "report", "data:application/pdf;base64," + pdf, true, "", 1000, renamed, true };
    QTest::newRow("renamed to carry the type, then opened")
        << Export { "report", pdf, true, ".pdf", 0, renamed, true };
    QTest::newRow("type differing only in case is not appended")
        << Export { "report.PDF", "x", false, "", 1000, { "%/report.PDF" }, true };
    QTest::newRow("a file of the user's outside is never queued")
        << Export { "@/docs/mine.txt", "mine", false, ".txt", 0, { "@/docs/mine.txt" }, false };
    QTest::newRow("a name leading outside is never queued")
        << Export { "../out.txt", "out", false, ".txt", 0, { "@/out.txt" }, false };
    QTest::newRow("write failure")
        << Export { "blocker/a.txt", "x", false, ".txt", 1001, {}, false };
}

// The file lands in the export directory, never in the current one; only a file inside the
// export directory is queued for deletion.
void TestFileOperations::exportFile()
{
    QFETCH(Export, c);
    const QString exportDir = path("temp");
    const auto resolve = [&](QStringList texts) {
        texts.replaceInStrings("%", exportDir);
        return texts.replaceInStrings("@", m_dir->path());
    };
    makeFile("temp/blocker", "x");
    QVERIFY(QDir().mkpath(path("docs")));
    m_opener.acceptedSuffix = c.accepted;
    QStringList queued;
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(path("docs")));
    const QString name = resolve({ c.fileName }).first();
    const CallResult result = FileOperations::exportFile(
        name, c.data, c.binary, "pdf",
        [&queued](const QString &queuedPath) { queued.append(queuedPath); }, exportDir);
    QDir::setCurrent(saved);
    QCOMPARE(result.errorCode, c.code);
    const QString reason = c.code == 1000
        ? "This computer may not have an application associated with this file type."
        : "Duplication process failed.";
    QCOMPARE(result.message,
             c.code == 0 ? QString() : "Could not export file: " + name + ". " + reason);
    const QStringList opened = resolve(c.opened);
    QCOMPARE(m_opener.opened, opened);
    QCOMPARE(queued, c.queued ? QStringList { opened.last() } : QStringList());
    if (!opened.isEmpty()) {
        QCOMPARE(readAll(opened.last()),
                 c.binary ? QByteArray::fromBase64(c.data.section(QLatin1Char(','), -1).toLatin1())
                          : c.data.toUtf8());
    }
}

void TestFileOperations::deliverFile_data()
{
    // Via "file", "bytes" (handed over, no file read) or "import", the values delivered: name,
    // content, binary flag, extension.
    QTest::addColumn<Delivery>("c");
    const QByteArray png("\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR", 16);
    const QByteArray pdf("%PDF-1.4\n\x00\x01", 11);
    QTest::newRow("text") << Delivery {
        "file", "notes.txt", "hello\nworld", { "notes.txt", "hello\nworld", "0", "txt" }
    };
    QTest::newRow("text stops at NUL") << Delivery {
        "file", "cut.txt", QByteArray("kept\0gone", 9), { "cut.txt", "kept", "0", "txt" }
    };
    QTest::newRow("binary") << Delivery {
        "file", "image.png", png, { "image.png", png.toBase64(), "1", "png" }
    };
    QTest::newRow("bytes handed over")
        << Delivery { "bytes", "out/Doc.PDF", pdf, { "Doc.PDF", pdf.toBase64(), "1", "pdf" } };
    QTest::newRow("the launch file")
        << Delivery { "import", "Start.XML", "<doc/>", { "Start.XML", "<doc/>", "0", "xml" } };
}

void TestFileOperations::deliverFile()
{
    QFETCH(Delivery, c);
    const QString callback = QStringLiteral("onFile");
    const bool given = c.via == QLatin1String("bytes");
    const QString filePath = given ? path(c.fileName) : makeFile(c.fileName, c.bytes);
    const std::optional<CallResult> result = given
        ? FileOperations::deliverFile(callback, filePath, c.bytes)
        : c.via == QLatin1String("import") ? FileOperations::onImportFile(filePath, callback)
                                           : FileOperations::deliverFile(callback, filePath);
    QVERIFY(result.has_value() && result->success);
    QCOMPARE(result->message, QString());
    QCOMPARE(result->values, c.values);
}

// Without a callback, a path or a launch file there is nothing to deliver.
void TestFileOperations::nothingToDeliver()
{
    const QString filePath = makeFile("a.txt", "x");
    QVERIFY(!FileOperations::deliverFile(QString(), filePath).has_value());
    QVERIFY(!FileOperations::deliverFile("onFile", QString()).has_value());
    QVERIFY(!FileOperations::deliverFile(QString(), filePath, "x").has_value());
    QVERIFY(!FileOperations::onImportFile(QString(), "onImport").has_value());
    QVERIFY(!FileOperations::onImportFile(filePath, QString()).has_value());
}

QTEST_GUILESS_MAIN(TestFileOperations)
#include "tst_fileoperations.moc"
