#include "platform/platformpaths.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestPlatformPaths : public QObject
{
    Q_OBJECT

private slots:
    void tempFolderIsPrivate();
    void refusesUnsafeFolders_data();
    void refusesUnsafeFolders();
    void narrowsWidePermissions();
};

static int modeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

void TestPlatformPaths::tempFolderIsPrivate()
{
    const QString folder = PlatformPaths::tempFolder();
    QVERIFY(!folder.isEmpty());
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(modeOf(folder), 0700);
    QVERIFY(folder.startsWith(QDir::tempPath()));
}

void TestPlatformPaths::refusesUnsafeFolders_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("symbolic link to a folder") << "link";
    QTest::newRow("regular file") << "file";
    QTest::newRow("dangling link") << "dangling";
}

void TestPlatformPaths::refusesUnsafeFolders()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target"));
    const QString path = dir.filePath(QStringLiteral("private"));
    QVERIFY(QDir().mkpath(target));
    if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(target, path));
    } else if (kind == QLatin1String("dangling")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("missing")), path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(!PlatformPaths::ensurePrivateFolder(path));
    QVERIFY2(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))),
             "a planted link must not be followed to create its target");
}

void TestPlatformPaths::narrowsWidePermissions()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wide"));
    QVERIFY(QDir().mkdir(path));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0777) == 0);
    QVERIFY(PlatformPaths::ensurePrivateFolder(path));
    QCOMPARE(modeOf(path), 0700);
}

QTEST_GUILESS_MAIN(TestPlatformPaths)
#include "tst_platformpaths.moc"
