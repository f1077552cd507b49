// Feeds arbitrary page-given paths and filter codes to DirectoryListing. Paths are read from a
// small tree made at start (the working directory), which holds a symbolic link to itself and one
// to the root: a walk that followed either would never end or would leave the tree. Since the
// working directory moves, corpus directories must be given as absolute paths.

#include "services/directorylisting.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Only walks that cannot climb out of the tree recurse; anything else lists one directory.
bool staysInTree(const QString &path)
{
    if (QDir::isAbsolutePath(path) || path.startsWith(QLatin1Char('~')))
        return false;
    const QStringList parts
        = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    // "root" leads to the file system's root: a walk from there is the whole disk.
    return !parts.contains(QLatin1String("..")) && !parts.contains(QLatin1String("root"));
}

bool makeTree()
{
    static QTemporaryDir root;
    if (!root.isValid())
        return false;
    QDir dir(root.path());
    const bool made = dir.mkpath(QStringLiteral("a/b")) && dir.mkpath(QStringLiteral("C"))
        && dir.mkpath(QStringLiteral(".hidden"))
        && QFile::link(QStringLiteral("."), dir.filePath(QStringLiteral("a/loop")))
        && QFile::link(QStringLiteral("/"), dir.filePath(QStringLiteral("root")));
    for (const char *name : { "a/b/f.txt", "a/Z", "a/y", "x.bin", ".dot" }) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    return made && QDir::setCurrent(root.path());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = makeTree();
    if (!ready)
        std::abort();
    if (size < 1)
        return 0;
    const uint filterCode = data[0] & 0x03;
    const bool recursive = (data[0] & 0x04) != 0;
    const QString path = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), int(size - 1));

    const QString display = DirectoryListing::displayPath(path);
    if (!display.endsWith(QLatin1Char('/')) || display.contains(QLatin1Char('\\')))
        __builtin_trap();
    const QStringList listing
        = DirectoryListing::listDirectory(path, filterCode, recursive && staysInTree(path));
    // The tree holds a handful of entries; a longer listing went through a link.
    if (recursive && staysInTree(path) && listing.size() > 16)
        __builtin_trap();
    for (const QString &entry : listing) {
        if (entry.isEmpty() || (filterCode == 2 && !entry.endsWith(QLatin1Char('/'))))
            __builtin_trap();
    }
    return 0;
}
