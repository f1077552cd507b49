#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QWidget>

class QWebFrame;

// What a freshly started instance does at start, beyond taking over the window.
using OnLoadRequest = uint;
constexpr OnLoadRequest OnLoadNothing = 0;
constexpr OnLoadRequest OnLoadClearStorage = 1;

// The content of one child frame, put back into the new instance's frame tree.
struct CORVID_EXPORT PageSnapshot
{
    QByteArray content; // the frame's HTML in the local 8-bit encoding
    QString mimeType;
    QUrl requestedUrl;

    bool operator==(const PageSnapshot &other) const;

    // content, delimiter, MIME type, delimiter, requested URL: the record's form of a snapshot.
    QString toText() const;
    // Splits at the last two delimiters, since page HTML may itself contain the delimiter.
    // False (and an empty snapshot) when the text holds fewer than two delimiters.
    static bool fromText(const QString &text, PageSnapshot *snapshot);
};

// Window and page state handed from a running instance to the instance it starts.
class CORVID_EXPORT ViewerState final
{
public:
    // The window whose geometry is taken; never transferred.
    QPointer<QWidget> window;
    QUrl url;
    bool asChild = false;
    OnLoadRequest request = OnLoadNothing;
    QList<PageSnapshot> pageSnapshots;
    QSet<QUrl> visitedUrls;
    qint32 width = 0;
    qint32 height = 0;
    qint32 x = 0;
    qint32 y = 0;
    bool minimized = false;
    bool maximized = false;
    // True only for a record read from a hand-over; never transferred.
    bool restored = false;

    // Child windows open this far right of and below the window that starts them.
    static constexpr int ChildOffset = 50;
    // A record starts with RecordMagic and the length of the rest (both quint32, big-endian),
    // which tells it from leftover or foreign bytes and says where it ends.
    static constexpr quint32 RecordMagic = 0x4356484f; // "CVHO"
    static constexpr int RecordHeaderSize = 8;

    // Takes the geometry and state of window; snapshots and visited URLs are added by the caller.
    static ViewerState fromWindow(QWidget *window, const QUrl &url, bool asChild,
                                  OnLoadRequest request);

    // The hand-over record with its header. A child window is placed ChildOffset pixels away in
    // normal state and gets the URL only when newWindowIsClone is true.
    QByteArray serialize(bool newWindowIsClone) const;
    // The state in a record made by serialize(), marked restored; defaults (not restored) when the
    // record is empty, short, malformed or names more entries than it holds.
    static ViewerState deserialize(const QByteArray &record);

    // Takes the HTML of every descendant frame of mainFrame, depth first in child order.
    void collectSnapshots(QWebFrame *mainFrame);
    // Gives the i-th descendant of mainFrame (depth first in child order) the i-th snapshot;
    // frames beyond the snapshots keep their content. Returns the number of frames given one.
    int restoreSnapshots(QWebFrame *mainFrame) const;

    // Moves and resizes window to the stored geometry and shows it in the stored state
    // (maximized wins over minimized).
    void applyToWindow(QWidget *window) const;
};
