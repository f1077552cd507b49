#include "services/directoryoperations.h"

#include "services/directorylisting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QDir::Filters everyEntry
    = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

QString directoryMessage(const QString &dirPath, const char *tail)
{
    return QLatin1String("Directory: ") + DirectoryListing::displayPath(dirPath)
        + QLatin1String(tail);
}

QString notClearedMessage(const QString &dirPath)
{
    return QLatin1String("Could not remove all content from directory: ")
        + DirectoryListing::displayPath(dirPath);
}

CallResult success(const QString &dirPath, const QStringList &values = {})
{
    return CallResult::ok(DirectoryListing::displayPath(dirPath), values);
}

// The path as the link itself is named: with a trailing "/" or "/." the system would resolve a
// link and hand back what it points to.
QString withoutTrailingSeparators(const QString &dirPath)
{
    QString path = QDir::fromNativeSeparators(dirPath);
    for (;;) {
        if (path.endsWith(QLatin1String("/.")))
            path.chop(2);
        else if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        else
            return path;
    }
}

bool isLink(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() || info.isJunction();
}

} // namespace

bool DirectoryOperations::exists(const QString &dirPath)
{
    return QDir(dirPath).exists();
}

CallResult DirectoryOperations::doesNotExist(const QString &dirPath)
{
    return CallResult::failure(NotFoundOrExists, directoryMessage(dirPath, " does not exist."));
}

CallResult DirectoryOperations::readDirectory(const QString &dirPath, uint filterCode,
                                              bool readSubDirs)
{
    if (!exists(dirPath))
        return doesNotExist(dirPath);
    const QStringList listing = DirectoryListing::listDirectory(dirPath, filterCode, readSubDirs);
    const QFileInfo info(dirPath.isEmpty() ? QStringLiteral(".") : dirPath);
    if (listing.isEmpty() && !info.isReadable()) {
        return CallResult::failure(MaybeUnreadable,
                                   directoryMessage(dirPath,
                                                    " appears to be empty. It MAY not be "
                                                    "readable by this user (this detail "
                                                    "cannot be confirmed)."));
    }
    return success(dirPath, listing);
}

CallResult DirectoryOperations::makeDirectory(const QString &dirPath)
{
    if (exists(dirPath))
        return CallResult::failure(NotFoundOrExists, directoryMessage(dirPath, " already exists."));
    if (!QDir().mkpath(dirPath))
        return CallResult::failure(Failed, directoryMessage(dirPath, " not could not be created."));
    return success(dirPath);
}

CallResult DirectoryOperations::clearDirectory(const QString &dirPath)
{
    if (!exists(dirPath))
        return doesNotExist(dirPath);
    // What a link points to is not the caller's to empty: nothing is removed.
    if (isLink(withoutTrailingSeparators(dirPath)) || !clearContents(dirPath))
        return CallResult::failure(Failed, notClearedMessage(dirPath));
    return success(dirPath);
}

CallResult DirectoryOperations::removeDirectory(const QString &dirPath)
{
    if (!exists(dirPath))
        return doesNotExist(dirPath);
    // A link goes as a link; what it points to stays whole.
    const QString linkPath = withoutTrailingSeparators(dirPath);
    if (isLink(linkPath)) {
        if (!QFile::remove(linkPath)) {
            return CallResult::failure(
                Failed, directoryMessage(dirPath, " is empty, but not could be removed."));
        }
        return success(dirPath);
    }
    if (!clearContents(dirPath))
        return CallResult::failure(NotCleared, notClearedMessage(dirPath));
    if (!QDir().rmdir(dirPath)) {
        return CallResult::failure(
            Failed, directoryMessage(dirPath, " is empty, but not could be removed."));
    }
    return success(dirPath);
}

bool DirectoryOperations::clearContents(const QString &dirPath)
{
    const QDir dir(dirPath);
    const QFileInfoList entries = dir.entryInfoList(everyEntry);
    for (const QFileInfo &entry : entries) {
        // Hidden subdirectories are left alone; they never show in a listing.
        if (entry.isDir() && !entry.isSymLink()) {
            if (!entry.isHidden())
                removeTree(entry.filePath());
        } else {
            QFile::remove(entry.filePath());
        }
    }
    // Only what a listing would show decides; failures of single removals are not reported.
    return DirectoryListing::listDirectory(dirPath, 0, false).isEmpty();
}

void DirectoryOperations::removeTree(const QString &path)
{
    // Never descends through a link: a link inside the tree goes, its target stays whole.
    const QFileInfoList entries = QDir(path).entryInfoList(everyEntry);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            removeTree(entry.filePath());
        else
            QFile::remove(entry.filePath());
    }
    QDir().rmdir(path);
}
