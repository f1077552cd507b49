#include "docs/tempfilemanager.h"

#include "services/binarytext.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

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

TempFileManager::TempFileManager(QObject *owner, const QString &directory)
    : QObject(nullptr)
    , m_owner(owner)
    , m_clock(&QDateTime::currentDateTime)
{
    if (!directory.isEmpty())
        clearDirectory(directory);
}

void TempFileManager::clearDirectory(const QString &directory)
{
    QDir dir(directory);
    if (directory.isEmpty() || !dir.exists())
        return;
    // Links to files count as files and go as links; the files they point to are not touched.
    const QStringList files
        = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : files)
        QFile::remove(dir.filePath(name));
}

bool TempFileManager::ensureDirectory(const QString &directory)
{
    if (directory.isEmpty())
        return false;
    return QDir(directory).exists() || QDir().mkpath(directory);
}

QString TempFileManager::filePath(const QString &directory, const QString &fileName)
{
    if (!ensureDirectory(directory))
        return QString();
    if (QDir::isAbsolutePath(fileName))
        return fileName;
    return QFileInfo(QDir(directory).filePath(fileName)).absoluteFilePath();
}

bool TempFileManager::writeFileData(const QString &path, const QString &data, bool isBinary)
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

bool TempFileManager::writeAll(QSaveFile &file, const QByteArray &bytes)
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

QString TempFileManager::createFile(const QString &directory, const QString &fileName,
                                    const QString &data, bool isBinary)
{
    const QString path = filePath(directory, fileName);
    if (path.isNull() || !writeFileData(path, data, isBinary))
        return QString();
    return path;
}

void TempFileManager::registerFile(const QString &path)
{
    m_registeredFiles.append(path);
    scheduleRun();
}

QDateTime TempFileManager::ageOrigin(const QString &path)
{
    const QFileInfo info(path);
    const QDateTime born = info.birthTime();
    return born.isValid() ? born : info.lastModified();
}

void TempFileManager::collectGarbage()
{
    const QDateTime now = m_clock();
    for (const QString &path : qAsConst(m_registeredFiles)) {
        if (path.isEmpty() || !QFileInfo::exists(path))
            continue;
        // A file still held elsewhere fails to go and is tried again by a later run.
        if (ageOrigin(path).msecsTo(now) >= m_minimumAge)
            QFile::remove(path);
    }
    m_registeredFiles.erase(
        std::remove_if(m_registeredFiles.begin(), m_registeredFiles.end(),
                       [](const QString &path) { return !QFileInfo::exists(path); }),
        m_registeredFiles.end());
    if (!m_registeredFiles.isEmpty())
        scheduleRun();
    emit garbageCollected(m_registeredFiles.size());
}

void TempFileManager::scheduleRun()
{
    ++m_pendingRuns;
    QTimer::singleShot(m_runInterval, this, &TempFileManager::runScheduled);
}

void TempFileManager::runScheduled()
{
    --m_pendingRuns;
    collectGarbage();
}
