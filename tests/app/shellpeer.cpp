// A real shell in a process of its own, for the tests and the start-up benchmark: it applies
// the values of --set key=value (and --handover-key key), runs CorvidApplication as main() does,
// and reports "constructed <ms>" and "loaded <ms>" (the container page), "ready <ms>" (the start
// page holds its key), then "geometry <x> <y> <w> <h> normal|maximized" and "handover <restored>
// <url>", and "start <program> <arguments as JSON>" for a successor, which it never starts. It
// reads commands, one a line: close, recover, clone, eval <script in the content frame>,
// forcequit <ms per stage>. Other arguments reach the shell as its own.

#include "app/corvidapplication.h"
#include "config/appconfig.h"
#include "webview/qtwebview.h"
#include "webview/qtwebviewprivate.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsWebView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>
#include <QWebFrame>
#include <QWebPage>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

QElapsedTimer sinceMain;

void report(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QWebFrame *contentFrame(QtWebViewPrivate *host)
{
    for (QWebFrame *child : host->webView()->page()->mainFrame()->childFrames()) {
        if (child->frameName() == QLatin1String("contentFrame"))
            return child;
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    sinceMain.start();
    std::vector<char *> shellArgs { argv[0] };
    for (int i = 1; i < argc; ++i) {
        const QByteArray option(argv[i]);
        if ((option == "--set" || option == "--handover-key") && i + 1 < argc) {
            const QString value = QString::fromLocal8Bit(argv[++i]);
            if (option == "--handover-key")
                QtWebViewPrivate::setStartupHandOverKey(value);
            else
                AppConfig::setRunValue(value.section('=', 0, 0), value.section('=', 1));
        } else {
            shellArgs.push_back(argv[i]);
        }
    }
    int shellArgc = int(shellArgs.size());
    shellArgs.push_back(nullptr);
    CorvidApplication app(shellArgc, shellArgs.data());
    report(QStringLiteral("constructed %1").arg(sinceMain.elapsed()));
    QtWebViewPrivate *host = app.viewer().view()->pageHost();
    host->setProcessStarter([](const QString &program, const QStringList &arguments) {
        const QJsonDocument list(QJsonArray::fromStringList(arguments));
        report("start " + program + ' ' + QString::fromUtf8(list.toJson(QJsonDocument::Compact)));
        return true;
    });

    bool loaded = false;
    QObject::connect(host->webView(), &QGraphicsWebView::loadFinished, &app, [&loaded] {
        if (!std::exchange(loaded, true))
            report(QStringLiteral("loaded %1").arg(sinceMain.elapsed()));
    });

    QTimer readyPoll;
    const QString startPage = AppConfig().fullOnLoadUrl().fileName();
    QObject::connect(&readyPoll, &QTimer::timeout, &app, [&] {
        QWebFrame *content = contentFrame(host);
        // A page put back from a hand-over is set as content: it has only its base address.
        const QUrl shown = !content    ? QUrl()
            : content->url().isEmpty() ? content->baseUrl()
                                       : content->url();
        const QString hasKey = QStringLiteral("typeof(qtKey) == 'function' && qtKey() != null");
        if (shown.fileName() != startPage || !content->evaluateJavaScript(hasKey).toBool())
            return;
        readyPoll.stop();
        const QWidget &window = app.viewer();
        report(QStringLiteral("ready %1").arg(sinceMain.elapsed()));
        report(QString::asprintf("geometry %d %d %d %d ", window.x(), window.y(), window.width(),
                                 window.height())
               + (window.isMaximized() ? "maximized" : "normal"));
        report(QString::asprintf("handover %d ", host->state().restored)
               + host->state().url.toString());
    });
    readyPoll.start(10);

    const auto run = [&](const QString &line) {
        const QString command = line.section(' ', 0, 0);
        const QString rest = line.section(' ', 1);
        if (command == QLatin1String("close")) {
            app.viewer().close();
        } else if (command == QLatin1String("recover")) {
            host->recover();
        } else if (command == QLatin1String("clone")) {
            host->clone();
        } else if (command == QLatin1String("eval") && contentFrame(host)) {
            contentFrame(host)->evaluateJavaScript(rest);
        } else if (command == QLatin1String("forcequit")) {
            app.setForceQuitDelay(rest.toInt());
            app.forceQuit();
        } else if (!line.isEmpty()) {
            report("unknown command " + line);
        }
    };
    QFile input;
    input.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered);
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        const QString line = QString::fromUtf8(input.readLine()).trimmed();
        notifier.setEnabled(!line.isEmpty());
        // From the event loop: a close may wait for the page in a loop of its own, and the
        // commands that follow must still be read meanwhile.
        QTimer::singleShot(0, &app, [run, line] { run(line); });
    });
    return app.run();
}
