#include "docs/attatchmentmanager.h"

#include <QDateTime>

AttatchmentManager::AttatchmentManager(QObject *owner, const QString &directory)
    : TempFileManager(owner, directory)
{
}

QString AttatchmentManager::timestampFileName(const QString &extension)
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"))
        + QLatin1Char('.') + extension;
}

QString AttatchmentManager::createEmailFile(const QString &folder, const QString &mimeText)
{
    return createFile(folder, timestampFileName(QStringLiteral("eml")), mimeText, false);
}
