// Measures the script bridge on the real view, offscreen, with a hosted page in "contentFrame"
// that talks to the shell only through Qt() and the container library:
//   (a) round trips of a small keyed call (registerExtension, answered [id,true,0,'']) from the
//       hosted frame to its callback in that frame: the median of sequential round trips (call,
//       callback, next call) and a burst of calls made in one go until every callback arrived;
//   (b) MB/s of a 16 MiB text result: readFile, timed in the frame from the call to the
//       callback holding the data; of that, the shell's reading and decoding of the file; the
//       highest resident memory of the process during the delivery, above what it held before;
//       and the same for four times the size, to show how the cost grows.
// Targets: (a) median round trip at most 25 us, burst of 10,000 at most 100 ms; (b) at least
// 400 MB/s (MB = 10^6 bytes), peak resident growth under 4x the payload.
//
// Usage: bench_bridge [--calls N] [--burst N] [--runs N] [--mib N]

#include "services/fileoperations.h"

#include "../hostedpage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWebFrame>
#include <QWebSettings>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// The hosted page: every run is started by the benchmark and records its own times, so the
// polling of the benchmark never sits inside a measured interval. performance.now() counts
// whole milliseconds in this engine, so single round trips are timed with benchClock (below)
// and only the long runs with performance.now().
const char BenchPage[] = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>
var bench = { registered: false };
function onQtLoad() {
    qtCallbackPersistent( 'onPing' );
    qtCallbackPersistent( 'onBurst' );
    qtCallbackPersistent( 'onRead' );
    bench.registered = true;
}
function onPing() { bench.ping.apply( null, arguments ); }
function onBurst() { bench.burst.apply( null, arguments ); }
function onRead() { bench.read.apply( null, arguments ); }

function runSequential( count ) {
    var times = [], i = 0, started = 0, bad = 0;
    bench.done = false;
    bench.ping = function( id, success, code, message ) {
        times.push( benchClock.now() - started );
        if ( id !== i || success !== true || code !== 0 || message !== '' || arguments.length !== 4 ) bad++;
        if ( ++i < count ) next();
        else { bench.times = times; bench.bad = bad; bench.done = true; }
    };
    function next() { started = benchClock.now(); Qt().registerExtension( qtKey(), 'onPing', i, 'corvidbench', false ); }
    next();
}

function runBurst( count ) {
    var seen = new Array( count ), got = 0, bad = 0, started;
    bench.done = false;
    bench.burst = function( id, success ) {
        if ( success !== true || id >= count || seen[id] ) bad++;
        else seen[id] = true;
        if ( ++got === count ) { bench.ms = performance.now() - started; bench.bad = bad; bench.done = true; }
    };
    started = performance.now();
    for ( var i = 0; i < count; ++i ) Qt().registerExtension( qtKey(), 'onBurst', i, 'corvidbench', false );
    bench.callMs = performance.now() - started;
}

function runRead( path ) {
    var started;
    bench.done = false;
    bench.read = function( id, success, code, message ) {
        bench.ms = performance.now() - started;
        bench.ok = success === true;
        bench.data = message;
        bench.done = true;
    };
    started = performance.now();
    Qt().readFile( qtKey(), 'onRead', 7, path );
}

// The cost of one clock reading, which each sequential interval holds once.
function clockCost( count ) {
    var costs = [];
    for ( var i = 0; i < count; ++i ) { var a = benchClock.now(); costs.push( benchClock.now() - a ); }
    return costs;
}

// Checked after the timing: the same sum as the benchmark's own over the file's text.
function dataSum() {
    var text = bench.data, sum = 0;
    for ( var i = 0; i < text.length; ++i ) sum = ( sum * 31 + text.charCodeAt( i ) ) >>> 0;
    bench.data = null;
    return text.length + ':' + sum;
}
</script></body></html>)HTML";

struct Options
{
    int calls = 2000;
    int burst = 10000;
    int runs = 5;
    int mib = 16;
};

bool parseOptions(const QStringList &arguments, Options *options)
{
    return parseCounts(arguments,
                       { { QStringLiteral("--calls"), &options->calls },
                         { QStringLiteral("--burst"), &options->burst },
                         { QStringLiteral("--runs"), &options->runs },
                         { QStringLiteral("--mib"), &options->mib } });
}

quint32 nextRandom(quint32 *state)
{
    *state = *state * 1664525u + 1013904223u;
    return *state;
}

// Prose-like text with the characters the response encoding has to escape: quotes, backslashes
// and line ends (LF only: a carriage return is dropped on the way, by design).
QByteArray textContent(int size)
{
    static const char *const words[]
        = { "the",     "shell",  "page", "frame", "callback", "O'Brien", "said", "\"hello\"",
            "C:\\app", "value",  "of",   "and",   "to",       "script",  "key",  "result",
            "message", "number", "12",   "2048",  "file",     "a",       "in",   "is" };
    const int wordCount = int(sizeof(words) / sizeof(words[0]));
    QByteArray data;
    data.reserve(size + 16);
    quint32 state = 20240611u;
    while (data.size() < size) {
        data += words[nextRandom(&state) % wordCount];
        data += (nextRandom(&state) % 12 == 0) ? '\n' : ' ';
    }
    data.truncate(size);
    return data;
}

QString textSum(const QString &text)
{
    quint32 sum = 0;
    for (const QChar c : text)
        sum = sum * 31u + c.unicode();
    return QString::number(text.size()) + QLatin1Char(':') + QString::number(sum);
}

double percentile(QVector<double> values, double fraction)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, int(values.size() * fraction)));
}

// A microsecond clock for the hosted page: the engine's own clocks count whole milliseconds.
class BenchClock : public QObject
{
    Q_OBJECT

public:
    BenchClock() { m_clock.start(); }

public slots:
    double now() const { return double(m_clock.nsecsElapsed()) / 1000.0; }

private:
    QElapsedTimer m_clock;
};

// The hosted page above, with the microsecond clock.
class BenchShell : public HostedPage
{
public:
    bool start()
    {
        if (!HostedPage::start(QStringLiteral("bench.html"), BenchPage,
                               QStringLiteral("bench.registered === true"),
                               QStringLiteral("onRead")))
            return false;
        content()->addToJavaScriptWindowObject(QStringLiteral("benchClock"), &m_clock);
        return true;
    }

    void collectGarbage() const { QWebSettings::clearMemoryCaches(); }

    // Starts a run in the hosted page and lets the event loop run until the page says it is
    // done. The check comes from a slow timer so it stays out of the page's own timings.
    bool run(const QString &script, int timeoutMs)
    {
        eval(script);
        return waitFor([this] { return eval(QStringLiteral("bench.done === true")).toBool(); },
                       timeoutMs);
    }

private:
    BenchClock m_clock;
};

QVector<double> numbers(const QVariant &list)
{
    QVector<double> values;
    const QVariantList items = list.toList();
    for (const QVariant &item : items)
        values.append(item.toDouble());
    return values;
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

bool sequential(BenchShell &shell, const Options &options)
{
    // One short run first so the script engine has compiled the paths it will take.
    if (!shell.run(QStringLiteral("runSequential(200)"), 30000))
        return false;
    QVector<double> all;
    for (int run = 0; run < options.runs; ++run) {
        if (!shell.run(QStringLiteral("runSequential(%1)").arg(options.calls), 120000)
            || shell.eval(QStringLiteral("bench.bad")).toInt() != 0)
            return false;
        all += numbers(shell.eval(QStringLiteral("bench.times")));
    }
    const double clock = median(numbers(shell.eval(QStringLiteral("clockCost(1000)"))));
    for (double &value : all)
        value -= clock;
    const double medianUs = median(all);
    out() << QStringLiteral("(a) sequential round trip: median %1 us, p90 %2 us, %3 round trips/s "
                            "(%4 calls x %5 runs, less %7 us for reading the clock)   target <= "
                            "25 us: %6\n")
                 .arg(medianUs, 0, 'f', 1)
                 .arg(percentile(all, 0.9), 0, 'f', 1)
                 .arg(medianUs > 0 ? 1e6 / medianUs : 0, 0, 'f', 0)
                 .arg(options.calls)
                 .arg(options.runs)
                 .arg(verdict(medianUs <= 25))
                 .arg(clock, 0, 'f', 1);
    out().flush();
    return true;
}

bool burst(BenchShell &shell, const Options &options)
{
    QVector<double> totals;
    QVector<double> calling;
    for (int run = 0; run < options.runs; ++run) {
        if (!shell.run(QStringLiteral("runBurst(%1)").arg(options.burst), 120000)
            || shell.eval(QStringLiteral("bench.bad")).toInt() != 0)
            return false;
        totals.append(shell.eval(QStringLiteral("bench.ms")).toDouble());
        calling.append(shell.eval(QStringLiteral("bench.callMs")).toDouble());
    }
    const double ms = median(totals);
    out() << QStringLiteral(
                 "(a) burst of %1 calls, all callbacks delivered: median %2 ms (best %3, "
                 "of which making the calls %4 ms), %5 calls/s   target <= 100 ms for "
                 "10,000: %6\n")
                 .arg(options.burst)
                 .arg(ms, 0, 'f', 1)
                 .arg(*std::min_element(totals.begin(), totals.end()), 0, 'f', 1)
                 .arg(median(calling), 0, 'f', 1)
                 .arg(ms > 0 ? options.burst * 1000.0 / ms : 0, 0, 'f', 0)
                 .arg(verdict(ms * 10000.0 / options.burst <= 100));
    out().flush();
    return true;
}

// The shell's own first stage: reading the file and decoding its text, as readFile does it.
double readMs(const QString &file, int runs)
{
    QVector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const CallResult read = FileOperations::readFile(file);
        times.append(double(timer.nsecsElapsed()) / 1e6);
        if (!read.success)
            return -1;
    }
    return median(times);
}

bool largeText(BenchShell &shell, int mib, int runs, bool withTarget)
{
    const QByteArray bytes = textContent(mib * 1024 * 1024);
    const QString file = shell.path(QStringLiteral("large.txt"));
    QFile target(file);
    if (!target.open(QIODevice::WriteOnly) || target.write(bytes) != bytes.size())
        return false;
    target.close();
    const QString expected = textSum(QString::fromUtf8(bytes));
    const QString script = QStringLiteral("runRead('%1')").arg(file);
    QVector<double> times;
    qint64 peakGrowth = 0;
    for (int run = 0; run < runs; ++run) {
        // The text of the run before is garbage by now; collected, it stays out of this peak.
        shell.collectGarbage();
        const qint64 before = statusBytes("VmRSS");
        const bool peakKnown = resetPeakResident();
        if (!shell.run(script, 120000) || !shell.eval(QStringLiteral("bench.ok")).toBool())
            return false;
        times.append(shell.eval(QStringLiteral("bench.ms")).toDouble());
        if (peakKnown)
            peakGrowth = qMax(peakGrowth, statusBytes("VmHWM") - before);
        const QString sum = shell.eval(QStringLiteral("dataSum()")).toString();
        if (sum != expected) {
            out() << "(b) the text arrived changed: " << sum << " instead of " << expected << '\n';
            return false;
        }
    }
    const double ms = median(times);
    const double read = readMs(file, runs);
    const double mbPerSecond = ms > 0 ? bytes.size() / (ms / 1000) / 1e6 : 0;
    const double factor = double(peakGrowth) / bytes.size();
    out() << QStringLiteral("(b) %1 MiB text by readFile: median %2 ms (best %3), %4 MB/s; reading "
                            "and decoding %5 ms, handing to the engine and the frame %6 ms; peak "
                            "resident growth %7 MiB (%8x the payload)")
                 .arg(mib)
                 .arg(ms, 0, 'f', 1)
                 .arg(*std::min_element(times.begin(), times.end()), 0, 'f', 1)
                 .arg(mbPerSecond, 0, 'f', 0)
                 .arg(read, 0, 'f', 1)
                 .arg(ms - read, 0, 'f', 1)
                 .arg(double(peakGrowth) / (1024 * 1024), 0, 'f', 0)
                 .arg(factor, 0, 'f', 1);
    if (withTarget)
        out() << QStringLiteral("   target >= 400 MB/s and < 4x: %1")
                     .arg(verdict(mbPerSecond >= 400 && factor < 4));
    out() << '\n';
    out().flush();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), &options)) {
        std::fprintf(stderr, "usage: bench_bridge [--calls N] [--burst N] [--runs N] [--mib N]\n");
        return 2;
    }
    const QString command
        = QStringLiteral("QT_QPA_PLATFORM=offscreen %1 --calls %2 --burst %3 --runs %4 --mib %5")
              .arg(QCoreApplication::applicationFilePath())
              .arg(options.calls)
              .arg(options.burst)
              .arg(options.runs)
              .arg(options.mib);
    BenchShell shell;
    if (!shell.start()) {
        out() << "The hosted page never got its key and callbacks.\n";
        return 1;
    }
    bool ok = sequential(shell, options);
    ok = ok && burst(shell, options);
    ok = ok && largeText(shell, options.mib, options.runs, true);
    ok = ok && largeText(shell, options.mib * 4, options.runs, false);
    if (!ok)
        out() << "A run failed or timed out: a callback was lost, changed or never came.\n";
    out() << "Rerun: " << command << '\n';
    return ok ? 0 : 1;
}

#include "bench_bridge.moc"
