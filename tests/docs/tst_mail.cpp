#include "docs/attatchmentmanager.h"
#include "docs/email.h"
#include "docs/mailcomposer.h"
#include "platform/registry.h"
#include "platform/scriptprotocol.h"
#include "platform/systemopener.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString LaunchFailed = "Mail client launch failed.";
const QString FileFailed = "File creation failed.";
const QString MissingClient = "\"/nonexistent/corvid-mail\" -mail";

class RecordingOpener final : public SystemOpener
{
public:
    bool openWithAssociatedApplication(const QString &path) override
    {
        opened.append(path);
        return answer;
    }
    QStringList opened;
    bool answer = true;
};

// Rows write the list delimiter as "|".
QString list(QString text)
{
    return text.replace('|', ScriptProtocol::intraDelimiter());
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + body + '\n') > 0
        && file.setPermissions(file.permissions() | QFile::ExeOwner);
}

} // namespace

class TestMail : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Nothing reaches the machine's own mail client: the desktop's lookup finds none.
        QVERIFY(m_run.isValid() && writeScript(m_run.filePath("xdg-mime"), "exit 1"));
        QVERIFY(writeScript(m_run.filePath("corvid-compose-stub"),
                            "printf '%s\\n' \"$@\" > \"$0.part\" && mv \"$0.part\" \"$0.args\""));
        qputenv("PATH", m_run.path().toUtf8() + ':' + qgetenv("PATH"));
        SystemOpener::setCurrent(&m_opener);
    }
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(m_dir->path()));
        Registry::setStoreFolder(m_dir->filePath("registry"));
        m_opener.opened.clear();
        m_opener.answer = true;
        QFile::remove(m_run.filePath("corvid-compose-stub.args"));
    }
    void cleanup() { m_dir->setAutoRemove(!QTest::currentTestFailed()); }

    void messageFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("importance");
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QStringList>("parts");

        const auto row = [](const char *name, const QString &subject, const QString &message,
                            bool isHTML, uint priority, const QStringList &attachments,
                            const char *importance, const QString &shape,
                            const QStringList &parts) {
            Email mail { QString() };
            mail.setTo("a@example.org");
            mail.setSubject(subject);
            mail.setMessage(message, isHTML);
            mail.setPriority(priority);
            mail.setAttachmentLists(list(attachments.value(0)), list(attachments.value(1)),
                                    list(attachments.value(2)));
            const QDateTime date({ 2024, 3, 5 }, { 7, 8, 9 }, Qt::OffsetFromUTC, -12600);
            QTest::newRow(name) << mail.mimeText(date) << QString(subject).replace("\r\n", "  ")
                                << QString(importance) << shape << parts;
        };
        const QString html = "<p>Größe = 'x'</p> \n<p>" + QString(90, 'b') + "</p>";
        const QByteArray png(100, '\x89');
        const QString alternative = "multipart/alternative[text/plain,text/html]";
        row("plain ascii, low", "Hello", "One\nTwo\n", false, 0, {}, "5 Low", "text/plain",
            { "text/plain 7bit utf-8 None: One\nTwo\n" });
        row("plain utf-8, high", "Grüße", "Grüße\n" + html, false, 2, {}, "1 High", "text/plain",
            { "text/plain quoted-printable utf-8 None: Grüße\n" + html });
        row("html, priority 7 is normal", "Hi", html, true, 7, {}, "3 Normal", alternative,
            { "text/plain quoted-printable utf-8 None: " + html + '\n',
              "text/html quoted-printable utf-8 None: " + html + '\n' });
        row("html with attachments, normal", "Files", "<b>Hi</b>", true, 1,
            { "photo.png|notes.txt",
              "data:image/png;base64," + QString::fromLatin1(png.toBase64()) + "|Grüße\nzwei",
              "1|0" },
            "3 Normal", "multipart/mixed[" + alternative + ",image/png,text/plain]",
            { "text/plain 7bit utf-8 None: <b>Hi</b>\n",
              "text/html quoted-printable utf-8 None: <b>Hi</b>\n",
              "image/png base64 None photo.png: " + QString::fromLatin1(png.toHex()),
              "text/plain quoted-printable utf-8 notes.txt: Grüße\nzwei" });
        row("line breaks in headers", "Hi\r\nBcc: evil@example.org", "", false, 1,
            { "a\r\nX-Injected: 1\".txt", "x", "0" }, "3 Normal",
            "multipart/mixed[text/plain,text/plain]",
            { "text/plain 7bit utf-8 None: ", "text/plain 7bit utf-8 a  X-Injected: 1\".txt: x" });
    }
    // Read back by Python's mail package: headers in order, the structure, and every part
    // decoded to what the page gave.
    void messageFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, subject);
        QFETCH(QString, importance);
        QCOMPARE(text.count('\n'), text.count("\r\n"));
        QProcess python;
        python.start("python3", { QFINDTESTDATA("data/mailparse.py") });
        python.write(text);
        python.closeWriteChannel();
        QVERIFY2(python.waitForFinished(60000) && python.exitCode() == 0,
                 python.readAllStandardError().constData());
        const QVariantMap read
            = QJsonDocument::fromJson(python.readAllStandardOutput()).toVariant().toMap();
        const QStringList level = importance.split(' ');
        const QString headers = "X-Unsent: 1\nTo: a@example.org\nSubject: " + subject
            + "\nDate: Tue, 5 Mar 2024 07:08:09 -0330\nX-Priority: " + level[0]
            + "\nX-MSMail-Priority: " + level[1] + "\nImportance: " + level[1]
            + "\nMIME-Version: 1.0\nContent-Type: ";
        QCOMPARE(read["headers"].toStringList().join('\n').left(headers.size()), headers);
        QTEST(read["shape"].toString(), "shape");
        QTEST(read["parts"].toStringList(), "parts");
        QCOMPARE(read["faults"].toStringList(), QStringList());
    }

    void cleansLists_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("binary");
        QTest::addColumn<QString>("cleanTo");
        QTest::addColumn<QStringList>("attachments"); // name data isBinary

        const auto row
            = [](const char *name, const char *to, const char *cleanTo, const char *names,
                 const char *data, const char *binary, const QStringList &attachments) {
                  QTest::newRow(name) << QString(to) << QString(names) << QString(data)
                                      << QString(binary) << QString(cleanTo) << attachments;
              };
        row("blank addresses", "a@x.org;; ;b@x.org; ", "a@x.org,b@x.org", "", "", "", {});
        row("one address", " a@x.org ", " a@x.org ", "", "", "", {});
        row("line break in address", "a@x.org\r\nBcc: e@x.org", "a@x.org  Bcc: e@x.org", "", "", "",
            {});
        row("paired by position", "", "", "a.txt||c.txt|d.txt", "A|B|C", "0|1|1|0",
            { "a.txt A 0", "c.txt C 1" });
        row("binary only when 1, blank data dropped", "", "", "e.txt|f.txt", " |F", "1|true",
            { "f.txt F 0" });
        row("names reduced", "", "", "../up.txt|C:\\d\\y.txt|..|dir/|a\nb.txt| . |x/..",
            "1|2|3|4|5|6|7", "0|0|0|0|0|0|0", { "up.txt 1 0", "y.txt 2 0", "a b.txt 5 0" });
    }
    void cleansLists()
    {
        QFETCH(QString, to);
        QFETCH(QString, names);
        QFETCH(QString, data);
        QFETCH(QString, binary);
        Email mail(m_dir->path());
        mail.setTo(to);
        mail.setAttachmentLists(list(names), list(data), list(binary));
        QTEST(mail.to(), "cleanTo");
        QStringList attachments;
        for (const Email::Attachment &item : mail.attachments())
            attachments.append(item.name + ' ' + item.data + ' ' + QString::number(item.isBinary));
        QTEST(attachments, "attachments");
    }

    // Any other client gets a message file in the cleared mail folder, opened and then left to
    // the manager to delete.
    void messageFileRoad()
    {
        registerClient("thunderbird", MissingClient);
        const QString folder = MailComposer::mailFolder();
        QCOMPARE(folder, m_dir->filePath("temp"));
        QVERIFY(QDir().mkpath(folder + "/keep") && QFile(folder + "/old.eml").open(QFile::WriteOnly)
                && QFile(folder + "/keep/x").open(QFile::WriteOnly));
        MailRequest request;
        request.subject = "Road";
        const CallResult result = MailComposer::sendMail(request);
        QVERIFY2(result.success, qPrintable(result.message));
        QCOMPARE(m_opener.opened.size(), 1);
        const QFileInfo written(m_opener.opened.first());
        QCOMPARE(written.absolutePath(), folder);
        QVERIFY(written.fileName().contains(QRegularExpression("^\\d{14}\\.eml$")));
        QVERIFY(contents(written.filePath()).contains("\r\nSubject: Road\r\n"));
        QVERIFY(MailComposer::attachments().registeredFiles().contains(written.filePath()));
        QVERIFY(!QFile::exists(folder + "/old.eml") && QFile::exists(folder + "/keep/x"));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("setup"); // refuses: the file is not opened; link, file: "temp"
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        const auto row = [](const char *name, const char *client, const char *setup, int code,
                            const QString &message) {
            QTest::newRow(name) << QString(client) << QString(setup) << code << message;
        };
        row("no client", "", "", 1000,
            "A default mail client has not been setup on this computer.");
        row("client named Mail", "Mail", "", 1000, LaunchFailed);
        row("file not opened", "Other", "refuses", 1000, LaunchFailed);
        row("compose program missing", "Mozilla Thunderbird", "", 1000, LaunchFailed);
        row("mail folder is a link", "Other", "link", 1003, FileFailed);
        row("mail folder is a file", "Other", "file", 1003, FileFailed);
    }
    void failures()
    {
        QFETCH(QString, client);
        QFETCH(QString, setup);
        if (!client.isEmpty())
            registerClient(client, MissingClient);
        m_opener.answer = setup != "refuses";
        const QString outside = m_dir->filePath("outside/kept.txt");
        QVERIFY(QDir().mkpath(m_dir->filePath("outside")) && QFile(outside).open(QFile::WriteOnly));
        if (setup == "link")
            QVERIFY(QFile::link(m_dir->filePath("outside"), m_dir->filePath("temp")));
        if (setup == "file")
            QVERIFY(QFile(m_dir->filePath("temp")).open(QFile::WriteOnly));
        MailRequest request;
        request.message = "text";
        const CallResult result = MailComposer::sendMail(request);
        QVERIFY(!result.success);
        QTEST(result.errorCode, "code");
        QTEST(result.message, "message");
        QVERIFY2(QFile::exists(outside), "a file was deleted through a link");
    }

    void composeRoad_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("quoted path") << '"' + m_run.filePath("corvid-compose-stub") + "\" -mail";
        QTest::newRow("bare name on the path") << "corvid-compose-stub";
    }
    // The client's program gets "-compose" and one argument whose values cannot leave their
    // quotes; the attachments wait in the mail folder under their file names.
    void composeRoad()
    {
        QFETCH(QString, command);
        registerClient("Mozilla Thunderbird", command);
        MailRequest request;
        request.to = "a@example.org;;b@example.org";
        request.subject = "it's a \\ test";
        request.message = "body, with 'quotes'";
        request.attachmentNames = list("../evil.bin|dir\\notes.txt");
        request.attachmentData = list("data:application/octet-stream;base64,AAEC/w==|Grüße");
        request.attachmentIsBin = list("1|0");
        const CallResult result = MailComposer::sendMail(request);
        QVERIFY2(result.success, qPrintable(result.message));
        const QString folder = MailComposer::mailFolder();
        const auto url = [&folder](const char *name) {
            return QUrl::fromLocalFile(folder + '/' + name).toString(QUrl::FullyEncoded);
        };
        const QString args = m_run.filePath("corvid-compose-stub.args");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(args), 30000);
        QCOMPARE(QString::fromUtf8(contents(args)),
                 "-compose\nto='a@example.org,b@example.org',subject='it\\'s a \\\\ test',"
                 "format='2',body='body, with \\'quotes\\'',attachment='"
                     + url("evil.bin") + ',' + url("notes.txt") + "'\n");
        QCOMPARE(contents(folder + "/evil.bin"), QByteArray("\x00\x01\x02\xff", 4));
        QCOMPARE(QString::fromUtf8(contents(folder + "/notes.txt")), "Grüße");
    }

private:
    void registerClient(const QString &name, const QString &command)
    {
        QVERIFY(Registry::setValue("HKEY_CURRENT_USER\\SOFTWARE\\Clients\\Mail", "", name));
        QVERIFY(Registry::setValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\Mail\\" + name
                                       + "\\shell\\open\\command",
                                   "", command));
    }

    QTemporaryDir m_run;
    QScopedPointer<QTemporaryDir> m_dir;
    RecordingOpener m_opener;
};

QTEST_GUILESS_MAIN(TestMail)
#include "tst_mail.moc"
