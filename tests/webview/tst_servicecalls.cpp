#include "shellfixture.h"

#include "docs/tempfilemanager.h"
#include "platform/systemopener.h"

namespace {

const char CallerPage[]
    = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var received = [];
function onQtLoad() {}
function onDone() { received.push( JSON.stringify( Array.prototype.slice.call( arguments ) ) ); }
</script></body></html>)HTML";

} // namespace

// The service calls whose wiring in the host object does more than pass arguments on; what the
// services answer is tested with the services. Paths in calls and answers use %D for a scratch
// folder.
class TestServiceCalls : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readDirectoryForms_data();
    void readDirectoryForms();
    void exportRegistersTheTemporaryFile();
    void importHandsOverTheLaunchFile();

private:
    QString respond(const QString &expression);
    void writeFile(const QString &relative, const QByteArray &bytes);
    QScopedPointer<ShellFixture> m_shell;
    QString m_dir;
};

void TestServiceCalls::init()
{
    m_shell.reset(new ShellFixture);
    QVERIFY(m_shell->open(QStringLiteral("caller.html"), CallerPage));
    m_dir = m_shell->path(QStringLiteral("scratch"));
    writeFile(QStringLiteral("b.txt"), "1");
    writeFile(QStringLiteral("A/x"), "1");
}

void TestServiceCalls::cleanup()
{
    m_shell.reset();
}

void TestServiceCalls::writeFile(const QString &relative, const QByteArray &bytes)
{
    m_shell->writePage(QStringLiteral("scratch/") + relative, bytes);
}

// Runs one call in the hosted frame and returns the response array it received, as JSON.
QString TestServiceCalls::respond(const QString &expression)
{
    QWebFrame *content = m_shell->content();
    const int before = m_shell->eval(content, QStringLiteral("received.length")).toInt();
    m_shell->eval(content, QString(expression).replace(QStringLiteral("%D"), m_dir));
    if (!QTest::qWaitFor([&] {
            return m_shell->eval(content, QStringLiteral("received.length")).toInt() > before;
        }))
        return QStringLiteral("<no response>");
    return m_shell->eval(content, QStringLiteral("received[%1]").arg(before))
        .toString()
        .replace(m_dir, QStringLiteral("%D"));
}

// Three slots of one name, each with the defaults of the one before.
void TestServiceCalls::readDirectoryForms_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder only") << "'%D'"
                                 << "[1,true,0,\"%D/\",\"A/\",\"b.txt\"]";
    QTest::newRow("files only") << "'%D', 1"
                                << "[1,true,0,\"%D/\",\"b.txt\"]";
    QTest::newRow("recursive") << "'%D', 0, true"
                               << "[1,true,0,\"%D/\",\"%D/A/\",\"%D/b.txt\",\"%D/A/x\"]";
}

void TestServiceCalls::readDirectoryForms()
{
    QFETCH(QString, arguments);
    QFETCH(QString, expected);
    QCOMPARE(respond(QStringLiteral("Qt().readDirectory( qtKey(), qtCallback( 'onDone' ), 1, ")
                     + arguments + QStringLiteral(" )")),
             expected);
}

// The exported copy is the view's to remove again once it has been opened.
void TestServiceCalls::exportRegistersTheTemporaryFile()
{
    RecordingOpener opener;
    SystemOpener::setCurrent(&opener);
    const QString reply = respond(QStringLiteral("Qt().exportFile( qtKey(), qtCallback( 'onDone' "
                                                 "), 8, 'report.csv', 'a;b', false, 'csv' )"));
    SystemOpener::setCurrent(nullptr);
    QCOMPARE(reply, QStringLiteral("[8,true,0,\"\"]"));
    const QString exported = QDir::current().absoluteFilePath(QStringLiteral("temp/report.csv"));
    QCOMPARE(opener.opened, QStringList { exported });
    QVERIFY(m_shell->view()->tempFiles().registeredFiles().contains(exported));
}

// A call that is answered only when there is a file to hand over.
void TestServiceCalls::importHandsOverTheLaunchFile()
{
    QCOMPARE(
        respond(QStringLiteral("Qt().onImportFile( qtKey(), qtCallback( 'onDone' ), 10 );"
                               "Qt().readDirectory( qtKey(), qtCallback( 'onDone' ), 11, '%D' )"))
            .left(7),
        QStringLiteral("[11,tru"));
    m_shell->view()->setLaunchFilePath(m_dir + QStringLiteral("/b.txt"));
    QCOMPARE(respond(QStringLiteral("Qt().onImportFile( qtKey(), qtCallback( 'onDone' ), 12 )")),
             QStringLiteral("[12,true,0,\"\",\"b.txt\",\"1\",\"0\",\"txt\"]"));
}

QTEST_MAIN(TestServiceCalls)
#include "tst_servicecalls.moc"
