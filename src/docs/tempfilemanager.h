#pragma once

#include "platform/corvidexport.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// Writes files that another program opens, and deletes the registered ones once they are old
// enough for that program to have read them. The manager owns no directory: every writing
// operation is told where to write.
class CORVID_EXPORT TempFileManager : public QObject
{
    Q_OBJECT

public:
    // The owner is remembered only; the manager has no parent. A non-empty directory is cleared.
    explicit TempFileManager(QObject *owner = nullptr, const QString &directory = QString());

    QObject *owner() const { return m_owner; }

    // Deletes every file directly in directory, hidden ones included; subdirectories stay.
    static void clearDirectory(const QString &directory);
    // filePath then writeFileData: the path, or a null string. The file is not registered.
    static QString createFile(const QString &directory, const QString &fileName,
                              const QString &data, bool isBinary);

    // Queues path for deletion and schedules a collection run.
    void registerFile(const QString &path);
    QStringList registeredFiles() const { return m_registeredFiles; }
    // Collection runs waiting on their timer.
    int pendingRuns() const { return m_pendingRuns; }

    // Tests shorten the waits and set the clock; the defaults are 5 seconds and the system time.
    void setMinimumAge(int milliseconds) { m_minimumAge = milliseconds; }
    void setRunInterval(int milliseconds) { m_runInterval = milliseconds; }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // The moment a file's age counts from: its creation, or its last change where the file
    // system keeps no creation time.
    static QDateTime ageOrigin(const QString &path);

public slots:
    // Deletes registered files that are old enough, forgets those that are gone, and runs again
    // later while any remain.
    void collectGarbage();

signals:
    void garbageCollected(int remaining);

private:
    void scheduleRun();
    void runScheduled();

    QObject *m_owner = nullptr;
    QStringList m_registeredFiles;
    int m_pendingRuns = 0;
    int m_minimumAge = 5000;
    int m_runInterval = 5000;
    std::function<QDateTime()> m_clock;
};
