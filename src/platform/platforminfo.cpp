#include "platform/platforminfo.h"

#include <QRegularExpression>

namespace PlatformInfo {

float versionNumberFromText(const QString &text)
{
    static const QRegularExpression leadingVersion(QStringLiteral("^\\s*(\\d+)(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = leadingVersion.match(text);
    if (!match.hasMatch())
        return 0.0f;
    QString decimal = match.captured(1);
    if (!match.captured(2).isEmpty())
        decimal += QLatin1Char('.') + match.captured(2);
    return decimal.toFloat();
}

} // namespace PlatformInfo
