#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QString>

// Binary content travels to and from the page as Base64 text; a data URL is accepted on input.
namespace BinaryText {

// The bytes of text: a "data:" URL loses everything up to its last comma, and the rest is read
// with the lenient Base64 decoder, which skips characters outside the alphabet.
CORVID_EXPORT QByteArray decode(const QString &text);
// Plain Base64 with padding and no line breaks; never a data URL.
CORVID_EXPORT QString encode(const QByteArray &bytes);

} // namespace BinaryText
