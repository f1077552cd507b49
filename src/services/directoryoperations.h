#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QString>

// Bodies of the page's directory calls. Every success carries the directory's display path as
// its data; the access-key check and the delivery belong to the caller.
class CORVID_EXPORT DirectoryOperations final
{
public:
    enum Code {
        NotFoundOrExists = 1000,
        NotCleared = 1001,
        Failed = 2000,
        MaybeUnreadable = 9000,
    };

    static CallResult readDirectory(const QString &dirPath, uint filterCode = 0,
                                    bool readSubDirs = false);
    static CallResult makeDirectory(const QString &dirPath);
    static CallResult clearDirectory(const QString &dirPath);
    static CallResult removeDirectory(const QString &dirPath);

    // Removes the directory's files (hidden ones too), its links and its visible subdirectories
    // with their contents. Links are removed as links: what they point to is never touched.
    // True when no visible entry is left.
    static bool clearContents(const QString &dirPath);

private:
    static void removeTree(const QString &path);
    static bool exists(const QString &dirPath);
    static CallResult doesNotExist(const QString &dirPath);
};
