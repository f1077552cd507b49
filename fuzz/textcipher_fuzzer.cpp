// Feeds arbitrary text to TextCipher::decryptText under a key taken from the input: the version
// check, the chained XOR, both integrity checks and the decompression must survive anything, and
// whatever deciphers must encipher and decipher again to itself.

#include "platform/textcipher.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

bool decompressionFailed = false;

// Hostile input makes the cipher warn constantly; printing would only slow the fuzzer down. The
// only sign of a body that would not decompress is qUncompress's warning.
void noteMessages(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(QLatin1String("qUncompress")))
        decompressionFailed = true;
}

constexpr size_t KeySize = sizeof(quint64);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (qInstallMessageHandler(noteMessages), true);
    Q_UNUSED(quiet);

    if (size < KeySize)
        return 0;
    quint64 key = 0;
    std::memcpy(&key, data, KeySize);
    const QString cipherText
        = QString::fromLatin1(reinterpret_cast<const char *>(data + KeySize), int(size - KeySize));

    TextCipher decoder(key);
    decompressionFailed = false;
    const QString clearText = decoder.decryptText(cipherText);
    // A body that does not decompress is a failure, however well its checksum matched.
    if (decompressionFailed && decoder.lastError() == TextCipher::NoError)
        __builtin_trap();
    if (decoder.lastError() != TextCipher::NoError) {
        if (!clearText.isEmpty())
            __builtin_trap();
        return 0;
    }
    TextCipher encoder(key);
    TextCipher again(key);
    if (again.decryptText(encoder.encryptText(clearText)) != clearText
        || again.lastError() != TextCipher::NoError)
        __builtin_trap();
    return 0;
}
