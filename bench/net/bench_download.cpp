// Measures a 256 MiB download from a loopback HTTP server (python3 -m http.server on 127.0.0.1)
// by a silent Downloader against curl -o from the same server, runs alternating:
//   (a) throughput in MB/s (10^6 bytes), medians over the runs;
//   (b) growth of this process's resident memory (VmRSS, sampled every 10 ms) during each
//       download of ours, the largest over the runs.
// Targets: (a) at least 0.8 times curl's throughput; (b) under 32 MiB.
//
// Usage: bench_download [--runs N] [--dir WORKDIR]     (needs python3 and curl)

#include "net/downloader.h"

#include "../benchsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 FileBytes = qint64(256) << 20;
constexpr double ThroughputTarget = 0.8;
constexpr double MemoryTargetMiB = 32;

bool makeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Random bytes, so that nothing on the way can shrink them.
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator random(42);
    for (qint64 written = 0; written < FileBytes; written += block.size()) {
        random.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

qint64 residentKiB()
{
    return statusBytes("VmRSS") / 1024;
}

// Starts the server over root; its port, or 0.
int startServer(QProcess *server, const QString &root)
{
    server->setProcessChannelMode(QProcess::SeparateChannels);
    server->start(QStringLiteral("python3"),
                  { QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                    QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                    QStringLiteral("--directory"), root, QStringLiteral("0") });
    if (!server->waitForStarted(10000))
        return 0;
    QByteArray line;
    while (!line.contains('\n') && server->waitForReadyRead(10000))
        line += server->readAllStandardOutput();
    // "Serving HTTP on 127.0.0.1 port N (http://127.0.0.1:N/) ..."
    return QRegularExpression(QStringLiteral("port (\\d+)"))
        .match(QString::fromUtf8(line))
        .captured(1)
        .toInt();
}

// Seconds for curl to save url at path, or -1.
double curlRun(const QString &curl, const QString &url, const QString &path)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(curl,
                  { QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), path, url });
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return -1;
    const double seconds = timer.nsecsElapsed() / 1e9;
    return QFileInfo(path).size() == FileBytes ? seconds : -1;
}

// Seconds for the downloader to save url at path, or -1; *growthKiB is the largest growth of
// resident memory seen during the download.
double ourRun(Downloader *downloader, const QString &url, const QString &path, qint64 *growthKiB)
{
    DownloadOptions options;
    options.silent = true;
    options.overwritePrompt = false;
    options.userSelectsPath = false;
    options.directory = QFileInfo(path).path();
    options.fileName = QFileInfo(path).fileName();

    QEventLoop loop;
    bool success = false;
    const auto done = QObject::connect(downloader, &Downloader::finished, &loop, [&](bool ok) {
        success = ok;
        loop.quit();
    });
    const qint64 baseline = residentKiB();
    qint64 peak = baseline;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = qMax(peak, residentKiB()); });
    sampler.start(10);

    QElapsedTimer timer;
    timer.start();
    if (downloader->start(QNetworkRequest(QUrl(url)), options))
        loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    sampler.stop();
    QObject::disconnect(done);
    *growthKiB = qMax(peak, residentKiB()) - baseline;
    return success && QFileInfo(path).size() == FileBytes ? seconds : -1;
}

QString verdict(bool met)
{
    return met ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int runs = 3;
    QString workDir = QDir::tempPath();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = qMax(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--dir"))
            workDir = args.at(i + 1);
    }
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        fprintf(stderr, "curl is missing: it is the reference this benchmark measures against\n");
        return 1;
    }
    QTemporaryDir temporary(workDir + QStringLiteral("/bench_download-XXXXXX"));
    const QString served = temporary.filePath(QStringLiteral("served"));
    const QString saved = temporary.filePath(QStringLiteral("saved"));
    if (!temporary.isValid() || !QDir().mkpath(served) || !QDir().mkpath(saved)
        || !makeFile(served + QStringLiteral("/file.bin"))) {
        fprintf(stderr, "cannot prepare the work directory under %s\n", qPrintable(workDir));
        return 1;
    }
    QProcess server;
    const int port = startServer(&server, served);
    if (port == 0) {
        fprintf(stderr, "python3 -m http.server did not start\n");
        return 1;
    }
    const QString url = QStringLiteral("http://127.0.0.1:%1/file.bin").arg(port);

    QNetworkAccessManager network;
    Downloader downloader(&network, nullptr);
    QVector<double> curlSeconds, ourSeconds;
    qint64 largestGrowthKiB = 0;
    const QString curlPath = saved + QStringLiteral("/curl.bin");
    const QString ourPath = saved + QStringLiteral("/ours.bin");
    for (int i = 0; i < runs; ++i) {
        QFile::remove(curlPath);
        curlSeconds.append(curlRun(curl, url, curlPath));
        QFile::remove(curlPath);
        qint64 growthKiB = 0;
        ourSeconds.append(ourRun(&downloader, url, ourPath, &growthKiB));
        QFile::remove(ourPath);
        largestGrowthKiB = qMax(largestGrowthKiB, growthKiB);
        if (curlSeconds.last() < 0 || ourSeconds.last() < 0) {
            fprintf(stderr, "run %d: a download failed (curl %.3f s, ours %.3f s)\n", i + 1,
                    curlSeconds.last(), ourSeconds.last());
            return 1;
        }
        out() << "run " << i + 1 << ": curl " << FileBytes / 1e6 / curlSeconds.last()
              << " MB/s, ours " << FileBytes / 1e6 / ourSeconds.last() << " MB/s, growth "
              << growthKiB / 1024.0 << " MiB\n";
        out().flush();
    }
    server.kill();
    server.waitForFinished(5000);

    const double curlRate = FileBytes / 1e6 / median(curlSeconds);
    const double ourRate = FileBytes / 1e6 / median(ourSeconds);
    const double ratio = ourRate / curlRate;
    const double growthMiB = largestGrowthKiB / 1024.0;
    out().setRealNumberNotation(QTextStream::FixedNotation);
    out().setRealNumberPrecision(2);
    out() << "256 MiB from python3 -m http.server on 127.0.0.1, median of " << runs << " runs\n";
    out() << "(a) curl -o " << curlRate << " MB/s, Downloader " << ourRate << " MB/s: ratio "
          << ratio << " (target at least " << ThroughputTarget << ") "
          << verdict(ratio >= ThroughputTarget) << "\n";
    out() << "(b) resident memory growth during a download: " << growthMiB
          << " MiB at most (target under " << MemoryTargetMiB << " MiB) "
          << verdict(growthMiB < MemoryTargetMiB) << "\n";
    out() << "rerun: QT_QPA_PLATFORM=offscreen " << app.applicationFilePath() << " --runs " << runs
          << (args.contains(QLatin1String("--dir")) ? " --dir " + workDir : QString()) << "\n";
    return 0;
}
