#include "services/zipwriter.h"

#include "services/zipformat_p.h"
#include "services/zipwriter_p.h"

#include <QtDebug>

#include <zlib.h>

using namespace ZipFormat;

namespace {

constexpr int OutputChunkSize = 256 * 1024;
constexpr quint16 VersionMadeByUnix = 0x0300;
constexpr quint16 VersionNeeded = 20;
// Below this many bytes deflating costs more than it saves.
constexpr qint64 AutoCompressThreshold = 64;
// Without ZIP64 every size and offset has to fit in 32 bits (the all-ones value is reserved).
constexpr qint64 MaxClassicValue = 0xFFFFFFFE;

ZipWriter::Status statusFromFileError(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::NoError:
        return ZipWriter::NoError;
    case QFileDevice::WriteError:
        return ZipWriter::FileWriteError;
    case QFileDevice::OpenError:
        return ZipWriter::FileOpenError;
    case QFileDevice::PermissionsError:
        return ZipWriter::FilePermissionsError;
    default:
        return ZipWriter::FileError;
    }
}

quint32 typeBits(ZipWriterPrivate::EntryType type)
{
    switch (type) {
    case ZipWriterPrivate::EntryType::Directory:
        return ModeDirectory;
    case ZipWriterPrivate::EntryType::SymLink:
        return ModeSymLink;
    case ZipWriterPrivate::EntryType::File:
        break;
    }
    return ModeFile;
}

QByteArray encodeName(const QString &name)
{
    QString normalized = name;
    normalized.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QByteArray encoded = normalized.toLocal8Bit();
    if (encoded.size() > MaxNameLength) {
        qWarning("QZip: Filename too long, chopping it to 65535 characters");
        encoded.truncate(MaxNameLength);
    }
    return encoded;
}

} // namespace

ZipWriterPrivate::ZipWriterPrivate(QIODevice *device, bool ownsDevice)
    : device(device)
    , ownedDevice(ownsDevice ? device : nullptr)
{
}

ZipWriterPrivate::~ZipWriterPrivate()
{
    endDeflater();
}

void ZipWriterPrivate::fail(ZipWriter::Status newStatus)
{
    if (status == ZipWriter::NoError)
        status = newStatus;
}

bool ZipWriterPrivate::ensureOpen()
{
    if (device->isOpen() || device->open(QIODevice::WriteOnly))
        return true;
    fail(ZipWriter::FileOpenError);
    return false;
}

bool ZipWriterPrivate::write(const char *data, qint64 length)
{
    if (length > 0 && device->write(data, length) != length) {
        fail(ZipWriter::FileWriteError);
        return false;
    }
    return true;
}

bool ZipWriterPrivate::startEntry(EntryType type, const QString &name, quint16 method, quint32 crc,
                                  qint64 compressedSize, qint64 uncompressedSize)
{
    endDeflater();
    entry.reset();
    if (!ensureOpen())
        return false;
    if (nextEntryOffset > MaxClassicValue) {
        qWarning("QZip: Archive too large without ZIP64, entry not added");
        fail(ZipWriter::FileWriteError);
        return false;
    }
    if (!device->seek(nextEntryOffset)) {
        fail(ZipWriter::FileWriteError);
        return false;
    }
    const QByteArray encodedName = encodeName(name);
    uchar h[CentralHeaderSize] = {};
    writeUInt(h, CentralHeaderSignature);
    writeUShort(h + Central::VersionMadeBy, VersionMadeByUnix);
    writeUShort(h + Central::VersionNeeded, VersionNeeded);
    writeUShort(h + Central::Method, method);
    writeUInt(h + Central::Time, toDosTime(QDateTime::currentDateTime()));
    writeUInt(h + Central::Crc, crc);
    writeUInt(h + Central::CompressedSize, quint32(compressedSize));
    writeUInt(h + Central::UncompressedSize, quint32(uncompressedSize));
    writeUShort(h + Central::NameLength, quint16(encodedName.size()));
    const quint32 mode = modeFromPermissions(creationPermissions) | typeBits(type);
    writeUInt(h + Central::ExternalAttributes, mode << 16);
    writeUInt(h + Central::LocalHeaderOffset, quint32(nextEntryOffset));
    centralRecords.append(QByteArray(reinterpret_cast<const char *>(h), CentralHeaderSize)
                          + encodedName);

    // The local header repeats the central one from "version needed" to "extra length".
    uchar local[LocalHeaderSize] = {};
    writeUInt(local, LocalHeaderSignature);
    memcpy(local + 4, h + Central::VersionNeeded, LocalHeaderSize - 4);

    entry.reset(new OpenEntry);
    entry->headerOffset = nextEntryOffset;
    entry->method = method;
    entry->crc = crc;
    entry->uncompressedSize = uncompressedSize;
    entry->expectedCompressedSize = compressedSize;
    return write(reinterpret_cast<const char *>(local), LocalHeaderSize)
        && write(encodedName.constData(), encodedName.size());
}

bool ZipWriterPrivate::beginEntry(EntryType type, const QString &name, qint64 expectedSize)
{
    quint16 method = MethodDeflated;
    if (compressionPolicy == ZipWriter::NeverCompress
        || (compressionPolicy == ZipWriter::AutoCompress && expectedSize < AutoCompressThreshold))
        method = MethodStored;
    if (!startEntry(type, name, method, 0, 0, 0))
        return false;
    entry->crc = crc32(0, nullptr, 0);
    entry->uncompressedSize = 0;
    if (method == MethodDeflated) {
        entry->deflater.reset(new z_stream);
        *entry->deflater = z_stream();
        if (deflateInit2(entry->deflater.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                         Z_DEFAULT_STRATEGY)
            != Z_OK) {
            entry->deflater.reset();
            qWarning("QZip: Z_MEM_ERROR: Not enough memory to compress file, skipping");
            fail(ZipWriter::FileWriteError);
            return false;
        }
        entry->buffer.resize(OutputChunkSize);
    }
    return status == ZipWriter::NoError;
}

bool ZipWriterPrivate::deflateInto(const char *data, qint64 length, int flush)
{
    z_stream *stream = entry->deflater.get();
    stream->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    stream->avail_in = uInt(length);
    int result = Z_OK;
    do {
        stream->next_out = reinterpret_cast<Bytef *>(entry->buffer.data());
        stream->avail_out = uInt(entry->buffer.size());
        result = deflate(stream, flush);
        if (result == Z_STREAM_ERROR) {
            fail(ZipWriter::FileWriteError);
            return false;
        }
        const qint64 produced = entry->buffer.size() - qint64(stream->avail_out);
        entry->compressedSize += produced;
        if (!write(entry->buffer.constData(), produced))
            return false;
    } while (stream->avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    return true;
}

bool ZipWriterPrivate::writeEntryData(const char *data, qint64 length)
{
    if (!entry || (entry->method == MethodDeflated && !entry->deflater))
        return false;
    entry->crc = crc32(entry->crc, reinterpret_cast<const Bytef *>(data), uInt(length));
    entry->uncompressedSize += length;
    if (entry->method == MethodStored) {
        entry->compressedSize += length;
        return write(data, length);
    }
    return deflateInto(data, length, Z_NO_FLUSH);
}

bool ZipWriterPrivate::finishEntry()
{
    if (!entry)
        return false;
    bool ok = true;
    if (entry->deflater)
        ok = deflateInto(nullptr, 0, Z_FINISH);
    endDeflater();
    ok = patchSizes() && ok;
    entry.reset();
    return ok && status == ZipWriter::NoError;
}

void ZipWriterPrivate::endDeflater()
{
    if (entry && entry->deflater) {
        deflateEnd(entry->deflater.get());
        entry->deflater.reset();
    }
}

bool ZipWriterPrivate::patchSizes()
{
    const qint64 end = device->pos();
    if (entry->compressedSize > MaxClassicValue || entry->uncompressedSize > MaxClassicValue) {
        qWarning("QZip: Entry too large without ZIP64");
        fail(ZipWriter::FileWriteError);
        return false;
    }
    // CRC-32, compressed and uncompressed size lie side by side in both headers.
    uchar sizes[12];
    writeUInt(sizes, entry->crc);
    writeUInt(sizes + 4, quint32(entry->compressedSize));
    writeUInt(sizes + 8, quint32(entry->uncompressedSize));
    centralRecords.last().replace(Central::Crc, sizeof(sizes),
                                  reinterpret_cast<const char *>(sizes), sizeof(sizes));
    nextEntryOffset = end;
    if (!device->seek(entry->headerOffset + Local::Crc)) {
        fail(ZipWriter::FileWriteError);
        return false;
    }
    const bool ok = write(reinterpret_cast<const char *>(sizes), sizeof(sizes));
    return device->seek(end) && ok;
}

bool ZipWriterPrivate::beginDeflatedCopy(const QString &name, quint32 crc, qint64 compressedSize,
                                         qint64 uncompressedSize)
{
    if (compressedSize > MaxClassicValue || uncompressedSize > MaxClassicValue) {
        fail(ZipWriter::FileWriteError);
        return false;
    }
    return startEntry(EntryType::File, name, MethodDeflated, crc, compressedSize, uncompressedSize)
        && status == ZipWriter::NoError;
}

bool ZipWriterPrivate::writeDeflatedCopy(const char *data, qint64 length)
{
    if (!entry)
        return false;
    entry->compressedSize += length;
    return write(data, length);
}

bool ZipWriterPrivate::finishDeflatedCopy()
{
    if (!entry)
        return false;
    const bool complete = entry->compressedSize == entry->expectedCompressedSize;
    if (!complete)
        fail(ZipWriter::FileWriteError);
    nextEntryOffset = device->pos();
    entry.reset();
    return complete && status == ZipWriter::NoError;
}

void ZipWriterPrivate::addEntry(EntryType type, const QString &name, const QByteArray &content)
{
    if (beginEntry(type, name, content.size()) || entry) {
        writeEntryData(content.constData(), content.size());
        finishEntry();
    }
}

bool ZipWriterPrivate::finishWithoutClosing()
{
    if (detached || !device->isOpen() || !device->isWritable())
        return false;
    endDeflater();
    entry.reset();
    bool ok = device->seek(nextEntryOffset);
    for (const QByteArray &record : qAsConst(centralRecords))
        ok = ok && write(record.constData(), record.size());
    const qint64 directorySize = device->pos() - nextEntryOffset;
    if (centralRecords.size() > 0xFFFF) {
        qWarning("QZip: Too many entries without ZIP64");
        ok = false;
    }
    uchar e[EndRecordSize] = {};
    writeUInt(e, EndRecordSignature);
    writeUShort(e + 8, quint16(centralRecords.size()));
    writeUShort(e + End::TotalEntries, quint16(centralRecords.size()));
    writeUInt(e + End::DirectorySize, quint32(directorySize));
    writeUInt(e + End::DirectoryOffset, quint32(nextEntryOffset));
    writeUShort(e + End::CommentLength, quint16(comment.size()));
    ok = ok && write(reinterpret_cast<const char *>(e), EndRecordSize)
        && write(comment.constData(), comment.size());
    if (!ok)
        fail(ZipWriter::FileWriteError);
    detached = true;
    return ok && status == ZipWriter::NoError;
}

void ZipWriterPrivate::close()
{
    if (detached || !device->isOpen())
        return;
    if (device->isWritable())
        finishWithoutClosing();
    device->close();
    detached = true;
}

// ---------------------------------------------------------------------------------------------

ZipWriter::ZipWriter(const QString &fileName, QIODevice::OpenMode mode)
{
    auto *file = new QFile(fileName);
    file->open(mode);
    d = std::make_unique<ZipWriterPrivate>(file, true);
    d->status = statusFromFileError(file->error());
}

ZipWriter::ZipWriter(QIODevice *device)
    : d(std::make_unique<ZipWriterPrivate>(device, false))
{
}

ZipWriter::~ZipWriter()
{
    close();
}

bool ZipWriter::beginFile(const QString &fileName, qint64 expectedSize)
{
    return d->beginEntry(ZipWriterPrivate::EntryType::File, fileName, expectedSize);
}

bool ZipWriter::writeFileData(const char *data, qint64 length)
{
    return d->writeEntryData(data, length);
}

bool ZipWriter::finishFile()
{
    return d->finishEntry();
}

bool ZipWriter::beginDeflatedCopy(const QString &fileName, quint32 crc, qint64 compressedSize,
                                  qint64 uncompressedSize)
{
    return d->beginDeflatedCopy(fileName, crc, compressedSize, uncompressedSize);
}

bool ZipWriter::writeDeflatedCopy(const char *data, qint64 length)
{
    return d->writeDeflatedCopy(data, length);
}

bool ZipWriter::finishDeflatedCopy()
{
    return d->finishDeflatedCopy();
}

bool ZipWriter::finishWithoutClosing()
{
    return d->finishWithoutClosing();
}

void ZipWriter::abandon()
{
    d->abandon();
}

QIODevice *ZipWriter::device() const
{
    return d->device;
}

bool ZipWriter::isWritable() const
{
    return d->device->isWritable();
}

bool ZipWriter::exists() const
{
    auto *file = qobject_cast<QFile *>(d->device);
    return !file || file->exists();
}

ZipWriter::Status ZipWriter::status() const
{
    return d->status;
}

void ZipWriter::setCompressionPolicy(CompressionPolicy policy)
{
    d->compressionPolicy = policy;
}

ZipWriter::CompressionPolicy ZipWriter::compressionPolicy() const
{
    return d->compressionPolicy;
}

void ZipWriter::setCreationPermissions(QFile::Permissions permissions)
{
    d->creationPermissions = permissions;
}

QFile::Permissions ZipWriter::creationPermissions() const
{
    return d->creationPermissions;
}

void ZipWriter::addFile(const QString &fileName, const QByteArray &data)
{
    d->addEntry(ZipWriterPrivate::EntryType::File, fileName, data);
}

void ZipWriter::addFile(const QString &fileName, QIODevice *device)
{
    const bool opened = !device->isOpen();
    if (opened && !device->open(QIODevice::ReadOnly)) {
        d->status = FileOpenError;
        return;
    }
    d->addEntry(ZipWriterPrivate::EntryType::File, fileName, device->readAll());
    if (opened)
        device->close();
}

void ZipWriter::addDirectory(const QString &dirName)
{
    QString name = dirName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!name.endsWith(QLatin1Char('/')))
        name += QLatin1Char('/');
    d->addEntry(ZipWriterPrivate::EntryType::Directory, name, QByteArray());
}

void ZipWriter::addSymLink(const QString &fileName, const QString &destination)
{
    d->addEntry(ZipWriterPrivate::EntryType::SymLink, fileName, destination.toLocal8Bit());
}

void ZipWriter::close()
{
    d->close();
}
