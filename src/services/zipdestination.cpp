#include "services/zipdestination_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool isLink(const QFileInfo &info)
{
    return info.isSymLink() || info.isJunction();
}

// The components below the root with "." dropped and ".." taking back the one before it; false
// when ".." climbs above the root.
bool componentsOf(const QString &relativePath, QStringList *parts)
{
    const QStringList names
        = QDir::fromNativeSeparators(relativePath).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        if (name == QLatin1String("."))
            continue;
        if (name != QLatin1String("..")) {
            parts->append(name);
            continue;
        }
        if (parts->isEmpty())
            return false;
        parts->removeLast();
    }
    return true;
}

void descend(QString *path, const QString &name)
{
    if (!path->endsWith(QLatin1Char('/')))
        *path += QLatin1Char('/');
    *path += name;
}

// Opens path for writing, created or truncated, refusing a link at its last component. Where the
// system can, the refusal is part of the open itself, so no link can be slipped in between a
// check and the write.
ZipDestination::Outcome openNoFollow(const QString &path, QFile *file,
                                     ZipDestination::OpenFailure *failure)
{
    file->setFileName(path);
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP && QFileInfo(path).isSymLink())
            return ZipDestination::Outcome::Outside;
        // What the toolkit reports for a failed open, so callers see one kind of error.
        failure->error = error == EMFILE ? QFileDevice::ResourceError : QFileDevice::OpenError;
        failure->errorString = qt_error_string(error);
        return ZipDestination::Outcome::Failed;
    }
    if (file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return ZipDestination::Outcome::Done;
    ::close(fd);
#else
    if (isLink(QFileInfo(path)))
        return ZipDestination::Outcome::Outside;
    if (file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return ZipDestination::Outcome::Done;
#endif
    failure->error = file->error();
    failure->errorString = file->errorString();
    return ZipDestination::Outcome::Failed;
}

} // namespace

ZipDestination::ZipDestination(const QString &root)
    : m_root(root.isEmpty() ? QStringLiteral(".") : QDir::fromNativeSeparators(root))
{
}

ZipDestination::Outcome ZipDestination::walk(const QStringList &parts, int count, bool create,
                                             QString *path) const
{
    *path = m_root;
    for (int i = 0; i < count; ++i) {
        descend(path, parts.at(i));
        const QFileInfo info(*path);
        if (isLink(info))
            return Outcome::Outside;
        if (info.isDir())
            continue;
        // mkdir never follows a link that appeared since the check: it fails on anything there.
        if (!create || info.exists() || !QDir().mkdir(*path))
            return Outcome::Failed;
    }
    return Outcome::Done;
}

ZipDestination::Outcome ZipDestination::makeParents(const QStringList &parts, int count,
                                                    QString *path) const
{
    // The root itself is the caller's: it is made like any path the caller names.
    if (!QFileInfo(m_root).isDir() && !QDir().mkpath(m_root))
        return Outcome::Failed;
    return walk(parts, count, true, path);
}

ZipDestination::Outcome ZipDestination::makePath(const QString &relativeDir) const
{
    QStringList parts;
    if (!componentsOf(relativeDir, &parts))
        return Outcome::Outside;
    QString path;
    return makeParents(parts, parts.size(), &path);
}

ZipDestination::Outcome ZipDestination::openFile(const QString &relativeFile, QFile *file,
                                                 OpenFailure *failure) const
{
    QStringList parts;
    if (!componentsOf(relativeFile, &parts))
        return Outcome::Outside;
    // Missing or misplaced directories are left to the open, which names what went wrong.
    QString path = m_root;
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0 && isLink(QFileInfo(path)))
            return Outcome::Outside;
        descend(&path, parts.at(i));
    }
    return openNoFollow(path, file, failure);
}

ZipDestination::Outcome ZipDestination::makeLink(const QString &relativeLink,
                                                 const QString &target) const
{
    QStringList parts;
    if (!componentsOf(relativeLink, &parts) || parts.isEmpty())
        return Outcome::Outside;
    QString path;
    const Outcome parent = makeParents(parts, parts.size() - 1, &path);
    if (parent != Outcome::Done)
        return parent;
    descend(&path, parts.last());
    return QFile::link(target, path) ? Outcome::Done : Outcome::Failed;
}

ZipDestination::Outcome
ZipDestination::setDirectoryPermissions(const QString &relativeDir,
                                        QFileDevice::Permissions permissions) const
{
    QStringList parts;
    if (!componentsOf(relativeDir, &parts))
        return Outcome::Outside;
    QString path;
    const Outcome found = walk(parts, parts.size(), false, &path);
    if (found != Outcome::Done)
        return found;
    return QFile::setPermissions(path, permissions) ? Outcome::Done : Outcome::Failed;
}
