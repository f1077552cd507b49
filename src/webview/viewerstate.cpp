#include "webview/viewerstate.h"

#include <QDataStream>
#include <QPointer>
#include <QTextCodec>
#include <QWebFrame>

namespace {

const QString SnapshotDelimiter = QStringLiteral("__CONTENT_DELIM__");
const QString SnapshotMimeType = QStringLiteral("text/html");
// The delimiter as a URL may hold it: percent-encoded, which reads back as the same URL.
const QString EncodedDelimiter = QStringLiteral("%5F%5FCONTENT%5FDELIM%5F%5F");

constexpr quint32 RecordMagic = ViewerState::RecordMagic;
constexpr int HeaderSize = ViewerState::RecordHeaderSize;

// Pinned so that instances built against different toolkit versions still understand each other.
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_15;

// Every text in the record takes at least its 4-byte length, which bounds a sane count.
bool countFits(qint32 count, const QDataStream &in)
{
    const qint64 left = in.device()->bytesAvailable();
    return count >= 0 && count <= left / 4;
}

bool readText(QDataStream &in, QString *text)
{
    in >> *text;
    return in.status() == QDataStream::Ok;
}

void collectFrom(QWebFrame *frame, QList<PageSnapshot> *snapshots)
{
    const QList<QWebFrame *> children = frame->childFrames();
    for (QWebFrame *child : children) {
        snapshots->append(PageSnapshot { child->toHtml().toLocal8Bit(), SnapshotMimeType,
                                         child->requestedUrl() });
        collectFrom(child, snapshots);
    }
}

// Setting a frame's content replaces its child frames, so the walk goes down only after the
// content is set, and guards every frame against being deleted under it.
void restoreInto(QWebFrame *frame, const QList<PageSnapshot> &snapshots, int *next)
{
    const QList<QWebFrame *> children = frame->childFrames();
    QList<QPointer<QWebFrame>> guarded;
    for (QWebFrame *child : children)
        guarded.append(child);
    for (const QPointer<QWebFrame> &child : qAsConst(guarded)) {
        if (*next >= snapshots.size())
            return;
        if (!child)
            continue;
        const PageSnapshot &snapshot = snapshots.at((*next)++);
        child->setContent(snapshot.content, snapshot.mimeType, snapshot.requestedUrl);
        if (child)
            restoreInto(child, snapshots, next);
    }
}

} // namespace

bool PageSnapshot::operator==(const PageSnapshot &other) const
{
    return content == other.content && mimeType == other.mimeType
        && requestedUrl == other.requestedUrl;
}

QString PageSnapshot::toText() const
{
    // fromText takes everything after the last delimiter as the URL, so the URL must not hold one.
    QString url = requestedUrl.toString();
    url.replace(SnapshotDelimiter, EncodedDelimiter);
    // Sized decoding, so HTML holding a NUL is not cut short there, and one that keeps a leading
    // byte-order mark, which the plain conversion drops: the page must arrive byte for byte.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForLocale()->toUnicode(content.constData(), content.size(), &state)
        + SnapshotDelimiter + mimeType + SnapshotDelimiter + url;
}

bool PageSnapshot::fromText(const QString &text, PageSnapshot *snapshot)
{
    *snapshot = PageSnapshot();
    const int urlDelimiter = text.lastIndexOf(SnapshotDelimiter);
    if (urlDelimiter < 0)
        return false;
    const int searchFrom = urlDelimiter - SnapshotDelimiter.size();
    const int mimeDelimiter = searchFrom < 0 ? -1 : text.lastIndexOf(SnapshotDelimiter, searchFrom);
    if (mimeDelimiter < 0)
        return false;
    const int mimeStart = mimeDelimiter + SnapshotDelimiter.size();
    snapshot->content = text.left(mimeDelimiter).toLocal8Bit();
    snapshot->mimeType = text.mid(mimeStart, urlDelimiter - mimeStart);
    snapshot->requestedUrl = QUrl(text.mid(urlDelimiter + SnapshotDelimiter.size()));
    return true;
}

ViewerState ViewerState::fromWindow(QWidget *window, const QUrl &url, bool asChild,
                                    OnLoadRequest request)
{
    ViewerState state;
    state.window = window;
    state.url = url;
    state.asChild = asChild;
    state.request = request;
    if (window) {
        const QRect geometry = window->geometry();
        state.width = geometry.right() - geometry.left() + 1;
        state.height = geometry.bottom() - geometry.top() + 1;
        state.x = window->x();
        state.y = window->y();
        state.minimized = window->isMinimized();
        state.maximized = window->isMaximized();
    }
    return state;
}

QByteArray ViewerState::serialize(bool newWindowIsClone) const
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out << width << height;
    if (asChild) {
        out << qint32(x + ChildOffset) << qint32(y + ChildOffset) << false << false
            << (newWindowIsClone ? url.toString() : QString());
    } else {
        out << x << y << minimized << maximized << url.toString();
    }
    out << qint32(pageSnapshots.size());
    for (const PageSnapshot &snapshot : pageSnapshots)
        out << snapshot.toText();
    out << qint32(visitedUrls.size());
    for (const QUrl &visited : visitedUrls)
        out << visited.toString();
    out << qint32(request);

    QByteArray record;
    QDataStream header(&record, QIODevice::WriteOnly);
    header << RecordMagic << quint32(body.size());
    return record + body;
}

ViewerState ViewerState::deserialize(const QByteArray &record)
{
    if (record.size() < HeaderSize)
        return ViewerState();
    QDataStream header(record);
    quint32 magic = 0;
    quint32 length = 0;
    header >> magic >> length;
    if (magic != RecordMagic || length > quint32(record.size() - HeaderSize))
        return ViewerState();

    QDataStream in(record.mid(HeaderSize, int(length)));
    in.setVersion(StreamVersion);
    ViewerState state;
    QString urlText;
    in >> state.width >> state.height >> state.x >> state.y >> state.minimized >> state.maximized;
    if (!readText(in, &urlText))
        return ViewerState();
    state.url = QUrl(urlText);

    qint32 snapshotCount = 0;
    in >> snapshotCount;
    if (in.status() != QDataStream::Ok || !countFits(snapshotCount, in))
        return ViewerState();
    for (qint32 i = 0; i < snapshotCount; ++i) {
        QString text;
        PageSnapshot snapshot;
        if (!readText(in, &text) || !PageSnapshot::fromText(text, &snapshot))
            return ViewerState();
        state.pageSnapshots.append(snapshot);
    }

    qint32 visitedCount = 0;
    in >> visitedCount;
    if (in.status() != QDataStream::Ok || !countFits(visitedCount, in))
        return ViewerState();
    for (qint32 i = 0; i < visitedCount; ++i) {
        QString text;
        if (!readText(in, &text))
            return ViewerState();
        state.visitedUrls.insert(QUrl(text));
    }

    qint32 request = 0;
    in >> request;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return ViewerState();
    state.request = OnLoadRequest(request);
    state.restored = true;
    return state;
}

void ViewerState::collectSnapshots(QWebFrame *mainFrame)
{
    pageSnapshots.clear();
    if (mainFrame)
        collectFrom(mainFrame, &pageSnapshots);
}

int ViewerState::restoreSnapshots(QWebFrame *mainFrame) const
{
    int next = 0;
    if (mainFrame)
        restoreInto(mainFrame, pageSnapshots, &next);
    return next;
}

void ViewerState::applyToWindow(QWidget *target) const
{
    if (!target)
        return;
    target->move(x, y);
    target->resize(width, height);
    if (maximized)
        target->showMaximized();
    else if (minimized)
        target->showMinimized();
    else
        target->showNormal();
}
