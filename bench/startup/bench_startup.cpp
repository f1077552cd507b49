// Start-up benchmark: over several runs of a whole shell (the shell peer, a real
// CorvidApplication, offscreen), the time from starting the process to the container page
// loaded, and the resident memory once the bundled app has loaded in its content frame.
// Targets: at most 200 ms and at most 80 MB. Where the figures come from is printed beside them:
// the time before main() (loading and linking the libraries), building the application and its
// window, and loading the container page; the memory by kind and by the largest mappings.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>

namespace {

constexpr qint64 TargetMs = 200;
constexpr qint64 TargetKb = 80 * 1024;

struct Run
{
    qint64 loadedMs = -1; // process start to container page loaded, seen from outside
    qint64 mainMs = -1; // main() entered, from outside: loaded minus the peer's own count
    qint64 builtMs = -1; // application and window built, since main()
    qint64 innerLoadedMs = -1; // container page loaded, since main()
    qint64 readyMs = -1; // bundled app in the content frame with its key, from outside
    qint64 rssKb = -1;
    QMap<QString, qint64> statusKb; // RssAnon, RssFile, RssShmem
    QMap<QString, qint64> mappingsKb; // resident kB by mapped file (or [anon], [heap])
    QString failure;
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

bool copyTree(const QString &from, const QString &to)
{
    QDir source(from);
    if (!QDir().mkpath(to))
        return false;
    const QFileInfoList entries
        = source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        const bool ok = entry.isDir() ? copyTree(entry.filePath(), target)
                                      : QFile::copy(entry.filePath(), target);
        if (!ok)
            return false;
    }
    return true;
}

QMap<QString, qint64> statusFields(qint64 pid)
{
    QMap<QString, qint64> fields;
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return fields;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && (parts.at(0).startsWith("Rss") || parts.at(0) == "VmRSS:"))
            fields.insert(QString::fromLatin1(parts.at(0).chopped(1)), parts.at(1).toLongLong());
    }
    return fields;
}

// Resident kB per mapped file: the libraries, the heap and anonymous memory.
QMap<QString, qint64> mappings(qint64 pid)
{
    QMap<QString, qint64> sizes;
    QFile file(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return sizes;
    QString current;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.isEmpty() || parts.at(0).isEmpty())
            continue;
        if (parts.at(0).contains('-') && !parts.at(0).endsWith(':')) {
            current = parts.size() >= 6 ? QFileInfo(QString::fromLocal8Bit(parts.at(5))).fileName()
                                        : QStringLiteral("[anon]");
            continue;
        }
        if (parts.at(0) == "Rss:" && parts.size() >= 2)
            sizes[current] += parts.at(1).toLongLong();
    }
    return sizes;
}

class PeerRun
{
public:
    PeerRun(const QString &peer, const QString &workDir)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("TMPDIR"), workDir + QStringLiteral("/tmp"));
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(workDir);
        m_process.setProgram(peer);
        // The shipped configuration, except that the bundled app is loaded without the
        // configured wait for a broadcast start address.
        m_process.setArguments({ QStringLiteral("--set"), QStringLiteral("udp_wait_secs=0") });
    }

    Run measure()
    {
        Run run;
        m_clock.start();
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            run.failure = m_process.errorString();
            return run;
        }
        const QString built = waitFor(QStringLiteral("constructed"));
        const QString loaded = waitFor(QStringLiteral("loaded"));
        run.loadedMs = m_seenAt;
        const QString ready = waitFor(QStringLiteral("ready"));
        run.readyMs = m_seenAt;
        if (built.isNull() || loaded.isNull() || ready.isNull()) {
            run.failure = QStringLiteral("the peer did not report: ")
                + QString::fromUtf8(m_process.readAllStandardError());
            return run;
        }
        run.builtMs = built.toLongLong();
        run.innerLoadedMs = loaded.toLongLong();
        run.mainMs = run.loadedMs - run.innerLoadedMs;
        // The bundled app answers its first calls right after it is shown; let them finish.
        QThread::msleep(500);
        run.statusKb = statusFields(m_process.processId());
        run.rssKb = run.statusKb.value(QStringLiteral("VmRSS"), -1);
        run.mappingsKb = mappings(m_process.processId());
        m_process.write("close\n");
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        return run;
    }

private:
    QString waitFor(const QString &prefix)
    {
        while (m_clock.elapsed() < 30000) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line.startsWith(prefix + QLatin1Char(' '))) {
                    m_seenAt = m_clock.elapsed();
                    return line.mid(prefix.size() + 1);
                }
            }
            if (m_process.state() == QProcess::NotRunning)
                return QString();
            m_process.waitForReadyRead(50);
        }
        return QString();
    }

    QProcess m_process;
    QElapsedTimer m_clock;
    qint64 m_seenAt = -1;
};

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

QList<qint64> column(const QList<Run> &runs, qint64 Run::*field)
{
    QList<qint64> values;
    for (const Run &run : runs)
        values << run.*field;
    return values;
}

void printSpread(const QString &label, const QList<qint64> &values, const QString &unit)
{
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    out() << "  " << label.leftJustified(44) << median(values) << ' ' << unit << "  (min " << *low
          << ", max " << *high << ")\n";
}

void printMemory(const Run &run)
{
    out() << "Memory of the last run by kind:";
    for (auto it = run.statusKb.cbegin(); it != run.statusKb.cend(); ++it)
        out() << ' ' << it.key() << ' ' << it.value() / 1024 << " MB";
    out() << "\nLargest resident mappings of the last run:\n";
    QList<QPair<qint64, QString>> sorted;
    for (auto it = run.mappingsKb.cbegin(); it != run.mappingsKb.cend(); ++it)
        sorted.append({ it.value(), it.key() });
    std::sort(sorted.begin(), sorted.end(),
              [](const auto &a, const auto &b) { return a.first > b.first; });
    for (int i = 0; i < std::min<int>(10, sorted.size()); ++i)
        out() << "  " << QString::number(sorted.at(i).first / 1024.0, 'f', 1).rightJustified(7)
              << " MB  " << sorted.at(i).second << '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    int runs = 7;
    QString peer = QStringLiteral(SHELL_PEER);
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--peer"))
            peer = args.at(i + 1);
    }

    QTemporaryDir work;
    if (!copyTree(QStringLiteral(CORVID_SOURCE_DIR "/html"), work.filePath(QStringLiteral("html")))
        || !copyTree(QStringLiteral(CORVID_SOURCE_DIR "/app"), work.filePath(QStringLiteral("app")))
        || !QDir().mkpath(work.filePath(QStringLiteral("tmp")))) {
        out() << "cannot prepare the working directory " << work.path() << Qt::endl;
        return 2;
    }

    out() << "Shell start-up, " << runs << " runs of " << peer << " (offscreen)\n";
    QList<Run> done;
    // One run first that is not counted: it brings the libraries into the page cache.
    for (int i = 0; i <= runs; ++i) {
        PeerRun peerRun(peer, work.path());
        const Run run = peerRun.measure();
        if (!run.failure.isEmpty()) {
            out() << "run " << i << " failed: " << run.failure << Qt::endl;
            return 1;
        }
        if (i > 0)
            done << run;
    }

    const qint64 startMs = median(column(done, &Run::loadedMs));
    const qint64 rssKb = median(column(done, &Run::rssKb));
    printSpread(QStringLiteral("start to container page loaded"), column(done, &Run::loadedMs),
                QStringLiteral("ms"));
    printSpread(QStringLiteral("  of which before main()"), column(done, &Run::mainMs),
                QStringLiteral("ms"));
    printSpread(QStringLiteral("  main() to application and window built"),
                column(done, &Run::builtMs), QStringLiteral("ms"));
    QList<qint64> pageLoad;
    for (const Run &run : qAsConst(done))
        pageLoad << run.innerLoadedMs - run.builtMs;
    printSpread(QStringLiteral("  built to container page loaded"), pageLoad, QStringLiteral("ms"));
    printSpread(QStringLiteral("start to bundled app ready"), column(done, &Run::readyMs),
                QStringLiteral("ms"));
    QList<qint64> rssMb;
    for (const Run &run : qAsConst(done))
        rssMb << run.rssKb / 1024;
    printSpread(QStringLiteral("resident memory with the bundled app"), rssMb,
                QStringLiteral("MB"));
    printMemory(done.last());

    const bool timeMet = startMs <= TargetMs;
    const bool memoryMet = rssKb <= TargetKb;
    out() << "Target start-up <= " << TargetMs << " ms: " << (timeMet ? "met" : "MISSED") << " ("
          << startMs << " ms)\n";
    out() << "Target memory <= " << TargetKb / 1024 << " MB: " << (memoryMet ? "met" : "MISSED")
          << " (" << rssKb / 1024 << " MB)\n";
    out() << "Rerun: " << QCoreApplication::applicationFilePath() << " --runs " << runs
          << " --peer " << peer << Qt::endl;
    return timeMet && memoryMet ? 0 : 1;
}
