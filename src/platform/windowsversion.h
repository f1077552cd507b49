#pragma once

#include "platform/corvidexport.h"

#include <QString>

// The Windows version table and naming rules, kept free of Windows calls so that any build can
// check them.
namespace WindowsVersion {

// The Windows releases the toolkit tells apart, with the toolkit's own numeric values.
enum class Release : int {
    Unknown = 0x0000,
    Win32s = 0x0001,
    Win95 = 0x0002,
    Win98 = 0x0003,
    WinMe = 0x0004,
    NT = 0x0010,
    Win2000 = 0x0020,
    XP = 0x0030,
    Server2003 = 0x0040,
    Vista = 0x0080,
    Windows7 = 0x0090,
    Windows8 = 0x00a0,
    Windows8_1 = 0x00b0,
    Windows10 = 0x00c0,
};

// The version the operating system reports; known is false when asking it failed.
struct OsVersion
{
    bool known = false;
    int major = 0;
    int minor = 0;
};

// The release the toolkit would name for an NT-family major.minor version.
CORVID_EXPORT Release releaseForVersion(int major, int minor);

// The number of a release in the table (7 is 6.1), else the operating system's
// major + minor / 10, else 0.
CORVID_EXPORT float windowsVersionNumber(Release release, const OsVersion &os);

// "Windows 7" and so on for a release in the table, else named from versionNumber:
// 6.3 is "Windows 8.1", 10 up to 11 is "Windows 10", anything else "Windows".
CORVID_EXPORT QString windowsVersionName(Release release, float versionNumber);

// A version number as page script sees it: general format, 6 significant digits (6.1, 10).
CORVID_EXPORT QString formatVersionNumber(float versionNumber);

} // namespace WindowsVersion
