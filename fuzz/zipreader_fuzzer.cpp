// Feeds arbitrary bytes to ZipReader as an archive: the index, every entry's metadata and
// content, the streamed raw copy and the path checks of extraction must survive anything.

#include "services/zipreader.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

// Hostile input makes the reader warn constantly; printing would only slow the fuzzer down.
void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) { }

// Enough entries to reach every code path, few enough to keep each run short.
constexpr int MaxEntries = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (qInstallMessageHandler(dropMessages), true);
    Q_UNUSED(quiet);

    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    ZipReader reader(&buffer);
    const int count = qMin(reader.count(), MaxEntries);
    for (int i = 0; i < count; ++i) {
        const ZipReader::FileInfo info = reader.entryInfoAt(i);
        QByteArray content;
        const bool intact = reader.entryData(i, &content);
        // Content that passed every check has exactly its stored size; anything else is empty.
        if ((intact && content.size() != info.size) || (!intact && !content.isEmpty()))
            __builtin_trap();
        reader.fileData(info.filePath);
        qint64 rawBytes = 0;
        reader.readEntry(i, true, [&rawBytes](const char *, qint64 length) {
            rawBytes += length;
            return true;
        });
        ZipReader::staysInside(info.filePath);
        ZipReader::linkStaysInside(info.filePath, QString::fromLocal8Bit(content));
    }
    reader.fileInfoList();
    reader.entryInfoAt(-1);
    reader.entryInfoAt(count);
    return 0;
}
