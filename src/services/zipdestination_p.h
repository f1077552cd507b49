#pragma once

// Where extraction writes, shared by ZipReader::extractAll and the page's extract calls.
// Not part of the exported interface.

#include <QFileDevice>
#include <QString>
#include <QStringList>

class QFile;

// A directory that the caller named and everything below it. The root may be reached through
// links of the caller's own choosing; below it nothing already on disk is followed: an existing
// link on the way, or at the place of the file itself, is refused as Outside. Paths below the
// root use "/" (and the platform's own separator); "." and ".." are resolved by name.
class ZipDestination final
{
public:
    enum class Outcome {
        Done,
        Outside, // a link stands in the way, or ".." climbs above the root
        Failed,
    };

    // Why a file could not be opened, in the toolkit's own terms.
    struct OpenFailure
    {
        QFileDevice::FileError error = QFileDevice::NoError;
        QString errorString;
    };

    explicit ZipDestination(const QString &root);

    // Creates the root when missing, then every missing directory of relativeDir below it.
    Outcome makePath(const QString &relativeDir) const;
    // Opens relativeFile for writing, created or truncated, in a directory that already exists.
    Outcome openFile(const QString &relativeFile, QFile *file, OpenFailure *failure) const;
    // Creates a link to target at relativeLink, creating its directory; never replaces anything.
    Outcome makeLink(const QString &relativeLink, const QString &target) const;
    // Sets the permissions of an existing directory below the root.
    Outcome setDirectoryPermissions(const QString &relativeDir,
                                    QFileDevice::Permissions permissions) const;

private:
    // Goes down the first count components, each of which must be a real directory (created
    // when missing and create is set); path receives where it ended.
    Outcome walk(const QStringList &parts, int count, bool create, QString *path) const;
    Outcome makeParents(const QStringList &parts, int count, QString *path) const;

    QString m_root;
};
