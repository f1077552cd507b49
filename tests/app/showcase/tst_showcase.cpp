#include "shellfixture.h"

#include "net/udplistener.h"
#include "platform/registry.h"
#include "webview/popuphost.h"

#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QUdpSocket>

namespace {

const int Patience = 30000;

// A text as a script string literal.
QString literal(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

// The bundled showcase in a real shell on a copy of its files. Each panel is driven as a person
// drives it, by filling its inputs and pressing its buttons, and judged by what the page then
// shows, with the effect checked outside the page where there is one. Each panel's screenshot
// is saved in the build folder.
//
// A row is a list of steps, "verb target text": set an input, press a button, await a text in an
// element, and the outside checks (disk, udp, popup, clipboard, opened, mail, pdfpages, quit);
// a popup script that ends in false fails.
// {temp}, {http} and {udp} stand for the page's temporary folder, the loopback web server and a
// free UDP port.
class TestShowcase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void panels_data();
    void panels();

private:
    QString run(const QString &step);
    QString expand(const QString &text) const
    {
        return QString(text)
            .replace(QLatin1String("{temp}"), m_pageTemp)
            .replace(QLatin1String("{http}"), m_httpBase)
            .replace(QLatin1String("{udp}"), QString::number(m_udpPort));
    }
    QVariant eval(const QString &script) const { return m_shell->eval(m_shell->content(), script); }
    QString textOf(const QString &id) const
    {
        return eval(QStringLiteral("document.getElementById(%1).textContent").arg(literal(id)))
            .toString();
    }
    PopupHost *popups() const { return m_shell->host()->popups(); }

    QTemporaryDir m_tmp;
    QProcess m_http;
    QString m_httpBase;
    QTcpServer m_silentVideoHost;
    RecordingOpener m_opener;
    quint16 m_udpPort = 0;
    QString m_pageTemp;
    QScopedPointer<ShellFixture> m_shell;
    QScopedPointer<QSignalSpy> m_quits;
    bool m_failed = false; // keeps the files of a failed run
};

void TestShowcase::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    // The page's temporary folder (and with it the log) and the registry stand-in are this
    // test's own, and no session bus is asked for stand-by or Wi-Fi.
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/corvid-test-bus");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvid-test-bus");
    Registry::setStoreFolder(m_tmp.filePath(QStringLiteral("registry")));
    QVERIFY(Registry::setValue(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Clients\\Mail"),
                               QString(), QStringLiteral("Desktop Mail")));
    SystemOpener::setCurrent(&m_opener);
    // A closed window must not end the test's event loops.
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    // Videos go to a loopback port that never answers, so nothing leaves the machine.
    QVERIFY(m_silentVideoHost.listen(QHostAddress::LocalHost));

    const QString served = m_tmp.filePath(QStringLiteral("served"));
    QDir().mkpath(served);
    QFile greeting(served + QStringLiteral("/greeting.html"));
    QVERIFY(greeting.open(QIODevice::WriteOnly));
    greeting.write("<p>Served by python3 on the loopback.</p>\n");
    greeting.close();
    m_http.start(QStringLiteral("python3"),
                 { QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                   QStringLiteral("0"), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                   QStringLiteral("--directory"), served });
    const QRegularExpression serving(QStringLiteral("port (\\d+)"));
    QByteArray out;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     out += m_http.readAllStandardOutput();
                     return serving.match(QString::fromUtf8(out)).hasMatch()
                         || m_http.state() == QProcess::NotRunning;
                 },
                 Patience),
             "python3 -m http.server did not start");
    const int port = serving.match(QString::fromUtf8(out)).captured(1).toInt();
    QVERIFY2(port > 0, m_http.readAllStandardError().constData());
    m_httpBase = QStringLiteral("http://127.0.0.1:%1").arg(port);
}

void TestShowcase::cleanupTestCase()
{
    SystemOpener::setCurrent(nullptr);
    Registry::setStoreFolder(QString());
    m_http.kill();
    m_http.waitForFinished(5000);
    m_tmp.setAutoRemove(!m_failed);
}

// A shell on a fresh copy of the showcase, at a size that shows a whole panel.
void TestShowcase::init()
{
    m_shell.reset(new ShellFixture);
    const QString copy = m_shell->path(QStringLiteral("app/VellumMobile"));
    QDir().mkpath(copy);
    const QDir shipped(QStringLiteral(CORVID_SOURCE_DIR "/app/VellumMobile"));
    for (const QString &file : shipped.entryList(QDir::Files))
        QVERIFY(QFile::copy(shipped.filePath(file), copy + QLatin1Char('/') + file));
    m_shell->start(QStringLiteral("app/VellumMobile/VellumMobile.html"));
    m_shell->viewer->resize(1200, 820);
    QVERIFY(QTest::qWaitForWindowExposed(m_shell->viewer.data()));
    QVERIFY2(QTest::qWaitFor(
                 [this] {
                     return m_shell->contentReady(QStringLiteral("VellumMobile.html"))
                         && textOf(QStringLiteral("status")).startsWith("Hosted by Corvid");
                 },
                 Patience),
             "the showcase did not get its key");
    m_pageTemp = eval(QStringLiteral("qtTempDirPath()")).toString();
    QVERIFY(m_pageTemp.startsWith(m_tmp.path()));
    popups()->setOnlineCheck([] { return true; });
    popups()->setVideoEmbedBase(
        QStringLiteral("http://127.0.0.1:%1/embed/").arg(m_silentVideoHost.serverPort()));
    m_quits.reset(
        new QSignalSpy(m_shell->view()->webViewPrivate(), &WebViewPrivate::quitRequested));
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
    m_udpPort = probe.localPort();
}

void TestShowcase::cleanup()
{
    m_failed = m_failed || QTest::currentTestFailed();
    m_quits.reset();
    m_shell.reset();
}

void TestShowcase::panels_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("files") << QStringList {
        "set files-text Hello, Corvid \u00e4\u00f6\u00fc \u20ac",
        "press files-write",
        "await files-result Wrote 19 characters to {temp}showcase/note.txt",
        "disk {temp}showcase/note.txt Hello, Corvid \u00e4\u00f6\u00fc \u20ac",
        "press files-read",
        "await files-result Read back from {temp}showcase/note.txt:\nHello, Corvid "
        "\u00e4\u00f6\u00fc",
        "press files-move",
        "await files-result to    {temp}showcase/moved/note.txt",
        "press files-list",
        "await files-result {temp}showcase/moved/note.txt",
        "press files-export",
        "await files-result Handed showcase-note.txt",
        "opened showcase-note.txt",
        "shot",
    };
    QTest::newRow("zip") << QStringList {
        "press zip-sample",
        "await zip-result Sample folder ready.",
        "press zip-appendall",
        "await zip-result Added the folder",
        "press zip-append",
        "await zip-result Added the files",
        "press zip-read",
        "await zip-result notes/c.txt",
        "await zip-result extra/b.txt",
        "press zip-extractall",
        "await zip-result Extracted into {temp}showcase-unzipped/",
        "disk {temp}showcase-unzipped/extra/b.txt Second sample file",
        "press zip-listtarget",
        "await zip-result {temp}showcase-unzipped/notes/c.txt",
        "shot",
    };
    QTest::newRow("cipher") << QStringList {
        "set cipher-text Meet at dawn",
        "press cipher-roundtrip",
        "await cipher-result Deciphered:  Meet at dawn\nRound trip: the same text came back.",
        "set cipher-key 7",
        "press cipher-decrypt",
        "await cipher-result does not decipher with key 7",
        "press cipher-writefile",
        "await cipher-result enciphered",
        "press cipher-readfile",
        "await cipher-result :\nMeet at dawn",
        "shot",
    };
    QTest::newRow("pdf") << QStringList {
        "press pdf-make",
        "await pdf-result Showcase script.pdf: ",
        "press pdf-save",
        "await pdf-result Saved as {temp}showcase/Showcase script.pdf",
        "pdfpages pdf-result {temp}showcase/Showcase script.pdf",
        "press pdf-open",
        "await pdf-result Opened Showcase script.pdf",
        "opened Showcase script.pdf",
        "shot",
    };
    QTest::newRow("fetch") << QStringList {
        "set fetch-url {http}/greeting.html",
        "press fetch-source",
        "await fetch-result Fetched {http}/greeting.html:\n<p>Served by python3 on the "
        "loopback.</p>",
        "set fetch-name saved.html",
        "press fetch-downloadex",
        "await fetch-result Saved as {temp}saved.html:\n<p>Served by python3",
        "disk {temp}saved.html Served by python3",
        "shot",
    };
    QTest::newRow("udp") << QStringList {
        "set udp-port {udp}",
        "press udp-listen",
        "udp hello over the loopback",
        "await udp-result Datagram: hello over the loopback",
        "press udp-stop",
        "await udp-result Stopped listening.",
        "shot",
    };
    QTest::newRow("popups") << QStringList {
        "press popups-open",
        "await popups-result Popup open.",
        "popup document.getElementById('name').value = 'Grace'; "
        "document.getElementById('send').click();",
        "await popups-result event: greeting\nname = Grace\nscene = 12",
        "press popups-inject",
        "await popups-result Script run in the popup",
        "popup getComputedStyle(document.body).backgroundColor == 'rgb(255, 243, 196)'",
        "shot",
        "press popups-close",
        "await popups-result Popup closed.",
        "press popups-play",
        "await popups-result Video playing.",
        "press popups-stop",
        "await popups-result Video stopped.",
    };
    QTest::newRow("system") << QStringList {
        "press system-about",
        "await system-result qtTempDirPath():         {temp}",
        "set system-clip Copied by the test",
        "press system-setclip",
        "clipboard Copied by the test",
        "set system-data 7",
        "press system-setreg",
        "await system-result Stored Visits = 7",
        "press system-getreg",
        "await system-result Registry: Visits = 7",
        "press system-wrongkey",
        "await system-calls [null,4,[\"Invalid access key provided.\"]]",
        "shot",
    };
    QTest::newRow("mail") << QStringList {
        "set mail-subject Plain mail",
        "press mail-send",
        "await mail-result Handed \"Plain mail\" to the mail client.",
        "mail Subject: Plain mail",
        "set mail-subject Full mail",
        "press mail-sendfull",
        "await mail-result Handed \"Full mail\"",
        "mail Subject: Full mail",
        "mail X-Priority: 1",
        "mail callsheet.txt",
        "shot",
    };
    QTest::newRow("settings") << QStringList {
        "press settings-fetch",
        "await settings-result VellumMobile.html\nUser: ",
        "set settings-user ada",
        "press settings-update",
        "await settings-result Settings kept for this run.",
        "press settings-fetch",
        "await settings-result User: ada",
        "set settings-logapp true",
        "press settings-updatelog",
        "await settings-result Log switches stored.",
        "press settings-fetchlog",
        "await settings-result app \"1\"",
        "set settings-line Showcase line 42",
        "press settings-log",
        "press settings-readlog",
        "await settings-result The log's last lines:\n",
        "await settings-result Showcase line 42",
        "shot",
    };
    // The quit request waits for the page's work, then reaches the page, which then quits.
    QTest::newRow("quit") << QStringList {
        "press quit-listen",
        "await quit-result Listening",
        "set quit-seconds 2",
        "press quit-work",
        "await quit-result Working",
        "press quit-request",
        "await quit-result A quit was requested (state change indicator 5) with no work running",
        "shot",
        "press quit-now",
        "quit",
    };
}

void TestShowcase::panels()
{
    QFETCH(QStringList, steps);
    const QString panel = QString::fromLatin1(QTest::currentDataTag());
    QVERIFY(eval(QStringLiteral("var b = document.querySelector('#nav [data-panel=%1]'); "
                                "b.click(); document.getElementById('panel-%1').offsetHeight > 0")
                     .arg(panel))
                .toBool());
    for (const QString &step : steps) {
        const QString error = run(step);
        QVERIFY2(error.isEmpty(), qPrintable(step + QStringLiteral(": ") + error));
    }
    QVERIFY2(QFileInfo::exists(QStringLiteral(SCREENSHOT_DIR "/") + panel + ".png"),
             "no screenshot");
}

// Runs one step; empty when it went as expected, else what happened instead.
QString TestShowcase::run(const QString &step)
{
    const QString verb = step.section(QLatin1Char(' '), 0, 0);
    const QString argument = expand(step.section(QLatin1Char(' '), 1));
    const QString target = argument.section(QLatin1Char(' '), 0, 0);
    const QString text = argument.section(QLatin1Char(' '), 1);
    const QString element = QStringLiteral("document.getElementById(%1)").arg(literal(target));

    if (verb == QLatin1String("set")) {
        eval(QStringLiteral("var e = %1; if (e.type == 'checkbox') e.checked = %2 == 'true'; "
                            "else e.value = %2;")
                 .arg(element, literal(text)));
        return eval(element + QStringLiteral(".type == 'checkbox' ? String(") + element
                    + QStringLiteral(".checked) : ") + element + QStringLiteral(".value"))
                    .toString()
                == text
            ? QString()
            : QStringLiteral("no such input");
    }
    if (verb == QLatin1String("press"))
        return eval(QStringLiteral("var b = %1; if (b) b.click(); !!b").arg(element)).toBool()
            ? QString()
            : QStringLiteral("no such button");
    if (verb == QLatin1String("await"))
        return QTest::qWaitFor([&] { return textOf(target).contains(text); }, Patience)
            ? QString()
            : QStringLiteral("it shows: ") + textOf(target) + QStringLiteral("\nafter the calls: ")
                + textOf(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral("-calls"))
                + QStringLiteral("\nboxes: ") + m_shell->prompter.shown.join(QLatin1Char(';'));
    if (verb == QLatin1String("disk")) {
        QFile file(target);
        return file.open(QIODevice::ReadOnly) && QString::fromUtf8(file.readAll()).contains(text)
            ? QString()
            : QStringLiteral("not on disk");
    }
    if (verb == QLatin1String("udp")) {
        // The listener binds within the call, so it listens once the press has returned.
        UdpListener *listener = m_shell->view()->webViewPrivate()->udpListener();
        if (!listener || !listener->isListening())
            return QStringLiteral("not listening");
        QUdpSocket().writeDatagram(argument.toUtf8(), QHostAddress::LocalHost, m_udpPort);
        return QString();
    }
    if (verb == QLatin1String("popup")) {
        const auto popupFrame
            = [this] { return popups()->view() ? popups()->view()->page()->mainFrame() : nullptr; };
        if (!QTest::qWaitFor(
                [&] {
                    return m_shell
                        ->eval(popupFrame(),
                               QStringLiteral("document.readyState == 'complete' && "
                                              "typeof qtPostMessage == 'function'"))
                        .toBool();
                },
                Patience))
            return QStringLiteral("no popup page");
        return m_shell->eval(popupFrame(), argument) != QVariant(false)
            ? QString()
            : QStringLiteral("false in the popup");
    }
    if (verb == QLatin1String("clipboard"))
        return QGuiApplication::clipboard()->text() == argument
            ? QString()
            : QStringLiteral("the clipboard holds ") + QGuiApplication::clipboard()->text();
    if (verb == QLatin1String("opened"))
        return !m_opener.opened.isEmpty() && m_opener.opened.last().endsWith(argument)
            ? QString()
            : QStringLiteral("opened: ") + m_opener.opened.join(QLatin1Char(','));
    if (verb == QLatin1String("mail")) {
        QFile message(m_opener.opened.value(m_opener.opened.size() - 1));
        return message.fileName().endsWith(QLatin1String(".eml"))
                && message.open(QIODevice::ReadOnly)
                && message.readAll().contains(argument.toUtf8())
            ? QString()
            : QStringLiteral("no such message: ") + message.fileName();
    }
    if (verb == QLatin1String("pdfpages")) {
        // The count the page shows against the one qpdf reads from the file it saved.
        const QString shown
            = QRegularExpression(QStringLiteral("(\\d+) pages")).match(textOf(target)).captured(1);
        QProcess qpdf;
        qpdf.start(QStringLiteral("qpdf"), { QStringLiteral("--show-npages"), text });
        if (!qpdf.waitForFinished(Patience) || qpdf.exitCode() != 0)
            return QStringLiteral("qpdf failed: ") + QString::fromUtf8(qpdf.readAllStandardError());
        const QString counted = QString::fromUtf8(qpdf.readAllStandardOutput()).trimmed();
        return !shown.isEmpty() && shown == counted
            ? QString()
            : QStringLiteral("the page shows %1 pages, qpdf counts %2").arg(shown, counted);
    }
    if (verb == QLatin1String("shot"))
        return m_shell->viewer->grab().save(QStringLiteral(SCREENSHOT_DIR "/")
                                            + QString::fromLatin1(QTest::currentDataTag())
                                            + QStringLiteral(".png"))
            ? QString()
            : QStringLiteral("not saved");
    if (verb == QLatin1String("quit"))
        return QTest::qWaitFor([this] { return m_quits->count() > 0; }, Patience)
            ? QString()
            : QStringLiteral("the shell was not asked to quit");
    return QStringLiteral("unknown step");
}

QTEST_MAIN(TestShowcase)
#include "tst_showcase.moc"
