#pragma once

#include "platform/corvidexport.h"

#include <QString>
#include <QStringList>

// The programs the desktop names for a purpose: the office programs, the mail client, the
// default program for a type of file. The registry stand-in is asked first, then (on Linux)
// the desktop itself through `xdg-mime query default` and the desktop entry it names.
namespace DesktopApps {

// A program to start: the executable and its leading arguments. Empty when none was found.
struct Command
{
    QString program;
    QStringList arguments;
    bool isEmpty() const { return program.isEmpty(); }
};

// The desktop's default program for files of mimeType (e.g. "text/plain", "inode/directory"),
// from the desktop entry that `xdg-mime query default` names: its Exec line with the field
// codes removed. Empty when there is none (always on Windows).
CORVID_EXPORT Command defaultCommandFor(const QString &mimeType);

// The server command registered for an automation name ("Word.Application",
// "Excel.Application", "PowerPoint.Application") with "/automation" removed; on Linux, when the
// registry names none, the desktop's default program for the matching document type.
CORVID_EXPORT Command officeCommand(const QString &automationName);

// The default mail client's registered name; a null string when none is registered. On Linux,
// when the registry names none, the Name of the desktop entry for x-scheme-handler/mailto.
CORVID_EXPORT QString mailClientName();
// The command registered for the mail client name (its "shell\open\command", as one text with
// quotes); on Linux, when the registry has none, the desktop entry's Exec line without field
// codes. A null string when there is none.
CORVID_EXPORT QString mailClientCommand(const QString &name);

} // namespace DesktopApps
