#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QString>

// Light obfuscation with an integrity check: a repeating 8-byte key, a chained XOR, one varying
// byte and a CRC-16 over the payload. Not strong cryptography. One object serves one operation.
class CORVID_EXPORT TextCipher final
{
public:
    enum CompressionMode { CompressionAuto, CompressionAlways, CompressionNever };
    enum ProtectionMode { ProtectionNone, ProtectionChecksum, ProtectionHash };
    enum CipherError { NoError, NoKeySet, UnknownVersion, IntegrityFailed };

    // Key for script calls, encrypted files and preferences.
    static constexpr quint32 DefaultKey = 0x03A91C57;
    // Key of the configured on-load password.
    static constexpr quint32 PasswordKey = 0x02E6B4D8;

    explicit TextCipher(quint64 key);

    void setCompressionMode(CompressionMode mode) { m_compression = mode; }
    CompressionMode compressionMode() const { return m_compression; }
    void setProtectionMode(ProtectionMode mode) { m_protection = mode; }
    ProtectionMode protectionMode() const { return m_protection; }
    CipherError lastError() const { return m_lastError; }

    QByteArray encryptBytes(const QByteArray &payload);
    // The varying first byte made explicit, so the byte format can be checked exactly.
    QByteArray encryptBytes(const QByteArray &payload, quint8 randomByte);
    QByteArray decryptBytes(const QByteArray &cipher);
    QString encryptText(const QString &text);
    QString decryptText(const QString &cipherText);

    // Bodies of the page's encrypt/decrypt calls: key 0 selects the default key, and a cipher
    // text that fails to decipher gives the empty text.
    static QString encryptWithKey(const QString &clearText, quint32 key);
    static QString decryptWithKey(const QString &cipherText, quint32 key);

private:
    quint64 m_key;
    QByteArray m_keyBytes;
    CompressionMode m_compression = CompressionAuto;
    ProtectionMode m_protection = ProtectionChecksum;
    CipherError m_lastError = NoError;
};
