#include "deletionguard.h"
#include "docs/attatchmentmanager.h"
#include "docs/tempfilemanager.h"
#include "platform/filewriter.h"
#include "writeinchild.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestTempFileManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clearDirectoryDeletesFilesOnly();
    void clearDirectoryRemovesLinksNotTargets();
    void clearDirectoryOfMissingDirectoryDoesNothing();
    void constructionClearsTheDirectory();
    void ensureDirectory_data();
    void ensureDirectory();
    void filePath_data();
    void filePath();
    void writeFileData_data();
    void writeFileData();
    void failedWritesReportFalse();
    void writeFailingMidwayKeepsOldContent();
    void createFileDoesNotRegister();
    void collectsOnlyFilesOldEnough();
    void dropsVanishedAndEmptyPaths();
    void fileThatCannotBeDeletedStaysUntilReleased();
    void timerRunsUntilTheListIsEmpty();
    void ageCountsFromCreationOrLastChange();
    void timestampFileName();
    void createEmailFileWritesTextUnregistered();

private:
    QString makeFile(const QString &relative, const QByteArray &content = "x");
    QString path(const QString &relative) const { return m_dir->filePath(relative); }

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestTempFileManager::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), "no temporary directory");
}

void TestTempFileManager::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

QString TestTempFileManager::makeFile(const QString &relative, const QByteArray &content)
{
    const QString filePath = path(relative);
    QDir().mkpath(QFileInfo(filePath).path());
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(content);
    return filePath;
}

void TestTempFileManager::clearDirectoryDeletesFilesOnly()
{
    makeFile(QStringLiteral("a.txt"));
    makeFile(QStringLiteral(".hidden"));
    const QString kept = makeFile(QStringLiteral("sub/kept.txt"));
    TempFileManager::clearDirectory(m_dir->path());
    QVERIFY(!QFile::exists(path(QStringLiteral("a.txt"))));
    QVERIFY(!QFile::exists(path(QStringLiteral(".hidden"))));
    QVERIFY2(QFile::exists(kept), "a file in a subdirectory was deleted");
}

void TestTempFileManager::clearDirectoryRemovesLinksNotTargets()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString target = outside.filePath(QStringLiteral("target.txt"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QVERIFY(QFile::link(target, path(QStringLiteral("link.txt"))));
    TempFileManager::clearDirectory(m_dir->path());
    QVERIFY(!QFileInfo(path(QStringLiteral("link.txt"))).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestTempFileManager::clearDirectoryOfMissingDirectoryDoesNothing()
{
    TempFileManager::clearDirectory(path(QStringLiteral("missing")));
    TempFileManager::clearDirectory(QString());
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
}

void TestTempFileManager::constructionClearsTheDirectory()
{
    const QString stale = makeFile(QStringLiteral("stale.eml"));
    QObject owner;
    TempFileManager manager(&owner, m_dir->path());
    QVERIFY(!QFile::exists(stale));
    QCOMPARE(manager.owner(), &owner);
    QCOMPARE(manager.parent(), nullptr);
}

void TestTempFileManager::ensureDirectory_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("expected");
    QTest::newRow("existing") << "" << true;
    QTest::newRow("missing chain") << "a/b/c" << true;
    QTest::newRow("below a file") << "file.txt/sub" << false;
}

void TestTempFileManager::ensureDirectory()
{
    QFETCH(QString, relative);
    QFETCH(bool, expected);
    makeFile(QStringLiteral("file.txt"));
    const QString directory = relative.isEmpty() ? m_dir->path() : path(relative);
    QCOMPARE(FileWriter::ensureDirectory(directory), expected);
    QCOMPARE(QFileInfo(directory).isDir(), expected);
}

void TestTempFileManager::filePath_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expected");
    QTest::newRow("relative name") << "out"
                                   << "a.pdf"
                                   << "out/a.pdf";
    QTest::newRow("absolute name") << "out"
                                   << "/elsewhere/a.pdf"
                                   << "/elsewhere/a.pdf";
    QTest::newRow("empty directory") << ""
                                     << "a.pdf" << QString();
    QTest::newRow("directory below a file") << "file.txt/out"
                                            << "a.pdf" << QString();
}

void TestTempFileManager::filePath()
{
    QFETCH(QString, directory);
    QFETCH(QString, fileName);
    QFETCH(QString, expected);
    makeFile(QStringLiteral("file.txt"));
    const QString dir = directory.isEmpty() ? QString() : path(directory);
    const QString result = FileWriter::filePath(dir, fileName);
    if (expected.isNull())
        QVERIFY2(result.isNull(), qPrintable(result));
    else if (QDir::isAbsolutePath(expected))
        QCOMPARE(result, expected);
    else
        QCOMPARE(result, path(expected));
}

void TestTempFileManager::writeFileData_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("isBinary");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray bytes("\x00\x01\xfe\xffPDF", 7);
    const QString base64 = QString::fromLatin1(bytes.toBase64());
    QTest::newRow("bare Base64") << base64 << true << bytes;
    QTest::newRow("data URL") << "data:application/pdf;base64," + base64 << true << bytes;
    QTest::newRow("empty binary") << "" << true << QByteArray();
    // Linux has no text mode of its own: line feeds are written unchanged.
    QTest::newRow("text with line feed") << "a\nb" << false << QByteArray("a\nb");
    QTest::newRow("text in local encoding") << "plain" << false << QByteArray("plain");
}

void TestTempFileManager::writeFileData()
{
    QFETCH(QString, data);
    QFETCH(bool, isBinary);
    QFETCH(QByteArray, expected);
    const QString filePath = makeFile(QStringLiteral("out.bin"), "old content that is longer");
    QVERIFY(FileWriter::writeFileData(filePath, data, isBinary));
    QFile file(filePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestTempFileManager::failedWritesReportFalse()
{
    // A directory standing where the file would go, and a parent that does not exist.
    QVERIFY(!FileWriter::writeFileData(m_dir->path(), QStringLiteral("bmV3"), true));
    QVERIFY(QFileInfo(m_dir->path()).isDir());
    const QString orphan = path(QStringLiteral("missing/x.txt"));
    QVERIFY(!FileWriter::writeFileData(orphan, QStringLiteral("new"), false));
    QVERIFY(!QFileInfo::exists(orphan));
}

void TestTempFileManager::writeFailingMidwayKeepsOldContent()
{
    const QByteArray old("the old content, byte for byte\r\n\x01");
    const QString filePath = makeFile(QStringLiteral("export.bin"), old);
    const QString report
        = writeInChildWithSizeLimit(QStringLiteral("writeFileData"), filePath, 1 << 20);
    QCOMPARE(report, QStringLiteral("0 -1 failed"));
    QFile file(filePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList { "export.bin" });
}

void TestTempFileManager::createFileDoesNotRegister()
{
    TempFileManager manager;
    const QString created = manager.createFile(
        path(QStringLiteral("temp")), QStringLiteral("a.txt"), QStringLiteral("hi"), false);
    QCOMPARE(created, path(QStringLiteral("temp/a.txt")));
    QVERIFY(QFile::exists(created));
    QVERIFY(manager.registeredFiles().isEmpty());
    QCOMPARE(manager.pendingRuns(), 0);
    QVERIFY(manager.createFile(QString(), QStringLiteral("a.txt"), QString(), false).isNull());
}

void TestTempFileManager::collectsOnlyFilesOldEnough()
{
    const QString filePath = makeFile(QStringLiteral("export.pdf"));
    const QDateTime origin = TempFileManager::ageOrigin(filePath);
    QVERIFY(origin.isValid());
    QDateTime now = origin.addMSecs(4999);
    TempFileManager manager;
    manager.setClock([&now] { return now; });
    manager.registerFile(filePath);
    manager.registerFile(filePath);

    manager.collectGarbage();
    QVERIFY2(QFile::exists(filePath), "a file younger than 5 seconds was deleted");
    QCOMPARE(manager.registeredFiles(), (QStringList { filePath, filePath }));

    now = origin.addSecs(5);
    manager.collectGarbage();
    QVERIFY(!QFile::exists(filePath));
    QVERIFY(manager.registeredFiles().isEmpty());
}

void TestTempFileManager::dropsVanishedAndEmptyPaths()
{
    const QString vanished = makeFile(QStringLiteral("vanished.txt"));
    const QString young = makeFile(QStringLiteral("young.txt"));
    TempFileManager manager;
    manager.setClock([] { return QDateTime::currentDateTime().addSecs(-60); });
    manager.registerFile(vanished);
    manager.registerFile(QString());
    manager.registerFile(young);
    QVERIFY(QFile::remove(vanished));
    QSignalSpy spy(&manager, &TempFileManager::garbageCollected);
    manager.collectGarbage();
    QCOMPARE(manager.registeredFiles(), QStringList { young });
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toInt(), 1);
}

void TestTempFileManager::fileThatCannotBeDeletedStaysUntilReleased()
{
    const QString held = makeFile(QStringLiteral("held/message.eml"));
    TempFileManager manager;
    manager.setClock([] { return QDateTime::currentDateTime().addSecs(60); });
    manager.registerFile(held);
    DeletionGuard guard(path(QStringLiteral("held")));
    if (!guard.isActive())
        QSKIP("this system cannot make a directory refuse deletion");
    manager.collectGarbage();
    QVERIFY2(QFile::exists(held), "the guarded file was deleted");
    QCOMPARE(manager.registeredFiles(), QStringList { held });
    QVERIFY(manager.pendingRuns() >= 1);

    guard.release();
    manager.collectGarbage();
    QVERIFY(!QFile::exists(held));
    QVERIFY(manager.registeredFiles().isEmpty());
}

void TestTempFileManager::timerRunsUntilTheListIsEmpty()
{
    const QString filePath = makeFile(QStringLiteral("mail.eml"));
    TempFileManager manager;
    manager.setMinimumAge(300);
    manager.setRunInterval(50);
    QSignalSpy spy(&manager, &TempFileManager::garbageCollected);
    manager.registerFile(filePath);
    QCOMPARE(manager.pendingRuns(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(filePath), 5000);
    QTRY_COMPARE(manager.pendingRuns(), 0);
    QVERIFY(manager.registeredFiles().isEmpty());
    // Several runs found the file too young before one deleted it; the last saw an empty list.
    QVERIFY2(spy.count() >= 2, qPrintable(QString::number(spy.count())));
    QCOMPARE(spy.last().first().toInt(), 0);
}

void TestTempFileManager::ageCountsFromCreationOrLastChange()
{
    const QString filePath = makeFile(QStringLiteral("aged.txt"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    const QDateTime origin = TempFileManager::ageOrigin(filePath);
    QVERIFY(origin.isValid());
    QVERIFY(origin >= before);
    QVERIFY(origin <= QDateTime::currentDateTime());
    const QFileInfo info(filePath);
    QCOMPARE(origin, info.birthTime().isValid() ? info.birthTime() : info.lastModified());
}

void TestTempFileManager::timestampFileName()
{
    const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
    const QString name = AttatchmentManager::timestampFileName(QStringLiteral("eml"));
    const QString after = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{14}\\.eml$")).match(name).hasMatch(),
             qPrintable(name));
    QVERIFY(name.left(14) >= before && name.left(14) <= after);
}

void TestTempFileManager::createEmailFileWritesTextUnregistered()
{
    AttatchmentManager manager;
    const QString folder = path(QStringLiteral("temp"));
    const QString created = manager.createEmailFile(folder, QStringLiteral("Subject: hi\n\nbody"));
    QVERIFY(!created.isNull());
    QCOMPARE(QFileInfo(created).path(), folder);
    QVERIFY(created.endsWith(QLatin1String(".eml")));
    QFile file(created);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Subject: hi\n\nbody"));
    QVERIFY(manager.registeredFiles().isEmpty());
    QVERIFY(manager.createEmailFile(QString(), QStringLiteral("x")).isNull());
}

QTEST_GUILESS_MAIN(TestTempFileManager)
#include "tst_tempfilemanager.moc"
