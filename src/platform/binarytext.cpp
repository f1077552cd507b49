#include "platform/binarytext.h"

namespace BinaryText {

QByteArray decode(const QString &text)
{
    QString base64 = text;
    const int comma = text.lastIndexOf(QLatin1Char(','));
    if (text.startsWith(QLatin1String("data:")) && comma >= 0)
        base64 = text.mid(comma + 1);
    return QByteArray::fromBase64(base64.toLocal8Bit());
}

QString encode(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace BinaryText
