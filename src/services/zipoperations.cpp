#include "services/zipoperations.h"

#include "app/logger.h"
#include "services/directorylisting.h"
#include "services/fileoperations.h"
#include "services/zipreader.h"
#include "services/zipreader_p.h"
#include "services/zipwriter.h"
#include "services/zipwriter_p.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QVector>

#include <memory>

namespace {

constexpr qint64 CopyChunkSize = 1024 * 1024;

const QString Separator = QStringLiteral("-----------");

struct ListedEntry
{
    QString name;
    int index; // position in the archive, -1 for an inserted ancestor directory
};

bool isSourceDirectory(const QString &path)
{
    return path.endsWith(QLatin1Char('/'));
}

bool isDirectoryName(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'));
}

bool isHiddenMacEntry(const QString &name)
{
    return name.startsWith(QLatin1String("__MACOSX/")) || name.endsWith(QLatin1String(".DS_Store"));
}

// The enclosing directory of an entry name with a trailing "/", or empty at the top level.
QString parentEntry(const QString &name)
{
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QString();
    const QString parent = path.left(slash + 1);
    return parent == QLatin1String("./") ? QString() : parent;
}

QVector<ListedEntry> listEntries(const ZipReader &reader)
{
    const QVector<ZipReader::FileInfo> infos = reader.fileInfoList();
    QVector<ListedEntry> kept;
    QSet<QString> listed;
    for (int i = 0; i < infos.size(); ++i) {
        if (isHiddenMacEntry(infos.at(i).filePath))
            continue;
        kept.append({ infos.at(i).filePath, i });
        listed.insert(infos.at(i).filePath);
    }
    QVector<ListedEntry> entries;
    entries.reserve(kept.size());
    for (const ListedEntry &entry : qAsConst(kept)) {
        // Ancestors go in front of the entry, outermost first.
        const int insertAt = entries.size();
        for (QString parent = parentEntry(entry.name);
             !parent.isEmpty() && !listed.contains(parent); parent = parentEntry(parent)) {
            entries.insert(insertAt, { parent, -1 });
            listed.insert(parent);
        }
        entries.append(entry);
    }
    return entries;
}

QStringList namesOf(const QVector<ListedEntry> &entries)
{
    QStringList names;
    names.reserve(entries.size());
    for (const ListedEntry &entry : entries)
        names.append(entry.name);
    return names;
}

QStringList splitList(const QString &list)
{
    return list.split(ZipOperations::delimiter(), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

void logLines(const QStringList &lines)
{
    for (const QString &line : lines)
        logShell(line);
}

void logTransfer(const QString &title, const QString &zipFilePath, const QStringList &sources,
                 const QStringList &destinations)
{
    if (!Logger::instance().isOn(LogCategory::Shell))
        return;
    logLines(
        { title, QStringLiteral("zipFilePath: ") + zipFilePath, QStringLiteral("srcFileList: ") });
    logLines(sources);
    logShell(QStringLiteral("destFileList: "));
    logLines(destinations);
    logShell(Separator);
}

CallResult addUnreadable(const QString &zipFilePath)
{
    return CallResult::failure(ZipOperations::PathUnreadable,
                               QStringLiteral("Cannot add to zip file. The path: ") + zipFilePath
                                   + QStringLiteral(" is not readable."));
}

CallResult addUnwritable(const QString &zipFilePath)
{
    return CallResult::failure(ZipOperations::PathUnwritable,
                               QStringLiteral("Cannot add to zip file. The path: ") + zipFilePath
                                   + QStringLiteral(" is not writable."));
}

CallResult writeFailure(const QString &entryName, const QString &zipFilePath)
{
    return CallResult::failure(ZipOperations::PathUnwritable,
                               QStringLiteral("Write failure occurred adding: ") + entryName
                                   + QStringLiteral(" to: ") + zipFilePath);
}

CallResult extractUnreadable(const QString &zipFilePath)
{
    return CallResult::failure(ZipOperations::PathUnreadable,
                               QStringLiteral("Cannot extract from zip file. The path: ")
                                   + zipFilePath + QStringLiteral(" is not readable."));
}

enum class CopyOutcome { Copied, Unreadable, WriteFailed };

// Rewrites one existing entry under the writer's current time and permissions. Deflated data
// is copied byte for byte without inflating it (its headers, bounds and flags are checked, its
// stream is not); anything else is inflated, checked and deflated anew.
CopyOutcome copyExistingEntry(ZipReaderPrivate *reader, int index, const QString &name,
                              ZipWriterPrivate *writer)
{
    const ZipCentralRecord &record = reader->records.at(index);
    ZipEntryLocation location;
    const bool located = record.uncompressedSize() > 0 && reader->locate(index, &location);
    if (record.uncompressedSize() > 0 && !located)
        return CopyOutcome::Unreadable;
    bool ok = false;
    if (!located) {
        ok = writer->beginEntry(ZipWriterPrivate::EntryType::File, name, 0)
            && writer->finishEntry();
    } else if (location.method == 8) {
        ok = writer->beginDeflatedCopy(name, location.crc, location.compressedSize,
                                       location.uncompressedSize)
            && reader->streamEntry(index, true,
                                   [writer](const char *data, qint64 length) {
                                       return writer->writeDeflatedCopy(data, length);
                                   })
            && writer->finishDeflatedCopy();
    } else {
        ok = writer->beginEntry(ZipWriterPrivate::EntryType::File, name, location.uncompressedSize)
            && reader->streamEntry(index, false,
                                   [writer](const char *data, qint64 length) {
                                       return writer->writeEntryData(data, length);
                                   })
            && writer->finishEntry();
    }
    if (ok)
        return CopyOutcome::Copied;
    return writer->status != ZipWriter::NoError ? CopyOutcome::WriteFailed
                                                : CopyOutcome::Unreadable;
}

enum class SourceOutcome { Added, Unreadable, WriteFailed };

SourceOutcome addSourceFile(const QString &source, const QString &destination,
                            ZipWriterPrivate *writer)
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return SourceOutcome::Unreadable;
    if (!writer->beginEntry(ZipWriterPrivate::EntryType::File, destination, file.size()))
        return SourceOutcome::WriteFailed;
    QByteArray buffer(int(CopyChunkSize), Qt::Uninitialized);
    for (;;) {
        const qint64 length = file.read(buffer.data(), buffer.size());
        if (length < 0)
            return SourceOutcome::Unreadable;
        if (length == 0)
            break;
        if (!writer->writeEntryData(buffer.constData(), length))
            return SourceOutcome::WriteFailed;
    }
    return writer->finishEntry() ? SourceOutcome::Added : SourceOutcome::WriteFailed;
}

// The directory a destination needs: the one it names, or everything before its last separator.
QString directoryPartOf(const QString &destination)
{
    if (isDirectoryName(destination))
        return destination;
    const int separator = qMax(destination.lastIndexOf(QLatin1Char('/')),
                               destination.lastIndexOf(QLatin1Char('\\')));
    return separator < 0 ? QString() : destination.left(separator);
}

CallResult writeExtractedFile(const QString &destination, const QByteArray &content)
{
    QFile file(destination);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content) != content.size() || !file.flush()) {
        return CallResult::failure(
            file.error(), FileOperations::fileErrorMessage(file.errorString(), destination));
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        return CallResult::failure(
            file.error(), FileOperations::fileErrorMessage(file.errorString(), destination));
    }
    return CallResult::ok();
}

// The first listed entry that would land outside the destination, or empty when none does.
QString firstEscapingEntry(ZipReader &reader, const QVector<ListedEntry> &entries)
{
    ZipReaderPrivate *d = ZipReaderPrivate::get(reader);
    for (const ListedEntry &entry : entries) {
        if (!ZipReaderPrivate::staysInside(entry.name))
            return entry.name;
        if (entry.index < 0 || !reader.entryInfoAt(entry.index).isSymLink)
            continue;
        QByteArray target;
        d->entryData(entry.index, &target);
        if (!ZipReaderPrivate::linkStaysInside(entry.name, QString::fromLocal8Bit(target)))
            return entry.name;
    }
    return QString();
}

} // namespace

const QString &ZipOperations::delimiter()
{
    static const QString value = QStringLiteral("_INTRADELIM_");
    return value;
}

QStringList ZipOperations::entryList(const QString &zipFilePath)
{
    ZipReader reader(zipFilePath);
    if (!reader.exists() || !reader.isReadable())
        return QStringList();
    return namesOf(listEntries(reader));
}

CallResult ZipOperations::zipRead(const QString &zipFilePath)
{
    ZipReader reader(zipFilePath);
    if (!reader.exists()) {
        return CallResult::failure(PathMissing,
                                   QStringLiteral("Cannot read zip. The path: ") + zipFilePath
                                       + QStringLiteral(" does not exist."));
    }
    if (!reader.isReadable()) {
        return CallResult::failure(PathUnreadable,
                                   QStringLiteral("Cannot read zip file: ") + zipFilePath
                                       + QLatin1Char('.'));
    }
    const QStringList entries = namesOf(listEntries(reader));
    if (Logger::instance().isOn(LogCategory::Shell)) {
        logLines({ QStringLiteral("--zipRead--"), QStringLiteral("zipFilePath: ") + zipFilePath,
                   QStringLiteral("contentsList: ") });
        logLines(entries);
        logShell(Separator);
    }
    return CallResult::ok(zipFilePath, entries);
}

CallResult ZipOperations::zipAppend(const QString &zipFilePath, const QString &sourceFilePaths,
                                    const QString &destinationFilePaths)
{
    const QStringList sources = splitList(sourceFilePaths);
    const QStringList destinations = splitList(destinationFilePaths);
    if (sources.size() != destinations.size()) {
        return CallResult::failure(ListsNotAligned,
                                   QStringLiteral("zipAppend() source list and destination list "
                                                  "parameters are not aligned."));
    }
    return add(zipFilePath, sources, destinations);
}

CallResult ZipOperations::zipAppendAll(const QString &zipFilePath, const QString &sourceDirPath,
                                       bool wrapInContainerDir)
{
    const QFileInfo sourceDir(sourceDirPath.isEmpty() ? QDir::currentPath() : sourceDirPath);
    if (!sourceDir.isDir()) {
        return CallResult::failure(PathMissing,
                                   QStringLiteral("Directory: ") + sourceDirPath
                                       + QStringLiteral(" does not exist."));
    }
    const QStringList sources = DirectoryListing::listDirectory(sourceDirPath, 0, true);
    if (sources.isEmpty() && !sourceDir.isReadable()) {
        return CallResult::failure(DirectoryLooksEmpty,
                                   QStringLiteral("Directory: ") + sourceDirPath
                                       + QStringLiteral(" appears to be empty. It MAY not be "
                                                        "readable by this user (this detail "
                                                        "cannot be confirmed)."));
    }
    QString prefix = DirectoryListing::displayPath(sourceDirPath);
    if (wrapInContainerDir) {
        // The parent's display path, so entries keep the directory's own name in front.
        QStringList parts = prefix.split(QLatin1Char('/'));
        parts.removeLast();
        parts.removeLast();
        prefix = parts.join(QLatin1Char('/')) + QLatin1Char('/');
    }
    // Only a leading prefix goes: the same text deeper in a path is part of a name.
    QStringList destinations;
    destinations.reserve(sources.size());
    for (const QString &source : sources)
        destinations.append(source.startsWith(prefix) ? source.mid(prefix.size()) : source);
    return add(zipFilePath, sources, destinations);
}

CallResult ZipOperations::add(const QString &zipFilePath, const QStringList &sources,
                              const QStringList &destinations)
{
    logTransfer(QStringLiteral("--zipAppend--"), zipFilePath, sources, destinations);

    const bool archiveExists = QFileInfo::exists(zipFilePath);
    std::unique_ptr<ZipReader> reader;
    QVector<ListedEntry> existing;
    if (archiveExists) {
        reader.reset(new ZipReader(zipFilePath));
        if (!reader->isReadable())
            return addUnreadable(zipFilePath);
        existing = listEntries(*reader);
    }

    // The new archive is written beside the old one and replaces it only when complete, so a
    // failure at any step leaves the old archive exactly as it was.
    if (archiveExists && !QFileInfo(zipFilePath).isWritable())
        return addUnwritable(zipFilePath);
    QSaveFile target(zipFilePath);
    if (!target.open(QIODevice::WriteOnly))
        return addUnwritable(zipFilePath);
    ZipWriter writer(&target);
    ZipWriterPrivate *out = ZipWriterPrivate::get(writer);
    // Until the commit the writer must not close the save file; closing would discard it.
    auto fail = [out](const CallResult &result) {
        out->abandon();
        return result;
    };

    ZipReaderPrivate *in = reader ? ZipReaderPrivate::get(*reader) : nullptr;
    for (const ListedEntry &entry : qAsConst(existing)) {
        if (isDirectoryName(entry.name)) {
            writer.addDirectory(entry.name);
            if (writer.status() != ZipWriter::NoError)
                return fail(writeFailure(entry.name, zipFilePath));
            continue;
        }
        switch (copyExistingEntry(in, entry.index, entry.name, out)) {
        case CopyOutcome::Copied:
            break;
        case CopyOutcome::Unreadable:
            return fail(addUnreadable(zipFilePath));
        case CopyOutcome::WriteFailed:
            return fail(writeFailure(entry.name, zipFilePath));
        }
    }

    for (const QString &source : sources) {
        if (!isSourceDirectory(source) && !QFileInfo::exists(source)) {
            return fail(CallResult::failure(SourceMissing,
                                            QStringLiteral("Cannot add to zip file. The source "
                                                           "file: ")
                                                + source + QStringLiteral(" does not exist.")));
        }
    }

    for (int i = 0; i < sources.size(); ++i) {
        const QString &destination = destinations.at(i);
        if (isDirectoryName(destination)) {
            writer.addDirectory(destination);
            if (writer.status() != ZipWriter::NoError)
                return fail(writeFailure(destination, zipFilePath));
            continue;
        }
        switch (addSourceFile(sources.at(i), destination, out)) {
        case SourceOutcome::Added:
            break;
        case SourceOutcome::Unreadable:
            return fail(CallResult::failure(SourceUnreadable,
                                            QStringLiteral("Cannot add to zip file. The source "
                                                           "path: ")
                                                + sources.at(i)
                                                + QStringLiteral(" is not readable.")));
        case SourceOutcome::WriteFailed:
            return fail(writeFailure(destination, zipFilePath));
        }
    }

    if (!out->finishWithoutClosing())
        return fail(addUnwritable(zipFilePath));
    reader.reset(); // some systems refuse to replace a file that is still open
    if (!target.commit())
        return addUnwritable(zipFilePath);
    return CallResult::ok();
}

CallResult ZipOperations::zipExtract(const QString &zipFilePath, const QString &sourceFilePaths,
                                     const QString &destinationFilePaths)
{
    const QStringList sources = splitList(sourceFilePaths);
    const QStringList destinations = splitList(destinationFilePaths);
    if (sources.size() != destinations.size()) {
        return CallResult::failure(ListsNotAligned,
                                   QStringLiteral("zipExtract() source list and destination list "
                                                  "parameters are not aligned."));
    }
    return extract(zipFilePath, sources, destinations, false);
}

CallResult ZipOperations::zipExtractAll(const QString &zipFilePath,
                                        const QString &destinationDirPath)
{
    const QStringList sources = entryList(zipFilePath);
    const QString base = DirectoryListing::displayPath(destinationDirPath);
    QStringList destinations;
    destinations.reserve(sources.size());
    for (const QString &source : sources)
        destinations.append(base + source);
    return extract(zipFilePath, sources, destinations, true);
}

CallResult ZipOperations::extract(const QString &zipFilePath, const QStringList &sources,
                                  const QStringList &destinations, bool refuseEscapes)
{
    logTransfer(QStringLiteral("--zipExtract--"), zipFilePath, sources, destinations);

    ZipReader reader(zipFilePath);
    if (!reader.exists()) {
        return CallResult::failure(PathMissing,
                                   QStringLiteral("Cannot extract from zip file. The path: ")
                                       + zipFilePath + QStringLiteral(" does not exist."));
    }
    if (!reader.isReadable())
        return extractUnreadable(zipFilePath);

    const QVector<ListedEntry> entries = listEntries(reader);
    QHash<QString, int> indexByName;
    // Filled backwards so that of two entries with one name the first wins.
    for (auto it = entries.crbegin(); it != entries.crend(); ++it)
        indexByName.insert(it->name, it->index);
    for (const QString &source : sources) {
        if (!indexByName.contains(source)) {
            return CallResult::failure(
                EntryMissing,
                QStringLiteral("Cannot extract from zip file. The zip "
                               "file: ")
                    + zipFilePath + QStringLiteral(" does not contain this path: ") + source);
        }
    }
    if (refuseEscapes) {
        const QString escaping = firstEscapingEntry(reader, entries);
        if (!escaping.isEmpty()) {
            return CallResult::failure(EntryOutside,
                                       QStringLiteral("Cannot extract from zip file. The entry: ")
                                           + escaping
                                           + QStringLiteral(" lies outside the destination "
                                                            "directory."));
        }
    }

    ZipReaderPrivate *in = ZipReaderPrivate::get(reader);
    for (int i = 0; i < sources.size(); ++i) {
        const QString &destination = destinations.at(i);
        const QString directory = directoryPartOf(destination);
        if (!directory.isEmpty() && !QDir(directory).exists() && !QDir().mkpath(directory)) {
            return CallResult::failure(DirectoryFailed,
                                       FileOperations::directoryFailedMessage(directory));
        }
        if (isDirectoryName(destination))
            continue;
        const int index = indexByName.value(sources.at(i));
        QByteArray content;
        // An entry that promises content but cannot deliver it intact is a failure, not an
        // empty file.
        if (index >= 0 && !in->entryData(index, &content)
            && in->records.at(index).uncompressedSize() > 0)
            return extractUnreadable(zipFilePath);
        const CallResult written = writeExtractedFile(destination, content);
        if (!written.success)
            return written;
    }
    reader.close();
    return CallResult::ok();
}
