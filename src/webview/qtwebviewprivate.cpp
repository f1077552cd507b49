#include "webview/qtwebviewprivate.h"

#include "config/logsettings.h"
#include "net/pipechannel.h"
#include "net/sslverifier.h"
#include "net/wifimonitor.h"
#include "platform/logger.h"
#include "platform/platformpaths.h"
#include "platform/prompter.h"
#include "platform/scriptprotocol.h"
#include "services/directoryoperations.h"
#include "webview/helpbrowserdialog.h"
#include "webview/jsinjectordialog.h"
#include "webview/patchedwebviewstyle.h"
#include "webview/popuphost.h"
#include "webview/scriptapi.h"
#include "webview/scriptruntime.h"
#include "webview/webpage.h"
#include "webview/webview.h"
#include "webview/webviewprivate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsWebView>
#include <QIcon>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QPrinter>
#include <QProcess>
#include <QResizeEvent>
#include <QTextStream>
#include <QTimer>
#include <QWebElement>
#include <QWebFrame>
#include <QWebHistory>
#include <QWebInspector>
#include <QWebPage>
#include <QWebSecurityOrigin>
#include <QWebSettings>

#include <algorithm>

// The page's images and style data are compiled into this layer's static library, whose
// resources the linker keeps only when something asks for them.
static void registerWebViewResources()
{
    Q_INIT_RESOURCE(webview);
}

namespace {

const QString ContentFrameName = QStringLiteral("contentFrame");

QWebFrame *childNamed(QWebFrame *frame, const QString &name)
{
    const QList<QWebFrame *> children = frame->childFrames();
    for (QWebFrame *child : children) {
        if (child->frameName() == name)
            return child;
    }
    return nullptr;
}

bool evaluatesTrue(QWebFrame *frame, const QString &script)
{
    return frame->evaluateJavaScript(script).toBool();
}

// Whether frame or a frame below it shows the document that url points into. The engine hands
// over links resolved against their page, so a link to "#" arrives as that page's own address.
bool showsDocumentOf(QWebFrame *frame, const QUrl &url)
{
    if (frame->baseUrl().adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment))
        return true;
    const QList<QWebFrame *> children = frame->childFrames();
    return std::any_of(children.cbegin(), children.cend(),
                       [&url](QWebFrame *child) { return showsDocumentOf(child, url); });
}

bool isDescendant(QWebFrame *frame, QWebFrame *ancestor)
{
    for (QObject *up = frame ? frame->parent() : nullptr; up; up = up->parent()) {
        if (up == ancestor)
            return true;
    }
    return false;
}

// Names of the style properties compared when marking visited links.
const QStringList &styleProperties()
{
    static const QStringList names = [] {
        QStringList list;
        QFile file(QStringLiteral(":/data/resources/css_properties.dat"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return list;
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const QString name = line.section(QLatin1Char(':'), 0, 0).trimmed();
            if (!name.isEmpty() && !list.contains(name))
                list.append(name);
        }
        return list;
    }();
    return names;
}

QString &startupHandOverKey()
{
    static QString key;
    return key;
}

bool defaultStartDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace

QtWebViewPrivate::QtWebViewPrivate(WebView *view, QWidget *viewer)
    : QGraphicsView(view)
    , m_webView(new QGraphicsWebView)
    , m_viewer(viewer)
    , m_view(view)
    , m_scene(new QGraphicsScene(this))
    , m_network(new QNetworkAccessManager(this))
    , m_diskCache(new QNetworkDiskCache(this))
    , m_handOver(std::make_unique<HandOverSegment>(
          startupHandOverKey().isEmpty() ? HandOverSegment::defaultKey() : startupHandOverKey()))
    , m_config(AppConfig::openForShell())
    , m_startProcess(defaultStartDetached)
{
    registerWebViewResources();
    LogSettings::startUp(Logger::instance(), m_config, m_prefs, PlatformPaths::tempFolder());
    auto *page = new WebPage(m_webView);
    m_webView->setPage(page);

    setScene(m_scene);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_webView->setAcceptTouchEvents(true);
    m_webView->setAcceptHoverEvents(true);
    m_webView->setObjectName(QStringLiteral("m_webView"));
    m_scene->addItem(m_webView);
    m_scene->setActiveWindow(m_webView);
    connect(m_webView->page()->mainFrame(), &QWebFrame::javaScriptWindowObjectCleared, this,
            &QtWebViewPrivate::addToJavaScript);

    QCoreApplication::setApplicationVersion(m_config.appVersion());
    QCoreApplication::setOrganizationName(m_config.companyName());
    QCoreApplication::setApplicationName(m_config.appTitle());
    QGuiApplication::setApplicationDisplayName(m_config.appTitle());
    if (!qobject_cast<PatchedWebViewStyle *>(QApplication::style()))
        QApplication::setStyle(new PatchedWebViewStyle);
    m_viewer->setWindowIcon(QIcon(AppConfig::dataPath(AppConfig::iconPath())));

    QWebSettings *settings = m_webView->settings();
    settings->setAttribute(QWebSettings::AutoLoadImages, true);
    settings->setAttribute(QWebSettings::PluginsEnabled, m_config.plugginsEnabled());
    if (!m_config.crossDomainRestriction())
        settings->setAttribute(QWebSettings::LocalContentCanAccessRemoteUrls, true);

    applyHandOver();
    if (!m_state.restored) {
        m_viewer->resize(AppConfig::defaultWindowWidth(), AppConfig::defaultWindowHeight());
        if (m_config.onLoadMaximize())
            m_viewer->setWindowState(m_viewer->windowState() | Qt::WindowMaximized);
    }

    if (m_savedUrl.isEmpty()) {
        QTimer::singleShot(m_config.udpWaitSecs() * 1000, this, &QtWebViewPrivate::ensureOnLoadUrl);
    } else {
        evaluateInMainFrame(QStringLiteral("onLoadUrl = '")
                            + WebView::escapeForScript(m_savedUrl.toString())
                            + QStringLiteral("';"));
    }

    setUpPage();

    connect(m_webView, &QGraphicsWebView::loadFinished, this, &QtWebViewPrivate::loadFinished);
    page->setLinkDelegationPolicy(QWebPage::DelegateExternalLinks);
    connect(page, &WebPage::frameLinkClicked, this, &QtWebViewPrivate::linkClicked);
    if (!m_config.contextMenuEnabled())
        m_webView->installEventFilter(&m_contextMenuBlocker);
    setClipboardEnabled(m_config.clipboardEnabled());
    m_backspaceBlocker.setTarget(m_webView);
    m_webView->installEventFilter(&m_backspaceBlocker);
    setUpPipe();
    page->setForwardUnsupportedContent(true);
    connect(page, &QWebPage::downloadRequested, this, &QtWebViewPrivate::downloadRequested);
    connect(page, &QWebPage::unsupportedContent, this, &QtWebViewPrivate::unsupportedContent);
}

QtWebViewPrivate::~QtWebViewPrivate()
{
    // The page outlives this object's members: it is destroyed with the scene, and stopping a
    // load still in progress then reports a finished load. No slot may run on a host that is
    // half gone.
    if (m_pipe)
        m_pipe->shutdown();
    m_webView->page()->mainFrame()->disconnect(this);
    m_webView->page()->disconnect(this);
    m_webView->disconnect(this);
    for (const QPointer<ScriptApi> &api : qAsConst(m_apis)) {
        if (QWebFrame *frame = api ? api->frame() : nullptr)
            frame->disconnect(this);
    }
}

void QtWebViewPrivate::evaluateInMainFrame(const QString &script)
{
    m_webView->page()->mainFrame()->evaluateJavaScript(script);
}

void QtWebViewPrivate::setUpPage()
{
    QWebSettings::setMaximumPagesInCache(0);
    QWebSettings::setObjectCacheCapacities(0, 0, 0);
    m_diskCache->setCacheDirectory(AppConfig::dataPath(AppConfig::cacheDirName()));
    m_network->setCache(m_diskCache);
    m_webView->page()->setNetworkAccessManager(m_network);
    if (m_config.localStorageEnabled()) {
        QWebSettings *global = QWebSettings::globalSettings();
        global->setAttribute(QWebSettings::LocalStorageEnabled, true);
        global->setAttribute(QWebSettings::OfflineStorageDatabaseEnabled, true);
        global->enablePersistentStorage(AppConfig::dataPath(AppConfig::storageDirName()));
    }
    const QStringList scripts = m_config.settingsPageScripts();
    for (const QString &script : scripts)
        evaluateInMainFrame(script);
    if (!m_config.helpIsCollection()) {
        evaluateInMainFrame(QStringLiteral("var helpPageUrl = '../help/")
                            + WebView::escapeForScript(m_config.helpDocDesktop())
                            + QStringLiteral("';"));
    }
}

void QtWebViewPrivate::setHandOverKey(const QString &key)
{
    m_handOver = std::make_unique<HandOverSegment>(key);
}

void QtWebViewPrivate::setPageGlobals(const ScriptRuntime::HostInfo &hostInfo,
                                      const ScriptRuntime::Folders &folders)
{
    m_hostInfo = hostInfo;
    m_folders = folders;
}

void QtWebViewPrivate::setStartupHandOverKey(const QString &key)
{
    startupHandOverKey() = key;
}

void QtWebViewPrivate::applyHandOver()
{
    const QByteArray record = m_handOver->take();
    if (record.isEmpty())
        return;
    ViewerState handed = ViewerState::deserialize(record);
    if (!handed.restored)
        return;
    m_state = handed;
    m_state.applyToWindow(m_viewer);
    saveUrl(QStringLiteral("blank.html"));
    m_visitedUrls.unite(m_state.visitedUrls);
    if (m_state.request == OnLoadClearStorage)
        DirectoryOperations::clearContents(AppConfig::dataPath(AppConfig::storageDirName()));
}

bool QtWebViewPrivate::isTrustedUrl(const QUrl &url) const
{
    if (url.isLocalFile())
        return true;
    const QString host = url.host(QUrl::FullyDecoded);
    return !host.isEmpty() && m_config.trustedHosts().contains(host);
}

bool QtWebViewPrivate::isTrustedFrame(QWebFrame *frame) const
{
    // Never the base address: any page declares one. The requested address tells a document
    // the page wrote itself (about:blank, about:srcdoc, data:) from one loaded from a trusted
    // place; the origin catches what the address cannot show, such as a sandbox (which makes
    // the origin unique) or a redirect to another host.
    if (!frame)
        return false;
    const QUrl requested = frame->requestedUrl();
    const QWebSecurityOrigin origin = frame->securityOrigin();
    const QString scheme = origin.scheme();
    if (scheme == QLatin1String("file"))
        return requested.isLocalFile();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    const QUrl originUrl(scheme + QStringLiteral("://") + origin.host());
    return isTrustedUrl(originUrl) && !requested.isLocalFile() && isTrustedUrl(requested);
}

ScriptApi *QtWebViewPrivate::scriptApi()
{
    return apiFor(m_webView->page()->mainFrame());
}

bool QtWebViewPrivate::mainFrameHoldsHost() const
{
    QWebFrame *main = m_webView->page()->mainFrame();
    return m_apis.contains(main) && isTrustedFrame(main);
}

ScriptApi *QtWebViewPrivate::apiFor(QWebFrame *frame)
{
    QPointer<ScriptApi> &api = m_apis[frame];
    if (!api) {
        api = new ScriptApi(this, frame);
        connect(frame, &QObject::destroyed, this, [this, frame] {
            forgetDocument(frame);
            if (ScriptApi *gone = m_apis.take(frame))
                gone->release();
        });
    }
    return api;
}

void QtWebViewPrivate::forgetDocument(const QWebFrame *frame)
{
    for (auto it = m_framesById.begin(); it != m_framesById.end();)
        it = it.value() == frame ? m_framesById.erase(it) : std::next(it);
    if (frame == m_processingFrame)
        setProcessing(nullptr, false);
}

void QtWebViewPrivate::setProcessing(QWebFrame *frame, bool processing)
{
    m_processingFrame = processing ? frame : nullptr;
    m_view->webViewPrivate()->setProcessing(processing);
}

void QtWebViewPrivate::saveUrl(const QString &urlStr)
{
    m_savedUrl = QUrl(urlStr, QUrl::TolerantMode);
    m_visitedUrls.insert(m_savedUrl);
}

void QtWebViewPrivate::ensureOnLoadUrl()
{
    if (!m_savedUrl.isEmpty() && m_savedUrl != QUrl(QStringLiteral("blank.html"))
        && m_savedUrl != QUrl(AppConfig::blankPagePath()))
        return;
    if (m_config.useUdpOnLoadUrl()) {
        evaluateInMainFrame(QStringLiteral(
            "if ( typeof(stopListeningForOnLoadUrl) == 'function' ) stopListeningForOnLoadUrl();"));
        Prompter::current().warning(
            m_viewer, QStringLiteral("UDP Failure"),
            QStringLiteral(
                "A Dynamic Address Could Not Be Acquired.\nLoading A Default Instead..."));
    }
    m_savedUrl = m_config.fullOnLoadUrl();
    m_visitedUrls.insert(m_savedUrl);
    evaluateInMainFrame(QStringLiteral("onLoadUrl = '")
                        + WebView::escapeForScript(m_savedUrl.toString()) + QStringLiteral("';"));
    placeStartPage();
}

void QtWebViewPrivate::placeStartPage()
{
    // With a short wait the container page may not have built its content frame yet; the start
    // page then goes in as soon as the container has loaded.
    QWebFrame *content = childNamed(m_webView->page()->mainFrame(), ContentFrameName);
    m_startPagePending = !content;
    if (content)
        content->setUrl(m_savedUrl);
}

void QtWebViewPrivate::loadFinished(bool ok)
{
    Q_UNUSED(ok)
    ++m_loadCount;
    const int limit = m_config.maxPagesInMemory();
    if (limit >= 1 && m_loadCount >= limit) {
        // One successor only, however many loads finish before this instance quits.
        if (!m_restartStarted) {
            m_restartStarted = true;
            recover(OnLoadNothing);
        }
        return;
    }
    if (m_firstLoadPending) {
        m_firstLoadPending = false;
        runFirstLoad();
    }
    if (m_startPagePending)
        placeStartPage();
    injectLinkHandling();
    // A top window that script sent to an untrusted host is in charge of every frame below it
    // (it can post them callbacks as the top window), so none of them is published into.
    QWebFrame *main = m_webView->page()->mainFrame();
    if (isTrustedFrame(main))
        addQtObjToChildFrames(main, frameRuntime());
    markVisitedLinks();
    m_webView->setVisible(true);
    m_webView->setFocus();
    if (m_pipe)
        m_pipe->pageLoaded(appFrame()->requestedUrl());
}

void QtWebViewPrivate::runFirstLoad()
{
    QWebFrame *main = m_webView->page()->mainFrame();
    if (addQtObjToFrame(main))
        main->evaluateJavaScript(frameRuntime());

    const QUrl fullUrl = m_config.fullOnLoadUrl();
    if (fullUrl.scheme() == QLatin1String("file"))
        checkLocalOnLoadFile(fullUrl);

    evaluateInMainFrame(ScriptRuntime::mainFrameGlobals(fullUrl, m_hostInfo, m_folders));
    // The settings form variables set while the view was built did not survive the container
    // page's load; set them again now that the page is there.
    const QStringList settingsScripts = m_config.settingsPageScripts();
    for (const QString &script : settingsScripts)
        evaluateInMainFrame(script);
    evaluateInMainFrame(ScriptRuntime::trustedHostsScript(m_config.trustedHosts()));
    m_view->generateAccessKey();
    // The container listens for the start address until one arrives or the wait is over.
    if (m_config.useUdpOnLoadUrl() && m_savedUrl.isEmpty()) {
        evaluateInMainFrame(QStringLiteral("listenForOnLoadUrl(")
                            + QString::number(m_config.udpListeningPort()) + QStringLiteral(");"));
    }

    const QString startUrl = m_config.onLoadUrl().toString().trimmed().toLower();
    const QString blankUrl = QUrl::fromLocalFile(AppConfig::dataPath(AppConfig::blankPagePath()))
                                 .toString()
                                 .trimmed()
                                 .toLower();
    bool snapshotsRestored = false;
    const QList<QWebFrame *> children = main->childFrames();
    for (QWebFrame *child : children) {
        const QString base = child->requestedUrl().toString().toLower();
        if (base != startUrl && base != blankUrl)
            continue;
        if (m_state.restored && !snapshotsRestored) {
            m_state.restoreSnapshots(main);
            snapshotsRestored = true;
        }
        if (!(m_state.restored && m_config.newWindowIsClone()))
            injectCredentials(child);
    }
}

void QtWebViewPrivate::checkLocalOnLoadFile(const QUrl &fullOnLoadUrl)
{
    const QString path = fullOnLoadUrl.toLocalFile();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug().noquote() << QStringLiteral("Can't read the local onLoad file: ") + path;
        return;
    }
    if (QString::fromUtf8(file.readAll()).contains(ScriptProtocol::injectionMarker()))
        qDebug("*** Hard JavaScript injection must be removed from the local onLoad file! ***");
}

void QtWebViewPrivate::injectCredentials(QWebFrame *frame)
{
    if (!m_config.onLoadInjectCredentials())
        return;
    frame->evaluateJavaScript(
        ScriptRuntime::credentialsScript(m_config.onLoadUsername(), m_config.onLoadPassword()));
}

void QtWebViewPrivate::injectLinkHandling()
{
    QWebFrame *main = m_webView->page()->mainFrame();
    const QString clickScript = ScriptRuntime::frameClickScript();
    if (!evaluatesTrue(main, QStringLiteral("ret = ( typeof(receiveMessage) != 'undefined' );"))) {
        main->evaluateJavaScript(ScriptRuntime::topReceiverScript());
        main->evaluateJavaScript(clickScript);
    }
    std::function<void(QWebFrame *)> walk = [&](QWebFrame *frame) {
        const QList<QWebFrame *> children = frame->childFrames();
        for (QWebFrame *child : children) {
            child->evaluateJavaScript(clickScript);
            walk(child);
        }
    };
    walk(main);
}

QString QtWebViewPrivate::frameRuntime() const
{
    return ScriptRuntime::frameRuntime(m_hostInfo);
}

void QtWebViewPrivate::addToJavaScript()
{
    QWebFrame *main = m_webView->page()->mainFrame();
    forgetDocument(main);
    // Script can send the top window anywhere without passing the link policy; the page it
    // lands on must not inherit the host object.
    if (!isTrustedFrame(main))
        return;
    addQtObjToFrame(main);
}

bool QtWebViewPrivate::addQtObjToFrame(QWebFrame *frame, QObject *object)
{
    // First, so that an untrusted page declaring a QtObj of its own never passes for published.
    if (!isTrustedFrame(frame))
        return false;
    const QString defined = QStringLiteral("ret = ( typeof(QtObj) != 'undefined' );");
    if (evaluatesTrue(frame, defined))
        return true;
    frame->addToJavaScriptWindowObject(QStringLiteral("QtObj"), object ? object : apiFor(frame),
                                       QWebFrame::QtOwnership);
    const uint id = m_frameCounter++;
    m_framesById.insert(id, frame);
    if (frame->parentFrame()) {
        // The id belongs to this document only: whatever the frame shows next (perhaps a page
        // from an untrusted host) must not be found under it.
        disconnect(frame, &QWebFrame::javaScriptWindowObjectCleared, this, nullptr);
        connect(frame, &QWebFrame::javaScriptWindowObjectCleared, this,
                [this, frame] { forgetDocument(frame); });
    }
    int parentId = 0;
    QUrl parentUrl = frame->url();
    if (QWebFrame *parent = frame->parentFrame()) {
        parentId = parent
                       ->evaluateJavaScript(
                           QStringLiteral("ret = typeof(frameId) == 'function' ? frameId() : -1;"))
                       .toInt();
        parentUrl = parent->url();
    }
    frame->evaluateJavaScript(
        ScriptRuntime::frameIdentityScript(id, frame->url(), parentId, parentUrl));
    grantCrossOriginAccess(frame);
    return evaluatesTrue(frame, defined);
}

void QtWebViewPrivate::grantCrossOriginAccess(QWebFrame *frame)
{
    const auto subdomains = m_config.shellAccessOtherSubdomains()
        ? QWebSecurityOrigin::AllowSubdomains
        : QWebSecurityOrigin::DisallowSubdomains;
    QWebSecurityOrigin origin = frame->securityOrigin();
    const QStringList hosts = m_config.trustedHosts();
    for (const QString &host : hosts) {
        origin.addAccessWhitelistEntry(QStringLiteral("http"), host, subdomains);
        origin.addAccessWhitelistEntry(QStringLiteral("https"), host, subdomains);
    }
}

void QtWebViewPrivate::addQtObjToChildFrames(QWebFrame *frame, const QString &script)
{
    const QList<QWebFrame *> children = frame->childFrames();
    for (QWebFrame *child : children) {
        if (!isTrustedFrame(child))
            continue;
        if (addQtObjToFrame(child))
            child->evaluateJavaScript(script);
        addQtObjToChildFrames(child, script);
    }
}

QWebFrame *QtWebViewPrivate::findFrameById(QWebFrame *frame, uint id) const
{
    // Answered from the frames the host itself published into, never from what a frame's own
    // script claims its id to be.
    QWebFrame *found = m_framesById.value(id);
    return isDescendant(found, frame) ? found : nullptr;
}

bool QtWebViewPrivate::takeFrameParameters(uint frameId, QVariantList *parameters)
{
    QWebFrame *frame = findFrameById(m_webView->page()->mainFrame(), frameId);
    if (!frame)
        return false;
    const int count
        = frame->evaluateJavaScript(QStringLiteral("ret = window.qtParametersArray.length;"))
              .toInt();
    parameters->clear();
    for (int i = 0; i < count; ++i) {
        parameters->append(
            frame->evaluateJavaScript(QStringLiteral("ret = window.qtParametersArray[")
                                      + QString::number(i) + QStringLiteral("];")));
    }
    frame->evaluateJavaScript(QStringLiteral("window.qtParametersArray=[];"));
    return true;
}

void QtWebViewPrivate::linkClicked(QWebFrame *frame, const QUrl &url)
{
    if (m_config.crossDomainRestriction()
        && m_config.onLoadUrl().host(QUrl::FullyDecoded) != url.host(QUrl::FullyDecoded)) {
        Prompter::current().warning(
            m_viewer, QStringLiteral("Access Denied"),
            QStringLiteral("Cannot Browse To Pages Outside Of This Domain!"));
        return;
    }
    const QString text = url.toString().toLower().trimmed();
    const bool inPage = url.hasFragment() && showsDocumentOf(m_webView->page()->mainFrame(), url);
    if (text.isEmpty() || text == QLatin1String("#")
        || text.contains(QLatin1String("javascript:void")) || (inPage && url.fragment().isEmpty()))
        return;
    // A jump within a page loads nothing, so no finished load would show the view again.
    if (!inPage)
        m_webView->setVisible(false);
    // A link asking for a new window belongs to the frame the user is in.
    QWebFrame *main = m_webView->page()->mainFrame();
    if (!frame)
        frame = m_webView->page()->currentFrame();
    // The container loads what it is handed into the content frame when no frame reports the
    // click. A link in any other frame (a frame the app embeds, trusted or not) is followed in
    // that frame alone, so it can never replace the app.
    if (frame && frame != main && frame != childNamed(main, ContentFrameName)) {
        frame->load(url);
        return;
    }
    evaluateInMainFrame(QStringLiteral("setUrlRequested( '")
                        + WebView::escapeForScript(url.toString()) + QStringLiteral("' );"));
    if (m_pipe)
        m_pipe->linkClicked(url);
}

void QtWebViewPrivate::setClipboardEnabled(bool enable)
{
    if (enable) {
        m_webView->removeEventFilter(&m_clipboardBlocker);
        if (m_config.contextMenuEnabled())
            m_webView->removeEventFilter(&m_contextMenuBlocker);
    } else {
        m_webView->installEventFilter(&m_clipboardBlocker);
        m_webView->installEventFilter(&m_contextMenuBlocker);
    }
}

void QtWebViewPrivate::setUpPipe()
{
    if (!m_config.pipeRequestsEnabled() && !m_config.pipeOutUrls() && !m_config.pipeOutValues())
        return;
    m_pipe = new PipeChannel(this);
    // Addresses are those of the hosted app, whose forms the peer wants to watch.
    m_pipe->setPageAddressSource([this] { return appFrame()->requestedUrl(); });
    connect(m_pipe, &PipeChannel::refreshRequested, this, &QtWebViewPrivate::reloadPage);
    connect(m_pipe, &PipeChannel::submitListenerRequested, this,
            &QtWebViewPrivate::installSubmitListener);
    m_pipe->start();
}

QWebFrame *QtWebViewPrivate::appFrame() const
{
    QWebFrame *main = m_webView->page()->mainFrame();
    QWebFrame *content = childNamed(main, ContentFrameName);
    return content ? content : main;
}

void QtWebViewPrivate::installSubmitListener(const QString &script)
{
    // The form lives in the hosted app's frame; the listener reports through that frame's own
    // host object, so a frame that may not hold one gets no listener.
    QWebFrame *frame = appFrame();
    if (addQtObjToFrame(frame))
        frame->evaluateJavaScript(script);
}

WifiMonitor *QtWebViewPrivate::wifiMonitor()
{
    if (!m_wifiMonitor) {
        m_wifiMonitor = new WifiMonitor(this);
        connect(m_wifiMonitor, &WifiMonitor::changed, this, [this](const QString &name) {
            m_view->respondSuccess(m_wifiCallbackFunc, m_wifiCallbackId, name, QStringList());
        });
    }
    return m_wifiMonitor;
}

bool QtWebViewPrivate::startWifiMonitor(const QString &callbackFunc, uint callbackId)
{
    if (!wifiMonitor()->start())
        return false;
    m_wifiCallbackFunc = callbackFunc;
    m_wifiCallbackId = callbackId;
    return true;
}

bool QtWebViewPrivate::stopWifiMonitor()
{
    if (!m_wifiMonitor || !m_wifiMonitor->stop())
        return false;
    m_wifiCallbackFunc.clear();
    m_wifiCallbackId = 0;
    return true;
}

SslVerifier *QtWebViewPrivate::verifier()
{
    if (!m_verifier) {
        m_verifier = new SslVerifier(m_network, this);
        connect(m_verifier, &SslVerifier::finished, this, &QtWebViewPrivate::verificationFinished);
    }
    return m_verifier;
}

void QtWebViewPrivate::verifySsl(const QString &callbackFunc, uint callbackId,
                                 const QString &address)
{
    m_verifyCallbackFunc = callbackFunc;
    m_verifyCallbackId = callbackId;
    m_verifyAddress = address;
    m_pendingRootCert.clear();
    verifier()->verify(address);
}

void QtWebViewPrivate::installTrustedRootCert(const QString &callbackFunc, uint callbackId,
                                              const QString &address)
{
    m_verifyCallbackFunc = callbackFunc;
    m_verifyCallbackId = callbackId;
    m_verifyAddress = address;
    const QString plain = SslVerifier::httpAddress(address);
    m_pendingRootCert = QUrl(plain, QUrl::TolerantMode);
    evaluateInMainFrame(QStringLiteral("installTrustedRootCert( '")
                        + WebView::escapeForScript(plain) + QStringLiteral("' );"));
}

void QtWebViewPrivate::installCertificate(const QString &path)
{
    // A certificate that cannot be read is not reported here: the verification that follows
    // tells the page whether the address can now be trusted.
    if (!path.isEmpty())
        SslVerifier::installCertificate(path);
    verifier()->verify(m_verifyAddress);
}

void QtWebViewPrivate::verificationFinished(bool verified, const QString &message)
{
    const QString func = m_verifyCallbackFunc;
    const uint id = m_verifyCallbackId;
    m_verifyCallbackFunc.clear();
    m_verifyCallbackId = 0;
    m_verifyAddress.clear();
    if (func.isEmpty())
        return;
    if (verified)
        m_view->respondSuccess(func, id);
    else
        m_view->respondError(func, id, 1000, message);
}

Downloader *QtWebViewPrivate::downloader()
{
    if (!m_downloader) {
        m_downloader = new Downloader(m_network, this, this);
        connect(m_downloader, &Downloader::finished, this, &QtWebViewPrivate::downloadFinished);
    }
    return m_downloader;
}

void QtWebViewPrivate::startDownload(const QNetworkRequest &request, const DownloadOptions &options)
{
    downloader()->start(request, options);
}

void QtWebViewPrivate::downloadRequested(const QNetworkRequest &request)
{
    startDownload(request, DownloadOptions());
}

void QtWebViewPrivate::unsupportedContent(QNetworkReply *reply)
{
    // The reply is handed over to this slot; the download makes a request of its own.
    const QUrl url = reply->url();
    reply->abort();
    reply->deleteLater();
    const QString extension = url.toString().split(QLatin1Char('.')).last().toLower();
    // A certificate is saved and trusted only when it is the one the page asked to install:
    // otherwise any page could make the shell trust a root of its choosing.
    const bool asked = !m_pendingRootCert.isEmpty()
        && url.adjusted(QUrl::NormalizePathSegments)
            == m_pendingRootCert.adjusted(QUrl::NormalizePathSegments);
    if (extension == QLatin1String("crt") && asked) {
        m_pendingRootCert.clear();
        DownloadOptions options;
        options.silent = true;
        options.overwritePrompt = false;
        options.userSelectsPath = false;
        options.callbackFunc = QStringLiteral("install cert");
        startDownload(QNetworkRequest(url), options);
        return;
    }
    Prompter::current().warning(m_viewer, QStringLiteral("Content Not Supported"), url.toString());
}

void QtWebViewPrivate::downloadFinished(bool success, const QString &path,
                                        const QString &callbackFunc)
{
    if (callbackFunc == QLatin1String("install cert")) {
        installCertificate(path);
        return;
    }
    if (!callbackFunc.isEmpty())
        m_view->invokeCallback(callbackFunc, QVariantList { success, path }, 0);
}

void QtWebViewPrivate::markVisitedLinks()
{
    QWebFrame *main = m_webView->page()->mainFrame();
    QWebHistory *history = m_webView->page()->history();
    std::function<void(QWebFrame *)> walk = [&](QWebFrame *frame) {
        const QList<QWebFrame *> children = frame->childFrames();
        for (QWebFrame *child : children) {
            QList<QPair<QString, QString>> style;
            QWebElement root = child->documentElement();
            if (history->count() == 0) {
                style.append({ QStringLiteral("color"), QStringLiteral("#551A8B") });
            } else if (!root.isNull()) {
                const QString visitedHref = history->itemAt(0).url().toString().toHtmlEscaped();
                root.appendInside(
                    QStringLiteral("<a id=\"QT_VISITED\" style=\"display:none\" href=\"")
                    + visitedHref + QStringLiteral("\"></a>"));
                root.appendInside(QStringLiteral("<a id=\"QT_NOT_VISITED\" style=\"display:none\" "
                                                 "href=\"#QT_NOT_VISITED\"></a>"));
                QWebElement visited = root.findFirst(QStringLiteral("#QT_VISITED"));
                QWebElement notVisited = root.findFirst(QStringLiteral("#QT_NOT_VISITED"));
                for (const QString &property : styleProperties()) {
                    const QString value
                        = visited.styleProperty(property, QWebElement::ComputedStyle);
                    if (value != notVisited.styleProperty(property, QWebElement::ComputedStyle))
                        style.append({ property, value });
                }
                visited.removeFromDocument();
                notVisited.removeFromDocument();
            }
            const QWebElementCollection anchors = child->findAllElements(QStringLiteral("a"));
            for (QWebElement anchor : anchors) {
                const QUrl target = child->baseUrl().resolved(
                    QUrl(anchor.attribute(QStringLiteral("href")), QUrl::TolerantMode));
                if (!m_visitedUrls.contains(target))
                    continue;
                for (const auto &property : style)
                    anchor.setStyleProperty(property.first, property.second);
            }
            walk(child);
        }
    };
    walk(main);
}

void QtWebViewPrivate::reloadPage()
{
    if (QWebFrame *content = childNamed(m_webView->page()->mainFrame(), ContentFrameName))
        content->setUrl(content->requestedUrl());
    else
        m_webView->reload();
}

void QtWebViewPrivate::backPage()
{
    m_webView->back();
}

void QtWebViewPrivate::forwardPage()
{
    m_webView->forward();
}

void QtWebViewPrivate::print()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!Prompter::current().printSetup(nullptr, &printer))
        return;
    QWebFrame *main = m_webView->page()->mainFrame();
    QWebFrame *content = childNamed(main, ContentFrameName);
    (content ? content : main)->print(&printer);
}

void QtWebViewPrivate::toggleSettings(bool on)
{
    Q_UNUSED(on)
    evaluateInMainFrame(QStringLiteral("toggleSettings();"));
}

void QtWebViewPrivate::clearCache()
{
    m_diskCache->clear();
    m_webView->page()->history()->clear();
    m_visitedUrls.clear();
    QWebSettings::clearIconDatabase();
    QWebSettings::clearMemoryCaches();
    reloadPage();
}

void QtWebViewPrivate::clearStorage()
{
    recover(OnLoadClearStorage);
}

void QtWebViewPrivate::recover(uint request)
{
    clone(false, request);
    m_viewer->hide();
    QTimer::singleShot(m_recoverQuitDelay, this, &QtWebViewPrivate::quit);
}

void QtWebViewPrivate::clone(bool asChild, uint request)
{
    ViewerState state = ViewerState::fromWindow(m_viewer, m_savedUrl, asChild, request);
    state.collectSnapshots(m_webView->page()->mainFrame());
    state.visitedUrls = m_visitedUrls;
    m_handOver->writeOrReport(state.serialize(m_config.newWindowIsClone()), m_viewer);
    m_startProcess(QCoreApplication::applicationFilePath(),
                   QStringList { QString(QLatin1String("")) });
}

void QtWebViewPrivate::showInspector()
{
    m_webView->settings()->setAttribute(QWebSettings::DeveloperExtrasEnabled, true);
    if (!m_inspector) {
        m_inspector = new QWebInspector;
        m_inspector->setAttribute(Qt::WA_DeleteOnClose, false);
        m_inspector->setWindowIcon(
            QIcon(QStringLiteral(":/viewerButtons/resources/inspection.png")));
        connect(this, &QObject::destroyed, m_inspector, &QObject::deleteLater);
    }
    m_inspector->setPage(m_webView->page());
    m_inspector->resize(800, 600);
    m_inspector->show();
}

void QtWebViewPrivate::showInjector()
{
    JsInjectorDialog::showFor(m_webView->page(), this);
}

void QtWebViewPrivate::toggleDirectEdit(bool on)
{
    m_webView->page()->setContentEditable(on);
}

void QtWebViewPrivate::showHelp()
{
    if (!m_config.helpIsCollection()) {
        evaluateInMainFrame(QStringLiteral("toggleHelp();"));
        return;
    }
    // The dialog warns and closes by itself when the collection is missing or unreadable.
    HelpBrowserDialog::showCollection(AppConfig::dataPath(AppConfig::helpDirName()),
                                      m_config.helpDocDesktop(), m_config.helpDocVirtualFolder(),
                                      AppConfig::dataPath(AppConfig::iconPath()), this);
}

void QtWebViewPrivate::showAbout()
{
    const QString text = QStringLiteral("<b>") + m_config.appTitle().toHtmlEscaped()
        + QStringLiteral("</b><br>Version ") + m_config.appVersion().toHtmlEscaped()
        + QStringLiteral("<br>Copyright &copy; ") + m_config.copyrightYear().toHtmlEscaped()
        + QLatin1Char(' ') + m_config.companyName().toHtmlEscaped();
    Prompter::current().about(m_viewer, m_config.appTitle(), text);
}

void QtWebViewPrivate::resizeContent()
{
    evaluateInMainFrame(QStringLiteral("setContentFrameToViewPortSize();"));
}

void QtWebViewPrivate::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    // While the page view still has its old size, which a full-screen popup shares.
    if (m_popups)
        m_popups->viewResizing(event->size());
    m_webView->resize(event->size());
    resizeContent();
}

void QtWebViewPrivate::quit()
{
    m_view->webViewPrivate()->setQuitAllowed(true);
    m_view->quitApplication(0);
}

void QtWebViewPrivate::requestQuit()
{
    m_view->runQuitRequest(true);
}

PopupHost *QtWebViewPrivate::popups()
{
    if (!m_popups) {
        m_popups = std::make_unique<PopupHost>(this, m_webView,
                                               [view = m_view] { return view->isOnline(); });
        connect(m_popups.get(), &PopupHost::posted, this, &QtWebViewPrivate::popupPosted);
    }
    return m_popups.get();
}

void QtWebViewPrivate::popupPosted(const QString &sourceId, const QString &eventId,
                                   const QMap<QString, QString> &fields)
{
    const WebViewPrivate::Callback callback = m_view->webViewPrivate()->popupPostCallback();
    if (!callback.isSet())
        return;
    QStringList values { QStringLiteral("eventId"), eventId };
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        values << it.key() << it.value();
    m_view->respondSuccess(callback.func, callback.id, sourceId, values);
}
