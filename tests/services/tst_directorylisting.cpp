#include "services/directorylisting.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestDirectoryListing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void displayPath_data();
    void displayPath();
    void displayPathOfEmptyIsCurrentDirectory();

    void filterCodes_data();
    void filterCodes();
    void ordersDirectoriesFirstIgnoringCase();
    void leavesOutHiddenEntriesAndLinks();
    void recursiveListingTwoLevelsDeep();
    void recursiveListingWithFilesOnly();
    void recursiveWalkNeverEntersHiddenOrLinkedDirectories();
    void emptyDirectoryListsNothing();

private:
    void makeDir(const QString &relative);
    void makeFile(const QString &relative);
    QString path(const QString &relative = QString()) const;

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestDirectoryListing::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), "no temporary directory");
}

void TestDirectoryListing::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

QString TestDirectoryListing::path(const QString &relative) const
{
    return relative.isEmpty() ? m_dir->path() : m_dir->filePath(relative);
}

void TestDirectoryListing::makeDir(const QString &relative)
{
    QVERIFY2(QDir().mkpath(path(relative)), qPrintable(relative));
}

void TestDirectoryListing::makeFile(const QString &relative)
{
    QFile file(path(relative));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.write("x");
}

void TestDirectoryListing::displayPath_data()
{
    QTest::addColumn<QString>("dirPath");
    QTest::addColumn<QString>("expected");
    QTest::newRow("slash appended") << "/tmp/a"
                                    << "/tmp/a/";
    QTest::newRow("slash kept") << "/tmp/a/"
                                << "/tmp/a/";
    QTest::newRow("backslashes") << "C:\\Users\\me"
                                 << "C:/Users/me/";
    QTest::newRow("backslash at end") << "C:\\Users\\"
                                      << "C:/Users/";
    QTest::newRow("relative kept") << "data/sub"
                                   << "data/sub/";
    QTest::newRow("root") << "/"
                          << "/";
}

void TestDirectoryListing::displayPath()
{
    QFETCH(QString, dirPath);
    QFETCH(QString, expected);
    QCOMPARE(DirectoryListing::displayPath(dirPath), expected);
}

void TestDirectoryListing::displayPathOfEmptyIsCurrentDirectory()
{
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(path()));
    const QString display = DirectoryListing::displayPath(QString());
    const QString expected = QDir::currentPath() + QLatin1Char('/');
    QDir::setCurrent(saved);
    QCOMPARE(display, expected);
}

void TestDirectoryListing::filterCodes_data()
{
    QTest::addColumn<uint>("filterCode");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("0 everything") << 0u << QStringList { "sub/", "file.txt" };
    QTest::newRow("1 files") << 1u << QStringList { "file.txt" };
    QTest::newRow("2 directories") << 2u << QStringList { "sub/" };
    QTest::newRow("3 nothing") << 3u << QStringList();
    QTest::newRow("large nothing") << 0xFFFFFFFFu << QStringList();
}

void TestDirectoryListing::filterCodes()
{
    QFETCH(uint, filterCode);
    QFETCH(QStringList, expected);
    makeDir(QStringLiteral("sub"));
    makeFile(QStringLiteral("file.txt"));
    QCOMPARE(DirectoryListing::listDirectory(path(), filterCode, false), expected);
}

void TestDirectoryListing::ordersDirectoriesFirstIgnoringCase()
{
    for (const char *name : { "beta", "Alpha", "gamma", "Delta" })
        makeDir(QLatin1String(name));
    for (const char *name : { "b.txt", "C.txt", "a.txt", "Z.txt", "y.txt" })
        makeFile(QLatin1String(name));
    const QStringList expected { "Alpha/", "beta/", "Delta/", "gamma/", "a.txt",
                                 "b.txt",  "C.txt", "y.txt",  "Z.txt" };
    QCOMPARE(DirectoryListing::listDirectory(path(), 0, false), expected);
}

void TestDirectoryListing::leavesOutHiddenEntriesAndLinks()
{
    makeDir(QStringLiteral("visible"));
    makeDir(QStringLiteral(".hiddendir"));
    makeFile(QStringLiteral("plain.txt"));
    makeFile(QStringLiteral(".hidden.txt"));
    QVERIFY(QFile::link(path(QStringLiteral("plain.txt")), path(QStringLiteral("filelink"))));
    QVERIFY(QFile::link(path(QStringLiteral("visible")), path(QStringLiteral("dirlink"))));
    QVERIFY(QFile::link(path(QStringLiteral("missing")), path(QStringLiteral("brokenlink"))));
    QCOMPARE(DirectoryListing::listDirectory(path(), 0, false),
             (QStringList { "visible/", "plain.txt" }));
}

void TestDirectoryListing::recursiveListingTwoLevelsDeep()
{
    makeDir(QStringLiteral("a/a1"));
    makeDir(QStringLiteral("b"));
    makeFile(QStringLiteral("top.txt"));
    makeFile(QStringLiteral("a/in_a.txt"));
    makeFile(QStringLiteral("a/a1/deep.txt"));
    makeFile(QStringLiteral("b/in_b.txt"));
    const QString root = DirectoryListing::displayPath(path());
    const QStringList expected {
        root + "a/",         root + "b/",         root + "top.txt",
        root + "a/a1/",      root + "a/in_a.txt", root + "a/a1/deep.txt",
        root + "b/in_b.txt",
    };
    QCOMPARE(DirectoryListing::listDirectory(path(), 0, true), expected);
}

void TestDirectoryListing::recursiveListingWithFilesOnly()
{
    makeDir(QStringLiteral("a/a1"));
    makeFile(QStringLiteral("top.txt"));
    makeFile(QStringLiteral("a/a1/deep.txt"));
    const QString root = DirectoryListing::displayPath(path());
    QCOMPARE(DirectoryListing::listDirectory(path(), 1, true),
             (QStringList { root + "top.txt", root + "a/a1/deep.txt" }));
    QCOMPARE(DirectoryListing::listDirectory(path(), 2, true),
             (QStringList { root + "a/", root + "a/a1/" }));
}

void TestDirectoryListing::recursiveWalkNeverEntersHiddenOrLinkedDirectories()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QFile outsideFile(outside.filePath(QStringLiteral("outside.txt")));
    QVERIFY(outsideFile.open(QIODevice::WriteOnly));
    outsideFile.close();
    makeDir(QStringLiteral(".hidden"));
    makeFile(QStringLiteral(".hidden/secret.txt"));
    makeDir(QStringLiteral("real"));
    QVERIFY(QFile::link(outside.path(), path(QStringLiteral("real/link"))));
    const QString root = DirectoryListing::displayPath(path());
    QCOMPARE(DirectoryListing::listDirectory(path(), 0, true), QStringList { root + "real/" });
}

void TestDirectoryListing::emptyDirectoryListsNothing()
{
    QVERIFY(DirectoryListing::listDirectory(path(), 0, false).isEmpty());
    QVERIFY(DirectoryListing::listDirectory(path(), 0, true).isEmpty());
}

QTEST_GUILESS_MAIN(TestDirectoryListing)
#include "tst_directorylisting.moc"
