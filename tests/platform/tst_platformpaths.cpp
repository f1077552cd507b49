#include "platform/platformpaths.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestPlatformPaths : public QObject
{
    Q_OBJECT

private slots:
    void tempFolderIsPrivate()
    {
        const QString folder = PlatformPaths::tempFolder();
        QCOMPARE(folder, QDir::tempPath() + "/corvid-" + QString::number(::getuid()));
        QCOMPARE(modeOf(QFile::encodeName(folder)), S_IFDIR | 0700);
    }

    void ensurePrivateFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("missing folder is made") << "missing" << true;
        QTest::newRow("wide permissions are narrowed") << "wide" << true;
        QTest::newRow("symbolic link to a folder") << "link" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("regular file") << "file" << false;
        QTest::newRow("folder of another user") << "foreign" << false;
    }

    // A planted link is never followed: its target is neither made nor narrowed.
    void ensurePrivateFolder()
    {
        QFETCH(QString, kind);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        const QByteArray target = QFile::encodeName(dir.filePath("target"));
        const QByteArray missing = QFile::encodeName(dir.filePath("missing"));
        const QByteArray path = QFile::encodeName(dir.filePath("private"));
        QVERIFY(::mkdir(target, 0755) == 0 && ::chmod(target, 0755) == 0);
        if (kind == "wide" || kind == "foreign")
            QVERIFY(::mkdir(path, 0700) == 0 && ::chmod(path, 0777) == 0);
        if (kind == "foreign" && ::chown(path, 65534, 65534) != 0)
            QSKIP("only the superuser can give a folder to another user");
        if (kind == "link" || kind == "dangling")
            QVERIFY(::symlink(kind == "link" ? target : missing, path) == 0);
        if (kind == "file")
            QVERIFY(QFile(QFile::decodeName(path)).open(QIODevice::WriteOnly));
        QCOMPARE(PlatformPaths::ensurePrivateFolder(QFile::decodeName(path)), accepted);
        if (accepted)
            QCOMPARE(modeOf(path), S_IFDIR | 0700);
        QCOMPARE(modeOf(missing), -1);
        QCOMPARE(modeOf(target), S_IFDIR | 0755);
    }

private:
    static int modeOf(const char *path)
    {
        struct stat info;
        return ::lstat(path, &info) == 0 ? int(info.st_mode & (S_IFMT | 0777)) : -1;
    }
};

QTEST_GUILESS_MAIN(TestPlatformPaths)
#include "tst_platformpaths.moc"
