#include "net/downloader.h"
#include "platform/prompter.h"
#include "testserver.h"

#include <QNetworkAccessManager>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Answers the save dialog and questions as told and records every box as "title|text".
class RecordingPrompter : public Prompter
{
public:
    QString saveAnswer;
    QMessageBox::StandardButton answer = QMessageBox::No;
    QStringList boxes, saveDialogs;

    void information(QWidget *p, const QString &t, const QString &s) override { warning(p, t, s); }
    void warning(QWidget *, const QString &title, const QString &text) override
    {
        boxes << title + '|' + text;
        // A real box runs an event loop until it is answered.
        QTest::qWait(20);
    }
    QMessageBox::StandardButton question(QWidget *, const QString &title, const QString &text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton) override
    {
        const bool yesNo = buttons == (QMessageBox::Yes | QMessageBox::No);
        boxes << title + '|' + text + (yesNo && defaultButton == QMessageBox::No ? "" : "|?");
        return answer;
    }
    QString saveFileName(QWidget *, const QString &caption, const QString &dir,
                         const QString &filter, bool confirmOverwrite) override
    {
        saveDialogs << caption + '|' + dir + '|' + filter + (confirmOverwrite ? "|ask" : "|no");
        return saveAnswer;
    }
};

// One row of the outcomes table. Paths are relative to the test's folder, which "<dir>" stands
// for in texts; `existing` is the target's content beforehand, `content` afterwards (null: none).
struct Case
{
    QString address;
    DownloadOptions options;
    QString target, existing, saveAnswer;
    QMessageBox::StandardButton answer;
    bool success;
    QString callbackFunc;
    QStringList boxes, saveDialogs;
    QByteArray content;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestDownloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_data.resize(300 * 1024);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(m_data.data()),
                                      m_data.size() / 4);
        QVERIFY(QDir(m_root.path()).mkdir(QStringLiteral("dir")));
        QVERIFY(write(m_root.filePath(QStringLiteral("data.bin")), m_data));
        QVERIFY(m_server.start(m_root.path()));
        Prompter::setCurrent(&m_prompter);
        QLocale::setDefault(QLocale::c());
    }
    void cleanupTestCase() { Prompter::setCurrent(nullptr); }
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        m_prompter = RecordingPrompter();
        m_downloader.reset(new Downloader(&m_network, nullptr));
        m_downloader->setDownloadsFolder(path(QStringLiteral("downloads")));
        m_spy.reset(new QSignalSpy(m_downloader.get(), &Downloader::finished));
    }
    void cleanup() { m_dir->setAutoRemove(!QTest::currentTestFailed()); }

    void outcomes_data()
    {
        QTest::addColumn<Case>("c");
        const auto row = [](const char *name, const Case &c) { QTest::newRow(name) << c; };
        // clang-format off
        const QString data = "downloads/data.bin", chosen = "Save File As|<dir>/downloads/data.bin|";
        const QString completed = "Download Completed|data.bin Has Finished Downloading.";
        const QString replace = "Confirm Save As|data.bin Already Exists.\nDo You Want To Replace It?";
        row("silent, into the downloads folder made for it", {"/data.bin", {true, true, true, {}, {}, "cb"}, data, {}, {}, QMessageBox::No, true, "cb", {}, {}, m_data});
        row("save dialog with confirmation", {"/data.bin", {false, true, true, {}, {}, "cb"}, "downloads/other.bin", {}, "downloads/other.bin", QMessageBox::No, true, "cb", {"Download Completed|other.bin Has Finished Downloading."}, {chosen + "|ask"}, m_data});
        row("save dialog without confirmation", {"/data.bin", {false, false, true, {}, {}, "cb"}, data, "old", data, QMessageBox::No, true, "cb", {completed}, {chosen + "|no"}, m_data});
        row("save dialog cancelled", {"/data.bin", {false, true, true, {}, {}, "cb"}, data, {}, {}, QMessageBox::No, false, {}, {}, {chosen + "|ask"}, {}});
        row("replacement declined", {"/data.bin", {false, true, false, {}, {}, "cb"}, data, "old", {}, QMessageBox::No, false, {}, {replace}, {}, "old"});
        row("replacement accepted", {"/data.bin", {false, true, false, {}, {}, "cb"}, data, "old", {}, QMessageBox::Yes, true, "cb", {replace, completed}, {}, m_data});
        row("silent replaces without asking", {"/data.bin", {true, true, false, {}, {}, "cb"}, data, "old", {}, QMessageBox::No, true, "cb", {}, {}, m_data});
        row("address without a name", {"/dir/", {false, true, true, {}, {}, "cb"}, "downloads/dir", {}, {}, QMessageBox::No, false, {}, {}, {}, {}});
        row("caller's folder is missing", {"/data.bin", {false, true, false, "<dir>/missing", {}, "cb"}, "missing", {}, {}, QMessageBox::No, false, {}, {"Download Error|Unable to save the file <dir>/missing/data.bin: No such file or directory."}, {}, {}});
        row("downloads folder cannot be made", {"/data.bin", {false, true, false, {}, {}, "cb"}, "downloads", "file", {}, QMessageBox::No, false, {}, {"Download Error|The Downloads Folder Is Missing & Could Not Be Created!"}, {}, "file"});
        row("connection dropped", {"/drop?bytes=100000", {false, false, false, {}, {}, "cb"}, "downloads/drop", "old", {}, QMessageBox::No, false, "cb", {"Download Error|Error #: 2"}, {}, "old"});
        row("not found", {"/status?code=404", {false, false, false, {}, {}, "cb"}, "downloads/status", "old", {}, QMessageBox::No, false, "cb", {"Download Error|Error #: 203"}, {}, "old"});
        row("final answer 300", {"/status?code=300", {false, false, false, {}, {}, "cb"}, "downloads/status", "old", {}, QMessageBox::No, false, "cb", {"Download Error|Error #: 299"}, {}, "old"});
        // clang-format on
    }

    // Every road through a download: what is asked and shown, what is reported, what is on disk.
    void outcomes()
    {
        QFETCH(Case, c);
        if (!c.existing.isNull())
            QVERIFY(write(path(c.target), c.existing.toUtf8()));
        m_prompter.saveAnswer = c.saveAnswer.isEmpty() ? QString() : path(c.saveAnswer);
        m_prompter.answer = c.answer;
        c.options.directory.replace(QStringLiteral("<dir>"), m_dir->path());
        const bool started = m_downloader->start(request(c.address), c.options);
        if (started)
            QVERIFY2(m_spy->wait(30000), "the download never ended");
        QCOMPARE(m_spy->count(), 1);
        QCOMPARE(m_spy->first(),
                 (QVariantList { c.success, c.success ? path(c.target) : "", c.callbackFunc }));
        QCOMPARE(started, !c.callbackFunc.isEmpty());
        QCOMPARE(m_prompter.boxes, c.boxes.replaceInStrings("<dir>", m_dir->path()));
        QCOMPARE(m_prompter.saveDialogs, c.saveDialogs.replaceInStrings("<dir>", m_dir->path()));
        QCOMPARE(read(path(c.target)), c.content);
        const QFileInfo target(path(c.target));
        QCOMPARE(entries(target.path()),
                 target.exists() ? QStringList { target.fileName() } : QStringList());
    }

    // A write that fails midway (past the file size limit) fails the download.
    void writeFailure()
    {
        const QString target = path(QStringLiteral("downloads/size"));
        QVERIFY(write(target, "old"));
        struct rlimit saved, limited;
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        limited = saved;
        limited.rlim_cur = 1 << 20;
        const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        m_downloader->start(request(QStringLiteral("/size?bytes=8388608")), plain(false));
        const bool ended = m_spy->wait(30000);
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, oldHandler);
        QVERIFY2(ended, "the download never ended");
        QCOMPARE(m_spy->first(), (QVariantList { false, "", "cb" }));
        QCOMPARE(m_prompter.boxes,
                 QStringList { "Download Error|Unable to save the file " + target
                               + ": File too large." });
        QCOMPARE(read(target), QByteArray("old"));
        QCOMPARE(entries(path("downloads")), QStringList { "size" });
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("the dialog's Cancel") << true;
        QTest::newRow("cancel()") << false;
    }

    // Cancelling stops the transfer at once and keeps the old file; progress past 2 GiB fits.
    void cancel()
    {
        QFETCH(bool, byButton);
        const QString target = path(QStringLiteral("downloads/slow"));
        QVERIFY(write(target, "old"));
        QVERIFY(m_downloader->start(request("/slow?bytes=10000000&delay=0.05"), plain(false)));
        QProgressDialog *dialog = m_downloader->progressDialog();
        QVERIFY(dialog && dialog->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(dialog->labelText().contains(" of "), 30000);
        QMetaObject::invokeMethod(m_downloader.get(), "showProgress", Q_ARG(qint64, 3LL << 30),
                                  Q_ARG(qint64, 5LL << 30));
        QCOMPARE(dialog->labelText(), QStringLiteral("Downloading: slow\n3.0 GiB of 5.0 GiB"));
        QCOMPARE(dialog->value(), 600);
        QCOMPARE(dialog->maximum(), 1000);
        if (byButton)
            dialog->findChild<QPushButton *>()->click();
        else
            m_downloader->cancel();
        QCOMPARE(m_spy->count(), 1);
        QCOMPARE(m_spy->first(), (QVariantList { false, "", "cb" }));
        QVERIFY(!dialog->isVisible() && !m_downloader->isActive());
        QCOMPARE(m_prompter.boxes, QStringList());
        QCOMPARE(read(target), QByteArray("old"));
        QCOMPARE(entries(path("downloads")), QStringList { "slow" });
    }

    // A second request while one runs is refused on its own; the first one goes on.
    void conflict()
    {
        DownloadOptions first = plain(true);
        first.callbackFunc = QStringLiteral("first");
        QVERIFY(m_downloader->start(request("/slow?bytes=20480&delay=0.01"), first));
        QVERIFY(!m_downloader->start(request("/data.bin"), plain(false)));
        QCOMPARE(m_prompter.boxes,
                 QStringList { "Download Conflict|Sorry, Only One 1 File Download At A Time Is "
                               "Presently Supported!" });
        QCOMPARE(m_spy->count(), 1);
        QCOMPARE(m_spy->first(), (QVariantList { false, "", "" }));
        QVERIFY(m_spy->wait(30000));
        const QString target = path(QStringLiteral("downloads/slow"));
        QCOMPARE(m_spy->at(1), (QVariantList { true, target, "first" }));
        QCOMPARE(read(target), QByteArray(20480, 'c'));
        QCOMPARE(entries(path("downloads")), QStringList { "slow" });
    }

    // A link at the target is replaced itself; the file it points to stays as it was.
    void linkAtTarget()
    {
        const QString victim = path(QStringLiteral("victim.txt"));
        const QString target = path(QStringLiteral("downloads/data.bin"));
        QVERIFY(write(victim, "precious") && QDir().mkpath(path("downloads")));
        QVERIFY(QFile::link(victim, target));
        QVERIFY(m_downloader->start(request("/data.bin"), plain(true)));
        QVERIFY(m_spy->wait(30000));
        QCOMPARE(m_spy->first(), (QVariantList { true, target, "cb" }));
        QVERIFY(!QFileInfo(target).isSymLink());
        QCOMPARE(read(target), m_data);
        QCOMPARE(read(victim), QByteArray("precious"));
    }

private:
    static DownloadOptions plain(bool silent) { return { silent, false, false, {}, {}, "cb" }; }
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QNetworkRequest request(const QString &address) const
    {
        return QNetworkRequest(QUrl(m_server.url(address)));
    }
    static QStringList entries(const QString &dir)
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    static bool write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
            && file.write(bytes) == bytes.size();
    }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray m_data;
    QTemporaryDir m_root;
    TestServer m_server;
    RecordingPrompter m_prompter;
    QNetworkAccessManager m_network;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Downloader> m_downloader;
    std::unique_ptr<QSignalSpy> m_spy;
};

QTEST_MAIN(TestDownloader)
#include "tst_downloader.moc"
