#include "config/preferencestore.h"
#include "scopedconfig.h"

class TestPreferenceStore : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("slashes and equals") << "a/b\\c=d" << QString("x=y/z\\w");
        QTest::newRow("unicode") << QString::fromUtf8("schlüssel") << QString::fromUtf8("wert ✓");
        QTest::newRow("empty value is not a missing one") << "empty" << QString("");
    }

    void roundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        ScopedWorkDir dir;
        PreferenceStore().setPref(key, value);
        const QString read = PreferenceStore().prefValue(key);
        QCOMPARE(read, value);
        QVERIFY(!read.isNull());
    }

    // Keys are stored enciphered, so a key cannot be found by enciphering it again: setting a
    // key must find and replace its old entry, and removing it must find it too.
    void storedEncipheredAndReplaced()
    {
        ScopedWorkDir dir;
        PreferenceStore store;
        for (const char *value : { "first-value", "visible-value" })
            store.setPref(QStringLiteral("isShellLogging"), QLatin1String(value));
        store.setPref(QStringLiteral("gone"), QStringLiteral("1"));
        store.removePref(QStringLiteral("gone"));
        store.setPref(QStringLiteral("null value"), QString());
        store.setPref(QString(""), QStringLiteral("no key"));
        QCOMPARE(store.prefValue(QStringLiteral("isShellLogging")),
                 QStringLiteral("visible-value"));
        QVERIFY(store.prefValue(QStringLiteral("gone")).isNull());
        QFile file(QStringLiteral("prefs/prefs.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(!text.contains("isShellLogging") && !text.contains("-value"), text.constData());
        // Read through the settings class, the one key is the enciphered key that lookup finds.
        QCOMPARE(QSettings(file.fileName(), QSettings::IniFormat).allKeys(),
                 QStringList { store.findPrefKey(QStringLiteral("isShellLogging")) });
    }

    void unusableFolderIsRetried()
    {
        ScopedWorkDir dir;
        // A plain file where the folder should be makes the store unavailable.
        QFile blocker(dir.filePath(QStringLiteral("prefs")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        PreferenceStore store;
        const QByteArray failed
            = "Directory creation failed for path: " + blocker.fileName().toUtf8();
        QTest::ignoreMessage(QtDebugMsg, failed.constData());
        QTest::ignoreMessage(QtDebugMsg, "Cannot read from preferrences.");
        QVERIFY(store.prefValue(QStringLiteral("k")).isNull());
        QTest::ignoreMessage(QtDebugMsg, failed.constData());
        QTest::ignoreMessage(QtDebugMsg, "Cannot edit preferrences.");
        store.setPref(QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(blocker.remove());
        store.setPref(QStringLiteral("k"), QStringLiteral("v"));
        QCOMPARE(store.prefValue(QStringLiteral("k")), QStringLiteral("v"));
    }

    // The varying byte changes every cipher text, so many are tried.
    void encodingAvoidsIniSpecials()
    {
        for (int i = 0; i < 50; ++i) {
            const QString plain = QStringLiteral("key-%1-?>>~~").arg(i);
            const QString encoded = PreferenceStore::encode(plain);
            QVERIFY2(!encoded.contains('=') && !encoded.contains('/'), qPrintable(encoded));
            QCOMPARE(PreferenceStore::decode(encoded), plain);
        }
    }
};

QTEST_GUILESS_MAIN(TestPreferenceStore)
#include "tst_preferencestore.moc"
