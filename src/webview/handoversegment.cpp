#include "webview/handoversegment.h"

#include "platform/logger.h"
#include "platform/prompter.h"
#include "webview/viewerstate.h"

#include <QCoreApplication>
#include <QDataStream>

#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int HeaderSize = ViewerState::RecordHeaderSize;

// The header that ViewerState::serialize puts first.
bool recordLength(const char *data, int segmentSize, int *length)
{
    if (segmentSize < HeaderSize)
        return false;
    QDataStream header(QByteArray::fromRawData(data, HeaderSize));
    quint32 magic = 0;
    quint32 bodyLength = 0;
    header >> magic >> bodyLength;
    if (magic != ViewerState::RecordMagic || bodyLength > quint32(segmentSize - HeaderSize))
        return false;
    *length = HeaderSize + int(bodyLength);
    return true;
}

} // namespace

QString HandOverSegment::defaultKey()
{
    const QString key = QStringLiteral("APP_SHARED_KEY");
#ifdef Q_OS_UNIX
    // System V segments are visible to every user and outlive a crash: one segment per user.
    return key + QLatin1Char('_') + QString::number(::getuid());
#else
    return key;
#endif
}

HandOverSegment::HandOverSegment(const QString &key)
{
    m_memory.setKey(key);
}

HandOverSegment::~HandOverSegment()
{
    if (m_memory.isAttached())
        m_memory.detach();
}

bool HandOverSegment::write(const QByteArray &record)
{
    m_error.clear();
    if (!attachWithRoomFor(record.size()))
        return false;
    return copyIn(record);
}

bool HandOverSegment::writeOrReport(const QByteArray &record, QWidget *parent)
{
    if (write(record))
        return true;
    logShell(QStringLiteral("Hand-over failed: ") + m_error);
    Prompter::current().critical(
        parent, QCoreApplication::translate("HandOverSegment", "Error"),
        QCoreApplication::translate("HandOverSegment", "Unable to create shared memory segment."));
    return false;
}

QByteArray HandOverSegment::take()
{
    if (!m_memory.isAttached() && !m_memory.attach())
        return QByteArray();
    QByteArray record;
    if (m_memory.lock()) {
        char *data = static_cast<char *>(m_memory.data());
        int length = 0;
        if (recordLength(data, m_memory.size(), &length))
            record = QByteArray(data, length);
        if (m_memory.size() >= HeaderSize)
            std::memset(data, 0, HeaderSize);
        m_memory.unlock();
    }
    m_memory.detach();
    return record;
}

// A segment left by a crashed or still running instance is reused when it is large enough;
// otherwise it is dropped and made anew, which works once no other process holds it.
bool HandOverSegment::attachWithRoomFor(int needed)
{
    if (m_memory.isAttached() && m_memory.size() >= needed)
        return true;
    if (m_memory.isAttached())
        m_memory.detach();
    if (m_memory.create(needed))
        return true;
    if (m_memory.error() == QSharedMemory::AlreadyExists && m_memory.attach()) {
        if (m_memory.size() >= needed)
            return true;
        m_memory.detach();
        if (m_memory.create(needed))
            return true;
    }
    m_error = m_memory.errorString();
    if (m_error.isEmpty() || m_memory.error() == QSharedMemory::NoError)
        m_error = QStringLiteral("the segment is held by another instance and is too small");
    return false;
}

bool HandOverSegment::copyIn(const QByteArray &record)
{
    if (!m_memory.lock()) {
        m_error = m_memory.errorString();
        return false;
    }
    char *data = static_cast<char *>(m_memory.data());
    std::memcpy(data, record.constData(), size_t(record.size()));
    // Whatever a larger earlier record left behind stays beyond the new header's length.
    m_memory.unlock();
    return true;
}
