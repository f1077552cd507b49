#pragma once

#include "platform/corvidexport.h"

#include <QString>

// Folders and names whose form depends on the operating system.
namespace PlatformPaths {

// The platform's temporary folder for this user. On Windows that is the toolkit's temporary
// location, which is private to the user already. Elsewhere the toolkit's location is shared by
// every user, so a private folder (mode 0700, owned by us, not a link) is made inside it.
// Empty when no such folder can be had.
CORVID_EXPORT QString tempFolder();

// Checks (and on Unix creates) a private folder at path; used by tempFolder() and its tests.
CORVID_EXPORT bool ensurePrivateFolder(const QString &path);

// Whether the current user may create files in the folder at path. On Unix the folder's own
// write bits count even for the administrator, whom the system would let through anyway, so a
// copy made read-only keeps its data out whoever runs it.
CORVID_EXPORT bool folderIsWritable(const QString &path);

// The address of the local automation channel with the given name.
CORVID_EXPORT QString localPipePath(const QString &name);

} // namespace PlatformPaths
