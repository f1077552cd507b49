#include "config/preferencestore.h"
#include "scopedconfig.h"

#include <QStandardPaths>

// Where the data folders go: beside a writable program folder (a build tree, a portable copy),
// in the user's data location when the folder is read-only (an installed copy).
class TestDataFolders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_userData.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_userData.path()));
        QCoreApplication::setOrganizationName(QStringLiteral("Corvid Tests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_datafolders"));
    }

    void placement_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("writable program folder") << true;
        QTest::newRow("read-only program folder") << false;
    }

    void placement()
    {
        QFETCH(bool, writable);
        QTemporaryDir program;
        ScopedWorkDir elsewhere;
        QVERIFY(QDir(program.path()).mkdir("app"));
        QFile folder(program.path());
        const QFileDevice::Permissions permissions = folder.permissions();
        if (!writable)
            QVERIFY(folder.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool moved = AppConfig::applyWorkingDirectoryRule(program.path());
        PreferenceStore().setPref(QStringLiteral("placed"), QStringLiteral("yes"));
        const QStringList programEntries
            = QDir(program.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QVERIFY(folder.setPermissions(permissions));
        QVERIFY(moved);

        const QString programDir = QDir::currentPath();
        const QString userDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY2(userDir.startsWith(m_userData.path()), qPrintable(userDir));
        const QString dataDir = writable ? programDir : userDir;
        for (const QString &name :
             { AppConfig::prefsDirName(), AppConfig::cacheDirName(), AppConfig::storageDirName(),
               AppConfig::downloadsDirName(), AppConfig::tempDirName() })
            QCOMPARE(AppConfig::dataPath(name + "/x"), dataDir + '/' + name + "/x");
        for (const QString &path : { AppConfig::blankPagePath(), AppConfig::iconPath(),
                                     AppConfig::helpDirName(), QStringLiteral("app/a.html") })
            QCOMPARE(AppConfig::dataPath(path), programDir + '/' + path);
        QVERIFY2(QFile::exists(dataDir + "/prefs/" + PreferenceStore::fileName()),
                 "the preferences were not written in the data folders' place");
        QCOMPARE(programEntries,
                 writable ? QStringList({ "app", "prefs" }) : QStringList({ "app" }));
    }

private:
    QTemporaryDir m_userData;
};

QTEST_GUILESS_MAIN(TestDataFolders)
#include "tst_datafolders.moc"
