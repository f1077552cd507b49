#include "platform/windowsversion.h"

namespace WindowsVersion {

namespace {

struct TableEntry
{
    Release release;
    float number;
    const char *name;
};

const TableEntry Table[] = {
    { Release::Win32s, 3.1f, "Windows 3.1" },  { Release::Win95, 4.0f, "Windows 95" },
    { Release::Win98, 4.1f, "Windows 98" },    { Release::WinMe, 4.9f, "Windows Me" },
    { Release::NT, 4.0f, "Windows NT" },       { Release::Win2000, 5.0f, "Windows 2000" },
    { Release::XP, 5.1f, "Windows XP" },       { Release::Server2003, 5.2f, "Windows 2003" },
    { Release::Vista, 6.0f, "Windows Vista" }, { Release::Windows7, 6.1f, "Windows 7" },
    { Release::Windows8, 6.2f, "Windows 8" },
};

const TableEntry *entryFor(Release release)
{
    for (const TableEntry &entry : Table) {
        if (entry.release == release)
            return &entry;
    }
    return nullptr;
}

} // namespace

Release releaseForVersion(int major, int minor)
{
    struct Known
    {
        int major;
        int minor;
        Release release;
    };
    static const Known known[] = {
        { 4, 0, Release::NT },         { 5, 0, Release::Win2000 },    { 5, 1, Release::XP },
        { 5, 2, Release::Server2003 }, { 6, 0, Release::Vista },      { 6, 1, Release::Windows7 },
        { 6, 2, Release::Windows8 },   { 6, 3, Release::Windows8_1 }, { 10, 0, Release::Windows10 },
    };
    for (const Known &entry : known) {
        if (entry.major == major && entry.minor == minor)
            return entry.release;
    }
    return Release::Unknown;
}

float windowsVersionNumber(Release release, const OsVersion &os)
{
    if (const TableEntry *entry = entryFor(release))
        return entry->number;
    if (!os.known)
        return 0.0f;
    // Summed in double so that 6.3 lands on the float nearest 6.3, which the naming compares with.
    return static_cast<float>(os.major + os.minor / 10.0);
}

QString windowsVersionName(Release release, float versionNumber)
{
    if (const TableEntry *entry = entryFor(release))
        return QString::fromLatin1(entry->name);
    if (versionNumber == 6.3f)
        return QStringLiteral("Windows 8.1");
    if (versionNumber >= 10.0f && versionNumber < 11.0f)
        return QStringLiteral("Windows 10");
    return QStringLiteral("Windows");
}

QString formatVersionNumber(float versionNumber)
{
    return QString::number(double(versionNumber), 'g', 6);
}

} // namespace WindowsVersion
