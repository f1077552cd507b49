// A second instance for the hand-over tests: writes a record and holds the segment until told to
// let go, or takes a record and applies it to a real window, printing what it got.

#include "webview/handoversegment.h"
#include "webview/viewerstate.h"

#include <QApplication>
#include <QTextStream>
#include <QWidget>

#include <iostream>
#include <string>

namespace {

int writeRecord(const QStringList &args)
{
    if (args.size() != 8)
        return 64;
    ViewerState state;
    state.x = args.at(3).toInt();
    state.y = args.at(4).toInt();
    state.width = args.at(5).toInt();
    state.height = args.at(6).toInt();
    state.url = QUrl(args.at(7));
    HandOverSegment segment(args.at(2));
    QTextStream out(stdout);
    if (!segment.write(state.serialize(true))) {
        out << "failed " << segment.errorString() << Qt::endl;
        return 2;
    }
    out << "written" << Qt::endl;
    // The segment lives only while someone holds it: hold it until stdin closes.
    std::string line;
    std::getline(std::cin, line);
    return 0;
}

int takeRecord(const QStringList &args)
{
    if (args.size() != 3)
        return 64;
    HandOverSegment segment(args.at(2));
    const ViewerState state = ViewerState::deserialize(segment.take());
    QTextStream out(stdout);
    if (!state.restored) {
        out << "defaults" << Qt::endl;
        return 0;
    }
    QWidget window;
    state.applyToWindow(&window);
    out << "restored " << window.x() << ' ' << window.y() << ' ' << window.width() << ' '
        << window.height() << ' ' << state.url.toString() << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 2 && args.at(1) == QLatin1String("write"))
        return writeRecord(args);
    if (args.size() >= 2 && args.at(1) == QLatin1String("read"))
        return takeRecord(args);
    return 64;
}
