#pragma once

#include "platform/corvidexport.h"

#include <QString>
#include <QStringList>

class QObject;

// Starts programs for the page. Nothing is started from a path that is not an existing,
// executable file; the page learns nothing of the outcome, the log does.
namespace Launcher {

// Starts the program at path with arguments: detached, or as a child process of owner that
// lives as long as owner. False when the path is no executable file or the start failed.
CORVID_EXPORT bool launch(const QString &path, const QStringList &arguments, bool detached,
                          QObject *owner);
// Opens a folder with the desktop's file manager (Windows: "explorer").
CORVID_EXPORT bool launchFileManager(const QString &path, QObject *owner);
// Opens a file with the default text editor (Windows: "notepad").
CORVID_EXPORT bool launchTextEditor(const QString &path, QObject *owner);
// Starts the office program of an automation name with path as its one further argument.
CORVID_EXPORT bool launchOffice(const QString &automationName, const QString &path,
                                QObject *owner);

} // namespace Launcher
