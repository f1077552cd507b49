#pragma once

// Byte layout of the zip records that ZipReader and ZipWriter share. Every multi-byte field is
// little-endian. Not part of the exported interface.

#include <QDateTime>
#include <QFileDevice>
#include <QtEndian>

namespace ZipFormat {

constexpr quint32 LocalHeaderSignature = 0x04034B50;
constexpr quint32 CentralHeaderSignature = 0x02014B50;
constexpr quint32 EndRecordSignature = 0x06054B50;

constexpr int LocalHeaderSize = 30;
constexpr int CentralHeaderSize = 46;
constexpr int EndRecordSize = 22;
constexpr int MaxCommentLength = 0xFFFF;
constexpr int MaxNameLength = 0xFFFF;

// Field offsets inside the central-directory header.
namespace Central {
constexpr int VersionMadeBy = 4;
constexpr int VersionNeeded = 6;
constexpr int Flags = 8;
constexpr int Method = 10;
constexpr int Time = 12;
constexpr int Crc = 16;
constexpr int CompressedSize = 20;
constexpr int UncompressedSize = 24;
constexpr int NameLength = 28;
constexpr int ExtraLength = 30;
constexpr int CommentLength = 32;
constexpr int ExternalAttributes = 38;
constexpr int LocalHeaderOffset = 42;
} // namespace Central

// Field offsets inside the local file header.
namespace Local {
constexpr int Flags = 6;
constexpr int Method = 8;
constexpr int Crc = 14;
constexpr int NameLength = 26;
constexpr int ExtraLength = 28;
} // namespace Local

// Field offsets inside the end-of-central-directory record.
namespace End {
constexpr int TotalEntries = 10;
constexpr int DirectorySize = 12;
constexpr int DirectoryOffset = 16;
constexpr int CommentLength = 20;
} // namespace End

constexpr quint16 MethodStored = 0;
constexpr quint16 MethodDeflated = 8;

constexpr quint16 FlagEncrypted = 0x0001;
constexpr quint16 FlagDataDescriptor = 0x0008;

// Sizes and offsets of this value mean "see the ZIP64 extra field", which is not supported.
constexpr quint32 Zip64Marker = 0xFFFFFFFF;

constexpr quint32 ModeTypeMask = 0xF000;
constexpr quint32 ModeDirectory = 0x4000;
constexpr quint32 ModeFile = 0x8000;
constexpr quint32 ModeSymLink = 0x2000;

inline quint16 readUShort(const uchar *data)
{
    return qFromLittleEndian<quint16>(data);
}
inline quint32 readUInt(const uchar *data)
{
    return qFromLittleEndian<quint32>(data);
}
inline void writeUShort(uchar *data, quint16 value)
{
    qToLittleEndian<quint16>(value, data);
}
inline void writeUInt(uchar *data, quint32 value)
{
    qToLittleEndian<quint32>(value, data);
}

// The MS-DOS stamp as one 32-bit value: time in the low half, date in the high half. Local time,
// two-second resolution; an invalid or unrepresentable time is stored as zero.
inline quint32 toDosTime(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return 0;
    const QDate date = dateTime.date();
    const QTime time = dateTime.time();
    if (date.year() < 1980 || date.year() > 1980 + 127)
        return 0;
    const quint32 dosTime
        = quint32(time.hour()) << 11 | quint32(time.minute()) << 5 | quint32(time.second()) / 2;
    const quint32 dosDate
        = quint32(date.year() - 1980) << 9 | quint32(date.month()) << 5 | quint32(date.day());
    return dosDate << 16 | dosTime;
}

inline QDateTime fromDosTime(quint32 stamp)
{
    const quint32 dosTime = stamp & 0xFFFF;
    const quint32 dosDate = stamp >> 16;
    const QDate date(int(dosDate >> 9) + 1980, int((dosDate >> 5) & 0x0F), int(dosDate & 0x1F));
    const QTime time(int(dosTime >> 11), int((dosTime >> 5) & 0x3F), int(dosTime & 0x1F) * 2);
    return QDateTime(date, time);
}

struct PermissionBit
{
    quint32 modeBit;
    QFileDevice::Permissions flags;
};

// Owner and "user" flags both map to the owner bits, since a zip mode knows only the owner.
inline const PermissionBit *permissionBits(int *count)
{
    static const PermissionBit bits[] = {
        { 0x100, QFileDevice::ReadOwner | QFileDevice::ReadUser },
        { 0x080, QFileDevice::WriteOwner | QFileDevice::WriteUser },
        { 0x040, QFileDevice::ExeOwner | QFileDevice::ExeUser },
        { 0x020, QFileDevice::ReadGroup },
        { 0x010, QFileDevice::WriteGroup },
        { 0x008, QFileDevice::ExeGroup },
        { 0x004, QFileDevice::ReadOther },
        { 0x002, QFileDevice::WriteOther },
        { 0x001, QFileDevice::ExeOther },
    };
    *count = int(sizeof(bits) / sizeof(bits[0]));
    return bits;
}

inline QFileDevice::Permissions permissionsFromMode(quint32 mode)
{
    int count = 0;
    const PermissionBit *bits = permissionBits(&count);
    QFileDevice::Permissions result;
    for (int i = 0; i < count; ++i) {
        if (mode & bits[i].modeBit)
            result |= bits[i].flags;
    }
    return result;
}

inline quint32 modeFromPermissions(QFileDevice::Permissions permissions)
{
    int count = 0;
    const PermissionBit *bits = permissionBits(&count);
    quint32 mode = 0;
    for (int i = 0; i < count; ++i) {
        if (permissions & bits[i].flags)
            mode |= bits[i].modeBit;
    }
    return mode;
}

} // namespace ZipFormat
