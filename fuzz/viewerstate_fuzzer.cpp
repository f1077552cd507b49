// Feeds arbitrary bytes to ViewerState::deserialize as a hand-over record: the header, the counts
// and every text must be checked before use, and a record that reads must write out again as one
// that reads to the same state.

#include "webview/viewerstate.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

// An address that does not parse has no text form and travels as the empty address.
bool sameUrl(const QUrl &sent, const QUrl &received)
{
    return sent.isValid() ? received == sent : received.isEmpty();
}

bool sameSnapshots(const QList<PageSnapshot> &sent, const QList<PageSnapshot> &received)
{
    if (received.size() != sent.size())
        return false;
    for (int i = 0; i < sent.size(); ++i) {
        if (received.at(i).content != sent.at(i).content
            || received.at(i).mimeType != sent.at(i).mimeType
            || !sameUrl(sent.at(i).requestedUrl, received.at(i).requestedUrl))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray record
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const ViewerState state = ViewerState::deserialize(record);
    if (!state.restored)
        return 0;
    const ViewerState again = ViewerState::deserialize(state.serialize(false));
    if (!again.restored || again.width != state.width || again.height != state.height
        || again.x != state.x || again.y != state.y || again.minimized != state.minimized
        || again.maximized != state.maximized || again.request != state.request
        || !sameUrl(state.url, again.url)
        || !sameSnapshots(state.pageSnapshots, again.pageSnapshots)
        || again.visitedUrls.size() > state.visitedUrls.size())
        __builtin_trap();
    return 0;
}
