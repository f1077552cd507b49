#include "../docs/deletionguard.h"
#include "services/directorylisting.h"
#include "services/directoryoperations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestDirectoryOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readDirectoryListsWithDisplayPath();
    void readDirectoryForms_data();
    void readDirectoryForms();
    void readDirectoryOfEmptyPathIsCurrentDirectory();
    void readEmptyReadableDirectory();
    void readMissingDirectory();
    void readUnreadableDirectory();
    void makeDirectoryCreatesChain();
    void makeExistingDirectory();
    void makeDirectoryBelowAFile();
    void clearDirectoryKeepsHiddenSubdirectory();
    void clearDirectoryNeverFollowsLinks();
    void clearDirectoryWithUndeletableFile();
    void clearMissingDirectory();
    void removeDirectoryWithContents();
    void removeDirectoryNeverFollowsLinks();
    void removeDirectoryHoldingHiddenSubdirectory();
    void removeDirectoryWithUndeletableFile();
    void removeMissingDirectory();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString display(const QString &relative) const
    {
        return DirectoryListing::displayPath(path(relative));
    }
    void makeFile(const QString &relative, const QByteArray &content = "x");
    void makeDir(const QString &relative) { QVERIFY(QDir().mkpath(path(relative))); }
    // A folder outside the tree with one file, and a link to it at linkRelative.
    QString linkToOutsideFolder(QTemporaryDir &outside, const QString &linkRelative);

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestDirectoryOperations::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), "no temporary directory");
}

void TestDirectoryOperations::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

void TestDirectoryOperations::makeFile(const QString &relative, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path(relative)).path());
    QFile file(path(relative));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QString TestDirectoryOperations::linkToOutsideFolder(QTemporaryDir &outside,
                                                     const QString &linkRelative)
{
    const QString kept = outside.filePath(QStringLiteral("precious.txt"));
    QFile file(kept);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("precious");
    file.close();
    QDir().mkpath(QFileInfo(path(linkRelative)).path());
    return QFile::link(outside.path(), path(linkRelative)) ? kept : QString();
}

void TestDirectoryOperations::readDirectoryListsWithDisplayPath()
{
    makeDir(QStringLiteral("sub"));
    makeFile(QStringLiteral("b.txt"));
    makeFile(QStringLiteral("A.txt"));
    const CallResult result = DirectoryOperations::readDirectory(m_dir->path());
    QVERIFY(result.success);
    QCOMPARE(result.message, m_dir->path() + "/");
    QCOMPARE(result.values, (QStringList { "sub/", "A.txt", "b.txt" }));
}

void TestDirectoryOperations::readDirectoryForms_data()
{
    QTest::addColumn<uint>("filterCode");
    QTest::addColumn<bool>("readSubDirs");
    QTest::addColumn<QStringList>("expected"); // "@" stands for the display path of the root
    QTest::newRow("files") << 1u << false << QStringList { "top.txt" };
    QTest::newRow("directories") << 2u << false << QStringList { "one/" };
    QTest::newRow("nothing") << 3u << false << QStringList();
    QTest::newRow("everything two levels deep")
        << 0u << true
        << QStringList { "@one/", "@top.txt", "@one/two/", "@one/mid.txt", "@one/two/deep.txt" };
    QTest::newRow("files two levels deep")
        << 1u << true << QStringList { "@top.txt", "@one/mid.txt", "@one/two/deep.txt" };
}

void TestDirectoryOperations::readDirectoryForms()
{
    QFETCH(uint, filterCode);
    QFETCH(bool, readSubDirs);
    QFETCH(QStringList, expected);
    makeFile(QStringLiteral("top.txt"));
    makeFile(QStringLiteral("one/mid.txt"));
    makeFile(QStringLiteral("one/two/deep.txt"));
    makeFile(QStringLiteral("one/.hidden.txt"));
    expected.replaceInStrings(QStringLiteral("@"), m_dir->path() + "/");
    // Given with backslashes, the path is still reported with forward slashes.
    const QString backslashed = QString(m_dir->path()).replace('/', '\\');
    const CallResult result
        = DirectoryOperations::readDirectory(m_dir->path(), filterCode, readSubDirs);
    QVERIFY(result.success);
    QCOMPARE(result.values, expected);
    QCOMPARE(DirectoryListing::displayPath(backslashed), m_dir->path() + "/");
}

void TestDirectoryOperations::readDirectoryOfEmptyPathIsCurrentDirectory()
{
    makeFile(QStringLiteral("here.txt"));
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const CallResult result = DirectoryOperations::readDirectory(QString());
    const QString current = QDir::currentPath();
    QDir::setCurrent(saved);
    QVERIFY(result.success);
    QCOMPARE(result.message, current + "/");
    QCOMPARE(result.values, QStringList { "here.txt" });
}

void TestDirectoryOperations::readEmptyReadableDirectory()
{
    const CallResult result = DirectoryOperations::readDirectory(m_dir->path(), 0, true);
    QVERIFY(result.success);
    QVERIFY(result.values.isEmpty());
}

void TestDirectoryOperations::readMissingDirectory()
{
    const CallResult result = DirectoryOperations::readDirectory(path(QStringLiteral("none")));
    QVERIFY(!result.success);
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message, "Directory: " + display(QStringLiteral("none")) + " does not exist.");
}

void TestDirectoryOperations::readUnreadableDirectory()
{
    makeDir(QStringLiteral("closed"));
    makeFile(QStringLiteral("closed/inside.txt"));
    QVERIFY(QFile::setPermissions(path(QStringLiteral("closed")), QFile::WriteOwner));
    if (QFileInfo(path(QStringLiteral("closed"))).isReadable())
        QSKIP("this user reads every directory");
    const CallResult result = DirectoryOperations::readDirectory(path(QStringLiteral("closed")));
    QFile::setPermissions(path(QStringLiteral("closed")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(result.errorCode, 9000);
    QCOMPARE(result.message,
             "Directory: " + display(QStringLiteral("closed"))
                 + " appears to be empty. It MAY not be readable by this user "
                   "(this detail cannot be confirmed).");
}

void TestDirectoryOperations::makeDirectoryCreatesChain()
{
    const QString dirPath = path(QStringLiteral("a/b/c"));
    const CallResult result = DirectoryOperations::makeDirectory(dirPath);
    QVERIFY(result.success);
    QCOMPARE(result.message, dirPath + "/");
    QVERIFY(QFileInfo(dirPath).isDir());
}

void TestDirectoryOperations::makeExistingDirectory()
{
    const CallResult result = DirectoryOperations::makeDirectory(m_dir->path());
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message, "Directory: " + m_dir->path() + "/ already exists.");
}

void TestDirectoryOperations::makeDirectoryBelowAFile()
{
    makeFile(QStringLiteral("file"));
    const CallResult result = DirectoryOperations::makeDirectory(path(QStringLiteral("file/sub")));
    QCOMPARE(result.errorCode, 2000);
    QCOMPARE(result.message,
             "Directory: " + display(QStringLiteral("file/sub")) + " not could not be created.");
}

void TestDirectoryOperations::clearDirectoryKeepsHiddenSubdirectory()
{
    makeFile(QStringLiteral("a.txt"));
    makeFile(QStringLiteral(".hidden.txt"));
    makeFile(QStringLiteral("sub/deeper/b.txt"));
    makeFile(QStringLiteral(".keep/c.txt"));
    const CallResult result = DirectoryOperations::clearDirectory(m_dir->path());
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(result.message, m_dir->path() + "/");
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { ".keep" });
    QVERIFY(QFile::exists(path(QStringLiteral(".keep/c.txt"))));
}

void TestDirectoryOperations::clearDirectoryNeverFollowsLinks()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString kept = linkToOutsideFolder(outside, QStringLiteral("link"));
    QVERIFY(!kept.isEmpty());
    QTemporaryDir outside2;
    QVERIFY(outside2.isValid());
    const QString keptDeep = linkToOutsideFolder(outside2, QStringLiteral("sub/deeplink"));
    QVERIFY(!keptDeep.isEmpty());
    const CallResult result = DirectoryOperations::clearDirectory(m_dir->path());
    QVERIFY2(result.success, qPrintable(result.message));
    QVERIFY(!QFileInfo(path(QStringLiteral("link"))).isSymLink());
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("sub"))));
    QVERIFY2(QFile::exists(kept), "clearing emptied the folder a link points to");
    QVERIFY2(QFile::exists(keptDeep), "clearing emptied the folder a nested link points to");
}

void TestDirectoryOperations::clearDirectoryWithUndeletableFile()
{
    makeFile(QStringLiteral("held.txt"));
    DeletionGuard guard(m_dir->path());
    if (!guard.isActive())
        QSKIP("this system cannot make a directory refuse deletion");
    const CallResult result = DirectoryOperations::clearDirectory(m_dir->path());
    guard.release();
    QCOMPARE(result.errorCode, 2000);
    QCOMPARE(result.message, "Could not remove all content from directory: " + m_dir->path() + "/");
}

void TestDirectoryOperations::clearMissingDirectory()
{
    const CallResult result = DirectoryOperations::clearDirectory(path(QStringLiteral("none")));
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message, "Directory: " + display(QStringLiteral("none")) + " does not exist.");
}

void TestDirectoryOperations::removeDirectoryWithContents()
{
    makeFile(QStringLiteral("victim/a.txt"));
    makeFile(QStringLiteral("victim/.hidden.txt"));
    makeFile(QStringLiteral("victim/sub/b.txt"));
    const CallResult result = DirectoryOperations::removeDirectory(path(QStringLiteral("victim")));
    QVERIFY2(result.success, qPrintable(result.message));
    QCOMPARE(result.message, display(QStringLiteral("victim")));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("victim"))));
}

void TestDirectoryOperations::removeDirectoryNeverFollowsLinks()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString kept = linkToOutsideFolder(outside, QStringLiteral("victim/sub/link"));
    QVERIFY(!kept.isEmpty());
    const CallResult result = DirectoryOperations::removeDirectory(path(QStringLiteral("victim")));
    QVERIFY2(result.success, qPrintable(result.message));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("victim"))));
    QFile file(kept);
    QVERIFY2(file.open(QIODevice::ReadOnly), "removal emptied the folder a link points to");
    QCOMPARE(file.readAll(), QByteArray("precious"));
}

void TestDirectoryOperations::removeDirectoryHoldingHiddenSubdirectory()
{
    makeFile(QStringLiteral("victim/.cache/c.txt"));
    const CallResult result = DirectoryOperations::removeDirectory(path(QStringLiteral("victim")));
    QCOMPARE(result.errorCode, 2000);
    QCOMPARE(result.message,
             "Directory: " + display(QStringLiteral("victim"))
                 + " is empty, but not could be removed.");
    QVERIFY(QFile::exists(path(QStringLiteral("victim/.cache/c.txt"))));
}

void TestDirectoryOperations::removeDirectoryWithUndeletableFile()
{
    makeFile(QStringLiteral("victim/held.txt"));
    DeletionGuard guard(path(QStringLiteral("victim")));
    if (!guard.isActive())
        QSKIP("this system cannot make a directory refuse deletion");
    const CallResult result = DirectoryOperations::removeDirectory(path(QStringLiteral("victim")));
    guard.release();
    QCOMPARE(result.errorCode, 1001);
    QCOMPARE(result.message,
             "Could not remove all content from directory: " + display(QStringLiteral("victim")));
}

void TestDirectoryOperations::removeMissingDirectory()
{
    const CallResult result = DirectoryOperations::removeDirectory(path(QStringLiteral("none")));
    QCOMPARE(result.errorCode, 1000);
    QCOMPARE(result.message, "Directory: " + display(QStringLiteral("none")) + " does not exist.");
}

QTEST_GUILESS_MAIN(TestDirectoryOperations)
#include "tst_directoryoperations.moc"
