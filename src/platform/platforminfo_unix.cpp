#include "platform/platforminfo.h"

#include <QSysInfo>

namespace PlatformInfo {

int platformCode()
{
    return LINUX_PLATFORM;
}

// The distribution's release says most about the system the page runs on; a system without one
// ("rolling" releases) is described by its kernel.
float versionNumber()
{
    const float product = versionNumberFromText(QSysInfo::productVersion());
    return product > 0.0f ? product : versionNumberFromText(QSysInfo::kernelVersion());
}

QString versionName()
{
    return QSysInfo::prettyProductName();
}

} // namespace PlatformInfo
