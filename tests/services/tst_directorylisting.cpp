#include "services/directorylisting.h"

#include <QtTest>

class TestDirectoryListing : public QObject
{
    Q_OBJECT

private slots:
    void displayPath_data();
    void displayPath();
    void listDirectory_data();
    void listDirectory();
    void nulInPath();
};

void TestDirectoryListing::displayPath_data()
{
    QTest::addColumn<QString>("dirPath");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QString &dirPath, const QString &expected) {
        QTest::newRow(name) << dirPath << expected;
    };
    row("slash appended", "/tmp/a", "/tmp/a/");
    row("backslashes", "C:\\Users\\me", "C:/Users/me/");
    row("root", "/", "/");
    row("empty is the current directory", "", QDir::currentPath() + "/");
}

void TestDirectoryListing::displayPath()
{
    QFETCH(QString, dirPath);
    QFETCH(QString, expected);
    QCOMPARE(DirectoryListing::displayPath(dirPath), expected);
}

void TestDirectoryListing::listDirectory_data()
{
    QTest::addColumn<uint>("filterCode");
    QTest::addColumn<bool>("readSubDirs");
    QTest::addColumn<QStringList>("expected"); // "@" stands for the display path of the root
    const QStringList files { "a.txt", "b.txt", "C.txt" };
    QTest::newRow("0 everything, directories first, case ignored")
        << 0u << false << QStringList { "Alpha/", "beta/", "Delta/" } + files;
    QTest::newRow("1 files") << 1u << false << files;
    QTest::newRow("2 directories") << 2u << false << QStringList { "Alpha/", "beta/", "Delta/" };
    QTest::newRow("3 nothing") << 3u << false << QStringList();
    QTest::newRow("large nothing") << 0xFFFFFFFFu << false << QStringList();
    // Each directory's listing follows the one it appears in; hidden and linked ones are never
    // entered.
    QTest::newRow("everything, walking down")
        << 0u << true << QStringList { "@Alpha/",       "@beta/",        "@Delta/",
                                       "@a.txt",        "@b.txt",        "@C.txt",
                                       "@Alpha/inner/", "@Alpha/in.txt", "@Alpha/inner/deep.txt" };
    QTest::newRow("files, walking down")
        << 1u << true
        << QStringList { "@a.txt", "@b.txt", "@C.txt", "@Alpha/in.txt", "@Alpha/inner/deep.txt" };
    QTest::newRow("directories, walking down")
        << 2u << true << QStringList { "@Alpha/", "@beta/", "@Delta/", "@Alpha/inner/" };
}

// Hidden entries and links (to files, to directories, dangling) never show.
void TestDirectoryListing::listDirectory()
{
    QFETCH(uint, filterCode);
    QFETCH(bool, readSubDirs);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QTemporaryDir outside;
    QVERIFY(dir.isValid() && outside.isValid());
    for (const char *name : { "beta", "Alpha/inner", "Delta", ".hidden" })
        QVERIFY(QDir(dir.path()).mkpath(QLatin1String(name)));
    for (const char *name : { "b.txt", "C.txt", "a.txt", ".hidden.txt", ".hidden/secret.txt",
                              "Alpha/in.txt", "Alpha/inner/deep.txt" }) {
        QFile file(dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QFile outsideFile(outside.filePath("outside.txt"));
    QVERIFY(outsideFile.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(dir.filePath("a.txt"), dir.filePath("filelink")));
    QVERIFY(QFile::link(dir.filePath("Alpha"), dir.filePath("dirlink")));
    QVERIFY(QFile::link(dir.filePath("missing"), dir.filePath("brokenlink")));
    QVERIFY(QFile::link(outside.path(), dir.filePath("beta/outlink")));
    expected.replaceInStrings("@", DirectoryListing::displayPath(dir.path()));
    QCOMPARE(DirectoryListing::listDirectory(dir.path(), filterCode, readSubDirs), expected);
}

// Found by fuzz_directorylisting (the fixture is its input: a flag byte, then the path): a path
// holding a NUL listed the working directory, and walking down from it never ended.
void TestDirectoryListing::nulInPath()
{
    QFile fixture(QStringLiteral(CORVID_TEST_DATA "/directorylisting_nul_path.bin"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    const QByteArray bytes = fixture.readAll().mid(1);
    const QString path = QString::fromUtf8(bytes.constData(), bytes.size());
    QVERIFY(path.contains(QChar(0)));
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && QDir(dir.path()).mkpath(QStringLiteral("a/b")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QStringList single = DirectoryListing::listDirectory(path, 0, false);
    const QStringList walked
        = single.isEmpty() ? DirectoryListing::listDirectory(path, 0, true) : single;
    QDir::setCurrent(previous);
    QCOMPARE(single, QStringList());
    QCOMPARE(walked, QStringList());
}

QTEST_GUILESS_MAIN(TestDirectoryListing)
#include "tst_directorylisting.moc"
