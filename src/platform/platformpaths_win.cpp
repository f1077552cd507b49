#include "platform/platformpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace PlatformPaths {

bool ensurePrivateFolder(const QString &path)
{
    return QDir().mkpath(path);
}

QString tempFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

bool folderIsWritable(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

QString localPipePath(const QString &name)
{
    return QStringLiteral("\\\\.\\pipe\\") + name;
}

} // namespace PlatformPaths
