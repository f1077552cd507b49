#include "services/mimetable.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestMimeTable : public QObject
{
    Q_OBJECT

private slots:
    void builtInRowsAreTheTextTable();
    void textRule_data();
    void textRule();
    void extensionOf_data();
    void extensionOf();
    void builtInDecisions_data();
    void builtInDecisions();
    void fileDecisions_data();
    void fileDecisions();
    void registeredExtensionOverridesDatabaseType();
    void registeringTwiceKeepsTheLaterEntry();
    void registerExtensionRefusals_data();
    void registerExtensionRefusals();
    void registeredMimeTypeDecidesForUnknownExtensions();
    void registerMimeTypeRefusals_data();
    void registerMimeTypeRefusals();
    void newestEntryIsVisitedFirst();
};

void TestMimeTable::builtInRowsAreTheTextTable()
{
    MimeTable table;
    QCOMPARE(table.size(), 98);
    QCOMPARE(table.entries(QStringLiteral("text/plain")).size(), 25);
    QCOMPARE(table.entries(QStringLiteral("text/html")).size(), 6);
    QCOMPARE(table.entries(QStringLiteral("text/x-script.phyton")).size(), 1);
    for (const MimeEntry &entry : table.entries(QStringLiteral("text/plain"))) {
        QVERIFY(entry.isBinary);
        QVERIFY(!entry.isRegistered);
        QVERIFY(!entry.isDefaultExtension);
    }
}

void TestMimeTable::textRule_data()
{
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<bool>("isText");
    QTest::newRow("text/plain") << "text/plain" << true;
    QTest::newRow("text/csv") << "text/csv" << true;
    QTest::newRow("+xml") << "image/svg+xml" << true;
    QTest::newRow("application/xml") << "application/xml" << true;
    QTest::newRow("application/json") << "application/json" << false;
    QTest::newRow("capital Text") << "Text/plain" << false;
    QTest::newRow("+XML capital") << "image/svg+XML" << false;
    QTest::newRow("xml-dtd") << "application/xml-dtd" << false;
    QTest::newRow("empty") << "" << false;
}

void TestMimeTable::textRule()
{
    QFETCH(QString, mimeType);
    QFETCH(bool, isText);
    QCOMPARE(MimeTable::isTextType(mimeType), isText);
}

void TestMimeTable::extensionOf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extension");
    QTest::newRow("plain") << "/a/b/report.txt"
                           << "txt";
    QTest::newRow("capitals") << "/a/REPORT.PDF"
                              << "pdf";
    QTest::newRow("two dots") << "archive.tar.gz"
                              << "gz";
    QTest::newRow("no dot") << "/a/README"
                            << "";
    QTest::newRow("dot in directory only") << "/a.b/README"
                                           << "";
    QTest::newRow("leading dot") << "/a/.bashrc"
                                 << "bashrc";
    QTest::newRow("trailing dot") << "name."
                                  << "";
}

void TestMimeTable::extensionOf()
{
    QFETCH(QString, path);
    QFETCH(QString, extension);
    QCOMPARE(MimeTable::extensionOf(path), extension);
}

void TestMimeTable::builtInDecisions_data()
{
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("isBinary");
    QTest::newRow("txt as text/plain") << "text/plain"
                                       << "txt" << false;
    QTest::newRow("other extension under text/plain") << "text/plain"
                                                      << "zzz" << false;
    QTest::newRow("xml as application/xml") << "application/xml"
                                            << "xml" << false;
    QTest::newRow("py as the misspelt script type") << "text/x-script.phyton"
                                                    << "py" << false;
    QTest::newRow("text/csv not in the table") << "text/csv"
                                               << "csv" << true;
    QTest::newRow("text/markdown not in the table") << "text/markdown"
                                                    << "md" << true;
    QTest::newRow("application/json") << "application/json"
                                      << "json" << true;
    QTest::newRow("svg+xml not in the table") << "image/svg+xml"
                                              << "svg" << true;
    QTest::newRow("png") << "image/png"
                         << "png" << true;
    QTest::newRow("empty type") << ""
                                << "" << true;
}

void TestMimeTable::builtInDecisions()
{
    QFETCH(QString, mimeType);
    QFETCH(QString, extension);
    QFETCH(bool, isBinary);
    MimeTable table;
    QCOMPARE(table.isBinaryType(mimeType, extension), isBinary);
}

void TestMimeTable::fileDecisions_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("isBinary");
    QTest::newRow("txt") << "notes.txt" << QByteArray("plain words\n") << false;
    QTest::newRow("TXT in capitals") << "NOTES.TXT" << QByteArray("plain words\n") << false;
    QTest::newRow("html") << "page.html" << QByteArray("<html><body>x</body></html>") << false;
    QTest::newRow("csv") << "data.csv" << QByteArray("a,b\n1,2\n") << true;
    QTest::newRow("json") << "data.json" << QByteArray("{\"a\": 1}") << true;
    QTest::newRow("svg") << "image.svg" << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"/>")
                         << true;
    QTest::newRow("png") << "image.png" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << true;
}

void TestMimeTable::fileDecisions()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, isBinary);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(fileName));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    MimeTable table;
    QCOMPARE(table.isBinaryFile(file.fileName()), isBinary);
}

void TestMimeTable::registeredExtensionOverridesDatabaseType()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("data.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("a,b\n");
    file.close();

    MimeTable table;
    QVERIFY(table.isBinaryFile(file.fileName()));
    const CallResult result = table.registerExtension(QStringLiteral(".csv"), false);
    QVERIFY(result.success);
    QCOMPARE(result.message, QString());
    QVERIFY(result.values.isEmpty());
    QVERIFY(!table.isBinaryFile(file.fileName()));
    QVERIFY(!table.isBinaryType(QStringLiteral("image/png"), QStringLiteral("csv")));
    QVERIFY(!table.isBinaryType(QString(), QStringLiteral("csv")));
    // The stored extension lost its dot, so a lookup with the dot finds nothing registered.
    QVERIFY(table.isBinaryType(QStringLiteral("image/png"), QStringLiteral(".csv")));
}

void TestMimeTable::registeringTwiceKeepsTheLaterEntry()
{
    MimeTable table;
    QVERIFY(table.registerExtension(QStringLiteral("dat"), false).success);
    QVERIFY(table.registerExtension(QStringLiteral(".dat"), true).success);
    const QList<MimeEntry> entries = table.entries(QStringLiteral("application/dat"));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().extension, QStringLiteral("dat"));
    QVERIFY(entries.first().isBinary);
    QVERIFY(entries.first().isRegistered);
    QVERIFY(entries.first().isDefaultExtension);
    QVERIFY(table.isBinaryType(QStringLiteral("text/plain"), QStringLiteral("dat")));
}

void TestMimeTable::registerExtensionRefusals_data()
{
    QTest::addColumn<QString>("extension");
    QTest::newRow("null") << QString();
    QTest::newRow("empty") << QStringLiteral("");
    QTest::newRow("dot") << QStringLiteral(".");
    QTest::newRow("dot with blanks") << QStringLiteral(" . ");
}

void TestMimeTable::registerExtensionRefusals()
{
    QFETCH(QString, extension);
    MimeTable table;
    const CallResult result = table.registerExtension(extension, false);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message, "Could not register extension: \"" + extension + "\"");
    QCOMPARE(table.size(), 98);
}

void TestMimeTable::registeredMimeTypeDecidesForUnknownExtensions()
{
    MimeTable table;
    const QString plain = QStringLiteral("text/plain");
    QVERIFY(table.registerMimeType(plain, QStringLiteral(".zz"), true, false).success);
    QVERIFY(table.isBinaryType(plain, QStringLiteral("qq")));
    QVERIFY(table.isBinaryType(plain, QStringLiteral("zz")));
    QVERIFY(!table.isBinaryType(plain, QStringLiteral("txt")));
    const MimeEntry newest = table.entries(plain).first();
    QCOMPARE(newest.extension, QStringLiteral("zz"));
    QVERIFY(!newest.isDefaultExtension);

    // Replacing the entry turns the decision for unknown extensions back to text.
    QVERIFY(table.registerMimeType(plain, QStringLiteral("zz"), false, true).success);
    QCOMPARE(table.entries(plain).size(), 26);
    QVERIFY(!table.isBinaryType(plain, QStringLiteral("qq")));
    QVERIFY(table.entries(plain).first().isDefaultExtension);
}

void TestMimeTable::registerMimeTypeRefusals_data()
{
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QString>("extension");
    QTest::newRow("empty type") << ""
                                << "abc";
    QTest::newRow("empty extension") << "text/x-abc"
                                     << "";
    QTest::newRow("dot extension") << "text/x-abc"
                                   << " .";
}

void TestMimeTable::registerMimeTypeRefusals()
{
    QFETCH(QString, mimeType);
    QFETCH(QString, extension);
    MimeTable table;
    const CallResult result = table.registerMimeType(mimeType, extension, false, false);
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message,
             "Could not register mime type: \"" + mimeType + "\" with associated extension: \""
                 + extension + "\"");
    QCOMPARE(table.size(), 98);
}

void TestMimeTable::newestEntryIsVisitedFirst()
{
    MimeTable table;
    const QString type = QStringLiteral("application/x-corvid-test");
    QVERIFY(table.registerMimeType(type, QStringLiteral("one"), true, false).success);
    QVERIFY(table.registerMimeType(type, QStringLiteral("two"), false, false).success);
    QCOMPARE(table.entries(type).first().extension, QStringLiteral("two"));
    // An unknown extension follows the newest entry; known ones follow their own.
    QVERIFY(!table.isBinaryType(type, QStringLiteral("three")));
    QVERIFY(table.isBinaryType(type, QStringLiteral("one")));
}

QTEST_GUILESS_MAIN(TestMimeTable)
#include "tst_mimetable.moc"
