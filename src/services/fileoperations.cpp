#include "services/fileoperations.h"

#include "config/appconfig.h"
#include "platform/binarytext.h"
#include "platform/filewriter.h"
#include "platform/prompter.h"
#include "platform/systemopener.h"
#include "platform/textcipher.h"
#include "services/mimetable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

enum BrowseMode : uint { SaveFile = 0, OpenFile = 1, OpenFiles = 2, ChooseDirectory = 3 };

// Text mode as the platform defines it: only Windows converts line ends.
QIODevice::OpenMode textModeFlag(bool textMode)
{
#ifdef Q_OS_WIN
    return textMode ? QIODevice::Text : QIODevice::NotOpen;
#else
    Q_UNUSED(textMode)
    return QIODevice::NotOpen;
#endif
}

// Where names differing only in letter case are one file, a case-only move has nothing to do.
bool fileNamesIgnoreCase()
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return true;
#else
    return false;
#endif
}

// Text read from a file ends at its first NUL byte.
QString textUpToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

bool entryExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

CallResult fileFailure(const QFileDevice &file, const QString &path)
{
    return CallResult::failure(file.error(),
                               FileOperations::fileErrorMessage(file.errorString(), path));
}

CallResult notFound(const QString &path)
{
    return CallResult::failure(FileOperations::NotFound, QLatin1String("File not found: ") + path);
}

bool isInside(const QString &path, const QString &directory)
{
    const QString file = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString dir = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
    return file.startsWith(dir + QLatin1Char('/'));
}

QString exportFailureMessage(const QString &fileName, const QString &reason)
{
    return QLatin1String("Could not export file: ") + fileName + QLatin1String(". ") + reason;
}

} // namespace

QString FileOperations::exportDirectoryPath()
{
    return AppConfig::dataPath(AppConfig::tempDirName());
}

QString FileOperations::fileErrorMessage(const QString &errorString, const QString &path)
{
    return errorString + QLatin1String(" (File Path: ") + path + QLatin1Char(')');
}

QString FileOperations::directoryFailedMessage(const QString &directory)
{
    return QLatin1String("Directory: ") + directory + QLatin1String(" not could not be created.");
}

CallResult FileOperations::ensureParentDirectory(const QString &filePath)
{
    const QString parent = QFileInfo(filePath).path();
    if (QDir(parent).exists() || QDir().mkpath(parent))
        return CallResult::ok();
    return CallResult::failure(DirectoryFailed, directoryFailedMessage(parent));
}

CallResult FileOperations::writeBytes(const QString &filePath, const QByteArray &bytes,
                                      bool textMode)
{
    const CallResult parent = ensureParentDirectory(filePath);
    if (!parent.success)
        return parent;
    if (QFileInfo(filePath).isDir()) {
        // Opened plainly, a directory reports the same open error as it always has.
        QFile directory(filePath);
        directory.open(QIODevice::WriteOnly);
        return fileFailure(directory, filePath);
    }
    // The new content replaces the old only once it is completely on disk.
    QSaveFile file(filePath);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | textModeFlag(textMode))
        || !FileWriter::writeAll(file, bytes) || !file.commit())
        return fileFailure(file, filePath);
    return CallResult::ok();
}

CallResult FileOperations::readBytes(const QString &filePath, bool textMode, QByteArray *bytes)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | textModeFlag(textMode)))
        return file.exists() ? fileFailure(file, filePath) : notFound(filePath);
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fileFailure(file, filePath);
    return CallResult::ok();
}

CallResult FileOperations::writeFile(const QString &filePath, const QString &data)
{
    return writeBytes(filePath, data.toUtf8(), true);
}

CallResult FileOperations::readFile(const QString &filePath)
{
    QByteArray bytes;
    const CallResult read = readBytes(filePath, true, &bytes);
    return read.success ? CallResult::ok(textUpToNul(bytes)) : read;
}

CallResult FileOperations::writeBinaryFile(const QString &filePath, const QString &data)
{
    return writeBytes(filePath, BinaryText::decode(data), false);
}

CallResult FileOperations::readBinaryFile(const QString &filePath)
{
    QByteArray bytes;
    const CallResult read = readBytes(filePath, false, &bytes);
    return read.success ? CallResult::ok(BinaryText::encode(bytes)) : read;
}

CallResult FileOperations::writeEncryptedFile(const QString &filePath, quint32 encryptionKey,
                                              const QString &data)
{
    return writeFile(filePath, TextCipher::encryptWithKey(data, encryptionKey));
}

CallResult FileOperations::readEncryptedFile(const QString &filePath, quint32 encryptionKey)
{
    QByteArray bytes;
    const CallResult read = readBytes(filePath, true, &bytes);
    if (!read.success)
        return read;
    return CallResult::ok(TextCipher::decryptWithKey(QString::fromUtf8(bytes), encryptionKey));
}

CallResult FileOperations::deleteFile(const QString &filePath)
{
    QFile file(filePath);
    if (file.remove())
        return CallResult::ok();
    if (!entryExists(filePath))
        return notFound(filePath);
    return fileFailure(file, filePath);
}

CallResult FileOperations::moveFile(const QString &currentPath, const QString &newPath)
{
    if (!entryExists(currentPath)) {
        return CallResult::failure(
            NotFound, QLatin1String("File: ") + currentPath + QLatin1String(" does not exist."));
    }
    if (currentPath == newPath
        || (fileNamesIgnoreCase() && currentPath.toLower() == newPath.toLower()))
        return CallResult::ok();
    if (entryExists(newPath)) {
        return CallResult::failure(
            AlreadyExists, QLatin1String("File: ") + newPath + QLatin1String(" already exists."));
    }
    if (QFileInfo(currentPath).path() != QFileInfo(newPath).path()) {
        const CallResult parent = ensureParentDirectory(newPath);
        return parent.success ? copyAcross(currentPath, newPath) : parent;
    }
    if (!QFile::rename(currentPath, newPath)) {
        return CallResult::failure(RenameFailed,
                                   QLatin1String("File: ") + currentPath
                                       + QLatin1String(" could not be renamed to: ") + newPath
                                       + QLatin1Char('.'));
    }
    return CallResult::ok();
}

CallResult FileOperations::copyAcross(const QString &currentPath, const QString &newPath)
{
    if (!QFile::copy(currentPath, newPath)) {
        return CallResult::failure(CopyFailed,
                                   QLatin1String("File: ") + currentPath
                                       + QLatin1String(" could not be copied to: ") + newPath
                                       + QLatin1Char('.'));
    }
    if (!QFile::remove(currentPath)) {
        return CallResult::failure(DeleteFailed,
                                   QLatin1String("File: ") + currentPath
                                       + QLatin1String(" could not be deleted."));
    }
    return CallResult::ok();
}

CallResult FileOperations::browseForPath(uint modeCode, const QString &caption,
                                         const QString &startPath, const QString &filter,
                                         QWidget *dialogParent)
{
    Prompter &prompter = Prompter::current();
    QString chosen;
    switch (modeCode) {
    case SaveFile:
        chosen = prompter.saveFileName(dialogParent, caption, startPath, filter, true);
        break;
    case OpenFile:
        chosen = prompter.openFileName(dialogParent, caption, startPath, filter);
        break;
    case OpenFiles: {
        const QStringList paths = prompter.openFileNames(dialogParent, caption, startPath, filter);
        if (paths.isEmpty())
            return CallResult::failure(Cancelled, QString());
        return CallResult::ok(QString(), paths);
    }
    case ChooseDirectory:
        chosen = prompter.existingDirectory(dialogParent, caption, startPath);
        break;
    default:
        return CallResult::ok();
    }
    if (chosen.isEmpty())
        return CallResult::failure(Cancelled, QString());
    return CallResult::ok(chosen, { chosen });
}

CallResult FileOperations::exportFile(const QString &fileName, const QString &data, bool isBinary,
                                      const QString &fileType,
                                      const DeletionQueue &queueForDeletion,
                                      const QString &exportDirectory)
{
    const QString path = FileWriter::filePath(exportDirectory, fileName);
    if (path.isNull() || !FileWriter::writeFileData(path, data, isBinary)) {
        return CallResult::failure(
            AlreadyExists,
            exportFailureMessage(fileName, QStringLiteral("Duplication process failed.")));
    }

    SystemOpener &opener = SystemOpener::current();
    QString finalPath = path;
    bool opened = opener.openWithAssociatedApplication(finalPath);
    const QString baseName = QFileInfo(fileName).fileName();
    const int dot = baseName.lastIndexOf(QLatin1Char('.'));
    const bool typeMissing
        = dot < 0 || baseName.mid(dot + 1).compare(fileType, Qt::CaseInsensitive) != 0;
    if (!opened && !fileType.isEmpty() && typeMissing) {
        // The renamed file stays beside the written one, inside the export directory.
        const QString renamed = path + QLatin1Char('.') + fileType;
        if (QFile::rename(path, renamed))
            finalPath = QFileInfo(renamed).absoluteFilePath();
        opened = opener.openWithAssociatedApplication(finalPath);
    }

    // A file elsewhere belongs to the user and is never scheduled for deletion.
    if (isInside(finalPath, exportDirectory))
        queueForDeletion(QFileInfo(finalPath).absoluteFilePath());
    if (!opened) {
        return CallResult::failure(
            NotFound,
            exportFailureMessage(fileName,
                                 QStringLiteral("This computer may not have an "
                                                "application associated with this file "
                                                "type.")));
    }
    return CallResult::ok();
}

std::optional<CallResult> FileOperations::onImportFile(const QString &launchFilePath,
                                                       const QString &importCallbackFunc)
{
    if (launchFilePath.isEmpty())
        return std::nullopt;
    return deliverFile(importCallbackFunc, launchFilePath);
}

std::optional<CallResult> FileOperations::deliverFile(const QString &callbackFunc,
                                                      const QString &path)
{
    return deliver(callbackFunc, path, nullptr);
}

std::optional<CallResult> FileOperations::deliverFile(const QString &callbackFunc,
                                                      const QString &path, const QByteArray &bytes)
{
    return deliver(callbackFunc, path, &bytes);
}

std::optional<CallResult> FileOperations::deliver(const QString &callbackFunc, const QString &path,
                                                  const QByteArray *bytes)
{
    if (callbackFunc.isEmpty() || path.isEmpty())
        return std::nullopt;
    const bool isBinary = MimeTable::instance().isBinaryFile(path);
    QByteArray content;
    if (bytes) {
        content = *bytes;
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | textModeFlag(!isBinary)))
            return fileFailure(file, path);
        content = file.readAll();
    }
    const QString text = isBinary ? BinaryText::encode(content) : textUpToNul(content);
    return CallResult::ok(QString(),
                          { QFileInfo(path).fileName(), text,
                            isBinary ? QStringLiteral("1") : QStringLiteral("0"),
                            MimeTable::extensionOf(path) });
}
