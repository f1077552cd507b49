#include "platform/filewriter.h"

#include "platform/binarytext.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Text mode as the platform defines it: only Windows turns LF into CR LF.
QIODevice::OpenMode platformTextMode()
{
#ifdef Q_OS_WIN
    return QIODevice::Text;
#else
    return QIODevice::NotOpen;
#endif
}

} // namespace

bool FileWriter::ensureDirectory(const QString &directory)
{
    if (directory.isEmpty())
        return false;
    return QDir(directory).exists() || QDir().mkpath(directory);
}

QString FileWriter::filePath(const QString &directory, const QString &fileName)
{
    if (!ensureDirectory(directory))
        return QString();
    if (QDir::isAbsolutePath(fileName))
        return fileName;
    return QFileInfo(QDir(directory).filePath(fileName)).absoluteFilePath();
}

bool FileWriter::writeFileData(const QString &path, const QString &data, bool isBinary)
{
    QSaveFile file(path);
    // Where no temporary file can be made beside the target, writing in place still succeeds.
    file.setDirectWriteFallback(true);
    const QIODevice::OpenMode mode
        = QIODevice::WriteOnly | (isBinary ? QIODevice::NotOpen : platformTextMode());
    if (!file.open(mode))
        return false;
    const QByteArray bytes = isBinary ? BinaryText::decode(data) : data.toLocal8Bit();
    return writeAll(file, bytes) && file.commit();
}

bool FileWriter::writeAll(QSaveFile &file, const QByteArray &bytes)
{
    // A short write is no error to the device; writing the rest makes the disk name the cause
    // (a full disk, a size limit) in the file's error.
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0)
            return false;
        written += step;
    }
    return true;
}
