// Soaks the script bridge on the real view, offscreen: a hosted page in "contentFrame" makes
// 100,000 mixed keyed calls (small writeFile and readFile, readDirectory, encrypt and decrypt,
// zipRead of a small archive), each with its own callback id, keeping a window of some hundreds
// outstanding so that the response queue stays busy but bounded. The page checks every answer
// (the text read is the one last written, the deciphered text the plain one, the listing and the
// archive's entries the expected names) and that each id is answered exactly once.
// Figures: calls/s, resident memory after the warm-up and at the end, and its peak.
// Target: resident memory grows by less than 10 MB (10^6 bytes) after the warm-up.
//
// The script engine frees its garbage on its own schedule, so at the end of the warm-up the
// benchmark has it release everything it can (QWebSettings::clearMemoryCaches) and takes that as
// the base: the growth is then what the calls left behind, not where the collector happened to
// be. At the end it is measured as it stands (the target) and once more after such a release,
// which separates memory the engine merely has not collected yet from memory still held.
//
// Usage: bench_soak [--calls N] [--window N] [--warmup N]

#include "../hostedpage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QWebFrame>
#include <QWebSettings>

#include <algorithm>
#include <cstdio>

namespace {

// The hosted page. The expected answer of each call is decided when the call is made: a call's
// work is done inside the call, so a read sees exactly the writes made before it. Pending calls
// live in a table keyed by id, so a second answer for an id (or one never asked for) is caught,
// and the table never holds more than the window.
const char SoakPage[] = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>
var soak = { registered: false };
function onQtLoad() {
    qtCallbackPersistent( 'onSoak' );
    qtCallbackPersistent( 'onSetup' );
    soak.registered = true;
}

var Plan = [ 'write', 'read', 'list', 'encrypt', 'write', 'read', 'zip', 'decrypt', 'read', 'list' ];
var Slots = 16;
var Keys = [ 0, 7919, 104729 ];
var ListingNames = [ 'sub/', 'alpha.txt', 'Beta.txt' ];
var ZipEntries = [ 'docs/', 'docs/a.txt', 'docs/notes/', 'docs/notes/b.txt' ];

// Quotes, a backslash, a line feed, a line separator and characters beyond Latin-1 and the BMP:
// what the response encoding has to carry unchanged.
function soakText( id ) {
    return 'call ' + id + ': O\'Brien said "hi" at C:\\data\n\u00e9\u20ac \u2028 \ud83d\ude00 end ' + ( id * 7 );
}

function onSetup( id, success, code, message ) {
    soak.setup = { ok: success === true, text: [ success, code, message ].concat( [].slice.call( arguments, 4 ) ).join( '|' ) };
}

// The archive is made by the shell itself, from two files the benchmark wrote.
function makeArchive( dir ) {
    Qt().zipAppend( qtKey(), 'onSetup', 1, dir + 'small.zip',
                    dir + 'zipsrc/a.txt' + qtDelimiter() + dir + 'zipsrc/b.txt',
                    'docs/a.txt' + qtDelimiter() + 'docs/notes/b.txt' );
}

function sameList( a, b ) {
    if ( a.length !== b.length ) return false;
    for ( var i = 0; i < a.length; ++i ) if ( a[i] !== b[i] ) return false;
    return true;
}

function start( count, window, dir ) {
    var run = { count: count, window: window, dir: dir, next: 0, got: 0, bad: 0, faults: [],
                pending: {}, content: [], ciphers: [], counts: {}, done: false };
    soak.run = run;
    run.started = performance.now();
    issue( run );
}

function issue( run ) {
    while ( run.next < run.count && run.next - run.got < run.window ) call( run, run.next++ );
}

function call( run, id ) {
    var kind = Plan[id % Plan.length];
    var slot = Math.floor( id / Plan.length ) % Slots;
    var path = run.dir + 'slots/s' + slot + '.txt';
    if ( kind === 'decrypt' && run.ciphers.length === 0 ) kind = 'encrypt';
    var want = null;
    run.counts[kind] = ( run.counts[kind] || 0 ) + 1;
    run.pending[id] = { kind: kind };
    if ( kind === 'write' ) {
        run.content[slot] = soakText( id );
        Qt().writeFile( qtKey(), 'onSoak', id, path, run.content[slot] );
    } else if ( kind === 'read' ) {
        run.pending[id].want = run.content[slot];
        Qt().readFile( qtKey(), 'onSoak', id, path );
    } else if ( kind === 'list' ) {
        Qt().readDirectory( qtKey(), 'onSoak', id, run.dir + 'listing', 0 );
    } else if ( kind === 'zip' ) {
        Qt().zipRead( qtKey(), 'onSoak', id, run.dir + 'small.zip' );
    } else if ( kind === 'encrypt' ) {
        var key = Keys[id % Keys.length];
        run.pending[id].plain = soakText( id );
        run.pending[id].key = key;
        Qt().encrypt( qtKey(), 'onSoak', id, run.pending[id].plain, key );
    } else {
        var pair = run.ciphers[id % run.ciphers.length];
        run.pending[id].want = pair.plain;
        Qt().decrypt( qtKey(), 'onSoak', id, pair.cipher, pair.key );
    }
}

// Why an answer is wrong, or '' when it is right.
function problem( run, p, success, code, message, values ) {
    if ( success !== true || code !== 0 ) return 'failed: ' + code + ' ' + message;
    if ( p.kind === 'write' ) return message === '' && values.length === 0 ? '' : 'unexpected data';
    if ( p.kind === 'read' || p.kind === 'decrypt' ) return message === p.want ? '' : 'text changed: ' + message;
    if ( p.kind === 'list' ) {
        return message === run.dir + 'listing/' && sameList( values, ListingNames ) ? '' : 'listing: ' + values.join( ',' );
    }
    if ( p.kind === 'zip' ) {
        return message === run.dir + 'small.zip' && sameList( values, ZipEntries ) ? '' : 'entries: ' + values.join( ',' );
    }
    if ( message === '' || message === p.plain ) return 'no cipher text';
    // A ring of recent cipher texts, so that decrypt calls do not hold every one ever made.
    if ( run.ciphers.length < 64 ) run.ciphers.push( { plain: p.plain, cipher: message, key: p.key } );
    else run.ciphers[run.got % 64] = { plain: p.plain, cipher: message, key: p.key };
    return '';
}

function onSoak( id, success, code, message ) {
    var run = soak.run;
    var p = run.pending[id];
    if ( !p ) {
        run.bad++;
        if ( run.faults.length < 10 ) run.faults.push( id + ': answered twice or never asked' );
        return;
    }
    delete run.pending[id];
    run.got++;
    var why = problem( run, p, success, code, message, [].slice.call( arguments, 4 ) );
    if ( why ) {
        run.bad++;
        if ( run.faults.length < 10 ) run.faults.push( id + ' ' + p.kind + ': ' + why );
    }
    issue( run );
    if ( run.got === run.count ) {
        run.ms = performance.now() - run.started;
        run.done = true;
    }
}

function missing( limit ) {
    var ids = [];
    for ( var id in soak.run.pending ) { if ( ids.length < limit ) ids.push( id + ' ' + soak.run.pending[id].kind ); }
    return ids.join( ', ' );
}
</script></body></html>)HTML";

struct Options
{
    int calls = 100000;
    int window = 256;
    int warmup = 10000;
};

bool parseOptions(const QStringList &arguments, Options *options)
{
    return parseCounts(arguments,
                       { { QStringLiteral("--calls"), &options->calls },
                         { QStringLiteral("--window"), &options->window },
                         { QStringLiteral("--warmup"), &options->warmup } })
        && options->warmup < options->calls;
}

double megabytes(qint64 bytes)
{
    return double(bytes) / 1e6;
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

bool writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

class SoakShell : public HostedPage
{
public:
    bool start()
    {
        return HostedPage::start(QStringLiteral("soak.html"), SoakPage,
                                 QStringLiteral("soak.registered === true"),
                                 QStringLiteral("onSoak"));
    }

    // The listing folder and the archive's sources, then the archive made by a zipAppend call.
    bool prepare()
    {
        const QString dir = folder();
        if (!writeText(dir + QStringLiteral("listing/alpha.txt"), "a")
            || !writeText(dir + QStringLiteral("listing/Beta.txt"), "b")
            || !writeText(dir + QStringLiteral("listing/sub/c.txt"), "c")
            || !writeText(dir + QStringLiteral("zipsrc/a.txt"), "first entry")
            || !writeText(dir + QStringLiteral("zipsrc/b.txt"), "second entry")
            || !QDir().mkpath(dir + QStringLiteral("slots"))) {
            out() << "The benchmark's files could not be written in " << dir << '\n';
            return false;
        }
        eval(QStringLiteral("makeArchive('%1')").arg(dir));
        if (!waitFor([this] { return eval(QStringLiteral("!!soak.setup")).toBool(); }, 30000)
            || !eval(QStringLiteral("soak.setup.ok")).toBool()) {
            out() << "The archive could not be made: "
                  << eval(QStringLiteral("soak.setup && soak.setup.text")).toString() << '\n';
            return false;
        }
        return true;
    }

    QString folder() const { return path(QStringLiteral("soak/")); }
    int answered() const { return eval(QStringLiteral("soak.run.got")).toInt(); }
};

struct Figures
{
    qint64 warmRss = -1; // after the warm-up, once the engine released its garbage
    qint64 endRss = -1;
    qint64 releasedEndRss = -1; // at the end, once the engine released its garbage
    qint64 highestRss = -1; // the highest sample after the warm-up
    double ms = 0;
};

// Runs the soak, sampling resident memory from the polling timer. A run that stops making
// progress for a long while has lost answers: it is ended there rather than after a fixed time.
bool soak(SoakShell &shell, const Options &options, Figures *figures)
{
    shell.eval(QStringLiteral("start(%1, %2, '%3')")
                   .arg(options.calls)
                   .arg(options.window)
                   .arg(shell.folder()));
    int lastAnswered = -1;
    QElapsedTimer stalled;
    stalled.start();
    const bool finished = waitFor(
        [&] {
            const int answered = shell.answered();
            if (answered != lastAnswered) {
                lastAnswered = answered;
                stalled.restart();
            }
            if (answered >= options.warmup) {
                if (figures->warmRss < 0) {
                    QWebSettings::clearMemoryCaches();
                    figures->warmRss = statusBytes("VmRSS");
                }
                figures->highestRss = std::max(figures->highestRss, statusBytes("VmRSS"));
            }
            return shell.eval(QStringLiteral("soak.run.done")).toBool()
                || stalled.hasExpired(60000);
        },
        24 * 3600 * 1000);
    figures->endRss = statusBytes("VmRSS");
    QWebSettings::clearMemoryCaches();
    figures->releasedEndRss = statusBytes("VmRSS");
    figures->ms = shell.eval(QStringLiteral("soak.run.ms")).toDouble();
    const bool done = finished && shell.eval(QStringLiteral("soak.run.done")).toBool();
    const int bad = shell.eval(QStringLiteral("soak.run.bad")).toInt();
    const QVariantMap counts = shell.eval(QStringLiteral("soak.run.counts")).toMap();
    QStringList mix;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        mix.append(it.key() + QLatin1Char(' ') + QString::number(it.value().toInt()));
    out() << QStringLiteral("%1 mixed calls (%2), at most %3 outstanding\n")
                 .arg(options.calls)
                 .arg(mix.join(QStringLiteral(", ")))
                 .arg(options.window);
    if (!done) {
        out() << QStringLiteral("LOST: %1 of %2 calls never answered (first: %3)\n")
                     .arg(options.calls - shell.answered())
                     .arg(options.calls)
                     .arg(shell.eval(QStringLiteral("missing(10)")).toString());
    }
    if (bad > 0) {
        out() << QStringLiteral("WRONG: %1 answers duplicated, unexpected or wrong; first: %2\n")
                     .arg(bad)
                     .arg(shell.eval(QStringLiteral("soak.run.faults.join(' | ')")).toString());
    }
    if (done && bad == 0)
        out() << "every call answered exactly once, every result right\n";
    out().flush();
    return done && bad == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), &options)) {
        std::fprintf(stderr,
                     "usage: bench_soak [--calls N] [--window N] [--warmup N] (warm-up "
                     "fewer than calls)\n");
        return 2;
    }
    const QString command = QStringLiteral("QT_QPA_PLATFORM=offscreen %1 --calls %2 --window %3 "
                                           "--warmup %4")
                                .arg(QCoreApplication::applicationFilePath())
                                .arg(options.calls)
                                .arg(options.window)
                                .arg(options.warmup);
    SoakShell shell;
    if (!shell.start()) {
        out() << "The hosted page never got its key and callbacks.\n";
        return 1;
    }
    Figures figures;
    const bool ok = shell.prepare() && soak(shell, options, &figures);
    if (ok) {
        const qint64 growth = figures.endRss - figures.warmRss;
        out() << QStringLiteral("throughput: %1 calls/s (%2 s for %3 calls)\n")
                     .arg(figures.ms > 0 ? options.calls * 1000.0 / figures.ms : 0, 0, 'f', 0)
                     .arg(figures.ms / 1000, 0, 'f', 2)
                     .arg(options.calls);
        out() << QStringLiteral("resident memory: %1 MB after %2 calls, %3 MB at the end "
                                "(highest sample %4 MB), peak %5 MB\n")
                     .arg(megabytes(figures.warmRss), 0, 'f', 1)
                     .arg(options.warmup)
                     .arg(megabytes(figures.endRss), 0, 'f', 1)
                     .arg(megabytes(figures.highestRss), 0, 'f', 1)
                     .arg(megabytes(std::max(statusBytes("VmHWM"), figures.highestRss)), 0, 'f', 1);
        out() << QStringLiteral("still held at the end once the engine released its garbage: "
                                "%1 MB (%2 MB more than after the warm-up)\n")
                     .arg(megabytes(figures.releasedEndRss), 0, 'f', 1)
                     .arg(megabytes(figures.releasedEndRss - figures.warmRss), 0, 'f', 1);
        out() << QStringLiteral("growth after the warm-up: %1 MB   target < 10 MB: %2\n")
                     .arg(megabytes(growth), 0, 'f', 1)
                     .arg(verdict(figures.warmRss > 0 && growth < 10 * 1000 * 1000));
    } else {
        out() << "The soak failed: see above.\n";
    }
    out() << "Rerun: " << command << '\n';
    return ok ? 0 : 1;
}
