#include "services/zipoperations.h"

#include "platform/logger.h"
#include "platform/scriptprotocol.h"
#include "services/directorylisting.h"
#include "services/fileoperations.h"
#include "services/zipdestination_p.h"
#include "services/zipreader.h"
#include "services/zipwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QVector>

#include <memory>

namespace {

constexpr qint64 CopyChunkSize = 1024 * 1024;

// Bounds of an entry list, ancestors included: an archive of deep names would otherwise list
// (and log, and hold) far more than it stores.
constexpr int MaxListedEntries = 65535;
constexpr qint64 MaxListedNameLength = 16 * 1024 * 1024; // characters of all names together

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

// The entry list, or false with the reason when the archive is damaged or its list would pass
// a bound.
bool listEntries(const ZipReader &reader, QVector<ListedEntry> *entries, QString *problem)
{
    const QVector<ZipReader::FileInfo> infos = reader.fileInfoList();
    if (reader.status() != ZipReader::NoError) {
        *problem = reader.errorString();
        return false;
    }
    QVector<ListedEntry> kept;
    QSet<QString> listed;
    for (int i = 0; i < infos.size(); ++i) {
        if (isHiddenMacEntry(infos.at(i).filePath))
            continue;
        kept.append({ infos.at(i).filePath, i });
        listed.insert(infos.at(i).filePath);
    }
    const QString tooMany
        = QStringLiteral("The archive lists more than %1 entries.").arg(MaxListedEntries);
    const QString tooLong
        = QStringLiteral("The entry names of the archive exceed %1 characters in all.")
              .arg(MaxListedNameLength);
    qint64 nameLength = 0;
    QStringList ancestors;
    entries->clear();
    entries->reserve(qMin(kept.size(), MaxListedEntries));
    for (const ListedEntry &entry : qAsConst(kept)) {
        // Found innermost first, so the longest names count against the bound first.
        ancestors.clear();
        for (QString parent = parentEntry(entry.name);
             !parent.isEmpty() && !listed.contains(parent); parent = parentEntry(parent)) {
            nameLength += parent.size();
            if (nameLength > MaxListedNameLength) {
                *problem = tooLong;
                return false;
            }
            if (entries->size() + ancestors.size() >= MaxListedEntries) {
                *problem = tooMany;
                return false;
            }
            ancestors.append(parent);
            listed.insert(parent);
        }
        // Ancestors go in front of the entry, outermost first.
        for (auto it = ancestors.crbegin(); it != ancestors.crend(); ++it)
            entries->append({ *it, -1 });
        nameLength += entry.name.size();
        if (nameLength > MaxListedNameLength) {
            *problem = tooLong;
            return false;
        }
        if (entries->size() >= MaxListedEntries) {
            *problem = tooMany;
            return false;
        }
        entries->append(entry);
    }
    return true;
}

QString withProblem(const QString &message, const QString &problem)
{
    return problem.isEmpty() ? message : message + QLatin1Char(' ') + problem;
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

CallResult addUnreadable(const QString &zipFilePath, const QString &problem = QString())
{
    return CallResult::failure(ZipOperations::PathUnreadable,
                               withProblem(QStringLiteral("Cannot add to zip file. The path: ")
                                               + zipFilePath + QStringLiteral(" is not readable."),
                                           problem));
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

CallResult extractUnreadable(const QString &zipFilePath, const QString &problem = QString())
{
    return CallResult::failure(
        ZipOperations::PathUnreadable,
        withProblem(QStringLiteral("Cannot extract from zip file. The path: ") + zipFilePath
                        + QStringLiteral(" is not readable."),
                    problem));
}

CallResult entryOutside(const QString &entryName)
{
    return CallResult::failure(ZipOperations::EntryOutside,
                               QStringLiteral("Cannot extract from zip file. The entry: ")
                                   + entryName
                                   + QStringLiteral(" lies outside the destination directory."));
}

enum class CopyOutcome { Copied, Unreadable, WriteFailed };

// Rewrites one existing entry under the writer's current time and permissions. Deflated data
// is copied byte for byte without inflating it (its headers, bounds and flags are checked, its
// stream is not); anything else is inflated, checked and deflated anew.
CopyOutcome copyExistingEntry(const ZipReader &reader, int index, const QString &name,
                              ZipWriter &writer)
{
    const bool hasContent = reader.entryInfoAt(index).size > 0;
    ZipReader::StoredEntry stored;
    const bool located = hasContent && reader.storedEntry(index, &stored);
    if (hasContent && !located)
        return CopyOutcome::Unreadable;
    bool ok = false;
    if (!located) {
        ok = writer.beginFile(name, 0) && writer.finishFile();
    } else if (stored.method == 8) {
        ok = writer.beginDeflatedCopy(name, stored.crc, stored.compressedSize,
                                      stored.uncompressedSize)
            && reader.readEntry(index, true,
                                [&writer](const char *data, qint64 length) {
                                    return writer.writeDeflatedCopy(data, length);
                                })
            && writer.finishDeflatedCopy();
    } else {
        ok = writer.beginFile(name, stored.uncompressedSize)
            && reader.readEntry(index, false,
                                [&writer](const char *data, qint64 length) {
                                    return writer.writeFileData(data, length);
                                })
            && writer.finishFile();
    }
    if (ok)
        return CopyOutcome::Copied;
    return writer.status() != ZipWriter::NoError ? CopyOutcome::WriteFailed
                                                 : CopyOutcome::Unreadable;
}

enum class SourceOutcome { Added, Unreadable, WriteFailed };

SourceOutcome addSourceFile(const QString &source, const QString &destination, ZipWriter &writer)
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return SourceOutcome::Unreadable;
    if (!writer.beginFile(destination, file.size()))
        return SourceOutcome::WriteFailed;
    QByteArray buffer(int(CopyChunkSize), Qt::Uninitialized);
    for (;;) {
        const qint64 length = file.read(buffer.data(), buffer.size());
        if (length < 0)
            return SourceOutcome::Unreadable;
        if (length == 0)
            break;
        if (!writer.writeFileData(buffer.constData(), length))
            return SourceOutcome::WriteFailed;
    }
    return writer.finishFile() ? SourceOutcome::Added : SourceOutcome::WriteFailed;
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

// Writes content to relativePath below target, never through a link already there; messages
// name the destination as the caller knows it.
CallResult writeExtractedFile(const ZipDestination &target, const QString &relativePath,
                              const QString &destination, const QString &entryName,
                              const QByteArray &content)
{
    QFile file;
    ZipDestination::OpenFailure failure;
    switch (target.openFile(relativePath, &file, &failure)) {
    case ZipDestination::Outcome::Done:
        break;
    case ZipDestination::Outcome::Outside:
        return entryOutside(entryName);
    case ZipDestination::Outcome::Failed:
        return CallResult::failure(
            failure.error, FileOperations::fileErrorMessage(failure.errorString, destination));
    }
    if (file.write(content) != content.size() || !file.flush()) {
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
    for (const ListedEntry &entry : entries) {
        if (!ZipReader::staysInside(entry.name))
            return entry.name;
        if (entry.index < 0 || !reader.entryInfoAt(entry.index).isSymLink)
            continue;
        QByteArray target;
        reader.entryData(entry.index, &target);
        if (!ZipReader::linkStaysInside(entry.name, QString::fromLocal8Bit(target)))
            return entry.name;
    }
    return QString();
}

} // namespace

QString ZipOperations::delimiter()
{
    return ScriptProtocol::intraDelimiter();
}

QStringList ZipOperations::entryList(const QString &zipFilePath)
{
    ZipReader reader(zipFilePath);
    QVector<ListedEntry> entries;
    QString problem;
    if (!reader.exists() || !reader.isReadable() || !listEntries(reader, &entries, &problem))
        return QStringList();
    return namesOf(entries);
}

CallResult ZipOperations::zipRead(const QString &zipFilePath)
{
    ZipReader reader(zipFilePath);
    if (!reader.exists()) {
        return CallResult::failure(PathMissing,
                                   QStringLiteral("Cannot read zip. The path: ") + zipFilePath
                                       + QStringLiteral(" does not exist."));
    }
    QVector<ListedEntry> listed;
    QString problem;
    if (!reader.isReadable() || !listEntries(reader, &listed, &problem)) {
        return CallResult::failure(
            PathUnreadable,
            withProblem(QStringLiteral("Cannot read zip file: ") + zipFilePath + QLatin1Char('.'),
                        problem));
    }
    const QStringList entries = namesOf(listed);
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

    const QFileInfo archiveFile(zipFilePath);
    const bool archiveExists = archiveFile.exists();
    std::unique_ptr<ZipReader> reader;
    QVector<ListedEntry> existing;
    // An empty file is a new archive. Any other file must read whole: what could be read of a
    // damaged or foreign one would replace it.
    if (archiveExists && archiveFile.size() > 0) {
        reader.reset(new ZipReader(zipFilePath));
        if (!reader->isReadable())
            return addUnreadable(zipFilePath);
        QString problem;
        if (!listEntries(*reader, &existing, &problem))
            return addUnreadable(zipFilePath, problem);
    }

    // The new archive is written beside the old one and replaces it only when complete, so a
    // failure at any step leaves the old archive exactly as it was.
    if (archiveExists && !QFileInfo(zipFilePath).isWritable())
        return addUnwritable(zipFilePath);
    QSaveFile target(zipFilePath);
    if (!target.open(QIODevice::WriteOnly))
        return addUnwritable(zipFilePath);
    ZipWriter writer(&target);
    // Until the commit the writer must not close the save file; closing would discard it.
    auto fail = [&writer](const CallResult &result) {
        writer.abandon();
        return result;
    };

    for (const ListedEntry &entry : qAsConst(existing)) {
        if (isDirectoryName(entry.name)) {
            writer.addDirectory(entry.name);
            if (writer.status() != ZipWriter::NoError)
                return fail(writeFailure(entry.name, zipFilePath));
            continue;
        }
        switch (copyExistingEntry(*reader, entry.index, entry.name, writer)) {
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
        switch (addSourceFile(sources.at(i), destination, writer)) {
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

    if (!writer.finishWithoutClosing())
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
    return extract(zipFilePath, sources, destinations, QString());
}

CallResult ZipOperations::zipExtractAll(const QString &zipFilePath,
                                        const QString &destinationDirPath)
{
    return extract(zipFilePath, {}, {}, DirectoryListing::displayPath(destinationDirPath));
}

CallResult ZipOperations::extract(const QString &zipFilePath, QStringList sources,
                                  QStringList destinations, const QString &wholeInto)
{
    const bool whole = !wholeInto.isEmpty();
    ZipReader reader(zipFilePath);
    QVector<ListedEntry> entries;
    QString problem;
    const bool listed
        = reader.exists() && reader.isReadable() && listEntries(reader, &entries, &problem);
    if (whole && listed) {
        sources = namesOf(entries);
        for (const QString &source : qAsConst(sources))
            destinations.append(wholeInto + source);
    }
    logTransfer(QStringLiteral("--zipExtract--"), zipFilePath, sources, destinations);

    if (!reader.exists()) {
        return CallResult::failure(PathMissing,
                                   QStringLiteral("Cannot extract from zip file. The path: ")
                                       + zipFilePath + QStringLiteral(" does not exist."));
    }
    if (!listed)
        return extractUnreadable(zipFilePath, problem);

    QHash<QString, int> indexByName;
    // Filled backwards so that of two entries with one name the first wins.
    for (auto it = entries.crbegin(); it != entries.crend(); ++it)
        indexByName.insert(it->name, it->index);
    for (const QString &source : qAsConst(sources)) {
        if (!indexByName.contains(source)) {
            return CallResult::failure(
                EntryMissing,
                QStringLiteral("Cannot extract from zip file. The zip "
                               "file: ")
                    + zipFilePath + QStringLiteral(" does not contain this path: ") + source);
        }
    }
    if (whole) {
        const QString escaping = firstEscapingEntry(reader, entries);
        if (!escaping.isEmpty())
            return entryOutside(escaping);
    }

    for (int i = 0; i < sources.size(); ++i) {
        const QString &source = sources.at(i);
        const QString &destination = destinations.at(i);
        const QString directory = directoryPartOf(destination);
        // Extracting everything, the entry's name leads below the directory the caller named,
        // and nothing found on disk there is followed. A chosen destination is the caller's own
        // path: only the file at its end comes from the archive.
        const ZipDestination target(whole ? wholeInto : QFileInfo(destination).path());
        const QString relativePath = whole ? source : QFileInfo(destination).fileName();
        if (whole) {
            switch (target.makePath(directoryPartOf(source))) {
            case ZipDestination::Outcome::Done:
                break;
            case ZipDestination::Outcome::Outside:
                return entryOutside(source);
            case ZipDestination::Outcome::Failed:
                return CallResult::failure(DirectoryFailed,
                                           FileOperations::directoryFailedMessage(directory));
            }
        } else if (!directory.isEmpty() && !QDir(directory).exists() && !QDir().mkpath(directory)) {
            return CallResult::failure(DirectoryFailed,
                                       FileOperations::directoryFailedMessage(directory));
        }
        if (isDirectoryName(destination))
            continue;
        const int index = indexByName.value(source);
        QByteArray content;
        // An entry that promises content but cannot deliver it intact is a failure, not an
        // empty file.
        if (index >= 0 && !reader.entryData(index, &content) && reader.entryInfoAt(index).size > 0)
            return extractUnreadable(zipFilePath);
        const CallResult written
            = writeExtractedFile(target, relativePath, destination, source, content);
        if (!written.success)
            return written;
    }
    reader.close();
    return CallResult::ok();
}
