#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

class ZipWriterPrivate;

/**
 * Writes a new zip archive entry by entry. Entries go out immediately; the central directory
 * follows at close(), which the destructor also calls.
 */
class CORVID_EXPORT ZipWriter
{
public:
    /** Opens the named file with the given mode; the writer owns the file. */
    explicit ZipWriter(const QString &fileName,
                       QIODevice::OpenMode mode = (QIODevice::WriteOnly | QIODevice::Truncate));
    /** Writes to a device that the caller owns. */
    explicit ZipWriter(QIODevice *device);
    ~ZipWriter();

    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    QIODevice *device() const;

    bool isWritable() const;
    /** For a named file whether it exists; true for any other device. */
    bool exists() const;

    enum Status { NoError, FileWriteError, FileOpenError, FilePermissionsError, FileError };

    Status status() const;

    enum CompressionPolicy { AlwaysCompress, NeverCompress, AutoCompress };

    void setCompressionPolicy(CompressionPolicy policy);
    CompressionPolicy compressionPolicy() const;

    /** The permissions written into every new entry; read and write by owner by default. */
    void setCreationPermissions(QFile::Permissions permissions);
    QFile::Permissions creationPermissions() const;

    void addFile(const QString &fileName, const QByteArray &data);
    /** Reads all of device, opening it read-only first when it is not open. */
    void addFile(const QString &fileName, QIODevice *device);
    /** Adds a directory entry; a missing trailing "/" is appended. */
    void addDirectory(const QString &dirName);
    void addSymLink(const QString &fileName, const QString &destination);

    /**
     * A file entry streamed in pieces: begin, any number of writes, finish. The method follows
     * the compression policy for expectedSize; the sizes and CRC-32 are patched into the local
     * header at the end, so the device must allow seeking. Each returns false once status() is
     * not NoError.
     */
    bool beginFile(const QString &fileName, qint64 expectedSize);
    bool writeFileData(const char *data, qint64 length);
    bool finishFile();

    /**
     * A file entry whose deflated bytes already exist, with their CRC-32 and sizes: the bytes
     * are written as they are, without inflating and deflating them again.
     */
    bool beginDeflatedCopy(const QString &fileName, quint32 crc, qint64 compressedSize,
                           qint64 uncompressedSize);
    bool writeDeflatedCopy(const char *data, qint64 length);
    bool finishDeflatedCopy();

    /** Writes the central directory and the end record, then closes the device. */
    void close();
    /**
     * Writes the central directory and the end record but leaves the device open, for a caller
     * that must finish it itself (a QSaveFile commits instead of closing). The writer does
     * nothing further afterwards.
     */
    bool finishWithoutClosing();
    /** Leaves the device alone from now on, for a caller that discards what was written. */
    void abandon();

private:
    friend class ZipWriterPrivate;
    std::unique_ptr<ZipWriterPrivate> d;
};
