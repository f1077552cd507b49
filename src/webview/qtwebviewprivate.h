#pragma once

#include "config/appconfig.h"
#include "config/preferencestore.h"
#include "net/downloader.h"
#include "platform/corvidexport.h"
#include "webview/backspacekeypressblocker.h"
#include "webview/clipboardkeypressblocker.h"
#include "webview/contextmenublocker.h"
#include "webview/handoversegment.h"
#include "webview/scriptruntime.h"
#include "webview/viewerstate.h"

#include <QGraphicsView>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <functional>
#include <memory>

class QGraphicsScene;
class QGraphicsWebView;
class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;
class QNetworkRequest;
class SslVerifier;
class QWebFrame;
class QWebInspector;
class PipeChannel;
class PopupHost;
class WifiMonitor;
class WebView;
class ScriptApi;

// The home of the page: a graphics view holding the web view, everything the page needs, the
// load and navigation policy, and the frames that receive the host object.
class CORVID_EXPORT QtWebViewPrivate : public QGraphicsView
{
    Q_OBJECT

public:
    // Starts a program detached; replaced by tests that must not start a real process.
    using ProcessStarter
        = std::function<bool(const QString &program, const QStringList &arguments)>;

    // The page host of view; the platform-neutral view is all it needs of it.
    QtWebViewPrivate(WebView *view, QWidget *viewer);
    ~QtWebViewPrivate() override;

    QGraphicsWebView *webView() const { return m_webView; }
    QWidget *viewer() const { return m_viewer; }
    WebView *view() const { return m_view; }
    // The host object published into the main frame.
    ScriptApi *scriptApi();
    PreferenceStore &preferences() { return m_prefs; }
    const ViewerState &state() const { return m_state; }
    QUrl savedUrl() const { return m_savedUrl; }
    QSet<QUrl> visitedUrls() const { return m_visitedUrls; }
    int loadCount() const { return m_loadCount; }

    void setProcessStarter(const ProcessStarter &starter) { m_startProcess = starter; }
    void setRecoverQuitDelay(int milliseconds) { m_recoverQuitDelay = milliseconds; }
    void setHandOverKey(const QString &key);
    // What the page learns about the host and its folders at the first load.
    void setPageGlobals(const ScriptRuntime::HostInfo &hostInfo,
                        const ScriptRuntime::Folders &folders);
    // Page hosts built after this call take and write their hand-over record under key instead
    // of the shell's own; empty restores the shell's key. A test's peer processes use it so that
    // they neither consume nor leave a record meant for a running shell.
    static void setStartupHandOverKey(const QString &key);

    // Whether a frame at this address may hold the host object: a local file, or exactly a
    // trusted host.
    bool isTrustedUrl(const QUrl &url) const;
    // Whether the document a frame shows may hold the host object, decided from what the engine
    // loaded: the address it was asked for and the origin it gave the document.
    bool isTrustedFrame(QWebFrame *frame) const;
    // Whether the page in the main frame is trusted and was given its host object.
    bool mainFrameHoldsHost() const;

    // The processing flag as a frame sets it; it holds a quit request only while that frame
    // still shows the document that set it.
    void setProcessing(QWebFrame *frame, bool processing);

    // Publishes the host object into frame with its identity; true when QtObj is defined there.
    bool addQtObjToFrame(QWebFrame *frame, QObject *object = nullptr);
    void addQtObjToChildFrames(QWebFrame *frame, const QString &script);
    // A descendant of frame that received the host object under id, or null.
    QWebFrame *findFrameById(QWebFrame *frame, uint id) const;

    // The arguments a frame left in its qtParametersArray for a call too bulky for a slot
    // signature; the array is emptied. False when no published frame has that id.
    bool takeFrameParameters(uint frameId, QVariantList *parameters);

    void saveUrl(const QString &urlStr);
    void evaluateInMainFrame(const QString &script);

    // Checks that a secure connection to address can be made; reports to the callback.
    void verifySsl(const QString &callbackFunc, uint callbackId, const QString &address);
    // Asks the page to load the root certificate at address (over plain HTTP); once it has been
    // saved, it is trusted for this run and address is verified.
    void installTrustedRootCert(const QString &callbackFunc, uint callbackId,
                                const QString &address);
    // The saved root certificate: trusted for this run, then the pending address is verified.
    void installCertificate(const QString &path);
    // One download at a time; options.callbackFunc hears [success, path] at the end.
    void startDownload(const QNetworkRequest &request, const DownloadOptions &options);
    // The downloader, made on first use.
    Downloader *downloader();

    // Without the clipboard the page has no clipboard keys and no context menu; with it, the
    // context menu comes back only where the configuration allows one.
    void setClipboardEnabled(bool enable);
    BackspaceKeyPressBlocker &backspaceBlocker() { return m_backspaceBlocker; }

    // The popup above the page, made on first use.
    PopupHost *popups();
    // The Wi-Fi monitor, made on first use; its reports go to the callback of the call that
    // started it.
    WifiMonitor *wifiMonitor();
    // The automation pipe; null unless the configuration turns one of its reports on.
    PipeChannel *pipe() const { return m_pipe; }
    bool startWifiMonitor(const QString &callbackFunc, uint callbackId);
    bool stopWifiMonitor();

public slots:
    void ensureOnLoadUrl();
    void loadFinished(bool ok);

    void reloadPage();
    void backPage();
    void forwardPage();
    void print();
    void toggleSettings(bool on);
    void clearCache();
    void clearStorage();
    void recover(uint request = 0);
    void clone(bool asChild = true, uint request = 0);
    void showInspector();
    void showInjector();
    void toggleDirectEdit(bool on);
    void showHelp();
    void showAbout();
    void resizeContent();
    void quit();
    void requestQuit();

private slots:
    void addToJavaScript();
    void linkClicked(QWebFrame *frame, const QUrl &url);
    void downloadRequested(const QNetworkRequest &request);
    void unsupportedContent(QNetworkReply *reply);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void setUpPage();
    void setUpPipe();
    void installSubmitListener(const QString &script);
    QWebFrame *appFrame() const;
    void applyHandOver();
    void runFirstLoad();
    void placeStartPage();
    void injectLinkHandling();
    void injectCredentials(QWebFrame *frame);
    // Warns when the local start file still carries hard-coded injection.
    static void checkLocalOnLoadFile(const QUrl &fullOnLoadUrl);
    void markVisitedLinks();
    void grantCrossOriginAccess(QWebFrame *frame);
    ScriptApi *apiFor(QWebFrame *frame);
    // The frame's document is gone: its id and its processing flag go with it.
    void forgetDocument(const QWebFrame *frame);
    QString frameRuntime() const;
    SslVerifier *verifier();
    void verificationFinished(bool verified, const QString &message);
    void downloadFinished(bool success, const QString &path, const QString &callbackFunc);
    // A popup page's message goes to the page's popup-post callback, keys in ascending order.
    void popupPosted(const QString &sourceId, const QString &eventId,
                     const QMap<QString, QString> &fields);

    QGraphicsWebView *m_webView;
    QWidget *m_viewer;
    WebView *m_view;
    QGraphicsScene *m_scene;
    QNetworkAccessManager *m_network;
    QNetworkDiskCache *m_diskCache;
    std::unique_ptr<HandOverSegment> m_handOver;
    ScriptRuntime::HostInfo m_hostInfo;
    ScriptRuntime::Folders m_folders;
    ViewerState m_state;
    AppConfig m_config;
    PreferenceStore m_prefs;
    QWebInspector *m_inspector = nullptr;
    QHash<const QWebFrame *, QPointer<ScriptApi>> m_apis;
    // Compared only, never followed: the frame may be gone.
    const QWebFrame *m_processingFrame = nullptr;
    QSet<QUrl> m_visitedUrls;
    QUrl m_savedUrl;
    uint m_frameCounter = 0;
    QHash<uint, QPointer<QWebFrame>> m_framesById;
    int m_loadCount = 0;
    bool m_firstLoadPending = true;
    bool m_restartStarted = false;
    bool m_startPagePending = false;
    int m_recoverQuitDelay = 5000;
    ProcessStarter m_startProcess;
    ContextMenuBlocker m_contextMenuBlocker;
    ClipboardKeyPressBlocker m_clipboardBlocker;
    BackspaceKeyPressBlocker m_backspaceBlocker;
    Downloader *m_downloader = nullptr;
    SslVerifier *m_verifier = nullptr;
    // The verification slot, shared by verifySsl and installTrustedRootCert.
    QString m_verifyCallbackFunc;
    uint m_verifyCallbackId = 0;
    QString m_verifyAddress;
    // The plain-HTTP address of a root certificate the page asked to install; empty when none
    // is pending. Only this address is ever saved and trusted.
    QUrl m_pendingRootCert;
    // A member, not a child: it goes before the scene does, with the popup it holds.
    std::unique_ptr<PopupHost> m_popups;
    WifiMonitor *m_wifiMonitor = nullptr;
    PipeChannel *m_pipe = nullptr;
    QString m_wifiCallbackFunc;
    uint m_wifiCallbackId = 0;
};
