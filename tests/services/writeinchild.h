#pragma once

#include <QProcess>

#include <unistd.h>

// Runs the write helper (see writehelper.cpp) under the shell prelude given. Returns the
// helper's report line, or an empty string when it did not run.
inline QString runWriteHelper(const QString &prelude, const QString &mode, const QString &path,
                              const QString &argument)
{
    QProcess child;
    child.start(QStringLiteral("/bin/sh"),
                { QStringLiteral("-c"), prelude + QStringLiteral(" \"$0\" \"$@\""),
                  QStringLiteral(CORVID_WRITE_HELPER), mode, path, argument });
    if (!child.waitForFinished(30000) || child.exitCode() != 0)
        return QString();
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed();
}

// The file size is limited to a few kilobytes, so that any larger write fails midway; the size
// signal is ignored so the write reports its error instead of killing the process.
inline QString writeInChildWithSizeLimit(const QString &mode, const QString &path,
                                         const QString &argument)
{
    return runWriteHelper(QStringLiteral("trap '' XFSZ; ulimit -f 4; exec"), mode, path, argument);
}

inline QString writeInChildWithSizeLimit(const QString &mode, const QString &path, int payloadSize)
{
    return writeInChildWithSizeLimit(mode, path, QString::number(payloadSize));
}

// Permissions bind the helper as they bind any user: the superuser's right to pass over them is
// dropped. Empty when this system cannot drop it.
inline QString writeInChildBoundByPermissions(const QString &mode, const QString &path,
                                              const QString &argument)
{
    return runWriteHelper(geteuid() == 0 ? QStringLiteral("exec setpriv --bounding-set="
                                                          "-dac_override,-dac_read_search")
                                         : QStringLiteral("exec"),
                          mode, path, argument);
}
