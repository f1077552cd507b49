#pragma once

// Shared by the zip tests: running the real peers (Info-ZIP, Python's zipfile) and reading the
// raw fields of an archive.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtEndian>

namespace ZipTestSupport {

struct ToolRun
{
    bool started = false;
    int exitCode = -1;
    QByteArray output;
};

inline ToolRun runTool(const QString &program, const QStringList &arguments,
                       const QString &workingDir = QString(),
                       const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, arguments);
    ToolRun run;
    run.started = process.waitForStarted(10000);
    if (!run.started)
        return run;
    if (!input.isEmpty())
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
    const ToolRun run
        = runTool(QStringLiteral("python3"),
                  { QStringLiteral(CORVID_TEST_DATA "/zip/make_archives.py"), outputDir });
    return run.started && run.exitCode == 0;
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

} // namespace ZipTestSupport
