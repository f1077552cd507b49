#include "deletionguard.h"
#include "docs/tempfilemanager.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstddef>

namespace {

// Runs check in a child process that sees files as on a file system without creation times:
// the call that reports them fails as on a kernel that lacks it.
template<typename Check> bool inChildWithoutBirthTimes(Check check)
{
    const pid_t child = ::fork();
    if (child == 0) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_statx, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program { sizeof filter / sizeof *filter, filter };
        const bool confined = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
        ::_exit(confined && check() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && status == 0;
}

} // namespace

class TestTempFileManager : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir.reset(new QTemporaryDir); }
    void cleanup() { m_dir->setAutoRemove(!QTest::currentTestFailed()); }

    // Files directly in the folder go, hidden ones and links too; subfolders and the files
    // links point to stay.
    void constructionClearsTheDirectory()
    {
        QTemporaryDir outside;
        const QString target = outside.filePath("target.txt");
        QVERIFY(QFile(makeFile("target.txt")).rename(target) && QFile::link(target, path("link")));
        const QStringList gone { makeFile("a.eml"), makeFile(".hidden"), path("link") };
        const QString kept = makeFile("sub/kept.txt");
        QObject owner;
        TempFileManager manager(&owner, m_dir->path());
        for (const QString &file : gone)
            QVERIFY2(!QFileInfo(file).exists() && !QFileInfo(file).isSymLink(), qPrintable(file));
        QVERIFY(QFile::exists(kept) && QFile::exists(target));
        QCOMPARE(manager.owner(), &owner);
        QCOMPARE(manager.parent(), nullptr);
    }

    // Registered files go once they are five seconds old; the others are never touched, and
    // paths that are empty or gone are forgotten.
    void collectsOnlyRegisteredFilesOldEnough()
    {
        const QString registered = makeFile("export.pdf");
        const QString neighbour = makeFile("user.pdf");
        const QString vanished = makeFile("vanished.pdf");
        const QDateTime origin = TempFileManager::ageOrigin(registered);
        QDateTime now = origin.addMSecs(4999);
        TempFileManager manager;
        manager.setClock([&now] { return now; });
        for (const QString &file : { registered, registered, QString(), vanished })
            manager.registerFile(file);
        QVERIFY(QFile::remove(vanished));
        QSignalSpy spy(&manager, &TempFileManager::garbageCollected);
        manager.collectGarbage();
        QVERIFY2(QFile::exists(registered), "a file younger than 5 seconds was deleted");
        QCOMPARE(manager.registeredFiles(), QStringList({ registered, registered }));
        now = origin.addSecs(5);
        manager.collectGarbage();
        QVERIFY(!QFile::exists(registered));
        QVERIFY(manager.registeredFiles().isEmpty());
        QVERIFY2(QFile::exists(neighbour), "a file nobody registered was deleted");
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), 2);
    }

    // A file that cannot be deleted yet stays registered, and the runs go on by themselves
    // until one deletes it.
    void runsGoOnUntilTheListIsEmpty()
    {
        const QString held = makeFile("held/message.eml");
        TempFileManager manager;
        manager.setMinimumAge(0);
        manager.setRunInterval(20);
        QSignalSpy spy(&manager, &TempFileManager::garbageCollected);
        DeletionGuard guard(path("held"));
        if (!guard.isActive())
            QSKIP("this system cannot make a directory refuse deletion");
        manager.registerFile(held);
        QTRY_VERIFY(spy.count() >= 3);
        QVERIFY2(QFile::exists(held), "the guarded file was deleted");
        QCOMPARE(manager.registeredFiles(), QStringList { held });
        guard.release();
        QTRY_COMPARE(manager.pendingRuns(), 0);
        QVERIFY(!QFile::exists(held) && manager.registeredFiles().isEmpty());
        QCOMPARE(spy.last().first().toInt(), 0);
    }

    // The age counts from the creation, not from a last change that a copy or an unpacking may
    // have set into the past; without a creation time the last change is all there is.
    void ageOrigin()
    {
        const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
        QFile file(makeFile("aged.txt"));
        const QDateTime changed = before.addSecs(-3600);
        QVERIFY(file.open(QIODevice::Append)
                && file.setFileTime(changed, QFileDevice::FileModificationTime));
        const QDateTime origin = TempFileManager::ageOrigin(file.fileName());
        if (QFileInfo(file).birthTime().isValid())
            QVERIFY(origin >= before && origin <= QDateTime::currentDateTime());
        QVERIFY(inChildWithoutBirthTimes(
            [&] { return TempFileManager::ageOrigin(file.fileName()) == changed; }));
    }

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString makeFile(const QString &relative) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile file(path(relative));
        return file.open(QIODevice::WriteOnly) && file.write("x") == 1 ? file.fileName()
                                                                       : QString();
    }

    QScopedPointer<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestTempFileManager)
#include "tst_tempfilemanager.moc"
