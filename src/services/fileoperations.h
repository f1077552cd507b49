#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

// Bodies of the page's file calls. Each performs its work at once and returns the one report
// the page receives; the access-key check and the delivery belong to the caller.
class CORVID_EXPORT FileOperations final
{
public:
    enum Code {
        Cancelled = 0,
        NotFound = 1000,
        AlreadyExists = 1001,
        RenameFailed = 1002,
        CopyFailed = 1003,
        DeleteFailed = 1004,
        DirectoryFailed = 2000,
    };

    static CallResult writeFile(const QString &filePath, const QString &data);
    static CallResult readFile(const QString &filePath);
    static CallResult writeBinaryFile(const QString &filePath, const QString &data);
    static CallResult readBinaryFile(const QString &filePath);
    static CallResult writeEncryptedFile(const QString &filePath, quint32 encryptionKey,
                                         const QString &data);
    static CallResult readEncryptedFile(const QString &filePath, quint32 encryptionKey);
    static CallResult deleteFile(const QString &filePath);
    static CallResult moveFile(const QString &currentPath, const QString &newPath);
    // Modes: 0 save, 1 open, 2 open several, 3 directory; others answer at once without a dialog.
    static CallResult browseForPath(uint modeCode, const QString &caption, const QString &startPath,
                                    const QString &filter, QWidget *dialogParent);
    // Called with each exported file that lies inside the export directory: it is the shell's
    // to delete once the program it was handed to has read it.
    using DeletionQueue = std::function<void(const QString &path)>;

    // Writes the file into exportDirectory (an absolute fileName stands as given) and opens it
    // with its associated application; files inside exportDirectory go to queueForDeletion.
    static CallResult exportFile(const QString &fileName, const QString &data, bool isBinary,
                                 const QString &fileType, const DeletionQueue &queueForDeletion,
                                 const QString &exportDirectory = exportDirectoryPath());
    // The report for the import callback, or none when nothing is to be delivered (no launch
    // file, or no import callback set).
    static std::optional<CallResult> onImportFile(const QString &launchFilePath,
                                                  const QString &importCallbackFunc);
    // Values [file name, content, binary flag "1"/"0", lower-case extension]; none when the
    // callback name or the path is empty. The file is read unless its bytes are given.
    static std::optional<CallResult> deliverFile(const QString &callbackFunc, const QString &path);
    static std::optional<CallResult> deliverFile(const QString &callbackFunc, const QString &path,
                                                 const QByteArray &bytes);

    // "temp" below the current directory, absolute.
    static QString exportDirectoryPath();
    // The toolkit's description of the file's last error, then the path.
    static QString fileErrorMessage(const QString &errorString, const QString &path);
    // "Directory: <dir> not could not be created."
    static QString directoryFailedMessage(const QString &directory);

private:
    static CallResult writeBytes(const QString &filePath, const QByteArray &bytes, bool textMode);
    static CallResult readBytes(const QString &filePath, bool textMode, QByteArray *bytes);
    static CallResult ensureParentDirectory(const QString &filePath);
    static CallResult copyAcross(const QString &currentPath, const QString &newPath);
    static std::optional<CallResult> deliver(const QString &callbackFunc, const QString &path,
                                             const QByteArray *bytes);
};
