// Feeds arbitrary text to BinaryText::decode, as a data URL or as bare Base64: whatever it gives
// must survive a trip through encode and decode unchanged, and so must the input's own bytes.

#include "platform/binarytext.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QByteArray decoded = BinaryText::decode(QString::fromUtf8(bytes));
    if (BinaryText::decode(BinaryText::encode(decoded)) != decoded)
        __builtin_trap();
    const QString encoded = BinaryText::encode(bytes);
    if (encoded.startsWith(QLatin1String("data:")) || BinaryText::decode(encoded) != bytes)
        __builtin_trap();
    return 0;
}
