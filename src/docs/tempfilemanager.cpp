#include "docs/tempfilemanager.h"

#include "platform/filewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

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

QString TempFileManager::createFile(const QString &directory, const QString &fileName,
                                    const QString &data, bool isBinary)
{
    const QString path = FileWriter::filePath(directory, fileName);
    if (path.isNull() || !FileWriter::writeFileData(path, data, isBinary))
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
