#include "platform/platformpaths.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlatformPaths {

bool ensurePrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info;
    if (::lstat(native.constData(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    if ((info.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        return false;
    return true;
}

QString tempFolder()
{
    const QString path
        = QDir::tempPath() + QStringLiteral("/corvid-") + QString::number(::getuid());
    return ensurePrivateFolder(path) ? path : QString();
}

bool folderIsWritable(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (::faccessat(AT_FDCWD, native.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    return ::geteuid() != 0 || (info.st_mode & 0222) != 0;
}

QString localPipePath(const QString &name)
{
    const QString folder = tempFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
}

} // namespace PlatformPaths
