#include "platform/systemopener.h"

#include "platform/desktopapps.h"
#include "platform/logger.h"

#include <QDesktopServices>
#include <QDir>
#include <QMimeDatabase>
#include <QUrl>

namespace {
SystemOpener g_systemOpener;
SystemOpener *g_opener = nullptr;
} // namespace

SystemOpener &SystemOpener::current()
{
    return g_opener ? *g_opener : g_systemOpener;
}

void SystemOpener::setCurrent(SystemOpener *opener)
{
    g_opener = opener;
}

bool SystemOpener::openWithAssociatedApplication(const QString &path)
{
    const QString localPath = QDir::fromNativeSeparators(path);
#ifndef Q_OS_WIN
    // Without a handler for the type the desktop's opener would fall back on a program of its
    // own choosing (often a browser), so the file stays closed and the caller learns of it.
    const QString type = QMimeDatabase().mimeTypeForFile(localPath).name();
    if (DesktopApps::defaultCommandFor(type).isEmpty()) {
        logShell(QStringLiteral("No program is set up for ") + type + QStringLiteral(": ") + path);
        return false;
    }
#endif
    // A file URL built from the local path is right for drive letters and for Unix roots alike.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(localPath));
}
