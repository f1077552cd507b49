#include "platform/desktopapps.h"
#include "platform/launcher.h"
#include "platform/registry.h"
#include "platform/systemopener.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString Data = QStringLiteral(CORVID_TEST_DATA "/desktop/");
const QString Classes = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\");
const QString Writer
    = QStringLiteral("/opt/My Office/writer|--title|say \"hi\" $HOME|100%|--name=");
const char ReadRegistry[] = "--read-registry";

QStringList linesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
        : QStringList();
}

QString joined(const DesktopApps::Command &command)
{
    return command.isEmpty() ? QString()
                             : (QStringList(command.program) + command.arguments).join('|');
}

// A key path ending in "\" names the key's default value.
void seed(const QString &key, const QString &value)
{
    QVERIFY(Registry::setValue(key.section('\\', 0, -2), key.section('\\', -1), value));
}
} // namespace

class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const auto readWrite = QFile::ReadOwner | QFile::WriteOwner;
        QVERIFY(QDir().mkpath(bin()) && QFile::copy(Data + "xdg-mime", bin("xdg-mime"))
                && QFile::copy(Data + "record", bin("record"))
                && QFile::copy(Data + "record", bin("unexecutable")));
        QVERIFY(QFile::setPermissions(bin("xdg-mime"), readWrite | QFile::ExeOwner)
                && QFile::setPermissions(bin("record"), readWrite | QFile::ExeOwner)
                && QFile::setPermissions(bin("unexecutable"), readWrite));
        qputenv("PATH", bin().toUtf8() + ':' + qgetenv("PATH"));
        qputenv("XDG_DATA_HOME", QString(Data + "home").toUtf8());
    }

    void init()
    {
        qputenv("XDG_DATA_DIRS", QString(Data + "system").toUtf8());
        qputenv("CORVID_STUB_DEFAULTS", QString(Data + "defaults").toUtf8());
        QFile::remove(bin("xdg-mime.log"));
        QFile::remove(bin("launched.log"));
        m_store.reset(new QTemporaryDir);
        Registry::setStoreFolder(m_store->path());
    }

    void registry_data()
    {
        QTest::addColumn<QString>("keyPath");
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("pageMayWrite");
        const auto row = [](const char *tag, const QString &key, const QString &name,
                            const QString &expected, bool pageMayWrite) {
            QTest::newRow(tag) << key << name << expected << pageMayWrite;
        };
        const QString key = QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Corvid");
        row("empty name is the default", key, "", "unnamed", true);
        row("Default by name", key, "Default", "unnamed", true);
        row("other case", "hkey_current_user\\software\\CORVID", "COLOR", "blue", true);
        row("missing key", key + "\\Other", "Color", "fallback", true);
        row("machine key", "hkey_local_machine\\SOFTWARE", "", "fallback", false);
    }

    void registry()
    {
        QFETCH(QString, keyPath);
        QFETCH(QString, valueName);
        seed("HKEY_CURRENT_USER\\SOFTWARE\\Corvid\\", "unnamed");
        seed("HKEY_CURRENT_USER\\SOFTWARE\\Corvid\\Color", "blue");
        QTEST(Registry::value(keyPath, valueName, "fallback").toString(), "expected");
        QTEST(Registry::pageMayWrite(keyPath), "pageMayWrite");
    }

    void registryWriteReadInNewProcess()
    {
        const QString text = QStringLiteral("a=b; \"c\"\\d, %e \u00e9\n[x]");
        QVERIFY(Registry::setValue("HKEY_CURRENT_USER\\SOFTWARE\\Corvid", "Note", text));
        QProcess reader;
        reader.start(QCoreApplication::applicationFilePath(),
                     { ReadRegistry, m_store->path(), "hkey_current_user\\software\\corvid" });
        QVERIFY(reader.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()), text);
    }

    void defaultCommandFor_data()
    {
        QTest::addColumn<QString>("mimeType");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, const QString &mimeType, const QString &expected) {
            QTest::newRow(tag) << mimeType << expected;
        };
        row("user's entry first", "text/plain", "record|--new-window");
        row("dash names a subfolder", "inode/directory", "record|--files");
        row("quoting, field codes", "application/vnd.oasis.opendocument.text", Writer);
        row("no default", "application/x-unknown", "");
        row("entry missing", "application/x-gone", "");
        row("entry without Exec", "application/x-noexec", "");
        row("unterminated quote", "application/x-badquote", "");
        row("id leaving the folder", "application/x-escape", "");
        row("xdg-mime hangs", "text/x-slow", "");
    }

    void defaultCommandFor()
    {
        QFETCH(QString, mimeType);
        QTEST(joined(DesktopApps::defaultCommandFor(mimeType)), "expected");
        QCOMPARE(queries(), QStringList("query default " + mimeType));
    }

    void officeCommand_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("branch"); // where the command is registered; -1 nowhere
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("queried");
        const auto row = [](const char *tag, const QString &name, int branch, const QString &server,
                            const QString &expected, const QStringList &queried = {}) {
            QTest::newRow(tag) << name << branch << server << expected << queried;
        };
        row("32-bit branch first", "Word.Application", 0,
            "\"C:\\Program Files\\WINWORD.EXE\" /Automation", "C:\\Program Files\\WINWORD.EXE");
        row("native branch, unquoted", "Excel.Application", 1,
            "C:\\Program Files\\EXCEL.EXE /AUTOMATION /x", "C:\\Program Files\\EXCEL.EXE|/x");
        row("LocalServer", "PowerPoint.Application", 2, "C:\\PPT.EXE /aUtOmAtIoN", "C:\\PPT.EXE");
        const QString query = QStringLiteral("query default application/vnd.");
        row("desktop's default for the document", "Word.Application", -1, "", Writer,
            { query + "openxmlformats-officedocument.wordprocessingml.document",
              query + "oasis.opendocument.text" });
        row("unknown name", "Paint.Application", -1, "", "");
    }

    void officeCommand()
    {
        QFETCH(QString, name);
        QFETCH(int, branch);
        QFETCH(QString, server);
        const QStringList branches { "Wow6432Node\\CLSID\\{C}\\LocalServer32\\",
                                     "CLSID\\{C}\\LocalServer32\\", "CLSID\\{C}\\LocalServer\\" };
        if (branch >= 0)
            seed(Classes + name + "\\CLSID\\", "{C}");
        for (int i = branch; i >= 0 && i < branches.size(); ++i)
            seed(Classes + branches.at(i), i == branch ? server : "C:\\later.exe");
        QTEST(joined(DesktopApps::officeCommand(name)), "expected");
        QTEST(queries(), "queried");
    }

    void mailClient_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QString>("defaults");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::newRow("registry, second key") << true << QString("defaults") << QString("Reg Mail")
                                              << QString("\"C:\\Mail\\mail.exe\" -mail");
        QTest::newRow("desktop entry") << false << QString("defaults") << QString("Stub Mail")
                                       << QString("\"/opt/Stub Mail/mailer\" -mail");
        QTest::newRow("none") << false << QString("missing") << QString() << QString();
    }

    void mailClient()
    {
        QFETCH(bool, registered);
        QFETCH(QString, defaults);
        QFETCH(QString, name);
        QFETCH(QString, command);
        if (registered) {
            seed("HKEY_CURRENT_USER\\SOFTWARE\\Clients\\Mail\\", "");
            seed("HKEY_CURRENT_USER\\SOFTWARE\\Classes\\Clients\\Mail\\", "Reg Mail");
            seed("HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\Mail\\Reg Mail\\shell\\open\\command\\",
                 "\"C:\\Mail\\mail.exe\" -mail");
        }
        qputenv("CORVID_STUB_DEFAULTS", QString(Data + defaults).toUtf8());
        const QString foundName = DesktopApps::mailClientName();
        const QString foundCommand = DesktopApps::mailClientCommand(foundName);
        QCOMPARE(foundName, name);
        QCOMPARE(foundCommand, command);
        QCOMPARE(foundName.isNull() && foundCommand.isNull(), name.isNull());
    }

    void launch_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected"); // the recorded arguments; empty: nothing starts
        const auto row
            = [](const char *tag, const QString &call, const QString &target,
                 const QString &expected) { QTest::newRow(tag) << call << target << expected; };
        const QString notes = m_dir.filePath("notes.txt"), dir = m_dir.path();
        row("child", "child", bin("record"), "a b||");
        row("detached", "detached", bin("record"), "a b||");
        row("not executable", "child", bin("unexecutable"), "");
        row("folder", "detached", bin(), "");
        row("text editor", "editor", notes, "--new-window|" + notes + "|");
        row("relative path made absolute", "editor", "--help",
            "--new-window|" + QDir::currentPath() + "/--help|");
        row("file manager", "files", dir, "--files|" + dir + "|");
        row("office", "Word.Application", notes, "--office|" + notes + "|");
        row("office without program", "Excel.Application", notes, "");
    }

    void launch()
    {
        QFETCH(QString, call);
        QFETCH(QString, target);
        QFETCH(QString, expected);
        seed(Classes + "Word.Application\\CLSID\\", "{C}");
        seed(Classes + "CLSID\\{C}\\LocalServer32\\", bin("record") + " /Automation --office");
        const bool started = call == "child" || call == "detached"
            ? Launcher::launch(target, { "a b", "" }, call == "detached", this)
            : call == "editor" ? Launcher::launchTextEditor(target, this)
            : call == "files"  ? Launcher::launchFileManager(target, this)
                               : Launcher::launchOffice(call, target, this);
        QCOMPARE(started, !expected.isEmpty());
        if (started)
            QTRY_COMPARE_WITH_TIMEOUT(launched(), QStringList(expected), 30000);
        else
            QCOMPARE(launched(), QStringList());
        for (QProcess *child : findChildren<QProcess *>())
            QVERIFY(child->waitForFinished(30000));
    }

    // A file whose type (here found by its content) has no program is not handed on.
    void systemOpenerNeedsHandler()
    {
        qputenv("XDG_DATA_DIRS", Data.toUtf8() + "system:/usr/local/share:/usr/share"); // MIME
        QFile file(m_dir.filePath("report"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("%PDF-1.4\n%\xe2\xe3\n") > 0);
        file.close();
        QVERIFY(!SystemOpener::current().openWithAssociatedApplication(file.fileName()));
        QCOMPARE(queries(), QStringList("query default application/pdf"));
    }

private:
    QString bin(const QString &name = QString()) const { return m_dir.filePath("bin/" + name); }
    QStringList queries() const { return linesOf(bin("xdg-mime.log")); }
    QStringList launched() const { return linesOf(bin("launched.log")); }

    QTemporaryDir m_dir;
    QScopedPointer<QTemporaryDir> m_store;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // A second process reads what the first wrote: --read-registry STORE KEY (value "NOTE").
    if (argc == 4 && qstrcmp(argv[1], ReadRegistry) == 0) {
        Registry::setStoreFolder(app.arguments().at(2));
        const QByteArray value = Registry::value(app.arguments().at(3), "NOTE").toString().toUtf8();
        return fwrite(value.constData(), 1, size_t(value.size()), stdout) == size_t(value.size())
            ? 0
            : 1;
    }
    TestDesktopIntegration test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopintegration.moc"
