#pragma once

// Shared by the zip tests: the real peers (Info-ZIP, Python's zipfile), the raw fields of an
// archive, and what a folder holds.

#include <QtCore>

namespace ZipTestSupport {

struct ToolRun
{
    bool started = false;
    int exitCode = -1;
    QByteArray output;
    bool ok() const { return started && exitCode == 0; }
};

inline ToolRun runTool(const QString &program, const QStringList &arguments,
                       const QString &workingDir = QString(),
                       const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(workingDir);
    process.start(program, arguments);
    ToolRun run;
    run.started = process.waitForStarted(10000);
    if (!run.started)
        return run;
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAll();
    return run;
}

// The archives that the Python script writes: friendly ones from zipfile, hostile ones patched.
inline bool makeArchives(const QString &outputDir)
{
    return runTool(QStringLiteral("python3"),
                   { QStringLiteral(CORVID_TEST_DATA "/zip/make_archives.py"), outputDir })
        .ok();
}

// Python's zipfile writes the archive, so names reach it exactly as given (backslashes too). A
// file holds its own name; a name ending in "/" is an empty directory.
inline bool makeArchive(const QString &path, const QStringList &names)
{
    const QString script
        = QStringLiteral("import sys, zipfile, warnings\n"
                         "warnings.simplefilter('ignore')\n"
                         "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                         "    for n in sys.stdin.read().split('\\n'):\n"
                         "        z.writestr(n, b'' if n.endswith('/') else n.encode())\n");
    return runTool(QStringLiteral("python3"), { QStringLiteral("-c"), script, path }, QString(),
                   names.join(QLatin1Char('\n')).toUtf8())
        .ok();
}

// The entries as Python's zipfile sees them (see dump_archive.py); empty when it cannot read them.
inline QJsonArray pythonEntries(const QString &path)
{
    const ToolRun run = runTool(QStringLiteral("python3"),
                                { QStringLiteral(CORVID_TEST_DATA "/zip/dump_archive.py"), path });
    return run.ok() ? QJsonDocument::fromJson(run.output).array() : QJsonArray();
}

inline QByteArray pythonData(const QJsonValue &entry)
{
    return QByteArray::fromBase64(
        entry.toObject().value(QStringLiteral("data")).toString().toLatin1());
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

inline quint16 u16(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

inline quint32 u32(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

inline int endRecordOffset(const QByteArray &archive)
{
    return archive.lastIndexOf(QByteArray("PK\x05\x06", 4));
}

inline int centralDirectoryOffset(const QByteArray &archive)
{
    return int(u32(archive, endRecordOffset(archive) + 16));
}

// Deterministic bytes that deflate cannot shrink.
inline QByteArray noise(int size, quint32 seed)
{
    QByteArray data(size, '\0');
    quint32 state = seed;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        data[i] = char(state >> 24);
    }
    return data;
}

// Everything below root, links as links, so that any change there shows in a comparison.
inline QStringList snapshot(const QString &root)
{
    QStringList items;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            items.append(name + QStringLiteral(" -> ") + info.symLinkTarget());
        else if (info.isDir())
            items.append(name + QLatin1Char('/'));
        else
            items.append(name + QStringLiteral(": ") + QString::fromUtf8(readAll(info.filePath())));
    }
    items.sort();
    return items;
}

} // namespace ZipTestSupport
