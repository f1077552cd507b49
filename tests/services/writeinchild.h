#pragma once

#include <QProcess>
#include <QString>

// Runs the write helper with the file size limited to a few kilobytes, so that any larger write
// fails midway; the size signal is ignored so the write reports its error instead of killing
// the process. Returns the helper's report line, or an empty string when it did not run.
inline QString writeInChildWithSizeLimit(const QString &mode, const QString &path, int payloadSize)
{
    QProcess child;
    child.start(QStringLiteral("/bin/sh"),
                { QStringLiteral("-c"),
                  QStringLiteral("trap '' XFSZ; ulimit -f 4; exec \"$0\" \"$@\""),
                  QStringLiteral(CORVID_WRITE_HELPER), mode, path, QString::number(payloadSize) });
    if (!child.waitForFinished(30000) || child.exitCode() != 0)
        return QString();
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed();
}
