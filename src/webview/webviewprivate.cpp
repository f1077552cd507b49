#include "webview/webviewprivate.h"

#include "net/sourcefetcher.h"
#include "net/udplistener.h"
#include "webview/webview.h"

#include <QDir>
#include <QUrl>

namespace {

enum UdpError { UdpBusy = 1000, UdpInvalidPort = 1001, UdpBindFailed = 1002 };
enum FetchError { FetchOffline = 1000 };

} // namespace

WebViewPrivate::WebViewPrivate(WebView *view)
    : QObject(view)
    , m_view(view)
{
    connect(view, &WebView::udpListenRequested, this, &WebViewPrivate::udpListen);
    connect(view, &WebView::udpStopRequested, this, &WebViewPrivate::udpStop);
}

WebViewPrivate::~WebViewPrivate()
{
    disconnect(m_view, nullptr, this, nullptr);
}

void WebViewPrivate::udpListen(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                               uint port)
{
    if (!m_view->checkAccessKey(qtKey, true))
        return;
    if (!m_udp) {
        m_udp = new UdpListener(this);
        connect(m_udp, &UdpListener::received, this, &WebViewPrivate::udpReceived);
    }
    switch (m_udp->listen(port)) {
    case UdpListener::AlreadyListening:
        m_view->respondError(callbackFunc, callbackId, UdpBusy,
                             QStringLiteral("Already Listening For UDP Broadcasts."));
        return;
    case UdpListener::InvalidPort:
        m_view->respondError(callbackFunc, callbackId, UdpInvalidPort,
                             QStringLiteral("Invalid Port."));
        return;
    case UdpListener::BindFailed:
        m_view->respondError(callbackFunc, callbackId, UdpBindFailed,
                             QStringLiteral("Could not bind UDP port."));
        return;
    case UdpListener::Listening:
        break;
    }
    m_udpCallback = { callbackFunc, callbackId };
    if (m_view->isUdpEmulated() && m_view->platform() == WebView::AndroidPlatform)
        m_udp->emulateFrom(QDir(m_view->storageDirPath()).filePath(QStringLiteral("udp.txt")),
                           2000);
}

void WebViewPrivate::udpStop(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (!m_view->checkAccessKey(qtKey, true))
        return;
    if (!m_udp || !m_udp->stop()) {
        m_view->respondError(callbackFunc, callbackId, UdpBusy,
                             QStringLiteral("Not Listening For UDP Broadcasts."));
        return;
    }
    m_udpCallback = {};
    m_view->respondSuccess(callbackFunc, callbackId);
}

void WebViewPrivate::udpReceived(const QString &text)
{
    // Every datagram goes to the callback that started listening, until the page stops.
    if (m_udpCallback.isSet())
        m_view->respondSuccess(m_udpCallback.func, m_udpCallback.id, text, QStringList());
}

void WebViewPrivate::fetchSource(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                                 const QString &urlAddress)
{
    if (!m_view->checkAccessKey(qtKey, true))
        return;
    const QUrl url(urlAddress, QUrl::TolerantMode);
    // A server on this machine answers without a network connection.
    if (SourceFetcher::needsNetwork(url) && !m_view->isOnline()) {
        m_view->respondError(
            callbackFunc, callbackId, FetchOffline,
            QStringLiteral("Cannot connect to the server. Please check your internet connection."));
        return;
    }
    if (!m_fetcher) {
        m_fetcher = new SourceFetcher(this);
        connect(m_fetcher, &SourceFetcher::finished, this, &WebViewPrivate::fetchFinished);
    }
    m_fetchCallback = { callbackFunc, callbackId };
    m_fetcher->fetch(url);
}

void WebViewPrivate::fetchFinished(const CallResult &result)
{
    const Callback callback = m_fetchCallback;
    m_fetchCallback = {};
    if (callback.isSet())
        m_view->respondResult(callback.func, callback.id, result);
}
