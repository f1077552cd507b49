#include "platform/textcipher.h"

#include <QProcess>
#include <QtTest>

// Vectors and cross-checks come from an independent reference written in Python
// (data/textcipher_ref.py), so a fault shared by the cipher and its test cannot hide.
class TestTextCipher : public QObject
{
    Q_OBJECT

private slots:
    void fixedVectors_data();
    void fixedVectors();
    void referenceDeciphersOurs_data();
    void referenceDeciphersOurs();
    void oursDeciphersReference();
    void roundTrip_data();
    void roundTrip();
    void flagsFollowCompression_data();
    void flagsFollowCompression();
    void varyingByteVariesOutput();
    void everyBodyBitIsChecked();
    void otherKeyFails();
    void keyZeroSelectsDefault();
    void checksumTakesPrecedenceOverHash();
    void hashProtection();
    void malformedInput_data();
    void malformedInput();

private:
    QString runReference(const QStringList &arguments);
};

QString TestTextCipher::runReference(const QStringList &arguments)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 QStringList { QStringLiteral(CORVID_TEST_DATA "/textcipher_ref.py") } + arguments);
    if (!python.waitForFinished(10000) || python.exitCode() != 0) {
        qWarning() << python.readAllStandardError();
        return QStringLiteral("<reference failed>");
    }
    QString out = QString::fromUtf8(python.readAllStandardOutput());
    out.chop(1); // the trailing line feed
    return out;
}

void TestTextCipher::fixedVectors_data()
{
    QTest::addColumn<quint32>("key");
    QTest::addColumn<int>("randomByte");
    QTest::addColumn<int>("compression");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cipherText");

    const int autoMode = TextCipher::CompressionAuto;
    QTest::newRow("empty") << 0x03A91C57u << 0 << autoMode << QString() << "AwJXS+I=";
    QTest::newRow("short") << 0x03A91C57u << 0x7f << autoMode << "hello"
                           << "AwIoABR/GnYadQ==";
    QTest::newRow("password key") << 0x02E6B4D8u << 0x5a << autoMode << "demo"
                                  << "AwKCU08pTCFO";
    QTest::newRow("compressed") << 0x03A91C57u << 0xff << autoMode << QString("abc").repeated(40)
                                << "AwOorHV2dnYOdvusSQBOUlpeCc6Rv04=";
    QTest::newRow("never compress")
        << 0x12345678u << 0x10 << int(TextCipher::CompressionNever) << "O'Brien"
        << "AwJoSRFMaylbMi8X";
    QTest::newRow("always compress")
        << 0x03A91C57u << 0x01 << int(TextCipher::CompressionAlways) << "x"
        << "AwNWis/MzMzNtTiPJiUlXFwl";
    QTest::newRow("non-ascii") << 0x03A91C57u << 0xc3 << autoMode
                               << QString::fromUtf8("Grüße – 日本 🐦")
                               << "AwKUomAkVpUp6iJb0jOzIADmJp/QT+PDM6xr0Q==";
}

void TestTextCipher::fixedVectors()
{
    QFETCH(quint32, key);
    QFETCH(int, randomByte);
    QFETCH(int, compression);
    QFETCH(QString, text);
    QFETCH(QString, cipherText);

    TextCipher cipher(key);
    cipher.setCompressionMode(TextCipher::CompressionMode(compression));
    const QByteArray bytes = cipher.encryptBytes(text.toUtf8(), quint8(randomByte));
    QCOMPARE(QString::fromLatin1(bytes.toBase64()), cipherText);
    QCOMPARE(TextCipher(key).decryptText(cipherText), text);
}

void TestTextCipher::referenceDeciphersOurs_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "The quick brown fox";
    QTest::newRow("quotes and breaks") << "O'Brien \\ \" \r\n end";
    QTest::newRow("repetitive") << QString("0123456789").repeated(200);
    QTest::newRow("unicode") << QString::fromUtf8("ÆØÅ ✓ 🐦");
}

void TestTextCipher::referenceDeciphersOurs()
{
    QFETCH(QString, text);
    const QString cipherText = TextCipher::encryptWithKey(text, 0);
    QCOMPARE(runReference({ QStringLiteral("decrypt"), QStringLiteral("0x03A91C57"), cipherText }),
             text);
}

void TestTextCipher::oursDeciphersReference()
{
    for (int randomByte : { 0, 1, 0x80, 0xfe }) {
        const QString text = QStringLiteral("line %1\nwith ümlaut").arg(randomByte);
        const QString cipherText
            = runReference({ QStringLiteral("encrypt"), QStringLiteral("0x02E6B4D8"),
                             QString::number(randomByte), QStringLiteral("auto"), text });
        QCOMPARE(TextCipher(TextCipher::PasswordKey).decryptText(cipherText), text);
    }
}

void TestTextCipher::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("one char") << "a";
    QTest::newRow("long repetitive") << QString("corvid ").repeated(100000);
    QTest::newRow("non-ascii") << QString::fromUtf8("日本語のテキスト — ñ 🐦\u2028");
    QTest::newRow("nul inside") << QString::fromUtf8("a\0b", 3);
}

void TestTextCipher::roundTrip()
{
    QFETCH(QString, text);
    TextCipher cipher(TextCipher::DefaultKey);
    const QString cipherText = cipher.encryptText(text);
    QCOMPARE(cipher.lastError(), TextCipher::NoError);
    QVERIFY(!cipherText.contains(QLatin1Char('\n')));
    const QString back = TextCipher(TextCipher::DefaultKey).decryptText(cipherText);
    QCOMPARE(back, text.isNull() ? QString() : text);
    if (text.isEmpty())
        QCOMPARE(cipherText.size(), 8);
}

void TestTextCipher::flagsFollowCompression_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("flags");
    QTest::newRow("short text stays plain") << "short" << 0x02;
    QTest::newRow("repetitive text is compressed") << QString("x").repeated(500) << 0x03;
}

void TestTextCipher::flagsFollowCompression()
{
    QFETCH(QString, text);
    QFETCH(int, flags);
    const QByteArray bytes = TextCipher(TextCipher::DefaultKey).encryptBytes(text.toUtf8());
    QCOMPARE(int(bytes.at(0)), 3);
    QCOMPARE(int(quint8(bytes.at(1))), flags);
}

void TestTextCipher::varyingByteVariesOutput()
{
    TextCipher cipher(TextCipher::DefaultKey);
    const QByteArray a = cipher.encryptBytes("same", 1);
    const QByteArray b = cipher.encryptBytes("same", 2);
    QVERIFY(a != b);
    QCOMPARE(cipher.decryptBytes(a), QByteArray("same"));
    QCOMPARE(cipher.decryptBytes(b), QByteArray("same"));
}

void TestTextCipher::everyBodyBitIsChecked()
{
    TextCipher cipher(TextCipher::DefaultKey);
    const QByteArray original = cipher.encryptBytes("integrity matters", 0x42);
    // Offset 2 is the varying byte, which the format never checks.
    for (int offset = 3; offset < original.size(); ++offset) {
        for (int bit = 0; bit < 8; ++bit) {
            QByteArray tampered = original;
            tampered[offset] = char(tampered.at(offset) ^ (1 << bit));
            const QByteArray result = cipher.decryptBytes(tampered);
            QVERIFY2(result.isEmpty(),
                     qPrintable(QStringLiteral("offset %1 bit %2").arg(offset).arg(bit)));
            QCOMPARE(cipher.lastError(), TextCipher::IntegrityFailed);
        }
    }
}

void TestTextCipher::otherKeyFails()
{
    // A fixed varying byte: with a random one, one run in 65,536 would pass the check by chance.
    const QByteArray cipher = TextCipher(TextCipher::DefaultKey).encryptBytes("secret", 0x21);
    TextCipher other(TextCipher::PasswordKey);
    QCOMPARE(other.decryptText(QString::fromLatin1(cipher.toBase64())), QString());
    QCOMPARE(other.lastError(), TextCipher::IntegrityFailed);
}

void TestTextCipher::keyZeroSelectsDefault()
{
    const QString viaZero = TextCipher::encryptWithKey(QStringLiteral("shared"), 0);
    QCOMPARE(TextCipher(TextCipher::DefaultKey).decryptText(viaZero), QStringLiteral("shared"));
    const QString viaDefault
        = TextCipher(TextCipher::DefaultKey).encryptText(QStringLiteral("back"));
    QCOMPARE(TextCipher::decryptWithKey(viaDefault, 0), QStringLiteral("back"));
}

void TestTextCipher::checksumTakesPrecedenceOverHash()
{
    TextCipher cipher(TextCipher::DefaultKey);
    QByteArray checksummed = cipher.encryptBytes("payload", 7);
    checksummed[1] = char(checksummed.at(1) | 0x04);
    QCOMPARE(cipher.decryptBytes(checksummed), QByteArray("payload"));

    cipher.setProtectionMode(TextCipher::ProtectionHash);
    QByteArray hashed = cipher.encryptBytes("payload", 7);
    QCOMPARE(int(hashed.at(1)), 0x04);
    hashed[1] = char(hashed.at(1) | 0x02);
    QCOMPARE(cipher.decryptBytes(hashed), QByteArray());
    QCOMPARE(cipher.lastError(), TextCipher::IntegrityFailed);
}

void TestTextCipher::hashProtection()
{
    TextCipher cipher(TextCipher::DefaultKey);
    cipher.setProtectionMode(TextCipher::ProtectionHash);
    const QByteArray bytes = cipher.encryptBytes("hashed", 9);
    QCOMPARE(bytes.size(), 2 + 1 + 20 + 6);
    QCOMPARE(TextCipher(TextCipher::DefaultKey).decryptBytes(bytes), QByteArray("hashed"));
    QByteArray tampered = bytes;
    tampered[bytes.size() - 1] = char(tampered.at(bytes.size() - 1) ^ 1);
    QCOMPARE(TextCipher(TextCipher::DefaultKey).decryptBytes(tampered), QByteArray());
}

void TestTextCipher::malformedInput_data()
{
    QTest::addColumn<QString>("cipherText");
    QTest::addColumn<bool>("warns");
    QTest::addColumn<int>("error");
    QTest::newRow("empty") << QString() << false << int(TextCipher::UnknownVersion);
    QTest::newRow("not base64 of a cipher")
        << "hello world" << true << int(TextCipher::UnknownVersion);
    QTest::newRow("version 2") << QString::fromLatin1(QByteArray("\x02\x02"
                                                                 "abc")
                                                          .toBase64())
                               << true << int(TextCipher::UnknownVersion);
    QTest::newRow("too short for checksum")
        << QString::fromLatin1(QByteArray("\x03\x02\x00").toBase64()) << false
        << int(TextCipher::IntegrityFailed);
    QTest::newRow("version byte only")
        << QString::fromLatin1(QByteArray("\x03").toBase64()) << false << int(TextCipher::NoError);
}

void TestTextCipher::malformedInput()
{
    QFETCH(QString, cipherText);
    QFETCH(bool, warns);
    QFETCH(int, error);
    if (warns)
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
    TextCipher cipher(TextCipher::DefaultKey);
    QCOMPARE(cipher.decryptText(cipherText), QString());
    QCOMPARE(int(cipher.lastError()), error);
}

QTEST_GUILESS_MAIN(TestTextCipher)
#include "tst_textcipher.moc"
