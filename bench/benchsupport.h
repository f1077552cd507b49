#pragma once

// What every benchmark program needs: its output, the median of its runs, a wait that lets the
// event loop run freely while the page works, and this process's memory.

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QStringList>
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

// Reads "--name N" pairs into the fields named; false on an unknown name or on a value that is
// not a positive whole number.
inline bool parseCounts(const QStringList &arguments, const QHash<QString, int *> &fields)
{
    for (int i = 1; i < arguments.size(); ++i) {
        int *field = fields.value(arguments.at(i));
        bool ok = field && i + 1 < arguments.size();
        const int value = ok ? arguments.at(++i).toInt(&ok) : 0;
        if (!ok || value <= 0)
            return false;
        *field = value;
    }
    return true;
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

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            // "VmRSS:	   73412 kB"
            const QByteArray kib = line.mid(prefix.size()).trimmed().split(' ').value(0);
            bool ok = false;
            const qint64 value = kib.toLongLong(&ok);
            return ok ? value * 1024 : -1;
        }
    }
    return -1;
}

// Starts a new peak: VmHWM counts from here on (Linux 4.0 and later).
inline bool resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}
