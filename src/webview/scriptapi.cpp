#include "webview/scriptapi.h"

#include "config/appconfig.h"
#include "config/logsettings.h"
#include "docs/mailcomposer.h"
#include "docs/tempfilemanager.h"
#include "docs/vellumdoc.h"
#include "net/pipechannel.h"
#include "platform/launcher.h"
#include "platform/logger.h"
#include "platform/registry.h"
#include "platform/standby.h"
#include "platform/textcipher.h"
#include "platform/wifiinfo.h"
#include "services/directoryoperations.h"
#include "services/fileoperations.h"
#include "services/mimetable.h"
#include "services/zipoperations.h"
#include "webview/popuphost.h"
#include "webview/qtwebviewprivate.h"
#include "webview/webview.h"
#include "webview/webviewprivate.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QNetworkRequest>
#include <QWebFrame>

ScriptApi::ScriptApi(QtWebViewPrivate *host, QWebFrame *frame)
    : QObject(host)
    , m_host(host)
    , m_frame(frame)
{
}

void ScriptApi::release()
{
    m_released = true;
    deleteLater();
}

bool ScriptApi::event(QEvent *event)
{
    // A page calling deleteLater() would leave the host with a dangling object.
    if (event->type() == QEvent::DeferredDelete && !m_released)
        return true;
    return QObject::event(event);
}

WebView *ScriptApi::view() const
{
    return m_host->view();
}

bool ScriptApi::allowed(const QString &qtKey)
{
    return view()->checkAccessKey(qtKey, true);
}

bool ScriptApi::quietlyAllowed(const QString &qtKey)
{
    return view()->checkAccessKey(qtKey, false);
}

template<typename Body>
void ScriptApi::answer(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       Body body)
{
    if (allowed(qtKey))
        view()->respondResult(callbackFunc, callbackId, body());
}

QString ScriptApi::takeResponseValue(uint id)
{
    // Responses are evaluated in the main frame only; a frame asking could take another's text.
    if (!m_frame || m_frame != view()->mainFrame())
        return QString();
    return view()->takeResponseValue(id);
}

void ScriptApi::qtSetProcessing(bool isProcessing)
{
    m_host->setProcessing(m_frame, isProcessing);
}

void ScriptApi::quit(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    Q_UNUSED(callbackFunc)
    Q_UNUSED(callbackId)
    if (!allowed(qtKey))
        return;
    view()->webViewPrivate()->setQuitAllowed(true);
    view()->quitApplication(0);
}

void ScriptApi::quitWithError(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                              int errorCode)
{
    Q_UNUSED(callbackFunc)
    Q_UNUSED(callbackId)
    if (allowed(qtKey))
        view()->quitApplication(errorCode);
}

void ScriptApi::requestQuit(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    Q_UNUSED(callbackFunc)
    Q_UNUSED(callbackId)
    view()->requestQuit(qtKey, true);
}

void ScriptApi::onQuitRequest(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (!allowed(qtKey))
        return;
    WebViewPrivate *d = view()->webViewPrivate();
    d->setQuitAllowed(false);
    d->setQuitRequestCallback(callbackFunc, callbackId);
}

void ScriptApi::onKilled(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (!allowed(qtKey))
        return;
    WebViewPrivate *d = view()->webViewPrivate();
    d->setKilledCallback(callbackFunc, callbackId);
}

void ScriptApi::onDeactivated(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (allowed(qtKey))
        view()->respondUnsupported(callbackFunc, callbackId, QStringLiteral("onDeactivated"));
}

void ScriptApi::onReactivated(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (allowed(qtKey))
        view()->respondUnsupported(callbackFunc, callbackId, QStringLiteral("onReactivated"));
}

void ScriptApi::onMemoryWarning(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (allowed(qtKey))
        view()->respondUnsupported(callbackFunc, callbackId, QStringLiteral("onMemoryWarning"));
}

void ScriptApi::fetchSettings(const QString &qtKey, const QString &callbackFunc)
{
    if (!view()->checkAccessKey(qtKey, false))
        return;
    const AppConfig config;
    const QUrl url = config.onLoadUrl().adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    view()->invokeCallback(callbackFunc,
                           { url.toString(), config.onLoadUsername(), config.onLoadPassword(),
                             config.onLoadMaximize() },
                           WebView::NoStateChange);
}

void ScriptApi::updateSettings(const QString &qtKey, const QVariantList &settingsList,
                               const QString &callbackFunc)
{
    if (!view()->checkAccessKey(qtKey, false))
        return;
    AppConfig config;
    if (settingsList.size() > 0)
        config.setOnLoadUrl(settingsList.at(0).toString());
    if (settingsList.size() > 1)
        config.setOnLoadUsername(settingsList.at(1).toString());
    if (settingsList.size() > 2)
        config.setOnLoadPassword(settingsList.at(2).toString());
    config.setOnLoadMaximize(settingsList.size() > 3 && settingsList.at(3).toBool());
    view()->invokeCallback(callbackFunc, { true }, WebView::NoStateChange);
}

void ScriptApi::qtLog(const QString &message)
{
    Logger::instance().log(LogCategory::App, message);
}

void ScriptApi::fetchLogSettings(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (allowed(qtKey))
        view()->respondSuccess(callbackFunc, callbackId, QString(),
                               LogSettings::storedSwitches(m_host->preferences()));
}

void ScriptApi::updateLogSettings(const QString &qtKey, const QString &callbackFunc,
                                  uint callbackId, const QString &settings)
{
    if (!allowed(qtKey))
        return;
    LogSettings::updateSettings(Logger::instance(), settings, AppConfig(), m_host->preferences());
    view()->respondSuccess(callbackFunc, callbackId);
}

void ScriptApi::saveUrl(const QString &urlStr)
{
    m_host->saveUrl(urlStr);
}

void ScriptApi::encrypt(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                        const QString &clearText, uint encryptionKey)
{
    if (allowed(qtKey))
        view()->respondSuccess(callbackFunc, callbackId,
                               TextCipher::encryptWithKey(clearText, encryptionKey), {});
}

void ScriptApi::decrypt(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                        const QString &encrypted, uint encryptionKey)
{
    if (allowed(qtKey))
        view()->respondSuccess(callbackFunc, callbackId,
                               TextCipher::decryptWithKey(encrypted, encryptionKey), {});
}

void ScriptApi::writeFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                          const QString &filePath, const QString &data)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return FileOperations::writeFile(filePath, data); });
}

void ScriptApi::readFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                         const QString &filePath)
{
    answer(qtKey, callbackFunc, callbackId, [&] { return FileOperations::readFile(filePath); });
}

void ScriptApi::writeBinaryFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                                const QString &filePath, const QString &data)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return FileOperations::writeBinaryFile(filePath, data); });
}

void ScriptApi::readBinaryFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                               const QString &filePath)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return FileOperations::readBinaryFile(filePath); });
}

void ScriptApi::writeEncryptedFile(const QString &qtKey, const QString &callbackFunc,
                                   uint callbackId, const QString &filePath, uint encryptionKey,
                                   const QString &data)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return FileOperations::writeEncryptedFile(filePath, encryptionKey, data); });
}

void ScriptApi::readEncryptedFile(const QString &qtKey, const QString &callbackFunc,
                                  uint callbackId, const QString &filePath, uint encryptionKey)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return FileOperations::readEncryptedFile(filePath, encryptionKey); });
}

void ScriptApi::deleteFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           const QString &filePath)
{
    answer(qtKey, callbackFunc, callbackId, [&] { return FileOperations::deleteFile(filePath); });
}

void ScriptApi::moveFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                         const QString &currentPath, const QString &newPath)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return FileOperations::moveFile(currentPath, newPath); });
}

void ScriptApi::browseForPath(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                              uint modeCode, const QString &caption, const QString &startPath,
                              const QString &filter)
{
    answer(qtKey, callbackFunc, callbackId, [&] {
        return FileOperations::browseForPath(modeCode, caption, startPath, filter, m_host);
    });
}

void ScriptApi::exportFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           const QString &fileName, const QString &data, bool isBinary,
                           const QString &fileType)
{
    answer(qtKey, callbackFunc, callbackId, [&] {
        TempFileManager &tempFiles = view()->tempFiles();
        return FileOperations::exportFile(
            fileName, data, isBinary, fileType,
            [&tempFiles](const QString &path) { tempFiles.registerFile(path); });
    });
}

void ScriptApi::onImportFile(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (!allowed(qtKey))
        return;
    WebViewPrivate *d = view()->webViewPrivate();
    d->setImportCallback(callbackFunc, callbackId);
    const std::optional<CallResult> report
        = FileOperations::onImportFile(view()->launchFilePath(), callbackFunc);
    if (report)
        view()->respondResult(callbackFunc, callbackId, *report);
}

void ScriptApi::readDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                              const QString &dirPath, uint filterCode, bool readSubDirs)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return DirectoryOperations::readDirectory(dirPath, filterCode, readSubDirs); });
}

void ScriptApi::readDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                              const QString &dirPath, uint filterCode)
{
    readDirectory(qtKey, callbackFunc, callbackId, dirPath, filterCode, false);
}

void ScriptApi::readDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                              const QString &dirPath)
{
    readDirectory(qtKey, callbackFunc, callbackId, dirPath, 0, false);
}

void ScriptApi::makeDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                              const QString &dirPath)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return DirectoryOperations::makeDirectory(dirPath); });
}

void ScriptApi::clearDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                               const QString &dirPath)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return DirectoryOperations::clearDirectory(dirPath); });
}

void ScriptApi::removeDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                                const QString &dirPath)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return DirectoryOperations::removeDirectory(dirPath); });
}

void ScriptApi::zipRead(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                        const QString &zipFilePath)
{
    answer(qtKey, callbackFunc, callbackId, [&] { return ZipOperations::zipRead(zipFilePath); });
}

void ScriptApi::zipAppend(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                          const QString &zipFilePath, const QString &sourceFilePaths,
                          const QString &destinationFilePaths)
{
    answer(qtKey, callbackFunc, callbackId, [&] {
        return ZipOperations::zipAppend(zipFilePath, sourceFilePaths, destinationFilePaths);
    });
}

void ScriptApi::zipAppendAll(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                             const QString &zipFilePath, const QString &sourceDirPath,
                             bool wrapInContainerDir)
{
    answer(qtKey, callbackFunc, callbackId, [&] {
        return ZipOperations::zipAppendAll(zipFilePath, sourceDirPath, wrapInContainerDir);
    });
}

void ScriptApi::zipExtract(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           const QString &zipFilePath, const QString &sourceFilePaths,
                           const QString &destinationFilePaths)
{
    answer(qtKey, callbackFunc, callbackId, [&] {
        return ZipOperations::zipExtract(zipFilePath, sourceFilePaths, destinationFilePaths);
    });
}

void ScriptApi::zipExtractAll(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                              const QString &zipFilePath, const QString &destinationDirPath)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return ZipOperations::zipExtractAll(zipFilePath, destinationDirPath); });
}

void ScriptApi::registerExtension(const QString &qtKey, const QString &callbackFunc,
                                  uint callbackId, const QString &extension, bool isBinary)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return MimeTable::instance().registerExtension(extension, isBinary); });
}

void ScriptApi::registerMimeType(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                                 const QString &mimeType, const QString &extension, bool isBinary,
                                 bool isDefaultExtension)
{
    answer(qtKey, callbackFunc, callbackId, [&] {
        return MimeTable::instance().registerMimeType(mimeType, extension, isBinary,
                                                      isDefaultExtension);
    });
}

void ScriptApi::udpListen(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                          uint port)
{
    view()->udpListen(qtKey, callbackFunc, callbackId, port);
}

void ScriptApi::udpStop(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    view()->udpStop(qtKey, callbackFunc, callbackId);
}

void ScriptApi::fetchSource(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                            const QString &urlAddress)
{
    view()->webViewPrivate()->fetchSource(qtKey, callbackFunc, callbackId, urlAddress);
}

void ScriptApi::verifySSL(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                          const QString &verificationUrlAddress)
{
    if (allowed(qtKey))
        m_host->verifySsl(callbackFunc, callbackId, verificationUrlAddress);
}

void ScriptApi::installTrustedRootCert(const QString &qtKey, const QString &callbackFunc,
                                       uint callbackId, const QString &rootCertUrlAddress)
{
    if (allowed(qtKey))
        m_host->installTrustedRootCert(callbackFunc, callbackId, rootCertUrlAddress);
}

void ScriptApi::download(const QString &qtKey, const QString &url, const QString &callbackFunc)
{
    DownloadOptions options;
    options.callbackFunc = callbackFunc;
    startDownload(qtKey, url, options);
}

void ScriptApi::downloadSilent(const QString &qtKey, const QString &url,
                               const QString &callbackFunc)
{
    DownloadOptions options;
    options.silent = true;
    options.overwritePrompt = false;
    options.userSelectsPath = false;
    options.callbackFunc = callbackFunc;
    startDownload(qtKey, url, options);
}

void ScriptApi::downloadEx(const QString &qtKey, const QString &url, bool silent,
                           bool overwritePrompt, bool userSelectsPath, const QString &directory,
                           const QString &fileName, const QString &callbackFunc)
{
    startDownload(qtKey, url,
                  DownloadOptions { silent, overwritePrompt, userSelectsPath, directory, fileName,
                                    callbackFunc });
}

void ScriptApi::startDownload(const QString &qtKey, const QString &url,
                              const DownloadOptions &options)
{
    // The download calls carry no callback id to report a refusal to.
    if (view()->checkAccessKey(qtKey, false))
        m_host->startDownload(QNetworkRequest(QUrl(url, QUrl::TolerantMode)), options);
}

void ScriptApi::regEntry(const QString &qtKey, const QString &key, const QString &value,
                         const QVariant &defaultRet, const QString &callbackFunc)
{
    if (quietlyAllowed(qtKey))
        view()->invokeCallback(callbackFunc, { Registry::value(key, value, defaultRet) }, 0);
}

void ScriptApi::setRegEntry(const QString &qtKey, const QString &key, const QString &value,
                            const QVariant &data, const QString &callbackFunc)
{
    if (!quietlyAllowed(qtKey))
        return;
    // The machine-wide root is the system's own: a page reads it but never changes it.
    if (Registry::pageMayWrite(key))
        Registry::setValue(key, value, data);
    const QVariant readBack = Registry::value(key, value, QStringLiteral("_____BAD VALUE_____"));
    if (!callbackFunc.isEmpty())
        view()->invokeCallback(callbackFunc, { readBack == data }, 0);
}

void ScriptApi::launch(const QString &qtKey, const QString &path, const QStringList &args,
                       bool detached)
{
    if (quietlyAllowed(qtKey))
        Launcher::launch(path, args, detached, view());
}

void ScriptApi::launchExplorer(const QString &qtKey, const QString &path)
{
    if (quietlyAllowed(qtKey))
        Launcher::launchFileManager(path, view());
}

void ScriptApi::launchNotepad(const QString &qtKey, const QString &path)
{
    if (quietlyAllowed(qtKey))
        Launcher::launchTextEditor(path, view());
}

void ScriptApi::launchWord(const QString &qtKey, const QString &path)
{
    if (quietlyAllowed(qtKey))
        Launcher::launchOffice(QStringLiteral("Word.Application"), path, view());
}

void ScriptApi::launchExcel(const QString &qtKey, const QString &path)
{
    if (quietlyAllowed(qtKey))
        Launcher::launchOffice(QStringLiteral("Excel.Application"), path, view());
}

void ScriptApi::launchPowerPoint(const QString &qtKey, const QString &path)
{
    if (quietlyAllowed(qtKey))
        Launcher::launchOffice(QStringLiteral("PowerPoint.Application"), path, view());
}

void ScriptApi::setClipboard(const QString &qtKey, const QString &text)
{
    if (quietlyAllowed(qtKey))
        QGuiApplication::clipboard()->setText(text);
}

void ScriptApi::clearClipboard(const QString &qtKey)
{
    if (quietlyAllowed(qtKey))
        QGuiApplication::clipboard()->setText(QString());
}

void ScriptApi::setClipboardEnabled(const QString &qtKey, const QString &callbackFunc,
                                    uint callbackId, bool enable)
{
    if (!allowed(qtKey))
        return;
    m_host->setClipboardEnabled(enable);
    view()->respondSuccess(callbackFunc, callbackId);
}

void ScriptApi::setStandByEnabled(const QString &qtKey, const QString &callbackFunc,
                                  uint callbackId, bool enable)
{
    if (!allowed(qtKey))
        return;
    if (StandBy::setEnabled(enable))
        view()->respondSuccess(callbackFunc, callbackId);
    else
        view()->respondError(
            callbackFunc, callbackId, 1000,
            QStringLiteral("Function setStandByEnabled failed for an unknown reason."));
}

void ScriptApi::sendMail(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                         const QString &toAddresses, const QString &subject, const QString &message,
                         const QString &ccAddresses, const QString &bccAddresses,
                         const QString &attachmentNames, const QString &attachmentData,
                         const QString &attachmentIsBin, bool isHTML, uint priority, bool receipt)
{
    answer(qtKey, callbackFunc, callbackId, [&] {
        return MailComposer::sendMail(MailRequest { toAddresses, subject, message, ccAddresses,
                                                    bccAddresses, attachmentNames, attachmentData,
                                                    attachmentIsBin, isHTML, priority, receipt });
    });
}

void ScriptApi::sendMail(uint frameId)
{
    QVariantList p;
    if (!m_host->takeFrameParameters(frameId, &p))
        return;
    const auto text = [&p](int i) { return p.value(i).toString(); };
    sendMail(text(0), text(1), p.value(2, 4294967295u).toUInt(), text(3), text(4), text(5), text(6),
             text(7), text(8), text(9), text(10), p.value(11).toBool(), p.value(12, 1u).toUInt(),
             p.value(13).toBool());
}

void ScriptApi::vellumDocToPdf(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                               const QString &docxml, const QString &pdfName)
{
    answer(qtKey, callbackFunc, callbackId,
           [&] { return VellumDoc::toPdfForPage(docxml, pdfName, callbackFunc); });
}

namespace {

QString offlineVideoMessage()
{
    return QStringLiteral(
        "Cannot play remote video. This device is not currently connected to the internet.");
}

} // namespace

void ScriptApi::respondPopup(const QString &callbackFunc, uint callbackId, bool done,
                             const QString &message)
{
    if (done)
        view()->respondSuccess(callbackFunc, callbackId);
    else
        view()->respondError(callbackFunc, callbackId, 1000, message);
}

void ScriptApi::openPopup(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                          const QString &url, int width, int height, uint position)
{
    if (!allowed(qtKey))
        return;
    m_host->popups()->open(QUrl(url, QUrl::TolerantMode), width, height, position);
    view()->respondSuccess(callbackFunc, callbackId);
}

void ScriptApi::openPopupFullScreen(const QString &qtKey, const QString &callbackFunc,
                                    uint callbackId, const QString &url)
{
    if (!allowed(qtKey))
        return;
    m_host->popups()->openFullScreen(QUrl(url, QUrl::TolerantMode));
    view()->respondSuccess(callbackFunc, callbackId);
}

void ScriptApi::closePopup(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (allowed(qtKey))
        respondPopup(callbackFunc, callbackId, m_host->popups()->close(),
                     QStringLiteral("Cannot close popup.  None currently exists."));
}

void ScriptApi::setPopupSource(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                               const QString &source, const QString &baseUrl)
{
    if (allowed(qtKey))
        respondPopup(callbackFunc, callbackId,
                     m_host->popups()->setSource(source, QUrl(baseUrl, QUrl::TolerantMode)),
                     QStringLiteral("Cannot set popup source.  None currently exists."));
}

void ScriptApi::injectJsIntoPopUp(const QString &qtKey, const QString &callbackFunc,
                                  uint callbackId, const QString &js, bool isFrameRecursive)
{
    if (allowed(qtKey))
        respondPopup(callbackFunc, callbackId, m_host->popups()->injectScript(js, isFrameRecursive),
                     QStringLiteral("Cannot inject js into popup.  None currently exists."));
}

void ScriptApi::onPopupPostReceived(const QString &qtKey, const QString &callbackFunc,
                                    uint callbackId)
{
    if (allowed(qtKey))
        view()->webViewPrivate()->setPopupPostCallback(callbackFunc, callbackId);
}

void ScriptApi::playYouTubeVideo(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                                 const QString &videoId, int width, int height, uint position)
{
    if (allowed(qtKey))
        respondPopup(callbackFunc, callbackId,
                     m_host->popups()->playVideo(videoId, width, height, position),
                     offlineVideoMessage());
}

void ScriptApi::playYouTubeVideoFullScreen(const QString &qtKey, const QString &callbackFunc,
                                           uint callbackId, const QString &videoId)
{
    if (allowed(qtKey))
        respondPopup(callbackFunc, callbackId, m_host->popups()->playVideoFullScreen(videoId),
                     offlineVideoMessage());
}

void ScriptApi::stopVideo(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (allowed(qtKey))
        respondPopup(callbackFunc, callbackId, m_host->popups()->close(),
                     QStringLiteral("Cannot stop video.  None is currently displayed."));
}

void ScriptApi::fetchWifiConnName(const QString &qtKey, const QString &callbackFunc,
                                  uint callbackId)
{
    if (allowed(qtKey))
        view()->respondSuccess(callbackFunc, callbackId, WifiInfo::connectionName(), {});
}

void ScriptApi::startWifiConnMonitor(const QString &qtKey, const QString &callbackFunc,
                                     uint callbackId)
{
    if (allowed(qtKey) && !m_host->startWifiMonitor(callbackFunc, callbackId))
        view()->respondError(callbackFunc, callbackId, 1000,
                             QStringLiteral("Already Monitoring Wifi Connections."));
}

void ScriptApi::stopWifiConnMonitor(const QString &qtKey, const QString &callbackFunc,
                                    uint callbackId)
{
    if (!allowed(qtKey))
        return;
    if (m_host->stopWifiMonitor())
        view()->respondSuccess(callbackFunc, callbackId);
    else
        view()->respondError(callbackFunc, callbackId, 1000,
                             QStringLiteral("Not Monitoring Wifi Connections."));
}

void ScriptApi::reportElementValue(const QString &element, const QString &value)
{
    if (PipeChannel *pipe = m_host->pipe())
        pipe->reportElementValue(element, value);
}
