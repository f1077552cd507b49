#pragma once

// Internal side of ZipReader: the index and the checked reading of entries. Not part of the
// exported interface.

#include "services/zipreader.h"

#include <QByteArray>
#include <QVector>

#include <functional>
#include <memory>

struct ZipCentralRecord
{
    QByteArray header; // the 46 fixed bytes
    QByteArray name;
    QByteArray extra;
    QByteArray comment;

    quint16 flags() const;
    quint16 method() const;
    quint32 crc() const;
    quint32 compressedSize() const;
    quint32 uncompressedSize() const;
    quint32 localHeaderOffset() const;
    quint32 mode() const;
    quint32 dosTime() const;
};

// Where an entry's stored bytes lie, after every size and offset was checked against the file.
struct ZipEntryLocation
{
    qint64 dataOffset = 0;
    qint64 compressedSize = 0;
    qint64 uncompressedSize = 0;
    quint32 crc = 0;
    quint16 method = 0;
};

class ZipReaderPrivate
{
public:
    // Receives consecutive pieces of an entry; returning false stops the stream.
    using Sink = std::function<bool(const char *data, qint64 length)>;

    ZipReaderPrivate(QIODevice *device, bool ownsDevice);
    ~ZipReaderPrivate();

    void ensureIndex();
    ZipReader::FileInfo fileInfo(int index) const;
    int indexOf(const QString &fileName) const;
    QString entryName(int index) const;

    // The checked location of an entry, or false with a warning when its stored data cannot be
    // read as this reader understands it (encrypted, ZIP64, out of the file, bad local header).
    bool locate(int index, ZipEntryLocation *location);
    // The whole content; false with empty content when it cannot be read intact.
    bool entryData(int index, QByteArray *content);
    // Streams the uncompressed content, checked against the stored size and CRC-32 as it
    // passes, so false means the sink saw bytes that must not be kept. With raw, a deflated
    // entry's stored bytes are passed on as they are, without inflating them.
    bool streamEntry(int index, bool raw, const Sink &sink);

    // Whether an entry named entryName (or a link there pointing at linkTarget) stays below the
    // directory it is extracted to. Lexical: absolute names, drives and ".." that climb above
    // the top are refused.
    static bool staysInside(const QString &entryName);
    static bool linkStaysInside(const QString &entryName, const QString &linkTarget);

    QIODevice *device = nullptr;
    std::unique_ptr<QIODevice> ownedDevice;
    bool indexPending = true;
    QVector<ZipCentralRecord> records;
    QByteArray comment;
    ZipReader::Status status = ZipReader::NoError;
    QString errorString;

private:
    // Warns and marks the archive damaged: the entries read so far are all there is.
    void setDamaged(const char *warning, const QString &problem);
    bool readEndRecord(qint64 *directoryOffset, int *entryCount, qint64 *endOffset);
    void readDirectory(qint64 directoryOffset, int entryCount, qint64 endOffset);
    bool readFully(char *data, qint64 length);
    bool inflateStream(const ZipEntryLocation &location, const Sink &sink);
    bool copyRaw(const ZipEntryLocation &location, const Sink &sink);
    bool copyStored(const ZipEntryLocation &location, const Sink &sink);
};
