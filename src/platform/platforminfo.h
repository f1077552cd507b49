#pragma once

#include "platform/corvidexport.h"

#include <QString>

// What the injected script learns about the operating system it runs on.
namespace PlatformInfo {

// The platform codes page script compares with.
enum PlatformCode : int {
    WINDOWS_PLATFORM = 1,
    LINUX_PLATFORM = 3,
};

CORVID_EXPORT int platformCode();
CORVID_EXPORT float versionNumber();
CORVID_EXPORT QString versionName();

// major.minor of a version text read as a decimal ("22.04" is 22.04, "6.5.0-14" is 6.5);
// 0 when the text starts with no number.
CORVID_EXPORT float versionNumberFromText(const QString &text);

} // namespace PlatformInfo
