#pragma once

#include "platform/corvidexport.h"

#include <QSaveFile>
#include <QString>

// Whole-file writes for files that users or other programs care about: written beside the
// target and renamed over it, so a failed write leaves the old file as it was.
class CORVID_EXPORT FileWriter final
{
public:
    // Creates directory with its ancestors when missing; false for an empty name or a failure.
    static bool ensureDirectory(const QString &directory);
    // The absolute path of fileName inside directory, or a null string when the directory cannot
    // be made. An absolute fileName stands for itself.
    static QString filePath(const QString &directory, const QString &fileName);
    // Binary data is Base64 or a data URL; text goes out in the local 8-bit encoding in the
    // platform's text mode. The old file survives a failed write.
    static bool writeFileData(const QString &path, const QString &data, bool isBinary);
    // Writes all of bytes or fails with the file's error set; an uncommitted file is discarded.
    static bool writeAll(QSaveFile &file, const QByteArray &bytes);
};
