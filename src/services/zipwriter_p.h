#pragma once

// Internal side of ZipWriter: the entry records and the deflater. Not part of the exported
// interface.

#include "services/zipwriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QVector>

#include <memory>

struct z_stream_s;

class ZipWriterPrivate
{
public:
    enum class EntryType { Directory, File, SymLink };

    ZipWriterPrivate(QIODevice *device, bool ownsDevice);
    ~ZipWriterPrivate();

    void addEntry(EntryType type, const QString &name, const QByteArray &content);

    // A streamed entry: begin, any number of writes, finish. The compression policy decides the
    // method from expectedSize; the sizes and CRC-32 are patched into the local header at the
    // end, so the device must allow seeking. Each returns false once the status is not NoError.
    bool beginEntry(EntryType type, const QString &name, qint64 expectedSize);
    bool writeEntryData(const char *data, qint64 length);
    bool finishEntry();

    // An entry whose deflated bytes already exist (with their CRC-32 and sizes): the bytes are
    // written as they are, without inflating and deflating them again.
    bool beginDeflatedCopy(const QString &name, quint32 crc, qint64 compressedSize,
                           qint64 uncompressedSize);
    bool writeDeflatedCopy(const char *data, qint64 length);
    bool finishDeflatedCopy();

    // Writes the central directory and the end record but leaves the device open for a caller
    // that must close it itself (a QSaveFile commits instead of closing). The writer does
    // nothing further afterwards.
    bool finishWithoutClosing();
    // Makes the writer leave the device alone from now on, for a caller that discards it.
    void abandon() { detached = true; }

    QIODevice *device = nullptr;
    std::unique_ptr<QIODevice> ownedDevice;
    bool detached = false;
    QVector<QByteArray> centralRecords; // each: 46-byte header, name, extra field, comment
    QByteArray comment;
    qint64 nextEntryOffset = 0;
    ZipWriter::Status status = ZipWriter::NoError;
    QFile::Permissions creationPermissions = QFile::ReadOwner | QFile::WriteOwner;
    ZipWriter::CompressionPolicy compressionPolicy = ZipWriter::AlwaysCompress;

    void close();

private:
    struct OpenEntry
    {
        qint64 headerOffset = 0;
        quint16 method = 0;
        quint32 crc = 0;
        qint64 compressedSize = 0;
        qint64 uncompressedSize = 0;
        qint64 expectedCompressedSize = 0;
        std::unique_ptr<z_stream_s> deflater;
        QByteArray buffer;
    };

    bool ensureOpen();
    bool startEntry(EntryType type, const QString &name, quint16 method, quint32 crc,
                    qint64 compressedSize, qint64 uncompressedSize);
    bool write(const char *data, qint64 length);
    bool deflateInto(const char *data, qint64 length, int flush);
    bool patchSizes();
    void endDeflater();
    void fail(ZipWriter::Status newStatus);

    std::unique_ptr<OpenEntry> entry;
};
