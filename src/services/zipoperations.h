#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QString>
#include <QStringList>

// Bodies of the page's zip calls. Each does its work at once and returns the one report the page
// receives; the access-key check and the delivery belong to the caller.
//
// List arguments hold several paths joined by "_INTRADELIM_". A path ending in "/" (sources) or
// in "/" or "\" (destinations, entry names) names a directory.
class CORVID_EXPORT ZipOperations final
{
public:
    enum Code {
        PathMissing = 1000,
        PathUnreadable = 1001,
        PathUnwritable = 1002, // adding
        EntryMissing = 1002, // extracting
        SourceMissing = 1003, // adding
        EntryOutside = 1003, // extracting everything
        SourceUnreadable = 1004,
        DirectoryFailed = 2000,
        ListsNotAligned = 5000,
        DirectoryLooksEmpty = 9000,
    };

    static CallResult zipRead(const QString &zipFilePath);
    static CallResult zipAppend(const QString &zipFilePath, const QString &sourceFilePaths,
                                const QString &destinationFilePaths);
    static CallResult zipAppendAll(const QString &zipFilePath, const QString &sourceDirPath,
                                   bool wrapInContainerDir);
    static CallResult zipExtract(const QString &zipFilePath, const QString &sourceFilePaths,
                                 const QString &destinationFilePaths);
    static CallResult zipExtractAll(const QString &zipFilePath, const QString &destinationDirPath);

    // The entry names the calls work with: central-directory order without "__MACOSX/" and
    // ".DS_Store" entries, every missing ancestor directory inserted before its first
    // descendant. Empty when the archive cannot be read.
    static QStringList entryList(const QString &zipFilePath);

    static QString delimiter();

private:
    static CallResult add(const QString &zipFilePath, const QStringList &sources,
                          const QStringList &destinations);
    // With wholeInto set, every listed entry goes below that directory under its own name, the
    // lists being made from the archive; otherwise the lists name what goes where.
    static CallResult extract(const QString &zipFilePath, QStringList sources,
                              QStringList destinations, const QString &wholeInto);
};
