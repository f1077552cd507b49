#include "services/directorylisting.h"

#include <QDir>

#include <algorithm>

namespace {

enum FilterCode : uint { AllEntries = 0, FilesOnly = 1, DirectoriesOnly = 2 };

// Names of one kind of entry, never hidden and never links, ordered without regard to case.
// Names equal but for case are ordered case-sensitively so that listings are reproducible.
QStringList sortedNames(const QString &fsPath, QDir::Filters kind)
{
    QStringList names
        = QDir(fsPath).entryList(kind | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

void appendSingleListing(QStringList &listing, const QString &fsPath, const QString &prefix,
                         uint filterCode)
{
    if (filterCode == AllEntries || filterCode == DirectoriesOnly) {
        const QStringList dirs = sortedNames(fsPath, QDir::Dirs);
        for (const QString &name : dirs)
            listing.append(prefix + name + QLatin1Char('/'));
    }
    if (filterCode == AllEntries || filterCode == FilesOnly) {
        const QStringList files = sortedNames(fsPath, QDir::Files);
        for (const QString &name : files)
            listing.append(prefix + name);
    }
}

// Depth first: each subdirectory is listed when the walk meets it, before the walk enters it.
void appendSubDirectoryListings(QStringList &listing, const QString &fsPath, const QString &display,
                                uint filterCode)
{
    const QStringList dirs = sortedNames(fsPath, QDir::Dirs);
    for (const QString &name : dirs) {
        const QString subFsPath = QDir(fsPath).filePath(name);
        const QString subDisplay = display + name + QLatin1Char('/');
        appendSingleListing(listing, subFsPath, subDisplay, filterCode);
        appendSubDirectoryListings(listing, subFsPath, subDisplay, filterCode);
    }
}

} // namespace

namespace DirectoryListing {

QString displayPath(const QString &dirPath)
{
    QString display = dirPath.isEmpty() ? QDir::currentPath() : dirPath;
    display.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!display.endsWith(QLatin1Char('/')))
        display.append(QLatin1Char('/'));
    return display;
}

QStringList listDirectory(const QString &dirPath, uint filterCode, bool readSubDirs)
{
    QStringList listing;
    // No name on disk holds a NUL, but Qt lists some other directory for such a path, and the walk
    // down then finds that directory again below itself without end.
    if (filterCode > DirectoriesOnly || dirPath.contains(QChar(0)))
        return listing;
    const QString display = displayPath(dirPath);
    appendSingleListing(listing, dirPath, readSubDirs ? display : QString(), filterCode);
    if (readSubDirs)
        appendSubDirectoryListings(listing, dirPath, display, filterCode);
    return listing;
}

} // namespace DirectoryListing
