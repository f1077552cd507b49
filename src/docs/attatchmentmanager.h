#pragma once

#include "docs/tempfilemanager.h"

// The temporary-file manager of mail: message files are named by the time they are written.
class CORVID_EXPORT AttatchmentManager : public TempFileManager
{
    Q_OBJECT

public:
    explicit AttatchmentManager(QObject *owner = nullptr, const QString &directory = QString());

    // The local time as "yyyyMMddhhmmss", a dot and extension. Two names made in the same
    // second are equal.
    static QString timestampFileName(const QString &extension);
    // Writes an unsent message as text into folder under a timestamp name with extension "eml":
    // the path, or a null string. The file is not registered.
    static QString createEmailFile(const QString &folder, const QString &mimeText);
};
