#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

class ZipReaderPrivate;

/**
 * Lists the entries of a zip archive and returns their uncompressed content.
 *
 * The index is read once, on first use. Problems while reading show up as warnings in the
 * message log and as missing entries or empty content, never as exceptions; opening problems
 * and an index that cannot be read whole are reported by status().
 */
class CORVID_EXPORT ZipReader
{
public:
    /** Opens the named file with the given mode; the reader owns the file. */
    explicit ZipReader(const QString &fileName, QIODevice::OpenMode mode = QIODevice::ReadOnly);
    /** Reads from a device that the caller owns. */
    explicit ZipReader(QIODevice *device);
    ~ZipReader();

    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    QIODevice *device() const;

    bool isReadable() const;
    /** For a named file whether it exists; true for any other device. */
    bool exists() const;

    struct CORVID_EXPORT FileInfo
    {
        FileInfo() noexcept;
        FileInfo(const FileInfo &other) noexcept;
        FileInfo &operator=(const FileInfo &other) noexcept;
        ~FileInfo();

        /** True when the entry's mode names a directory, a file or a symbolic link. */
        bool isValid() const noexcept { return isDir || isFile || isSymLink; }

        QString filePath;
        uint isDir : 1;
        uint isFile : 1;
        uint isSymLink : 1;
        QFile::Permissions permissions;
        uint crc;
        qint64 size;
        QDateTime lastModified;
    };

    /** Every entry in central-directory order. */
    QVector<FileInfo> fileInfoList() const;
    int count() const;

    /** The entry at index; an invalid FileInfo when the index is out of range. */
    FileInfo entryInfoAt(int index) const;
    /** The content of the first entry named exactly fileName; empty when none or unreadable. */
    QByteArray fileData(const QString &fileName) const;

    /** Receives consecutive pieces of an entry's data; returning false stops the read. */
    using DataSink = std::function<bool(const char *data, qint64 length)>;

    /** How an entry's data is stored, once its sizes and offsets were checked against the file. */
    struct StoredEntry
    {
        quint16 method = 0;
        quint32 crc = 0;
        qint64 compressedSize = 0;
        qint64 uncompressedSize = 0;
    };

    /**
     * How the entry at index is stored; false, with a warning, when its data cannot be read as
     * this reader understands it (encrypted, ZIP64, out of the file, a bad local header).
     */
    bool storedEntry(int index, StoredEntry *entry) const;
    /** The content of the entry at index; false with empty content when it is not intact. */
    bool entryData(int index, QByteArray *content) const;
    /**
     * Streams the content of the entry at index, checked against its size and CRC-32 as it
     * passes, so false means the sink saw bytes that must not be kept. With raw, a deflated
     * entry's stored bytes go out as they are, without inflating them.
     */
    bool readEntry(int index, bool raw, const DataSink &sink) const;

    /**
     * Whether an entry named entryName (or a link there pointing at linkTarget) stays below the
     * directory it is extracted into. Lexical: absolute names, drives and ".." that climb above
     * the top are refused.
     */
    static bool staysInside(const QString &entryName);
    static bool linkStaysInside(const QString &entryName, const QString &linkTarget);
    /**
     * Writes every entry below destinationDir. Refuses, before writing anything, a damaged
     * archive and one with an entry or a link target that would land outside destinationDir;
     * stops at a link already on disk below destinationDir rather than write through it.
     */
    bool extractAll(const QString &destinationDir) const;

    enum Status {
        NoError,
        FileReadError,
        FileOpenError,
        FilePermissionsError,
        FileError,
        /** The file is not a zip archive, or its index is cut short or malformed. */
        FileDamagedError,
    };

    /** Reads the index when it has not been read, so that damage to it shows. */
    Status status() const;
    /** What went wrong, in a sentence; empty with NoError. */
    QString errorString() const;

    void close();

private:
    friend class ZipReaderPrivate;
    std::unique_ptr<ZipReaderPrivate> d;
};
