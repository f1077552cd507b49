#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QSharedMemory>
#include <QString>

class QWidget;

// The shared memory segment through which a running instance hands a ViewerState record to the
// instance it starts. The record carries its own header (see ViewerState::serialize), which
// take() uses to know how much of the segment is the record.
//
// A segment vanishes when the last process detaches from it, so the writing instance must keep
// its HandOverSegment alive until the new instance has read the record: a replaced instance
// quits only 5 seconds after starting its successor, and a child window's parent keeps running.
// The reader detaches right after reading, so that a later, larger record can recreate the
// segment.
class CORVID_EXPORT HandOverSegment final
{
public:
    // The key every instance of the shell uses by default.
    static QString defaultKey();

    // Tests pass their own key so that they never meet a running shell.
    explicit HandOverSegment(const QString &key = defaultKey());
    ~HandOverSegment();

    HandOverSegment(const HandOverSegment &) = delete;
    HandOverSegment &operator=(const HandOverSegment &) = delete;

    // Copies record into the segment, creating it at the needed size when this object holds
    // none, and recreating it when the held one is too small (a record is never cut short).
    // False when no segment of the needed size can be had; nothing is shown to the user.
    bool write(const QByteArray &record);
    // write(), and on failure the critical box "Error" / "Unable to create shared memory
    // segment." through the current prompter, with parent as the box's parent.
    bool writeOrReport(const QByteArray &record, QWidget *parent);

    // The record left in the segment, or empty when there is none. The record is consumed: its
    // header is cleared under the lock, so a later start does not apply it again.
    QByteArray take();

    // Why the last write() failed.
    QString errorString() const { return m_error; }
    bool isAttached() const { return m_memory.isAttached(); }
    int size() const { return m_memory.isAttached() ? m_memory.size() : 0; }

private:
    bool attachWithRoomFor(int needed);
    bool copyIn(const QByteArray &record);

    QSharedMemory m_memory;
    QString m_error;
};
