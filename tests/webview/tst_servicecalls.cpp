#include "shellfixture.h"

#include "platform/systemopener.h"

#include <QProcess>

namespace {

const char CallerPage[]
    = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var received = [];
function onQtLoad() {}
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
function call( expression ) { eval( expression ); }
</script></body></html>)HTML";

} // namespace

// Every service call, made by a hosted page through the real bridge; the page's callback must
// receive the response array. Paths in the rows use %D for a scratch folder.
class TestServiceCalls : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void call_data();
    void call();
    void browseForPathCancelAndChoice();
    void encryptedFileRoundTrip();
    void exportOpensWithTheSystem();
    void importHandsOverTheStartFile();
    void removeAndExtractMainRoads();
    void zipRoundTripWithInfoZip();

private:
    QString respond(const QString &expression);
    void writeFile(const QString &relative, const QByteArray &bytes);
    QScopedPointer<ShellFixture> m_shell;
    QString m_dir;
};

void TestServiceCalls::init()
{
    m_shell.reset(new ShellFixture);
    m_shell->writePage(QStringLiteral("app/caller.html"), CallerPage);
    m_shell->start(QStringLiteral("app/caller.html"));
    QVERIFY(QTest::qWaitFor([this] { return m_shell->contentReady(QStringLiteral("caller.html")); },
                            10000));
    m_dir = m_shell->path(QStringLiteral("scratch"));
    QVERIFY(QDir().mkpath(m_dir));
}

void TestServiceCalls::cleanup()
{
    m_shell.reset();
}

void TestServiceCalls::writeFile(const QString &relative, const QByteArray &bytes)
{
    const QString path = m_dir + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Runs one call in the hosted frame and returns the response array it received, as JSON.
QString TestServiceCalls::respond(const QString &expression)
{
    QWebFrame *content = m_shell->content();
    const int before = m_shell->eval(content, QStringLiteral("received.length")).toInt();
    QString script = expression;
    script.replace(QStringLiteral("%D"), m_dir);
    m_shell->eval(content, script);
    if (!QTest::qWaitFor(
            [&] {
                return m_shell->eval(content, QStringLiteral("received.length")).toInt() > before;
            },
            5000))
        return QStringLiteral("<no response>");
    QString response
        = m_shell->eval(content, QStringLiteral("received[%1]").arg(before)).toString();
    response.replace(m_dir, QStringLiteral("%D"));
    return response;
}

void TestServiceCalls::call_data()
{
    QTest::addColumn<QString>("setup"); // files to create: "name=content;name2=content"
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("fileAfter"); // "name=content" checked afterwards, or empty

    const QString cb = QStringLiteral("qtKey(), qtCallback( 'onDone' ), 1");
    QTest::newRow("writeFile into a new folder")
        << ""
        << "Qt().writeFile( " + cb + ", '%D/new/a.txt', 'line 1\\nline 2' )"
        << "[1,true,0,\"\"]"
        << "new/a.txt=line 1\nline 2";
    QTest::newRow("writeFile parent is a file")
        << "blocker=x"
        << "Qt().writeFile( " + cb + ", '%D/blocker/a.txt', 'x' )"
        << "[1,false,2000,\"Directory: %D/blocker not could not be created.\"]"
        << "";
    QTest::newRow("readFile") << "r.txt=hello"
                              << "Qt().readFile( " + cb + ", '%D/r.txt' )"
                              << "[1,true,0,\"hello\"]"
                              << "";
    QTest::newRow("readFile missing") << ""
                                      << "Qt().readFile( " + cb + ", '%D/none.txt' )"
                                      << "[1,false,1000,\"File not found: %D/none.txt\"]"
                                      << "";
    QTest::newRow("readFile of a folder gives a file error")
        << "sub/x=1"
        << "Qt().readFile( " + cb + ", '%D/sub' )"
        << "file error"
        << "";
    QTest::newRow("writeBinaryFile data URL") << ""
                                              << "Qt().writeBinaryFile( " + cb
            + ", '%D/b.bin', 'data:application/octet-stream;base64,AAEC/w==' )"
                                              << "[1,true,0,\"\"]"
                                              << "b.bin=hex:000102ff";
    QTest::newRow("readBinaryFile") << "b2.bin=\x01\x02"
                                    << "Qt().readBinaryFile( " + cb + ", '%D/b2.bin' )"
                                    << "[1,true,0,\"AQI=\"]"
                                    << "";
    QTest::newRow("deleteFile missing") << ""
                                        << "Qt().deleteFile( " + cb + ", '%D/gone.txt' )"
                                        << "[1,false,1000,\"File not found: %D/gone.txt\"]"
                                        << "";
    QTest::newRow("deleteFile") << "d.txt=1"
                                << "Qt().deleteFile( " + cb + ", '%D/d.txt' )"
                                << "[1,true,0,\"\"]"
                                << "";
    QTest::newRow("moveFile missing source") << ""
                                             << "Qt().moveFile( " + cb + ", '%D/a', '%D/b' )"
                                             << "[1,false,1000,\"File: %D/a does not exist.\"]"
                                             << "";
    QTest::newRow("moveFile existing target") << "m1=1;m2=2"
                                              << "Qt().moveFile( " + cb + ", '%D/m1', '%D/m2' )"
                                              << "[1,false,1001,\"File: %D/m2 already exists.\"]"
                                              << "";
    QTest::newRow("moveFile across folders")
        << "m3=3"
        << "Qt().moveFile( " + cb + ", '%D/m3', '%D/deep/er/m3' )"
        << "[1,true,0,\"\"]"
        << "deep/er/m3=3";
    QTest::newRow("makeDirectory") << ""
                                   << "Qt().makeDirectory( " + cb + ", '%D/x/y' )"
                                   << "[1,true,0,\"%D/x/y/\"]"
                                   << "";
    QTest::newRow("makeDirectory existing")
        << "here/f=1"
        << "Qt().makeDirectory( " + cb + ", '%D/here' )"
        << "[1,false,1000,\"Directory: %D/here/ already exists.\"]"
        << "";
    QTest::newRow("readDirectory short form") << "ls/b.txt=1;ls/A/x=1;ls/.hidden=1"
                                              << "Qt().readDirectory( " + cb + ", '%D/ls' )"
                                              << "[1,true,0,\"%D/ls/\",\"A/\",\"b.txt\"]"
                                              << "";
    QTest::newRow("readDirectory files only") << "ls2/b.txt=1;ls2/A/x=1"
                                              << "Qt().readDirectory( " + cb + ", '%D/ls2', 1 )"
                                              << "[1,true,0,\"%D/ls2/\",\"b.txt\"]"
                                              << "";
    QTest::newRow("readDirectory recursive")
        << "ls3/b.txt=1;ls3/A/x=1"
        << "Qt().readDirectory( " + cb + ", '%D/ls3', 0, true )"
        << "[1,true,0,\"%D/ls3/\",\"%D/ls3/A/\",\"%D/ls3/b.txt\",\"%D/ls3/A/x\"]"
        << "";
    QTest::newRow("readDirectory missing")
        << ""
        << "Qt().readDirectory( " + cb + ", '%D/nope' )"
        << "[1,false,1000,\"Directory: %D/nope/ does not exist.\"]"
        << "";
    QTest::newRow("clearDirectory") << "cl/a=1;cl/s/b=2"
                                    << "Qt().clearDirectory( " + cb + ", '%D/cl' )"
                                    << "[1,true,0,\"%D/cl/\"]"
                                    << "";
    QTest::newRow("removeDirectory missing")
        << ""
        << "Qt().removeDirectory( " + cb + ", '%D/nothere' )"
        << "[1,false,1000,\"Directory: %D/nothere/ does not exist.\"]"
        << "";
    QTest::newRow("zipAppend then zipRead") << "z/a.txt=alpha"
                                            << "Qt().zipAppend( qtKey(), '', 0, '%D/out.zip', "
                                               "'%D/z/a.txt', 'docs/a.txt' ); Qt().zipRead( "
            + cb + ", '%D/out.zip' )"
                                            << "[1,true,0,\"%D/out.zip\",\"docs/\",\"docs/a.txt\"]"
                                            << "";
    QTest::newRow("zipRead missing")
        << ""
        << "Qt().zipRead( " + cb + ", '%D/none.zip' )"
        << "[1,false,1000,\"Cannot read zip. The path: %D/none.zip does not exist.\"]"
        << "";
    QTest::newRow("zipExtract lists not aligned")
        << ""
        << "Qt().zipExtract( " + cb + ", '%D/x.zip', 'a' + qtDelimiter() + 'b', 'c' )"
        << "[1,false,5000,\"zipExtract() source list and destination list parameters are not "
           "aligned.\"]"
        << "";
    QTest::newRow("registerExtension refused")
        << ""
        << "Qt().registerExtension( " + cb + ", '.', false )"
        << "[1,false,1000,\"Could not register extension: \\\".\\\"\"]"
        << "";
    QTest::newRow("registerExtension") << ""
                                       << "Qt().registerExtension( " + cb + ", '.vellum', false )"
                                       << "[1,true,0,\"\"]"
                                       << "";
}

void TestServiceCalls::call()
{
    QFETCH(QString, setup);
    QFETCH(QString, expression);
    QFETCH(QString, expected);
    QFETCH(QString, fileAfter);

    const QStringList files = setup.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &entry : files)
        writeFile(entry.section(QLatin1Char('='), 0, 0),
                  entry.section(QLatin1Char('='), 1).toLatin1());

    const QString response = respond(expression);
    if (expected == QLatin1String("file error")) {
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("^\\[1,false,([1-9]|1[0-4]),\".+ \\(File Path: %D/sub\\)\"\\]$"))
                .match(response)
                .hasMatch(),
            qPrintable(response));
    } else {
        QCOMPARE(response, expected);
    }
    if (!fileAfter.isEmpty()) {
        QFile file(m_dir + QLatin1Char('/') + fileAfter.section(QLatin1Char('='), 0, 0));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString content = fileAfter.section(QLatin1Char('='), 1);
        QCOMPARE(file.readAll(),
                 content.startsWith(QLatin1String("hex:"))
                     ? QByteArray::fromHex(content.mid(4).toLatin1())
                     : content.toUtf8());
    }
}

void TestServiceCalls::browseForPathCancelAndChoice()
{
    m_shell->prompter.fileAnswer.clear();
    QCOMPARE(respond(QStringLiteral(
                 "Qt().browseForPath( qtKey(), qtCallback( 'onDone' ), 3, 1, 'Pick', '%D', '' )")),
             QStringLiteral("[3,false,0,\"\"]"));
    m_shell->prompter.fileAnswer = m_dir + QStringLiteral("/picked.txt");
    QCOMPARE(respond(QStringLiteral("Qt().browseForPath( qtKey(), qtCallback( 'onDone' ), 4, 0, "
                                    "'Pick', '%D', 'Text (*.txt)' )")),
             QStringLiteral("[4,true,0,\"%D/picked.txt\",\"%D/picked.txt\"]"));
    QCOMPARE(respond(QStringLiteral(
                 "Qt().browseForPath( qtKey(), qtCallback( 'onDone' ), 5, 7, 'x', '', '' )")),
             QStringLiteral("[5,true,0,\"\"]"));
}

void TestServiceCalls::zipRoundTripWithInfoZip()
{
    writeFile(QStringLiteral("tree/one.txt"), "one");
    writeFile(QStringLiteral("tree/sub/two.txt"), "two");
    QCOMPARE(respond(QStringLiteral("Qt().zipAppendAll( qtKey(), qtCallback( 'onDone' ), 6, "
                                    "'%D/tree.zip', '%D/tree', true )")),
             QStringLiteral("[6,true,0,\"\"]"));
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"),
                { QStringLiteral("-Z1"), m_dir + QStringLiteral("/tree.zip") });
    QVERIFY(unzip.waitForFinished(10000));
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    // The listing of the folder holds what is inside it; the wrapping folder itself is only the
    // entries' first component.
    QCOMPARE(names, (QStringList { "tree/one.txt", "tree/sub/", "tree/sub/two.txt" }));
    QCOMPARE(
        respond(QStringLiteral(
            "Qt().zipExtractAll( qtKey(), qtCallback( 'onDone' ), 7, '%D/tree.zip', '%D/out' )")),
        QStringLiteral("[7,true,0,\"\"]"));
    QFile two(m_dir + QStringLiteral("/out/tree/sub/two.txt"));
    QVERIFY(two.open(QIODevice::ReadOnly));
    QCOMPARE(two.readAll(), QByteArray("two"));
}

void TestServiceCalls::encryptedFileRoundTrip()
{
    QCOMPARE(respond(QStringLiteral("Qt().writeEncryptedFile( qtKey(), qtCallback( 'onDone' ), 1, "
                                    "'%D/e.txt', 77, 'geheim ✓' )")),
             QStringLiteral("[1,true,0,\"\"]"));
    QFile stored(m_dir + QStringLiteral("/e.txt"));
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QVERIFY2(!stored.readAll().contains("geheim"), "the file holds cipher text only");
    QCOMPARE(respond(QStringLiteral(
                 "Qt().readEncryptedFile( qtKey(), qtCallback( 'onDone' ), 2, '%D/e.txt', 77 )")),
             QString::fromUtf8("[2,true,0,\"geheim ✓\"]"));
    QCOMPARE(respond(QStringLiteral(
                 "Qt().readEncryptedFile( qtKey(), qtCallback( 'onDone' ), 3, '%D/e.txt', 78 )")),
             QStringLiteral("[3,true,0,\"\"]"));
}

// Records what would be opened instead of starting a program.
class RecordingOpener : public SystemOpener
{
public:
    QStringList opened;
    bool accept = true;
    bool openWithAssociatedApplication(const QString &path) override
    {
        opened.append(path);
        return accept;
    }
};

void TestServiceCalls::exportOpensWithTheSystem()
{
    RecordingOpener opener;
    SystemOpener::setCurrent(&opener);
    const QString reply = respond(QStringLiteral("Qt().exportFile( qtKey(), qtCallback( 'onDone' "
                                                 "), 8, 'report.csv', 'a;b', false, 'csv' )"));
    opener.accept = false;
    const QString refused = respond(QStringLiteral(
        "Qt().exportFile( qtKey(), qtCallback( 'onDone' ), 9, 'plain', 'x', false, 'txt' )"));
    SystemOpener::setCurrent(nullptr);
    QCOMPARE(reply, QStringLiteral("[8,true,0,\"\"]"));
    const QString exported = QDir::current().absoluteFilePath(QStringLiteral("temp/report.csv"));
    QCOMPARE(opener.opened.value(0), exported);
    QFile file(exported);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("a;b"));
    QCOMPARE(refused,
             QStringLiteral("[9,false,1000,\"Could not export file: plain. This computer may not "
                            "have an application associated with this file type.\"]"));
    QCOMPARE(opener.opened.size(), 3); // the second file is tried again as plain.txt
    QVERIFY(opener.opened.at(2).endsWith(QStringLiteral("/temp/plain.txt")));
}

void TestServiceCalls::importHandsOverTheStartFile()
{
    QCOMPARE(
        respond(QStringLiteral("Qt().onImportFile( qtKey(), qtCallback( 'onDone' ), 10 ); "
                               "Qt().readFile( qtKey(), qtCallback( 'onDone' ), 11, '%D/none' )"))
            .left(7),
        QStringLiteral("[11,fal"));
    writeFile(QStringLiteral("start.txt"), "from the command line");
    m_shell->view()->setLaunchFilePath(m_dir + QStringLiteral("/start.txt"));
    const QString reply = respond(
        QStringLiteral("Qt().onImportFile( qtKey(), qtCallbackPersistent( 'onDone' ), 12 )"));
    m_shell->view()->setLaunchFilePath(QString());
    QCOMPARE(
        reply,
        QStringLiteral("[12,true,0,\"\",\"start.txt\",\"from the command line\",\"0\",\"txt\"]"));
}

void TestServiceCalls::removeAndExtractMainRoads()
{
    writeFile(QStringLiteral("rm/a.txt"), "a");
    writeFile(QStringLiteral("rm/sub/b.txt"), "b");
    QCOMPARE(respond(QStringLiteral(
                 "Qt().removeDirectory( qtKey(), qtCallback( 'onDone' ), 13, '%D/rm' )")),
             QStringLiteral("[13,true,0,\"%D/rm/\"]"));
    QVERIFY(!QFileInfo::exists(m_dir + QStringLiteral("/rm")));

    writeFile(QStringLiteral("src/one.txt"), "one");
    writeFile(QStringLiteral("src/two.txt"), "two");
    QCOMPARE(
        respond(QStringLiteral(
            "Qt().zipAppend( qtKey(), qtCallback( 'onDone' ), 14, '%D/pair.zip', '%D/src/one.txt' "
            "+ qtDelimiter() + '%D/src/two.txt', 'one.txt' + qtDelimiter() + 'dir/two.txt' )")),
        QStringLiteral("[14,true,0,\"\"]"));
    QCOMPARE(respond(QStringLiteral("Qt().zipExtract( qtKey(), qtCallback( 'onDone' ), 15, "
                                    "'%D/pair.zip', 'dir/two.txt', '%D/picked/two-copy.txt' )")),
             QStringLiteral("[15,true,0,\"\"]"));
    QFile copy(m_dir + QStringLiteral("/picked/two-copy.txt"));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("two"));
}

QTEST_MAIN(TestServiceCalls)
#include "tst_servicecalls.moc"
