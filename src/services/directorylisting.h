#pragma once

#include "platform/corvidexport.h"

#include <QString>
#include <QStringList>

// How directories are named and listed for the page. Listings never show ".", "..", hidden
// entries or symbolic links; within one directory the directories come first, then the files,
// each group sorted by name without regard to letter case.
namespace DirectoryListing {

// dirPath as given (the current directory when empty), with forward slashes and a trailing "/".
CORVID_EXPORT QString displayPath(const QString &dirPath);

// The listing of dirPath for filterCode (0 everything, 1 files, 2 directories, else nothing).
// Without readSubDirs the entries are bare names; with it they carry the display path of their
// directory, and every subdirectory below dirPath appends its own listing in walk order.
// Directory entries end with "/". The existence of dirPath is not checked.
CORVID_EXPORT QStringList listDirectory(const QString &dirPath, uint filterCode, bool readSubDirs);

} // namespace DirectoryListing
