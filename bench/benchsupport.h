#pragma once

// What every benchmark program needs: its output, the median of its runs, and a wait that lets
// the event loop run freely while the page works.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>
#include <QVector>

#include <algorithm>
#include <functional>

inline QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

inline double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int mid = values.size() / 2;
    return values.size() % 2 ? values.at(mid) : (values.at(mid - 1) + values.at(mid)) / 2;
}

// Runs the event loop until done() holds, checking from a slow timer so that the checks never
// sit inside what is measured; false when timeoutMs passed first.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QElapsedTimer elapsed;
    elapsed.start();
    bool result = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        result = done();
        if (result || elapsed.hasExpired(timeoutMs))
            loop.quit();
    });
    check.start(20);
    loop.exec();
    return result;
}
