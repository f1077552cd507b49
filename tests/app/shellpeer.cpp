// A real shell in a process of its own, for tests and benchmarks that must watch what only a
// separate process shows: exit codes, a successor taking over the window, start-up time and
// memory. It runs CorvidApplication exactly as the shell's main() does, after applying the
// configuration values given on the command line, and reports on stdout:
//   constructed <ms>                 the application and its window are built (ms since main())
//   loaded <ms>                      the container page finished loading (ms since main())
//   ready <ms>                       the start page is in "contentFrame" and holds its key
//   geometry <x> <y> <w> <h> <state> the window at ready (state: normal, maximized, minimized)
//   handover <restored> <url>        whether a hand-over record was applied, and its address
//   start <program> <arguments>      a successor start, with --record-starts (arguments as JSON)
// It reads commands from stdin, one a line: close, recover, clone, eval <script>, geometry,
// content (reported as: content <address of "contentFrame">).
//
// Options: --set key=value (repeated), --page path (the start page, against the working
// directory), --handover-key key, --geometry x,y,w,h, --wait-step-ms n, --recover-quit-ms n,
// --force-quit-ms n (counted from ready) with --force-stage-ms n (each stage's delay),
// --record-starts. Other arguments reach the
// application as the shell's own arguments.

#include "app/corvidapplication.h"
#include "config/appconfig.h"
#include "webview/qtwebview.h"
#include "webview/qtwebviewprivate.h"
#include "webview/webviewprivate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsWebView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

struct PeerOptions
{
    QList<QPair<QString, QString>> runValues;
    QString page;
    QString handOverKey;
    QRect geometry;
    int waitStepMs = -1;
    int recoverQuitMs = -1;
    int forceQuitMs = -1;
    int forceStageMs = 100;
    bool recordStarts = false;
    std::vector<char *> shellArgs; // argv[0] and the arguments that are not peer options
    QString error;
};

QElapsedTimer &sinceMain()
{
    static QElapsedTimer clock;
    return clock;
}

void report(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool readInt(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= 0;
}

bool parseGeometry(const QString &text, QRect *geometry)
{
    const QStringList parts = text.split(QLatin1Char(','));
    int values[4];
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).toInt(&ok);
        if (!ok)
            return false;
    }
    *geometry = QRect(values[0], values[1], values[2], values[3]);
    return true;
}

// Reads the peer's own options; everything else is kept for the application.
PeerOptions parseOptions(int argc, char *argv[])
{
    PeerOptions options;
    options.shellArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        const QString value = hasValue ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        bool ok = true;
        if (arg == QLatin1String("--record-starts")) {
            options.recordStarts = true;
            continue;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            options.shellArgs.push_back(argv[i]);
            continue;
        }
        if (!hasValue) {
            options.error = QStringLiteral("missing value for ") + arg;
            return options;
        }
        ++i;
        if (arg == QLatin1String("--set")) {
            const int equals = value.indexOf(QLatin1Char('='));
            ok = equals > 0;
            options.runValues.append({ value.left(equals), value.mid(equals + 1) });
        } else if (arg == QLatin1String("--page")) {
            options.page = value;
        } else if (arg == QLatin1String("--handover-key")) {
            options.handOverKey = value;
        } else if (arg == QLatin1String("--geometry")) {
            ok = parseGeometry(value, &options.geometry);
        } else if (arg == QLatin1String("--wait-step-ms")) {
            ok = readInt(value, &options.waitStepMs);
        } else if (arg == QLatin1String("--recover-quit-ms")) {
            ok = readInt(value, &options.recoverQuitMs);
        } else if (arg == QLatin1String("--force-quit-ms")) {
            ok = readInt(value, &options.forceQuitMs);
        } else if (arg == QLatin1String("--force-stage-ms")) {
            ok = readInt(value, &options.forceStageMs);
        } else {
            ok = false;
        }
        if (!ok) {
            options.error = QStringLiteral("bad option ") + arg + QLatin1Char(' ') + value;
            return options;
        }
    }
    options.shellArgs.push_back(nullptr);
    return options;
}

QString windowStateName(const QWidget &window)
{
    if (window.isMaximized())
        return QStringLiteral("maximized");
    if (window.isMinimized())
        return QStringLiteral("minimized");
    return QStringLiteral("normal");
}

QWebFrame *contentFrame(QtWebView *view)
{
    const QList<QWebFrame *> children = view->mainFrame()->childFrames();
    for (QWebFrame *child : children) {
        if (child->frameName() == QLatin1String("contentFrame"))
            return child;
    }
    return nullptr;
}

// A page put back from a hand-over is set as content: it has only its base address.
QUrl shownUrl(QWebFrame *frame)
{
    return frame->url().isEmpty() ? frame->baseUrl() : frame->url();
}

// Watches the running shell for the moments the tests wait for, and runs their commands.
class PeerReporter : public QObject
{
public:
    PeerReporter(CorvidApplication &app, const QString &startPage, int forceQuitMs)
        : m_app(app)
        , m_view(app.viewer().view())
        , m_startPage(startPage)
        , m_forceQuitMs(forceQuitMs)
        , m_stdin(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(m_view->pageHost()->webView(), &QGraphicsWebView::loadFinished, this,
                &PeerReporter::onLoadFinished);
        connect(&m_readyPoll, &QTimer::timeout, this, &PeerReporter::pollReady);
        m_readyPoll.start(10);
        connect(&m_stdin, &QSocketNotifier::activated, this, &PeerReporter::readCommand);
    }

    void reportGeometry()
    {
        const QWidget &window = m_app.viewer();
        report(QStringLiteral("geometry %1 %2 %3 %4 %5")
                   .arg(window.x())
                   .arg(window.y())
                   .arg(window.width())
                   .arg(window.height())
                   .arg(windowStateName(window)));
    }

private:
    void onLoadFinished()
    {
        if (m_loadedReported)
            return;
        m_loadedReported = true;
        report(QStringLiteral("loaded %1").arg(sinceMain().elapsed()));
    }

    void pollReady()
    {
        QWebFrame *content = contentFrame(m_view);
        if (!content || shownUrl(content).fileName() != m_startPage)
            return;
        const QString hasKey = QStringLiteral("typeof(qtKey) == 'function' && qtKey() != null");
        if (!content->evaluateJavaScript(hasKey).toBool())
            return;
        m_readyPoll.stop();
        report(QStringLiteral("ready %1").arg(sinceMain().elapsed()));
        reportGeometry();
        const ViewerState &state = m_view->pageHost()->state();
        report(
            QStringLiteral("handover %1 %2").arg(state.restored ? 1 : 0).arg(state.url.toString()));
        // Counted from here, so that the page has had its chance to hold the shell first.
        if (m_forceQuitMs >= 0)
            QTimer::singleShot(m_forceQuitMs, &m_app, &CorvidApplication::forceQuit);
    }

    void readCommand()
    {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            m_stdin.setEnabled(false);
            return;
        }
        m_pending += QByteArray(buffer, int(got));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end)).trimmed();
            m_pending.remove(0, end + 1);
            // From the event loop: a close may wait for the page in a loop of its own, and the
            // commands that follow must still be read meanwhile.
            QTimer::singleShot(0, this, [this, line] { runCommand(line); });
        }
    }

    void runCommand(const QString &line)
    {
        if (line.isEmpty())
            return;
        const QString command = line.section(QLatin1Char(' '), 0, 0);
        const QString rest = line.section(QLatin1Char(' '), 1);
        QtWebViewPrivate *host = m_view->pageHost();
        if (command == QLatin1String("close")) {
            m_app.viewer().close();
        } else if (command == QLatin1String("recover")) {
            host->recover();
        } else if (command == QLatin1String("clone")) {
            host->clone();
        } else if (command == QLatin1String("eval")) {
            QWebFrame *content = contentFrame(m_view);
            (content ? content : m_view->mainFrame())->evaluateJavaScript(rest);
        } else if (command == QLatin1String("geometry")) {
            reportGeometry();
        } else if (command == QLatin1String("content")) {
            QWebFrame *content = contentFrame(m_view);
            report(QStringLiteral("content ")
                   + (content ? shownUrl(content).toString() : QString()));
        } else {
            report(QStringLiteral("unknown command ") + command);
        }
    }

    CorvidApplication &m_app;
    QtWebView *m_view;
    QString m_startPage;
    int m_forceQuitMs;
    QSocketNotifier m_stdin;
    QTimer m_readyPoll;
    QByteArray m_pending;
    bool m_loadedReported = false;
};

void recordStarts(QtWebViewPrivate *host)
{
    host->setProcessStarter([](const QString &program, const QStringList &arguments) {
        const QJsonArray list = QJsonArray::fromStringList(arguments);
        report(QStringLiteral("start ") + program + QLatin1Char(' ')
               + QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
        return true;
    });
}

void applyOptions(CorvidApplication &app, const PeerOptions &options)
{
    QtWebView *view = app.viewer().view();
    QtWebViewPrivate *host = view->pageHost();
    if (options.waitStepMs >= 0)
        view->webViewPrivate()->setWaitStepMs(options.waitStepMs);
    if (options.recoverQuitMs >= 0)
        host->setRecoverQuitDelay(options.recoverQuitMs);
    if (options.recordStarts)
        recordStarts(host);
    if (options.geometry.isValid()) {
        app.viewer().move(options.geometry.topLeft());
        app.viewer().resize(options.geometry.size());
    }
    if (options.forceQuitMs >= 0)
        app.setForceQuitDelay(options.forceStageMs);
}

} // namespace

int main(int argc, char *argv[])
{
    sinceMain().start();
    PeerOptions options = parseOptions(argc, argv);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "shellpeer: %s\n", options.error.toLocal8Bit().constData());
        return 64;
    }
    for (const auto &value : qAsConst(options.runValues))
        AppConfig::setRunValue(value.first, value.second);
    if (!options.page.isEmpty()) {
        AppConfig::setRunValue(
            QStringLiteral("on_load_url"),
            QUrl::fromLocalFile(QDir::current().absoluteFilePath(options.page)).toString());
    }
    if (!options.handOverKey.isEmpty())
        QtWebViewPrivate::setStartupHandOverKey(options.handOverKey);

    int shellArgc = int(options.shellArgs.size()) - 1;
    CorvidApplication app(shellArgc, options.shellArgs.data());
    applyOptions(app, options);
    report(QStringLiteral("constructed %1").arg(sinceMain().elapsed()));
    PeerReporter reporter(app, AppConfig().fullOnLoadUrl().fileName(), options.forceQuitMs);
    return app.run();
}
