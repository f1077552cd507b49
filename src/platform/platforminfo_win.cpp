#include "platform/platforminfo.h"
#include "platform/windowsversion.h"

#include <qt_windows.h>

namespace PlatformInfo {

namespace {

// The true version: unlike GetVersionEx, RtlGetVersion is not capped by the program's manifest.
WindowsVersion::OsVersion osVersion()
{
    using RtlGetVersionFunction = LONG(WINAPI *)(PRTL_OSVERSIONINFOW);
    WindowsVersion::OsVersion version;
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (!ntdll)
        return version;
    auto rtlGetVersion
        = reinterpret_cast<RtlGetVersionFunction>(::GetProcAddress(ntdll, "RtlGetVersion"));
    if (!rtlGetVersion)
        return version;
    RTL_OSVERSIONINFOEXW info;
    ::ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&info)) != 0)
        return version;
    version.known = true;
    version.major = int(info.dwMajorVersion);
    version.minor = int(info.dwMinorVersion);
    return version;
}

} // namespace

int platformCode()
{
    return WINDOWS_PLATFORM;
}

float versionNumber()
{
    const WindowsVersion::OsVersion os = osVersion();
    const WindowsVersion::Release release = os.known
        ? WindowsVersion::releaseForVersion(os.major, os.minor)
        : WindowsVersion::Release::Unknown;
    return WindowsVersion::windowsVersionNumber(release, os);
}

QString versionName()
{
    const WindowsVersion::OsVersion os = osVersion();
    const WindowsVersion::Release release = os.known
        ? WindowsVersion::releaseForVersion(os.major, os.minor)
        : WindowsVersion::Release::Unknown;
    return WindowsVersion::windowsVersionName(release,
                                              WindowsVersion::windowsVersionNumber(release, os));
}

} // namespace PlatformInfo
