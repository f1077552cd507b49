#include "platform/textcipher.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtEndian>

namespace {

constexpr char FormatVersion = 0x03;
constexpr quint8 FlagCompressed = 0x01;
constexpr quint8 FlagChecksum = 0x02;
constexpr quint8 FlagHash = 0x04;
constexpr int ChecksumSize = 2;
constexpr int HashSize = 20;

QByteArray checksumBytes(const QByteArray &data)
{
    const quint16 crc = qChecksum(data.constData(), uint(data.size()));
    QByteArray out(ChecksumSize, '\0');
    qToBigEndian(crc, out.data());
    return out;
}

quint32 effectiveKey(quint32 key)
{
    return key == 0 ? TextCipher::DefaultKey : key;
}

} // namespace

TextCipher::TextCipher(quint64 key)
    : m_key(key)
{
    m_keyBytes.resize(8);
    for (int j = 0; j < 8; ++j)
        m_keyBytes[j] = char((m_key >> (8 * j)) & 0xFF);
}

QByteArray TextCipher::encryptBytes(const QByteArray &payload)
{
    return encryptBytes(payload, quint8(QRandomGenerator::global()->bounded(256)));
}

QByteArray TextCipher::encryptBytes(const QByteArray &payload, quint8 randomByte)
{
    if (m_keyBytes.isEmpty()) {
        qWarning("No key set.");
        m_lastError = NoKeySet;
        return QByteArray();
    }

    QByteArray body = payload;
    quint8 flags = 0;
    if (m_compression == CompressionAlways) {
        body = qCompress(body, 9);
        flags |= FlagCompressed;
    } else if (m_compression == CompressionAuto) {
        const QByteArray compressed = qCompress(body, 9);
        if (compressed.size() < body.size()) {
            body = compressed;
            flags |= FlagCompressed;
        }
    }

    QByteArray integrity;
    if (m_protection == ProtectionChecksum) {
        flags |= FlagChecksum;
        integrity = checksumBytes(body);
    } else if (m_protection == ProtectionHash) {
        flags |= FlagHash;
        integrity = QCryptographicHash::hash(body, QCryptographicHash::Sha1);
    }

    QByteArray out;
    out.reserve(3 + integrity.size() + body.size());
    out.append(FormatVersion);
    out.append(char(flags));
    out.append(char(randomByte));
    out.append(integrity);
    out.append(body);

    char prev = 0;
    char *bytes = out.data() + 2;
    const int length = out.size() - 2;
    for (int i = 0; i < length; ++i) {
        bytes[i] = char(bytes[i] ^ m_keyBytes.at(i % 8) ^ prev);
        prev = bytes[i];
    }
    m_lastError = NoError;
    return out;
}

QByteArray TextCipher::decryptBytes(const QByteArray &cipher)
{
    if (m_keyBytes.isEmpty()) {
        qWarning("No key set.");
        m_lastError = NoKeySet;
        return QByteArray();
    }
    if (cipher.isEmpty()) {
        m_lastError = UnknownVersion;
        return QByteArray();
    }
    if (cipher.at(0) != FormatVersion) {
        qWarning("Invalid version or not a cyphertext.");
        m_lastError = UnknownVersion;
        return QByteArray();
    }

    const quint8 flags = quint8(cipher.size() > 1 ? cipher.at(1) : 0);
    QByteArray body = cipher.mid(2);
    char prev = 0;
    for (int i = 0; i < body.size(); ++i) {
        const char enciphered = body.at(i);
        body[i] = char(enciphered ^ m_keyBytes.at(i % 8) ^ prev);
        prev = enciphered;
    }
    body.remove(0, 1);

    if (flags & FlagChecksum) {
        if (body.size() < ChecksumSize) {
            m_lastError = IntegrityFailed;
            return QByteArray();
        }
        const quint16 stored = qFromBigEndian<quint16>(body.constData());
        body.remove(0, ChecksumSize);
        if (stored != qChecksum(body.constData(), uint(body.size()))) {
            m_lastError = IntegrityFailed;
            return QByteArray();
        }
    } else if (flags & FlagHash) {
        if (body.size() < HashSize) {
            m_lastError = IntegrityFailed;
            return QByteArray();
        }
        const QByteArray stored = body.left(HashSize);
        body.remove(0, HashSize);
        if (stored != QCryptographicHash::hash(body, QCryptographicHash::Sha1)) {
            m_lastError = IntegrityFailed;
            return QByteArray();
        }
    }

    if (flags & FlagCompressed) {
        // qUncompress answers a corrupt body with nothing, and an empty payload compresses to a
        // zero size alone, so only that form may give nothing.
        const QByteArray compressed = body;
        // The size it claims decides what qUncompress reserves before it inflates anything; zlib
        // cannot expand a body more than about 1032 times (1029 with the size in front), so a
        // larger claim is a forgery that would only make the shell reserve gigabytes.
        if (compressed.size() >= 4) {
            const auto *size = reinterpret_cast<const uchar *>(compressed.constData());
            const quint64 claimed = (quint64(size[0]) << 24) | (quint64(size[1]) << 16)
                | (quint64(size[2]) << 8) | quint64(size[3]);
            if (claimed > quint64(compressed.size()) * 1100) {
                m_lastError = IntegrityFailed;
                return QByteArray();
            }
        }
        body = qUncompress(compressed);
        if (body.isEmpty() && compressed != qCompress(QByteArray())) {
            m_lastError = IntegrityFailed;
            return QByteArray();
        }
    }
    m_lastError = NoError;
    return body;
}

QString TextCipher::encryptText(const QString &text)
{
    return QString::fromLatin1(encryptBytes(text.toUtf8()).toBase64());
}

QString TextCipher::decryptText(const QString &cipherText)
{
    const QByteArray cipher = QByteArray::fromBase64(cipherText.toLatin1());
    const QByteArray payload = decryptBytes(cipher);
    // Sized decoding, so a NUL inside the text survives like every other character.
    return QString::fromUtf8(payload.constData(), payload.size());
}

QString TextCipher::encryptWithKey(const QString &clearText, quint32 key)
{
    return TextCipher(effectiveKey(key)).encryptText(clearText);
}

QString TextCipher::decryptWithKey(const QString &cipherText, quint32 key)
{
    return TextCipher(effectiveKey(key)).decryptText(cipherText);
}
