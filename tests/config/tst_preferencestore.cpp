#include "config/preferencestore.h"

#include <QTemporaryDir>
#include <QtTest>

class TestPreferenceStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void roundTrip_data();
    void roundTrip();
    void storedEnciphered();
    void setReplaces();
    void emptyAndMissingValues();
    void removePref();
    void unusableFolderThenRecovers();
    void encodingAvoidsIniSpecials();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString m_startDir;
    QString prefsFileText() const;
};

void TestPreferenceStore::init()
{
    m_startDir = QDir::currentPath();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestPreferenceStore::cleanup()
{
    QDir::setCurrent(m_startDir);
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

QString TestPreferenceStore::prefsFileText() const
{
    QFile file(m_dir->filePath(QStringLiteral("prefs/prefs.ini")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestPreferenceStore::roundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("switch") << "isAppLogging"
                            << "1";
    QTest::newRow("slashes and equals") << "a/b\\c=d"
                                        << "x=y/z\\w";
    QTest::newRow("unicode") << QString::fromUtf8("schlüssel") << QString::fromUtf8("wert ✓");
    QTest::newRow("long value") << "long" << QString("v").repeated(5000);
}

void TestPreferenceStore::roundTrip()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    {
        PreferenceStore store;
        store.setPref(key, value);
        QCOMPARE(store.prefValue(key), value);
    }
    PreferenceStore reopened;
    QCOMPARE(reopened.prefValue(key), value);
}

void TestPreferenceStore::storedEnciphered()
{
    PreferenceStore store;
    store.setPref(QStringLiteral("isShellLogging"), QStringLiteral("visible-value"));
    const QString text = prefsFileText();
    QVERIFY2(!text.isEmpty(), "prefs/prefs.ini must be written");
    QVERIFY(!text.contains(QStringLiteral("isShellLogging")));
    QVERIFY(!text.contains(QStringLiteral("visible-value")));
    QVERIFY(!store.findPrefKey(QStringLiteral("isShellLogging")).isEmpty());
    // The file holds the key as the settings class writes it (it escapes some Base64 characters);
    // read back through that class it is the enciphered key found by lookup.
    const QSettings raw(m_dir->filePath(QStringLiteral("prefs/prefs.ini")), QSettings::IniFormat);
    QCOMPARE(raw.allKeys(), QStringList{store.findPrefKey(QStringLiteral("isShellLogging"))});
}

void TestPreferenceStore::setReplaces()
{
    PreferenceStore store;
    store.setPref(QStringLiteral("k"), QStringLiteral("first"));
    store.setPref(QStringLiteral("k"), QStringLiteral("second"));
    QCOMPARE(store.prefValue(QStringLiteral("k")), QStringLiteral("second"));
    QSettings raw(m_dir->filePath(QStringLiteral("prefs/prefs.ini")), QSettings::IniFormat);
    QCOMPARE(raw.allKeys().size(), 1);
}

void TestPreferenceStore::emptyAndMissingValues()
{
    PreferenceStore store;
    store.setPref(QStringLiteral("empty"), QString(""));
    const QString empty = store.prefValue(QStringLiteral("empty"));
    QVERIFY(!empty.isNull());
    QVERIFY(empty.isEmpty());
    QVERIFY(store.prefValue(QStringLiteral("missing")).isNull());
    QVERIFY(store.prefValue(QString()).isNull());
    store.setPref(QStringLiteral("nullvalue"), QString());
    QVERIFY(store.findPrefKey(QStringLiteral("nullvalue")).isNull());
    store.setPref(QString(""), QStringLiteral("x"));
    QSettings raw(m_dir->filePath(QStringLiteral("prefs/prefs.ini")), QSettings::IniFormat);
    QCOMPARE(raw.allKeys().size(), 1);
}

void TestPreferenceStore::removePref()
{
    PreferenceStore store;
    store.setPref(QStringLiteral("a"), QStringLiteral("1"));
    store.setPref(QStringLiteral("b"), QStringLiteral("2"));
    store.removePref(QStringLiteral("a"));
    store.removePref(QStringLiteral("never stored"));
    QVERIFY(store.prefValue(QStringLiteral("a")).isNull());
    QCOMPARE(store.prefValue(QStringLiteral("b")), QStringLiteral("2"));
}

void TestPreferenceStore::unusableFolderThenRecovers()
{
    // A plain file where the folder should be makes the store unavailable.
    QFile blocker(m_dir->filePath(QStringLiteral("prefs")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    PreferenceStore store;
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("prefs"));
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Directory creation failed for path: " + folder));
    QTest::ignoreMessage(QtDebugMsg, "Cannot read from preferrences.");
    QVERIFY(store.prefValue(QStringLiteral("k")).isNull());
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Directory creation failed for path: " + folder));
    QTest::ignoreMessage(QtDebugMsg, "Cannot edit preferrences.");
    store.setPref(QStringLiteral("k"), QStringLiteral("v"));

    // The next operation tries again.
    QVERIFY(blocker.remove());
    store.setPref(QStringLiteral("k"), QStringLiteral("v"));
    QCOMPARE(store.prefValue(QStringLiteral("k")), QStringLiteral("v"));
}

void TestPreferenceStore::encodingAvoidsIniSpecials()
{
    for (int i = 0; i < 50; ++i) {
        const QString encoded = PreferenceStore::encode(QStringLiteral("key-%1-?>>~~").arg(i));
        QVERIFY(!encoded.contains(QLatin1Char('=')));
        QVERIFY(!encoded.contains(QLatin1Char('/')));
        QCOMPARE(PreferenceStore::decode(encoded), QStringLiteral("key-%1-?>>~~").arg(i));
    }
}

QTEST_GUILESS_MAIN(TestPreferenceStore)
#include "tst_preferencestore.moc"
