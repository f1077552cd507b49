#include "webview/scriptruntime.h"

#include "platform/scriptprotocol.h"
#include "webview/webview.h"

namespace {

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + WebView::escapeForScript(text) + QLatin1Char('\'');
}

QString folderTriple(const char *name)
{
    const QString n = QLatin1String(name);
    const QString setter = QStringLiteral("set") + n.at(0).toUpper() + n.mid(1);
    // A frame that already holds a folder keeps it when the runtime is evaluated again.
    return QStringLiteral("window.%1_ = window.%1_ || null;function %2( path ) { %1_ = path; }"
                          "function %1() { return %1_; }")
        .arg(n, setter);
}

// The key and folders reach a frame only from the top window: any other sender could be an
// untrusted frame posting a key of its own or naming a function to call.
const char FrameMessageRelay[] = R"JS(
var postIdsProcessedArray = window.postIdsProcessedArray || [];
// Only the recent ids are kept: the list would otherwise grow with every callback for as long as
// the page lives.
function qtRememberPostId_( postId ) {
    postIdsProcessedArray.push( postId );
    if ( postIdsProcessedArray.length > 2000 ) postIdsProcessedArray.splice( 0, 1000 );
}
function receiveQtMessage( event ) {
    try {
        if ( event.source !== window.top ) return;
        var data = event.data;
        if ( Object.prototype.toString.call( data ) !== '[object Array]' ) return;
        var eventId = data[0];
        var postId = data[1];
        if ( eventId == 'qtSetGlobals' ) {
            qtRememberPostId_( postId );
            setQtKey( data[2] );
            setQtTempDirPath( data[3] );
            setQtStorageDirPath( data[4] );
            setQtUserDocsDirPath( data[5] );
            setQtUserDesktopDirPath( data[6] );
            setQtLogFilePath( data[7] );
        } else if ( eventId == 'qtCallback' ) {
            qtCallCallback_( postId, data[2], data[3], data[4] );
        }
    } catch ( e ) {}
}
function qtCallCallback_( postId, funcName, result, indicator ) {
    if ( typeof( window[funcName] ) == 'function' ) {
        qtRememberPostId_( postId );
        if ( indicator > 0 ) setQtStateChangeIndicator( indicator );
        window[funcName].apply( window, result );
    } else {
        top.postMessage( [ 'qtInvokeError', QT_ERR_CALLBACK_NOT_DEFINED, [ funcName, result ] ], '*' );
    }
}
// The top window calls this directly when it may reach this document (both are local files),
// so a long response is handed over as it is rather than copied by postMessage. Lists inside
// the response are copied into this window's own arrays, as a message would have made them.
function qtReceiveCallback_( postId, funcName, result, indicator ) {
    try {
        var local = [];
        for ( var i = 0; i < result.length; ++i ) {
            var value = result[i];
            if ( Object.prototype.toString.call( value ) === '[object Array]' ) {
                var copy = [];
                for ( var j = 0; j < value.length; ++j ) copy.push( value[j] );
                value = copy;
            }
            local.push( value );
        }
        qtCallCallback_( postId, funcName, local, indicator );
    } catch ( e ) {}
}
if ( !window.qtMessageRelayInstalled_ ) {
    window.qtMessageRelayInstalled_ = true;
    window.addEventListener( 'message', function( event ) { receiveQtMessage( event ); }, false );
}
)JS";

const char CallbackHelpers[] = R"JS(
function qtLog( message ) { try { if ( typeof( Qt ) == 'function' && Qt() != null ) Qt().qtLog( message ); } catch ( e ) {} }
function qtCallback( funcName ) { top.postMessage( [ 'qtRegisterCallBack', funcName, false, false ], '*' ); return funcName; }
function qtCallbackPersistent( funcName ) { top.postMessage( [ 'qtRegisterCallBack', funcName, true, false ], '*' ); return funcName; }
function qtCallbackOnError( funcName ) { top.postMessage( [ 'qtRegisterCallBack', funcName, true, true ], '*' ); return funcName; }
function qtCallbackCancel( funcName ) { top.postMessage( [ 'qtUnRegisterCallBack', funcName ], '*' ); return funcName; }
function qtCallbackParameters( parmsArray ) { try { window.qtParametersArray = parmsArray; } catch ( e ) {} return frameId(); }
)JS";

const char LoadSignal[] = R"JS(
window.trySignalLoadAttempts_ = 0;
function trySignalQtLoad() {
    try {
        if ( window.qtLoadSignalled_ ) return;
        if ( typeof( Qt ) == 'function' && Qt() != null && typeof( onQtLoad ) == 'function' ) {
            window.qtLoadSignalled_ = true;
            onQtLoad();
            return;
        }
    } catch ( e ) { return; }
    trySignalLoadAttempts_++;
    if ( trySignalLoadAttempts_ < 50 ) setTimeout( trySignalQtLoad, 100 );
}
trySignalQtLoad();
)JS";

const char ErrorCodes[] = R"JS(
window.QT_ERR_UNKNOWN = 0; window.QT_ERR_CALLBACK_DUPLICATE = 1; window.QT_ERR_CALLBACK_NOT_REGISTERED = 2;
window.QT_ERR_CALLBACK_NOT_DEFINED = 3; window.QT_ERR_ACCESS_DENIED = 4;
window.qtPriorOnError_ = null;
function qtOnError( funcName ) { var prior = qtPriorOnError_; qtPriorOnError_ = qtCallbackOnError( funcName ); return prior; }
)JS";

const char ContentReveal[] = R"JS(
function revealQtContent() {
    if ( document.readyState == 'complete' || document.readyState == 'interactive' ) top.postMessage( 'showQtContent', '*' );
    else setTimeout( revealQtContent, 100 );
}
if( window != top ) revealQtContent();
)JS";

const char Delimiters[] = R"JS(
var CALLBACK_INDICATOR = 'qt-call:'; var CALLBACK_PREFIX_DELIMIITER = ':'; var CALLBACK_PREFIX_DELIMIITER_ESCAPE = '_DELIMESC_';
var CALLBACK_ARG_DELIMIITER = '_DELIM_'; var CALLBACK_INTRA_ARG_DELIMIITER = '%1'; var LONG_ARG_PREFIX = 'QT_LONG_ARG';
var LONG_ARG_NOT_DEF_INDICATOR = '_NOTDEF_'; var LOG_INDICATOR = 'qt-log:';
function qtDelimiter() { return CALLBACK_INTRA_ARG_DELIMIITER; }
function escapeRegExp( str ) { return str.replace( /[\-\[\]\/\{\}\(\)\*\+\?\.\\\^\$\|]/g, '\\$&' ); }
function replaceAll( find, replace, str ) { return str.replace( new RegExp( escapeRegExp( find ), 'g' ), function() { return replace; } ); }
)JS";

const char StateIndicator[] = R"JS(
window.qtStateChangeIndicator_ = ( typeof( window.qtStateChangeIndicator_ ) == 'number' ) ? window.qtStateChangeIndicator_ : 1;
function setQtStateChangeIndicator( qtStateChangeIndicator ) { qtStateChangeIndicator_ = qtStateChangeIndicator; }
function qtStateChangeIndicator() { return qtStateChangeIndicator_; }
function popQtStateChangeIndicator() { var current = qtStateChangeIndicator_; qtStateChangeIndicator_ = 0; return current; }
(function() {
    var suffix = ( typeof( frameId ) == 'function' ) ? frameId() : window.frameId;
    eval( 'window.setQtStateChangeIndicator' + suffix + ' = function( state ) { setQtStateChangeIndicator( state ); };' );
    qtCallbackPersistent( 'setQtStateChangeIndicator' + suffix );
})();
)JS";

const char FrameClick[] = R"JS(
function isQtViewerLink( target ) {
    for ( var node = target; node; node = node.parentNode ) {
        if ( node.tagName && node.tagName.toLowerCase() == 'a' ) return true;
    }
    return false;
}
function onQtViewerLinkClicked( e ) { if ( isQtViewerLink( e.target ) ) top.postMessage( 'qtLinkClicked', '*' ); }
if ( !window.qtLinkWatchInstalled_ ) {
    window.qtLinkWatchInstalled_ = true;
    document.addEventListener( 'click', function( e ) { onQtViewerLinkClicked( e ); }, true );
}
)JS";

const char TopReceiver[] = R"JS(
var urlRequested = null;
function resetUrlRequested() { urlRequested = null; }
function setUrlRequested( url ) { urlRequested = url; }
function getUrlRequested() { return urlRequested; }
function receiveMessage( event ) {
    try {
        var eventId = ( typeof( event.data ) == 'string' ) ? event.data : event.data[0];
        if ( eventId == 'qtLinkClicked' ) {
            if ( urlRequested ) event.source.location = urlRequested;
            resetUrlRequested();
        }
    } catch ( e ) {}
}
window.addEventListener( 'message', receiveMessage, false );
)JS";

const char PopupPost[] = R"JS(
function qtPostMessage( sourceId, eventId, assiocativeArray ) {
    if ( typeof( QtObj ) == 'undefined' || !QtObj.postMessage ) return;
    if ( !sourceId ) sourceId = document.location.href;
    var keys = [], values = [];
    for ( var key in assiocativeArray ) { keys.push( key ); values.push( assiocativeArray[key] ); }
    QtObj.postMessage( sourceId, eventId, keys.join( '%1' ), values.join( '%1' ) );
}
)JS";

} // namespace

QString ScriptRuntime::versionText(float number)
{
    return QString::number(double(number), 'g', 6);
}

QString ScriptRuntime::pageFolder(const QString &path)
{
    QString folder = path;
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return WebView::escapeForScript(folder);
}

QString ScriptRuntime::pageFile(const QString &path)
{
    QString file = path;
    file.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return WebView::escapeForScript(file);
}

QString ScriptRuntime::platformConstants(const HostInfo &host)
{
    return QStringLiteral("window.QT_WEBVIEW=1; window.IOS_WEBVIEW=2;window.DROID_WEBVIEW=3; "
                          "window.webView_ = 1; function webView(){ return webView_; }")
        + QStringLiteral(
               "window.UNKNOWN_PLATFORM=0; window.WINDOWS_PLATFORM=1; window.MAC_PLATFORM=2; "
               "window.LINUX_PLATFORM=3; window.IOS_PLATFORM=4; window.ANDROID_PLATFORM=5; "
               "window.platform_ = ")
        + QString::number(host.platform)
        + QStringLiteral("; function platform(){ return platform_; }")
        + QStringLiteral("window.platformVersionNumber_ = ") + versionText(host.versionNumber)
        + QStringLiteral("; function platformVersionNumber(){ return platformVersionNumber_; }")
        + QStringLiteral("window.platformVersionName_ = ") + quoted(host.versionName)
        + QStringLiteral("; function platformVersionName(){ return platformVersionName_; }");
}

QString ScriptRuntime::folderGlobals()
{
    return folderTriple("qtStorageDirPath") + folderTriple("qtTempDirPath")
        + folderTriple("qtUserDocsDirPath") + folderTriple("qtUserDesktopDirPath")
        + folderTriple("qtLogFilePath") + QLatin1String(StateIndicator);
}

QString ScriptRuntime::apiGlobalsFunction(const Folders &folders)
{
    return QStringLiteral("function qtSetApiGlobals() {     setQtStorageDirPath( '")
        + pageFolder(folders.storage) + QStringLiteral("' );    setQtTempDirPath( '")
        + pageFolder(folders.temp) + QStringLiteral("' );    setQtUserDocsDirPath( '")
        + pageFolder(folders.documents) + QStringLiteral("' );    setQtUserDesktopDirPath( '")
        + pageFolder(folders.desktop) + QStringLiteral("' );    setQtLogFilePath( '")
        + pageFile(folders.logFile) + QStringLiteral("' );} ");
}

QString ScriptRuntime::frameRuntime(const HostInfo &host)
{
    // A frame that already knows the key keeps it while the runtime is evaluated again, so its
    // calls never meet a moment without one.
    const QString accessKey = QStringLiteral(
        "window.qtKey_ = window.qtKey_ || null;function setQtKey( qtKey ) { qtKey_ = qtKey; }"
        "function qtKey() { return qtKey_; }function Qt() { return ( qtKey() ? QtObj : null ); }");
    return platformConstants(host) + folderGlobals() + accessKey + QLatin1String(LoadSignal)
        + QLatin1String(ErrorCodes) + QLatin1String(ContentReveal)
        + QString(QLatin1String(Delimiters)).arg(ScriptProtocol::intraDelimiter())
        + QStringLiteral("top.postMessage( 'grantQtAccess', '*' );")
        + QLatin1String(FrameMessageRelay) + QLatin1String(CallbackHelpers);
}

QString ScriptRuntime::mainFrameGlobals(const QUrl &fullOnLoadUrl, const HostInfo &host,
                                        const Folders &folders)
{
    return QStringLiteral("window.onLoadUrl = ") + quoted(fullOnLoadUrl.toString())
        + QStringLiteral(";window.qtKeyCookieName = 'QT_ACCESS_KEY_COOKIE';window.showMenuBar = "
                         "false;window.userEditableSettings = false;")
        + platformConstants(host) + apiGlobalsFunction(folders);
}

QString ScriptRuntime::frameClickScript()
{
    return QLatin1String(FrameClick);
}

QString ScriptRuntime::topReceiverScript()
{
    return QLatin1String(TopReceiver);
}

QString ScriptRuntime::credentialsScript(const QString &user, const QString &password)
{
    return QStringLiteral("if( autoLogin ) autoLogin( ") + quoted(user) + QStringLiteral(", ")
        + quoted(password) + QStringLiteral(" );");
}

QString ScriptRuntime::formWatchScript(const QString &formName, const QString &elementName)
{
    const QString form = quoted(formName);
    const QString element = quoted(elementName);
    return QStringLiteral(
               "(function() {"
               "var form = document.getElementById( %1 ) || document.getElementsByName( %1 )[0];"
               "if ( !form ) return;"
               "form.addEventListener( 'submit', function() {"
               "  var el = document.getElementById( %2 ) || document.getElementsByName( %2 )[0];"
               "  var value = el ? el.value : '';"
               "  QtObj.qtLog( 'reporting ' + %2 + ' value' );"
               "  QtObj.reportElementValue( %2, value );"
               "}, false );"
               "QtObj.qtLog( 'listening for ' + %1 + ' submissions' );"
               "})();")
        .arg(form, element);
}

QString ScriptRuntime::popupPostScript()
{
    return QString(QLatin1String(PopupPost)).arg(ScriptProtocol::intraDelimiter());
}

QString ScriptRuntime::frameIdentityScript(uint id, const QUrl &frameUrl, int parentId,
                                           const QUrl &parentUrl)
{
    return QStringLiteral("function frameId() { return ") + QString::number(id)
        + QStringLiteral("; }function frameUrl() { return ") + quoted(frameUrl.toString())
        + QStringLiteral("; }function parentFrameId() { return ") + QString::number(parentId)
        + QStringLiteral("; }function parentFrameUrl() { return ") + quoted(parentUrl.toString())
        + QStringLiteral("; }function frameMeta() { return { 'frameId': frameId(), 'frameUrl': "
                         "frameUrl(), 'parentFrameId': parentFrameId(),  'parentFrameUrl': "
                         "parentFrameUrl() }; }");
}

QString ScriptRuntime::trustedHostsScript(const QStringList &hosts)
{
    QStringList quotedHosts;
    for (const QString &host : hosts)
        quotedHosts.append(quoted(host.toLower()));
    return QStringLiteral("window.qtTrustedHosts = [") + quotedHosts.join(QLatin1Char(','))
        + QStringLiteral("];");
}
