#include "platform/textcipher.h"

#include <QProcess>
#include <QSet>
#include <QtTest>

#include <cstdio>

namespace {

const quint32 Default = TextCipher::DefaultKey;

const QString Reference = QStringLiteral(CORVID_TEST_DATA "/textcipher_ref.py");

// What a helper prints: the independent reference written in Python, so that a fault shared by
// the cipher and its test cannot hide, or this program run anew.
QString outputOf(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool ran = process.waitForFinished(10000) && process.exitCode() == 0;
    return ran ? QString::fromUtf8(process.readAllStandardOutput()) : QStringLiteral("<failed>");
}

QString base64Of(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

class TestTextCipher : public QObject
{
    Q_OBJECT

private slots:
    void fixedVectors_data()
    {
        QTest::addColumn<quint32>("key");
        QTest::addColumn<int>("randomByte");
        QTest::addColumn<int>("compression");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cipherText");
        const int automatic = TextCipher::CompressionAuto;
        QTest::newRow("empty") << Default << 0 << automatic << QString() << "AwJXS+I=";
        QTest::newRow("password key") << quint32(TextCipher::PasswordKey) << 0x5a << automatic
                                      << QString("demo") << "AwKCU08pTCFO";
        QTest::newRow("compressed") << Default << 0xff << automatic << QString("abc").repeated(40)
                                    << "AwOorHV2dnYOdvusSQBOUlpeCc6Rv04=";
        QTest::newRow("never compress") << 0x12345678u << 0x10 << int(TextCipher::CompressionNever)
                                        << QString("O'Brien") << "AwJoSRFMaylbMi8X";
        QTest::newRow("always compress") << Default << 0x01 << int(TextCipher::CompressionAlways)
                                         << QString("x") << "AwNWis/MzMzNtTiPJiUlXFwl";
        QTest::newRow("non-ascii")
            << Default << 0xc3 << automatic << QString::fromUtf8("Grüße – 日本 🐦")
            << "AwKUomAkVpUp6iJb0jOzIADmJp/QT+PDM6xr0Q==";
        QTest::newRow("nul inside")
            << Default << 0x33 << automatic << QString::fromUtf8("a\0b", 3) << "AwJkoUEjI0E=";
    }

    void fixedVectors()
    {
        QFETCH(quint32, key);
        QFETCH(int, randomByte);
        QFETCH(int, compression);
        QFETCH(QString, text);
        QFETCH(QString, cipherText);
        TextCipher cipher(key);
        cipher.setCompressionMode(TextCipher::CompressionMode(compression));
        QCOMPARE(base64Of(cipher.encryptBytes(text.toUtf8(), quint8(randomByte))), cipherText);
        QCOMPARE(TextCipher(key).decryptText(cipherText), text);
    }

    void crossCheckWithReference_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes and breaks") << "O'Brien \\ \" \r\n end";
        QTest::newRow("repetitive") << QString("0123456789").repeated(200);
        QTest::newRow("unicode") << QString::fromUtf8("ÆØÅ ✓ 🐦");
    }

    // Key 0 of the page's calls stands for the default key, in both directions.
    void crossCheckWithReference()
    {
        QFETCH(QString, text);
        const QString ours = TextCipher::encryptWithKey(text, 0);
        QCOMPARE(outputOf("python3", { Reference, "decrypt", "0x03A91C57", ours }), text + '\n');
        const QString randomByte = QString::number(text.size() % 256);
        const QString theirs
            = outputOf("python3", { Reference, "encrypt", "0x03A91C57", randomByte, "auto", text });
        QCOMPARE(TextCipher::decryptWithKey(theirs.trimmed(), 0), text);
    }

    // A varying byte that repeats, within a process or from one start to the next, lets equal
    // texts be recognised by their cipher texts.
    void varyingByteIsRandom()
    {
        const QString self = QCoreApplication::applicationFilePath();
        const QString first = outputOf(self, { "--print-ciphers" });
        const QStringList texts = first.split(' ');
        QCOMPARE(texts.size(), 16);
        QVERIFY2(QSet<QString>(texts.cbegin(), texts.cend()).size() > 1, qPrintable(first));
        QVERIFY2(outputOf(self, { "--print-ciphers" }) != first, "each start repeats the bytes");
    }

    void everyBodyBitIsChecked()
    {
        TextCipher cipher(Default);
        const QByteArray original = cipher.encryptBytes("integrity matters", 0x42);
        // Offset 2 is the varying byte, which the format never checks.
        for (int offset = 3; offset < original.size(); ++offset) {
            for (int bit = 0; bit < 8; ++bit) {
                QByteArray tampered = original;
                tampered[offset] = char(tampered.at(offset) ^ (1 << bit));
                QVERIFY2(cipher.decryptBytes(tampered).isEmpty(), qPrintable(base64Of(tampered)));
                QCOMPARE(cipher.lastError(), TextCipher::IntegrityFailed);
            }
        }
    }

    // Found by fuzz_textcipher (the fixture is its input: the key, then the cipher text): a body
    // flagged compressed that does not decompress deciphered as the empty text without an error.
    void undecompressableBody()
    {
        QFile fixture(QStringLiteral(CORVID_TEST_DATA "/textcipher_undecompressable.bin"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const QByteArray input = fixture.readAll();
        const quint64 key = qFromLittleEndian<quint64>(input.constData());
        TextCipher cipher(key);
        QCOMPARE(cipher.decryptText(QString::fromLatin1(input.mid(8))), QString());
        QCOMPARE(cipher.lastError(), TextCipher::IntegrityFailed);
        // The empty payload, compressed, still deciphers.
        cipher.setCompressionMode(TextCipher::CompressionAlways);
        QCOMPARE(cipher.decryptText(cipher.encryptText(QString())), QString());
        QCOMPARE(cipher.lastError(), TextCipher::NoError);
        // A text that compresses as far as zlib goes still passes the check of the claimed size.
        const QString runs(16 << 20, QLatin1Char('a'));
        QCOMPARE(cipher.decryptText(cipher.encryptText(runs)), runs);
        QCOMPARE(cipher.lastError(), TextCipher::NoError);
    }

    void refusedInput_data()
    {
        QTest::addColumn<QString>("cipherText");
        QTest::addColumn<int>("error");
        const int unknown = TextCipher::UnknownVersion;
        const int failed = TextCipher::IntegrityFailed;
        QTest::newRow("empty") << QString() << unknown;
        QTest::newRow("not base64 of a cipher") << "hello world" << unknown;
        QTest::newRow("version 2") << base64Of("\x02\x02xyz") << unknown;
        QTest::newRow("too short for checksum") << base64Of({ "\x03\x02\x00", 3 }) << failed;
        // A fixed varying byte: with a random one, one run in 65,536 would pass the check.
        const QByteArray otherKey = TextCipher(TextCipher::PasswordKey).encryptBytes("secret", 33);
        QTest::newRow("another key") << base64Of(otherKey) << failed;
    }

    void refusedInput()
    {
        QFETCH(QString, cipherText);
        QFETCH(int, error);
        if (error == TextCipher::UnknownVersion && !cipherText.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        TextCipher cipher(Default);
        QCOMPARE(cipher.decryptText(cipherText), QString());
        QCOMPARE(int(cipher.lastError()), error);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains(QLatin1String("--print-ciphers"))) {
        QStringList texts;
        for (int i = 0; i < 16; ++i)
            texts << TextCipher(Default).encryptText(QStringLiteral("same"));
        std::fputs(texts.join(QLatin1Char(' ')).toLatin1().constData(), stdout);
        return 0;
    }
    TestTextCipher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_textcipher.moc"
