#include "platform/systemopener.h"

#include <QDesktopServices>
#include <QDir>
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
    // A file URL built from the local path is right for drive letters and for Unix roots alike.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::fromNativeSeparators(path)));
}
