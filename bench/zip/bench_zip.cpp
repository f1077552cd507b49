// Measures the zip calls against Info-ZIP on the same data in the same run:
//   (a) zipAppendAll of a tree  vs  zip -r -q
//   (b) zipExtractAll           vs  unzip -q -o
//   (c) zipAppend of one small file to the archive from (a)  vs  zip -q adding it to its own,
//       with the peak memory of our add (a child process that does nothing else).
// Targets: (a) and (b) at most 1.1, (c) at most 1.5 with peak memory under 64 MiB.
//
// Usage: bench_zip [--runs N] [--dir WORKDIR]
//        bench_zip --append-one ARCHIVE FILE      (the child of (c); prints its memory)

#include "services/zipoperations.h"

#include "../benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int TextFiles = 900;
constexpr int NoiseFiles = 100;
constexpr int FilesPerDirectory = 50;
constexpr int TextFileBytes = 50 * 1000;
constexpr int NoiseFileBytes = 550 * 1000;

quint32 nextRandom(quint32 *state)
{
    *state = *state * 1664525u + 1013904223u;
    return *state;
}

// Text from a small vocabulary in random order: compresses about as well as prose.
QByteArray textContent(int size, quint32 seed)
{
    static const char *const words[]
        = { "archive", "entry",  "central", "directory", "record", "deflate", "inflate", "header",
            "window",  "page",   "script",  "callback",  "value",  "message", "shell",   "frame",
            "the",     "a",      "of",      "and",       "to",     "in",      "is",      "for",
            "with",    "on",     "at",      "by",        "from",   "every",   "number",  "12",
            "2048",    "0x4000", "path",    "name",      "file",   "time",    "date",    "size" };
    const int wordCount = int(sizeof(words) / sizeof(words[0]));
    QByteArray data;
    data.reserve(size + 16);
    quint32 state = seed;
    while (data.size() < size) {
        data += words[nextRandom(&state) % wordCount];
        data += (nextRandom(&state) % 12 == 0) ? '\n' : ' ';
    }
    data.truncate(size);
    return data;
}

QByteArray noiseContent(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    quint32 state = seed;
    for (int i = 0; i < size; ++i)
        data[i] = char(nextRandom(&state) >> 24);
    return data;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool buildTree(const QString &root, qint64 *totalBytes)
{
    *totalBytes = 0;
    for (int i = 0; i < TextFiles + NoiseFiles; ++i) {
        const QString dir
            = root + QStringLiteral("/group%1").arg(i / FilesPerDirectory, 2, 10, QLatin1Char('0'));
        if (!QDir().mkpath(dir))
            return false;
        const bool text = i < TextFiles;
        const QByteArray data = text ? textContent(TextFileBytes + (i % 7) * 1000, quint32(i))
                                     : noiseContent(NoiseFileBytes, quint32(i));
        const QString name = QStringLiteral("%1/file%2.%3")
                                 .arg(dir)
                                 .arg(i, 4, 10, QLatin1Char('0'))
                                 .arg(text ? QStringLiteral("txt") : QStringLiteral("bin"));
        if (!writeFile(name, data))
            return false;
        *totalBytes += data.size();
    }
    return true;
}

bool runTool(const QString &program, const QStringList &arguments, const QString &workingDir)
{
    QProcess process;
    process.setWorkingDirectory(workingDir);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// Runs prepare (untimed) then work (timed) `runs` times; the median in seconds, or -1.
double medianSeconds(int runs, const std::function<void()> &prepare,
                     const std::function<bool()> &work)
{
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        if (!work())
            return -1;
        times.append(timer.nsecsElapsed() / 1e9);
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

qint64 statusValueKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

int appendOne(const QString &archive, const QString &file)
{
    const qint64 baseline = statusValueKiB("VmHWM:");
    const CallResult result = ZipOperations::zipAppend(archive, file, QStringLiteral("small.txt"));
    if (!result.success) {
        fprintf(stderr, "%s\n", qPrintable(result.message));
        return 1;
    }
    printf("%lld %lld\n", baseline, statusValueKiB("VmHWM:"));
    return 0;
}

QString verdict(double ratio, double target)
{
    return ratio <= target ? QStringLiteral("ok") : QStringLiteral("OVER TARGET");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--append-one"))
        return appendOne(args.at(2), args.at(3));

    int runs = 3;
    QString workDir;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = qMax(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--dir"))
            workDir = args.at(i + 1);
    }
    QTemporaryDir temporary(workDir.isEmpty()
                                ? QDir::tempPath() + QStringLiteral("/bench_zip-XXXXXX")
                                : workDir + QStringLiteral("/bench_zip-XXXXXX"));
    if (!temporary.isValid()) {
        fprintf(stderr, "cannot create a work directory\n");
        return 1;
    }
    const QString root = temporary.path();
    const QString tree = root + QStringLiteral("/tree");
    qint64 totalBytes = 0;
    if (!buildTree(tree, &totalBytes)) {
        fprintf(stderr, "cannot build the tree\n");
        return 1;
    }
    out() << "tree: " << (TextFiles + NoiseFiles) << " files, " << totalBytes / 1e6
          << " MB (text and incompressible), median of " << runs << " runs\n";
    out().flush();

    const QString ours = root + QStringLiteral("/ours.zip");
    const QString theirs = root + QStringLiteral("/theirs.zip");
    const auto removeArchives = [&] {
        QFile::remove(ours);
        QFile::remove(theirs);
    };

    // (a) pack the tree
    const double packOurs = medianSeconds(
        runs, [&] { QFile::remove(ours); },
        [&] { return ZipOperations::zipAppendAll(ours, tree, false).success; });
    const double packTheirs = medianSeconds(
        runs, [&] { QFile::remove(theirs); },
        [&] {
            return runTool(QStringLiteral("zip"), { "-r", "-q", theirs, "." }, tree);
        });

    // (b) unpack Info-ZIP's archive, both into fresh directories
    const QString outOurs = root + QStringLiteral("/out-ours");
    const QString outTheirs = root + QStringLiteral("/out-theirs");
    const double unpackOurs = medianSeconds(
        runs, [&] { QDir(outOurs).removeRecursively(); },
        [&] { return ZipOperations::zipExtractAll(theirs, outOurs).success; });
    const double unpackTheirs = medianSeconds(
        runs, [&] { QDir(outTheirs).removeRecursively(); },
        [&] {
            return runTool(QStringLiteral("unzip"), { "-q", "-o", theirs, "-d", outTheirs }, root);
        });

    // (c) add one small file, each tool to the archive it made in (a)
    const QString small = root + QStringLiteral("/small.txt");
    writeFile(small, "one small file\n");
    const QString oursCopy = root + QStringLiteral("/ours-add.zip");
    const QString theirsCopy = root + QStringLiteral("/theirs-add.zip");
    const double addOurs = medianSeconds(
        runs,
        [&] {
            QFile::remove(oursCopy);
            QFile::copy(ours, oursCopy);
        },
        [&] {
            return ZipOperations::zipAppend(oursCopy, small, QStringLiteral("small.txt")).success;
        });
    const double addTheirs = medianSeconds(
        runs,
        [&] {
            QFile::remove(theirsCopy);
            QFile::copy(theirs, theirsCopy);
        },
        [&] {
            return runTool(QStringLiteral("zip"), { "-q", theirsCopy, "small.txt" }, root);
        });

    // Peak memory of an add in a process that does nothing else.
    QFile::remove(oursCopy);
    QFile::copy(ours, oursCopy);
    QProcess child;
    child.start(app.applicationFilePath(), { QStringLiteral("--append-one"), oursCopy, small });
    child.waitForFinished(-1);
    const QList<QByteArray> memory = child.readAllStandardOutput().trimmed().split(' ');
    const double baselineMiB = memory.size() == 2 ? memory.at(0).toDouble() / 1024 : -1;
    const double peakMiB = memory.size() == 2 ? memory.at(1).toDouble() / 1024 : -1;
    removeArchives();

    if (packOurs < 0 || packTheirs < 0 || unpackOurs < 0 || unpackTheirs < 0 || addOurs < 0
        || addTheirs < 0) {
        fprintf(stderr, "a measured step failed\n");
        return 1;
    }
    const double ratioA = packOurs / packTheirs;
    const double ratioB = unpackOurs / unpackTheirs;
    const double ratioC = addOurs / addTheirs;
    out().setRealNumberPrecision(3);
    out() << "(a) zipAppendAll " << packOurs << " s, zip -r -q " << packTheirs << " s: ratio "
          << ratioA << " (target 1.1) " << verdict(ratioA, 1.1) << "\n";
    out() << "(b) zipExtractAll " << unpackOurs << " s, unzip -q -o " << unpackTheirs
          << " s: ratio " << ratioB << " (target 1.1) " << verdict(ratioB, 1.1) << "\n";
    out() << "(c) zipAppend one file " << addOurs << " s, zip -q " << addTheirs << " s: ratio "
          << ratioC << " (target 1.5) " << verdict(ratioC, 1.5) << "\n";
    out() << "(c) peak memory of the add: " << peakMiB
          << " MiB (process before the add: " << baselineMiB << " MiB; target under 64 MiB) "
          << (peakMiB >= 0 && peakMiB < 64 ? "ok" : "OVER TARGET") << "\n";
    out() << "rerun: " << app.applicationFilePath() << " --runs " << runs
          << (workDir.isEmpty() ? QString() : QStringLiteral(" --dir ") + workDir) << "\n";
    return 0;
}
