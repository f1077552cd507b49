#include "../docs/deletionguard.h"
#include "services/directorylisting.h"
#include "services/directoryoperations.h"

#include <QtTest>

namespace {

// See calls_data().
struct Call
{
    QString call, dir, guarded;
    int code;
    QString message;
    QStringList listing;
};

} // namespace

Q_DECLARE_METATYPE(Call)

class TestDirectoryOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void calls_data();
    void calls();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QTemporaryDir> m_outside;
};

// Each test works in a tree of its own beside a folder outside it that links below point to:
//   a.txt  .hidden.txt  .keep/c.txt  sub/deeper/b.txt  sub/link -> outside
//   cached/.cache/c.txt  link -> outside  linked -> outside
// where outside holds precious.txt.
void TestDirectoryOperations::init()
{
    m_dir.reset(new QTemporaryDir);
    m_outside.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid() && m_outside->isValid(), "no temporary directory");
    for (const char *name :
         { "a.txt", ".hidden.txt", ".keep/c.txt", "sub/deeper/b.txt", "cached/.cache/c.txt" }) {
        QDir().mkpath(QFileInfo(path(QLatin1String(name))).path());
        QFile file(path(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (const char *name : { "sub/link", "link", "linked" })
        QVERIFY(QFile::link(m_outside->path(), path(QLatin1String(name))));
    QFile precious(m_outside->filePath("precious.txt"));
    QVERIFY(precious.open(QIODevice::WriteOnly));
}

void TestDirectoryOperations::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_outside->setAutoRemove(!QTest::currentTestFailed());
}

void TestDirectoryOperations::calls_data()
{
    // dir is relative to the tree, which is the current directory; guarded names a directory that
    // refuses deletions. The listing is what reading gives ("@" for the display path), or else
    // what the tree holds afterwards. In messages %1 stands for the display path.
    QTest::addColumn<Call>("c");
    const auto row = [](const char *name, const Call &call) {
        QTest::addRow("%s: %s", qPrintable(call.call), name) << call;
    };
    const QStringList all { ".hidden.txt", ".keep", "a.txt", "cached", "link", "linked", "sub" };
    const auto without = [all](const QString &name) {
        QStringList left = all;
        left.removeOne(name);
        return left;
    };
    const QString missing = QStringLiteral("Directory: %1 does not exist.");
    const QString notCleared = QStringLiteral("Could not remove all content from directory: %1");
    row("the current directory", { "read", "", "", 0, "%1", { "cached/", "sub/", "a.txt" } });
    row("files all the way down",
        { "read 1 deep", ".", "", 0, "%1", { "@a.txt", "@sub/deeper/b.txt" } });
    row("nothing chosen, still readable", { "read 3", ".", "", 0, "%1", {} });
    row("missing", { "read", "none", "", 1000, missing, {} });
    row("a chain", { "make", "new/b/c", "", 0, "%1", all + QStringList { "new" } });
    row("existing", { "make", "sub", "", 1000, "Directory: %1 already exists.", all });
    row("below a file",
        { "make", "a.txt/sub", "", 2000, "Directory: %1 not could not be created.", all });
    row("links go as links, hidden folders stay", { "clear", ".", "", 0, "%1", { ".keep" } });
    row("missing", { "clear", "none", "", 1000, missing, all });
    row("a file refuses deletion", { "clear", ".", ".", 2000, notCleared, all });
    row("a link is refused", { "clear", "linked", "", 2000, notCleared, all });
    row("a link named as a folder is refused", { "clear", "linked/.", "", 2000, notCleared, all });
    row("contents and links inside go", { "remove", "sub", "", 0, "%1", without("sub") });
    row("a hidden folder inside stays",
        { "remove", "cached", "", 2000, "Directory: %1 is empty, but not could be removed.", all });
    row("missing", { "remove", "none", "", 1000, missing, all });
    row("a file refuses deletion", { "remove", "sub", "sub", 1001, notCleared, all });
    row("a link goes as a link", { "remove", "linked", "", 0, "%1", without("linked") });
    row("a link named as a folder goes as a link",
        { "remove", "linked/", "", 0, "%1", without("linked") });
}

// What a link points to is never touched.
void TestDirectoryOperations::calls()
{
    QFETCH(Call, c);
    std::unique_ptr<DeletionGuard> guard;
    if (!c.guarded.isEmpty()) {
        guard.reset(new DeletionGuard(path(c.guarded)));
        if (!guard->isActive())
            QSKIP("this system cannot make a directory refuse deletion");
    }
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const QString displayed = DirectoryListing::displayPath(c.dir);
    const QStringList options = c.call.split(QLatin1Char(' '));
    CallResult result;
    if (options.first() == QLatin1String("read")) {
        result = DirectoryOperations::readDirectory(c.dir, options.value(1).toUInt(),
                                                    options.contains(QLatin1String("deep")));
    } else if (c.call == QLatin1String("make")) {
        result = DirectoryOperations::makeDirectory(c.dir);
    } else if (c.call == QLatin1String("clear")) {
        result = DirectoryOperations::clearDirectory(c.dir);
    } else {
        result = DirectoryOperations::removeDirectory(c.dir);
    }
    QDir::setCurrent(saved);
    guard.reset();
    QCOMPARE(result.errorCode, c.code);
    QCOMPARE(result.message, c.message.arg(displayed));
    if (options.first() == QLatin1String("read")) {
        QCOMPARE(result.values, c.listing.replaceInStrings("@", displayed));
        return;
    }
    const QDir::Filters everything = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
    c.listing.sort(Qt::CaseInsensitive);
    QCOMPARE(QDir(m_dir->path()).entryList(everything | QDir::System), c.listing);
    QCOMPARE(QDir(m_outside->path()).entryList(everything), QStringList { "precious.txt" });
}

QTEST_GUILESS_MAIN(TestDirectoryOperations)
#include "tst_directoryoperations.moc"
