#pragma once

#include <QString>

// Texts that page and shell agree on, defined once for every layer that reads or writes them.
namespace ScriptProtocol {

// Separates the items of a list passed in one text argument.
inline QString intraDelimiter()
{
    return QStringLiteral("_INTRADELIM_");
}

// Marks a local start page whose runtime was pasted in by hand; the shell warns about it.
inline QString injectionMarker()
{
    return QStringLiteral("<!-- CORVID INJECTION -->");
}

} // namespace ScriptProtocol
