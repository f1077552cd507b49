#include "platform/platformpaths.h"

#include <QDir>
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

QString localPipePath(const QString &name)
{
    return QStringLiteral("\\\\.\\pipe\\") + name;
}

} // namespace PlatformPaths
