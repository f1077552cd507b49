#pragma once

#include "platform/corvidexport.h"

#include <QObject>
#include <QString>

class SourceFetcher;
class UdpListener;
class WebView;
struct CallResult;

// Platform-neutral state of a web view: the quit protocol with the page, the UDP listener and
// the source fetch. The network members are made when the page first asks for them.
class CORVID_EXPORT WebViewPrivate : public QObject
{
    Q_OBJECT

public:
    explicit WebViewPrivate(WebView *view);
    ~WebViewPrivate() override;

    WebView *view() const { return m_view; }

    bool isProcessing() const { return m_processing; }
    void setProcessing(bool processing) { m_processing = processing; }
    bool isQuitAllowed() const { return m_quitAllowed; }
    void setQuitAllowed(bool allowed) { m_quitAllowed = allowed; }

    // A page function and the id it wants back.
    struct Callback
    {
        QString func;
        uint id = 0;
        bool isSet() const { return !func.isEmpty(); }
    };

    // Told when the shell is about to quit.
    Callback quitRequestCallback() const { return m_quitRequestCallback; }
    void setQuitRequestCallback(const QString &func, uint id)
    {
        m_quitRequestCallback = { func, id };
    }
    // Told when the shell is killed.
    Callback killedCallback() const { return m_killedCallback; }
    void setKilledCallback(const QString &func, uint id) { m_killedCallback = { func, id }; }
    // Where the start file goes each time the page asks for it.
    Callback importCallback() const { return m_importCallback; }
    void setImportCallback(const QString &func, uint id) { m_importCallback = { func, id }; }
    // Hears every message a popup page posts; it stays until the page registers another.
    Callback popupPostCallback() const { return m_popupPostCallback; }
    void setPopupPostCallback(const QString &func, uint id) { m_popupPostCallback = { func, id }; }

    // One step of waiting for the page; tests shorten it.
    int waitStepMs() const { return m_waitStepMs; }
    void setWaitStepMs(int milliseconds) { m_waitStepMs = milliseconds; }

    // The listener once the page has asked for it; null before.
    UdpListener *udpListener() const { return m_udp; }

    void fetchSource(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                     const QString &urlAddress);

public slots:
    void udpListen(const QString &qtKey, const QString &callbackFunc, uint callbackId, uint port);
    void udpStop(const QString &qtKey, const QString &callbackFunc, uint callbackId);

signals:
    // Emitted when the shell quits with exit code 0: the viewer window closes.
    void quitRequested();

private:
    void udpReceived(const QString &text);
    void fetchFinished(const CallResult &result);

    WebView *m_view;
    UdpListener *m_udp = nullptr;
    Callback m_udpCallback;
    SourceFetcher *m_fetcher = nullptr;
    Callback m_fetchCallback;
    bool m_processing = false;
    bool m_quitAllowed = false;
    Callback m_quitRequestCallback;
    Callback m_killedCallback;
    Callback m_importCallback;
    Callback m_popupPostCallback;
    int m_waitStepMs = 1000;
};
