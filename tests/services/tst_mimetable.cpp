#include "services/mimetable.h"

#include <QtTest>

class TestMimeTable : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data();
    void decisions();
    void fileDecisions_data();
    void fileDecisions();
};

void TestMimeTable::decisions_data()
{
    // Each registration is "type extension binary"; without a type it registers the extension.
    QTest::addColumn<QStringList>("registrations");
    QTest::addColumn<int>("added"); // entries the table gains
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("isBinary");
    const auto row = [](const char *name, const QStringList &registrations, int added,
                        const char *mimeType, const char *extension, bool isBinary) {
        QTest::newRow(name) << registrations << added << mimeType << extension << isBinary;
    };
    row("built in: its own extension under a text type", {}, 0, "text/plain", "txt", false);
    row("built in: another extension under a text type", {}, 0, "text/plain", "zzz", false);
    // A type missing from the table is binary, whatever the text rule says of it.
    row("built in: text type missing from the table", {}, 0, "text/csv", "csv", true);
    row("built in: binary type", {}, 0, "image/png", "png", true);
    row("built in: empty type", {}, 0, "", "", true);
    row("extension: overrides the type", { " .csv 0" }, 1, "image/png", "csv", false);
    row("extension: decides without a type", { " .csv 0" }, 1, "", "csv", false);
    row("extension: stored without its dot", { " .csv 0" }, 1, "image/png", ".csv", true);
    row("extension: the later registration replaces", { " dat 0", " .dat 1" }, 1, "text/plain",
        "dat", true);
    row("type: decides for unknown extensions", { "text/plain .zz 1" }, 1, "text/plain", "qq",
        true);
    row("type: known extensions keep their own", { "text/plain .zz 1" }, 1, "text/plain", "txt",
        false);
    row("type: the later registration replaces", { "text/plain .zz 1", "text/plain zz 0" }, 1,
        "text/plain", "qq", false);
    row("type: the newest decides for unknown extensions", { "x/t one 1", "x/t two 0" }, 2, "x/t",
        "three", false);
    row("type: an older one decides for its own", { "x/t one 1", "x/t two 0" }, 2, "x/t", "one",
        true);
}

void TestMimeTable::decisions()
{
    QFETCH(QStringList, registrations);
    QFETCH(int, added);
    QFETCH(QString, mimeType);
    QFETCH(QString, extension);
    QFETCH(bool, isBinary);
    MimeTable table;
    const int size = table.size();
    for (const QString &registration : registrations) {
        const QStringList parts = registration.split(QLatin1Char(' '));
        const bool binary = parts.at(2) == QLatin1String("1");
        const CallResult result = parts.at(0).isEmpty()
            ? table.registerExtension(parts.at(1), binary)
            : table.registerMimeType(parts.at(0), parts.at(1), binary, false);
        QVERIFY(result.success && result.message.isEmpty() && result.values.isEmpty());
    }
    QCOMPARE(table.size(), size + added);
    QCOMPARE(table.isBinaryType(mimeType, extension), isBinary);
}

void TestMimeTable::fileDecisions_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("csvAsText"); // the page registered "csv" as text
    QTest::addColumn<bool>("isBinary");
    const auto row = [](const char *name, const char *fileName, const QByteArray &content,
                        bool csvAsText, bool isBinary) {
        QTest::newRow(name) << fileName << content << csvAsText << isBinary;
    };
    row("txt", "notes.txt", "plain words\n", false, false);
    row("TXT in capitals", "NOTES.TXT", "plain words\n", false, false);
    row("html", "page.html", "<html><body>x</body></html>", false, false);
    row("csv", "data.csv", "a,b\n1,2\n", false, true);
    row("csv registered as text", "data.csv", "a,b\n", true, false);
    row("png", "image.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), false, true);
}

// The toolkit's database names the type from the file's name and content.
void TestMimeTable::fileDecisions()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, csvAsText);
    QFETCH(bool, isBinary);
    QTemporaryDir dir;
    QFile file(dir.filePath(fileName));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    MimeTable table;
    if (csvAsText)
        QVERIFY(table.registerExtension("csv", false).success);
    QCOMPARE(table.isBinaryFile(file.fileName()), isBinary);
}

QTEST_GUILESS_MAIN(TestMimeTable)
#include "tst_mimetable.moc"
