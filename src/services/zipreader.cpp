#include "services/zipreader.h"

#include "services/zipdestination_p.h"
#include "services/zipformat_p.h"
#include "services/zipreader_p.h"

#include <QDir>
#include <QFile>
#include <QtDebug>

#include <zlib.h>

#include <climits>

using namespace ZipFormat;

namespace {

// Large enough to keep system calls rare, small enough that streaming never holds much.
constexpr qint64 ChunkSize = 256 * 1024;

const uchar *bytes(const QByteArray &data)
{
    return reinterpret_cast<const uchar *>(data.constData());
}

ZipReader::Status statusFromFileError(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::NoError:
        return ZipReader::NoError;
    case QFileDevice::ReadError:
        return ZipReader::FileReadError;
    case QFileDevice::OpenError:
        return ZipReader::FileOpenError;
    case QFileDevice::PermissionsError:
        return ZipReader::FilePermissionsError;
    default:
        return ZipReader::FileError;
    }
}

enum class EntryKind { Directory, SymLink, File };

// An entry without any type bits (written by a system that keeps only MS-DOS attributes) is
// still extracted: its name says whether it is a directory.
EntryKind kindOf(const ZipReader::FileInfo &info)
{
    if (info.isDir)
        return EntryKind::Directory;
    if (info.isSymLink)
        return EntryKind::SymLink;
    if (info.isFile)
        return EntryKind::File;
    return info.filePath.endsWith(QLatin1Char('/')) ? EntryKind::Directory : EntryKind::File;
}

bool isDriveComponent(const QString &part)
{
    return part.size() >= 2 && part.at(1) == QLatin1Char(':') && part.at(0).isLetter();
}

const QString CutShort = QStringLiteral("The central directory is cut short.");

// The directory part of an entry name, empty at the top level.
QString parentOf(const QString &entryName)
{
    const QString name = QDir::fromNativeSeparators(entryName);
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : name.left(slash);
}

} // namespace

quint16 ZipCentralRecord::flags() const
{
    return readUShort(bytes(header) + Central::Flags);
}
quint16 ZipCentralRecord::method() const
{
    return readUShort(bytes(header) + Central::Method);
}
quint32 ZipCentralRecord::crc() const
{
    return readUInt(bytes(header) + Central::Crc);
}
quint32 ZipCentralRecord::compressedSize() const
{
    return readUInt(bytes(header) + Central::CompressedSize);
}
quint32 ZipCentralRecord::uncompressedSize() const
{
    return readUInt(bytes(header) + Central::UncompressedSize);
}
quint32 ZipCentralRecord::localHeaderOffset() const
{
    return readUInt(bytes(header) + Central::LocalHeaderOffset);
}
quint32 ZipCentralRecord::mode() const
{
    return readUInt(bytes(header) + Central::ExternalAttributes) >> 16;
}
quint32 ZipCentralRecord::dosTime() const
{
    return readUInt(bytes(header) + Central::Time);
}

ZipReaderPrivate::ZipReaderPrivate(QIODevice *device, bool ownsDevice)
    : device(device)
    , ownedDevice(ownsDevice ? device : nullptr)
{
}

ZipReaderPrivate::~ZipReaderPrivate()
{
    device->close();
}

bool ZipReaderPrivate::readFully(char *data, qint64 length)
{
    return device->read(data, length) == length;
}

void ZipReaderPrivate::setDamaged(const char *warning, const QString &problem)
{
    qWarning("%s", warning);
    status = ZipReader::FileDamagedError;
    errorString = problem;
}

void ZipReaderPrivate::ensureIndex()
{
    if (!indexPending)
        return;
    indexPending = false;
    if (!device->isOpen()) {
        if (!device->open(QIODevice::ReadOnly)) {
            status = ZipReader::FileOpenError;
            errorString = device->errorString();
            return;
        }
    } else if (!device->isReadable()) {
        status = ZipReader::FileReadError;
        errorString = QStringLiteral("The device is not open for reading.");
        return;
    }

    // A central directory alone does not make a zip file: the data must start with an entry,
    // unless there is none and the end record is all the archive holds.
    char signature[4];
    const quint32 first = device->seek(0) && readFully(signature, 4)
        ? readUInt(reinterpret_cast<const uchar *>(signature))
        : 0;
    const QString notZip = QStringLiteral("The file is not a zip archive.");
    if (first != LocalHeaderSignature && first != EndRecordSignature) {
        setDamaged("QZip: not a zip file!", notZip);
        return;
    }
    qint64 directoryOffset = 0;
    qint64 endOffset = 0;
    int entryCount = 0;
    if (!readEndRecord(&directoryOffset, &entryCount, &endOffset))
        return;
    if (first == LocalHeaderSignature)
        readDirectory(directoryOffset, entryCount, endOffset);
    else if (entryCount != 0 || endOffset != 0)
        setDamaged("QZip: not a zip file!", notZip);
}

bool ZipReaderPrivate::readEndRecord(qint64 *directoryOffset, int *entryCount, qint64 *endOffset)
{
    const QString missing = QStringLiteral("The end of the central directory is missing.");
    // The record sits before a comment of unknown length, so search backwards through the
    // largest tail that can hold it, read in one piece.
    const qint64 size = device->size();
    const qint64 tailLength = qMin<qint64>(size, EndRecordSize + MaxCommentLength);
    const qint64 tailStart = size - tailLength;
    QByteArray tail(int(tailLength), Qt::Uninitialized);
    if (!device->seek(tailStart) || !readFully(tail.data(), tailLength)) {
        setDamaged("QZip: EndOfDirectory not found", missing);
        return false;
    }
    int behind = 0;
    for (;; ++behind) {
        const qint64 position = size - EndRecordSize - behind;
        if (position < 0 || behind > MaxCommentLength) {
            setDamaged("QZip: EndOfDirectory not found", missing);
            return false;
        }
        if (readUInt(bytes(tail) + (position - tailStart)) == EndRecordSignature)
            break;
    }
    *endOffset = size - EndRecordSize - behind;
    const uchar *record = bytes(tail) + (tailLength - EndRecordSize - behind);
    *entryCount = readUShort(record + End::TotalEntries);
    *directoryOffset = readUInt(record + End::DirectoryOffset);
    const int commentLength = readUShort(record + End::CommentLength);
    if (commentLength != behind)
        qWarning("QZip: failed to parse zip file.");
    comment = QByteArray(reinterpret_cast<const char *>(record) + EndRecordSize,
                         qMin(commentLength, behind));
    return true;
}

void ZipReaderPrivate::readDirectory(qint64 directoryOffset, int entryCount, qint64 endOffset)
{
    // Every record lies between the directory offset and the end record; a record that runs
    // into the end record was cut short, however its bytes happen to read.
    if (directoryOffset > endOffset || !device->seek(directoryOffset)) {
        setDamaged("QZip: Failed to read complete header, index may be incomplete", CutShort);
        return;
    }
    for (int i = 0; i < entryCount; ++i) {
        ZipCentralRecord record;
        record.header = device->read(CentralHeaderSize);
        if (record.header.size() < CentralHeaderSize || device->pos() > endOffset) {
            setDamaged("QZip: Failed to read complete header, index may be incomplete", CutShort);
            return;
        }
        const uchar *header = bytes(record.header);
        if (readUInt(header) != CentralHeaderSignature) {
            setDamaged("QZip: invalid header signature, index may be incomplete",
                       QStringLiteral("A central directory record is malformed."));
            return;
        }
        const int nameLength = readUShort(header + Central::NameLength);
        const int extraLength = readUShort(header + Central::ExtraLength);
        const int commentLength = readUShort(header + Central::CommentLength);
        record.name = device->read(nameLength);
        if (record.name.size() < nameLength || device->pos() > endOffset) {
            setDamaged("QZip: Failed to read filename from zip index, index may be incomplete",
                       CutShort);
            return;
        }
        record.extra = device->read(extraLength);
        if (record.extra.size() < extraLength || device->pos() > endOffset) {
            setDamaged("QZip: Failed to read extra field in zip file, skipping file, index may "
                       "be incomplete",
                       CutShort);
            return;
        }
        record.comment = device->read(commentLength);
        if (record.comment.size() < commentLength || device->pos() > endOffset) {
            setDamaged("QZip: Failed to read read file comment, index may be incomplete", CutShort);
            return;
        }
        records.append(record);
    }
    // A count that is too small would otherwise lose the entries behind it without a word.
    const QByteArray next = device->peek(4);
    if (next.size() == 4 && readUInt(bytes(next)) == CentralHeaderSignature) {
        setDamaged("QZip: The central directory holds more entries than its end record counts",
                   QStringLiteral("The central directory holds more entries than its end "
                                  "record counts."));
    }
}

ZipReader::FileInfo ZipReaderPrivate::fileInfo(int index) const
{
    ZipReader::FileInfo info;
    if (index < 0 || index >= records.size())
        return info;
    const ZipCentralRecord &record = records.at(index);
    const quint32 mode = record.mode();
    info.filePath = QString::fromLocal8Bit(record.name);
    info.isDir = (mode & ModeDirectory) != 0;
    info.isFile = (mode & ModeTypeMask) == ModeFile;
    info.isSymLink = (mode & ModeSymLink) != 0;
    info.permissions = permissionsFromMode(mode);
    info.crc = record.crc();
    info.size = record.uncompressedSize();
    info.lastModified = fromDosTime(record.dosTime());
    return info;
}

int ZipReaderPrivate::indexOf(const QString &fileName) const
{
    const QByteArray wanted = fileName.toLocal8Bit();
    for (int i = 0; i < records.size(); ++i) {
        if (records.at(i).name == wanted)
            return i;
    }
    return -1;
}

QString ZipReaderPrivate::entryName(int index) const
{
    return QString::fromLocal8Bit(records.at(index).name);
}

bool ZipReaderPrivate::locate(int index, ZipEntryLocation *location)
{
    const ZipCentralRecord &record = records.at(index);
    if (record.flags() & FlagEncrypted) {
        qWarning("QZip: Encrypted entries are not supported");
        return false;
    }
    if (record.compressedSize() == Zip64Marker || record.uncompressedSize() == Zip64Marker
        || record.localHeaderOffset() == Zip64Marker) {
        qWarning("QZip: ZIP64 entries are not supported");
        return false;
    }
    // Every size and offset below comes from the file and is checked against its real length
    // before anything is allocated or read.
    const qint64 fileSize = device->size();
    const qint64 headerOffset = record.localHeaderOffset();
    QByteArray localHeader;
    if (headerOffset + LocalHeaderSize <= fileSize && device->seek(headerOffset))
        localHeader = device->read(LocalHeaderSize);
    if (localHeader.size() < LocalHeaderSize) {
        qWarning("QZip: Entry data lies beyond the end of the file");
        return false;
    }
    const uchar *local = bytes(localHeader);
    if (readUInt(local) != LocalHeaderSignature) {
        qWarning("QZip: Invalid local header signature");
        return false;
    }
    location->dataOffset = headerOffset + LocalHeaderSize + readUShort(local + Local::NameLength)
        + readUShort(local + Local::ExtraLength);
    location->compressedSize = record.compressedSize();
    location->uncompressedSize = record.uncompressedSize();
    location->crc = record.crc();
    location->method = readUShort(local + Local::Method);
    if (location->dataOffset + location->compressedSize > fileSize) {
        qWarning("QZip: Entry data lies beyond the end of the file");
        return false;
    }
    return true;
}

bool ZipReaderPrivate::streamEntry(int index, bool raw, const Sink &sink)
{
    ZipEntryLocation location;
    if (!locate(index, &location))
        return false;
    if (!device->seek(location.dataOffset)) {
        qWarning("QZip: Entry data lies beyond the end of the file");
        return false;
    }
    switch (location.method) {
    case MethodStored:
        return copyStored(location, sink);
    case MethodDeflated:
        return raw ? copyRaw(location, sink) : inflateStream(location, sink);
    default:
        qWarning("QZip: Unknown compression method");
        return false;
    }
}

bool ZipReaderPrivate::copyStored(const ZipEntryLocation &location, const Sink &sink)
{
    if (location.compressedSize < location.uncompressedSize) {
        qWarning("QZip: Entry size differs from its stored size");
        return false;
    }
    QByteArray buffer(int(qMin(ChunkSize, qMax<qint64>(location.uncompressedSize, 1))),
                      Qt::Uninitialized);
    qint64 remaining = location.uncompressedSize;
    uLong crc = crc32(0, nullptr, 0);
    while (remaining > 0) {
        const qint64 length = qMin<qint64>(remaining, buffer.size());
        if (!readFully(buffer.data(), length)) {
            qWarning("QZip: Entry data lies beyond the end of the file");
            return false;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef *>(buffer.constData()), uInt(length));
        if (!sink(buffer.constData(), length))
            return false;
        remaining -= length;
    }
    if (crc != location.crc) {
        qWarning("QZip: CRC-32 mismatch, entry content is corrupted");
        return false;
    }
    return true;
}

bool ZipReaderPrivate::copyRaw(const ZipEntryLocation &location, const Sink &sink)
{
    QByteArray buffer(int(qMin(ChunkSize, qMax<qint64>(location.compressedSize, 1))),
                      Qt::Uninitialized);
    for (qint64 remaining = location.compressedSize; remaining > 0;) {
        const qint64 length = qMin<qint64>(remaining, buffer.size());
        if (!readFully(buffer.data(), length)) {
            qWarning("QZip: Entry data lies beyond the end of the file");
            return false;
        }
        if (!sink(buffer.constData(), length))
            return false;
        remaining -= length;
    }
    return true;
}

bool ZipReaderPrivate::inflateStream(const ZipEntryLocation &location, const Sink &sink)
{
    z_stream stream = {};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        qWarning("QZip: Z_MEM_ERROR: Not enough memory");
        return false;
    }
    QByteArray input(int(qMin(ChunkSize, qMax<qint64>(location.compressedSize, 1))),
                     Qt::Uninitialized);
    QByteArray output(int(ChunkSize), Qt::Uninitialized);
    qint64 remainingInput = location.compressedSize;
    qint64 produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    int result = Z_OK;
    bool ok = true;
    while (ok && result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (remainingInput == 0) {
                qWarning("QZip: Z_DATA_ERROR: Input data is corrupted");
                ok = false;
                break;
            }
            const qint64 length = qMin<qint64>(remainingInput, input.size());
            if (!readFully(input.data(), length)) {
                qWarning("QZip: Entry data lies beyond the end of the file");
                ok = false;
                break;
            }
            remainingInput -= length;
            stream.next_in = reinterpret_cast<Bytef *>(input.data());
            stream.avail_in = uInt(length);
        }
        stream.next_out = reinterpret_cast<Bytef *>(output.data());
        stream.avail_out = uInt(output.size());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_MEM_ERROR) {
            qWarning("QZip: Z_MEM_ERROR: Not enough memory");
            ok = false;
            break;
        }
        if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_STREAM_ERROR) {
            qWarning("QZip: Z_DATA_ERROR: Input data is corrupted");
            ok = false;
            break;
        }
        const qint64 length = output.size() - qint64(stream.avail_out);
        produced += length;
        // A stored size that is too small is a lie; never hand out more than it promised.
        if (produced > location.uncompressedSize) {
            qWarning("QZip: Entry size differs from its stored size");
            ok = false;
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef *>(output.constData()), uInt(length));
        if (length > 0 && !sink(output.constData(), length))
            ok = false;
    }
    inflateEnd(&stream);
    if (!ok)
        return false;
    if (produced != location.uncompressedSize) {
        qWarning("QZip: Entry size differs from its stored size");
        return false;
    }
    if (crc != location.crc) {
        qWarning("QZip: CRC-32 mismatch, entry content is corrupted");
        return false;
    }
    return true;
}

bool ZipReaderPrivate::entryData(int index, QByteArray *content)
{
    content->clear();
    const ZipCentralRecord &record = records.at(index);
    if (record.uncompressedSize() > quint32(INT_MAX - 1024)) {
        qWarning("QZip: Entry is too large to be held in memory");
        return false;
    }
    // Grow with what really arrives rather than with what the header claims.
    const qint64 claimed = record.uncompressedSize();
    content->reserve(int(qMin<qint64>(claimed, qint64(record.compressedSize()) * 4 + 65536)));
    const bool ok = streamEntry(index, false, [content](const char *data, qint64 length) {
        content->append(data, int(length));
        return true;
    });
    if (!ok)
        content->clear();
    return ok;
}

bool ZipReaderPrivate::staysInside(const QString &entryName)
{
    QString name = entryName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'));
    if (isDriveComponent(parts.first()))
        return false;
    int depth = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (--depth < 0)
                return false;
        } else {
            ++depth;
        }
    }
    return true;
}

bool ZipReaderPrivate::linkStaysInside(const QString &entryName, const QString &linkTarget)
{
    QString target = linkTarget;
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (target.startsWith(QLatin1Char('/'))
        || isDriveComponent(target.section(QLatin1Char('/'), 0, 0)))
        return false;
    QString name = entryName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    const QString linkDir = slash < 0 ? QString() : name.left(slash + 1);
    return staysInside(entryName) && staysInside(linkDir + target);
}

// ---------------------------------------------------------------------------------------------

ZipReader::FileInfo::FileInfo() noexcept
    : isDir(false)
    , isFile(false)
    , isSymLink(false)
    , crc(0)
    , size(0)
{
}

ZipReader::FileInfo::FileInfo(const FileInfo &other) noexcept = default;
ZipReader::FileInfo &ZipReader::FileInfo::operator=(const FileInfo &other) noexcept = default;
ZipReader::FileInfo::~FileInfo() = default;

ZipReader::ZipReader(const QString &fileName, QIODevice::OpenMode mode)
{
    auto *file = new QFile(fileName);
    file->open(mode);
    d = std::make_unique<ZipReaderPrivate>(file, true);
    d->status = statusFromFileError(file->error());
    if (d->status != NoError)
        d->errorString = file->errorString();
}

ZipReader::ZipReader(QIODevice *device)
    : d(std::make_unique<ZipReaderPrivate>(device, false))
{
}

ZipReader::~ZipReader() = default;

bool ZipReader::storedEntry(int index, StoredEntry *entry) const
{
    d->ensureIndex();
    ZipEntryLocation location;
    if (index < 0 || index >= d->records.size() || !d->locate(index, &location))
        return false;
    *entry = { location.method, location.crc, location.compressedSize, location.uncompressedSize };
    return true;
}

bool ZipReader::entryData(int index, QByteArray *content) const
{
    d->ensureIndex();
    content->clear();
    return index >= 0 && index < d->records.size() && d->entryData(index, content);
}

bool ZipReader::readEntry(int index, bool raw, const DataSink &sink) const
{
    d->ensureIndex();
    return index >= 0 && index < d->records.size() && d->streamEntry(index, raw, sink);
}

bool ZipReader::staysInside(const QString &entryName)
{
    return ZipReaderPrivate::staysInside(entryName);
}

bool ZipReader::linkStaysInside(const QString &entryName, const QString &linkTarget)
{
    return ZipReaderPrivate::linkStaysInside(entryName, linkTarget);
}

QIODevice *ZipReader::device() const
{
    return d->device;
}

bool ZipReader::isReadable() const
{
    return d->device->isReadable();
}

bool ZipReader::exists() const
{
    auto *file = qobject_cast<QFile *>(d->device);
    return !file || file->exists();
}

QVector<ZipReader::FileInfo> ZipReader::fileInfoList() const
{
    d->ensureIndex();
    QVector<FileInfo> list;
    list.reserve(d->records.size());
    for (int i = 0; i < d->records.size(); ++i)
        list.append(d->fileInfo(i));
    return list;
}

int ZipReader::count() const
{
    d->ensureIndex();
    return d->records.size();
}

ZipReader::FileInfo ZipReader::entryInfoAt(int index) const
{
    d->ensureIndex();
    return d->fileInfo(index);
}

QByteArray ZipReader::fileData(const QString &fileName) const
{
    d->ensureIndex();
    const int index = d->indexOf(fileName);
    QByteArray content;
    if (index >= 0)
        d->entryData(index, &content);
    return content;
}

bool ZipReader::extractAll(const QString &destinationDir) const
{
    const QVector<FileInfo> entries = fileInfoList();
    // A damaged index lists only part of the archive.
    if (d->status != NoError)
        return false;
    // False, with a warning when the cause is a link on the way.
    const auto refuse = [](const FileInfo &entry, ZipDestination::Outcome outcome) {
        if (outcome == ZipDestination::Outcome::Outside) {
            qWarning("QZip: Entry lies outside the destination directory: %s",
                     qUtf8Printable(entry.filePath));
        }
        return false;
    };

    // Refuse the whole archive before anything is written when one entry would land outside.
    QVector<QString> linkTargets(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const FileInfo &entry = entries.at(i);
        bool inside = ZipReaderPrivate::staysInside(entry.filePath);
        if (inside && kindOf(entry) == EntryKind::SymLink) {
            QByteArray target;
            d->entryData(i, &target);
            linkTargets[i] = QString::fromLocal8Bit(target);
            inside = !linkTargets[i].isEmpty()
                && ZipReaderPrivate::linkStaysInside(entry.filePath, linkTargets[i]);
        }
        if (!inside)
            return refuse(entry, ZipDestination::Outcome::Outside);
    }

    // Links come last, so that nothing this extraction writes can pass through one it made.
    const ZipDestination destination(destinationDir);
    if (destination.makePath(QString()) != ZipDestination::Outcome::Done)
        return false;
    for (const FileInfo &entry : entries) {
        if (kindOf(entry) != EntryKind::Directory)
            continue;
        const ZipDestination::Outcome made = destination.makePath(entry.filePath);
        if (made != ZipDestination::Outcome::Done)
            return refuse(entry, made);
    }
    for (int i = 0; i < entries.size(); ++i) {
        const FileInfo &entry = entries.at(i);
        if (kindOf(entry) != EntryKind::File)
            continue;
        QByteArray content;
        if (!d->entryData(i, &content) && entry.size > 0)
            return false;
        // Many archives list no directory entries; their files still need somewhere to go.
        ZipDestination::Outcome placed = destination.makePath(parentOf(entry.filePath));
        QFile file;
        ZipDestination::OpenFailure failure;
        if (placed == ZipDestination::Outcome::Done)
            placed = destination.openFile(entry.filePath, &file, &failure);
        if (placed != ZipDestination::Outcome::Done)
            return refuse(entry, placed);
        if (file.write(content) != content.size())
            return false;
        if (entry.isValid())
            file.setPermissions(entry.permissions);
        file.close();
    }
    for (int i = 0; i < entries.size(); ++i) {
        const FileInfo &entry = entries.at(i);
        if (kindOf(entry) != EntryKind::SymLink)
            continue;
        const ZipDestination::Outcome made
            = destination.makeLink(entry.filePath, linkTargets.at(i));
        if (made != ZipDestination::Outcome::Done)
            return refuse(entry, made);
    }
    // Directory permissions last: a directory without write or search rights for its owner
    // would otherwise refuse the files that belong in it.
    for (const FileInfo &entry : entries) {
        if (kindOf(entry) == EntryKind::Directory && entry.isValid())
            destination.setDirectoryPermissions(entry.filePath, entry.permissions);
    }
    return true;
}

ZipReader::Status ZipReader::status() const
{
    // Damage to the index is found only by reading it.
    if (d->status == NoError)
        d->ensureIndex();
    return d->status;
}

QString ZipReader::errorString() const
{
    return d->errorString;
}
void ZipReader::close()
{
    d->device->close();
}
