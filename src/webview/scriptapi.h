#pragma once

#include "platform/corvidexport.h"

#include <QObject>
#include <QPointer>
#include <QVariantList>

class QWebFrame;
struct DownloadOptions;
class QtWebViewPrivate;
class WebView;

// The host object that trusted pages see as QtObj. It is a plain object, not the view itself,
// so that page script reaches exactly these calls and none of a widget's own slots (close, hide,
// setEnabled, ...). Every call that carries qtKey checks it before doing anything.
//
// Each frame gets an object of its own, so a call knows which frame made it. Page script also
// reaches what every object inherits: deleteLater() and objectName would let it end or change
// the object under the host, so deferred deletion is refused and the name is read-only.
class CORVID_EXPORT ScriptApi : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString objectName READ objectName CONSTANT)

public:
    ScriptApi(QtWebViewPrivate *host, QWebFrame *frame);

    // The frame this object was published into; null once the frame is gone.
    QWebFrame *frame() const { return m_frame; }
    // Deletes the object from the event loop; the only deferred deletion it accepts.
    void release();

public slots:
    // Application lifecycle
    void qtSetProcessing(bool isProcessing);
    void quit(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void quitWithError(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       int errorCode);
    void requestQuit(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void onQuitRequest(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void onKilled(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void onDeactivated(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void onReactivated(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void onMemoryWarning(const QString &qtKey, const QString &callbackFunc, uint callbackId);

    // Settings page
    void fetchSettings(const QString &qtKey, const QString &callbackFunc);
    void updateSettings(const QString &qtKey, const QVariantList &settingsList,
                        const QString &callbackFunc);

    // Logging
    void qtLog(const QString &message);
    void fetchLogSettings(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void updateLogSettings(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           const QString &settings);

    // Page host
    void saveUrl(const QString &urlStr);
    // A long text of the response the main frame is evaluating; see WebView::takeResponseValue.
    QString takeResponseValue(uint id);
    // A watched form's field, reported to the automation pipe when the form is submitted.
    void reportElementValue(const QString &element, const QString &value);

    // Cipher
    void encrypt(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                 const QString &clearText, uint encryptionKey);
    void decrypt(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                 const QString &encrypted, uint encryptionKey);

    // Files
    void writeFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                   const QString &filePath, const QString &data);
    void readFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                  const QString &filePath);
    void writeBinaryFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                         const QString &filePath, const QString &data);
    void readBinaryFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                        const QString &filePath);
    void writeEncryptedFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                            const QString &filePath, uint encryptionKey, const QString &data);
    void readEncryptedFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           const QString &filePath, uint encryptionKey);
    void deleteFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                    const QString &filePath);
    void moveFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                  const QString &currentPath, const QString &newPath);
    void browseForPath(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       uint modeCode, const QString &caption, const QString &startPath,
                       const QString &filter);
    void exportFile(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                    const QString &fileName, const QString &data, bool isBinary,
                    const QString &fileType);
    void onImportFile(const QString &qtKey, const QString &callbackFunc, uint callbackId);

    // Directories
    void readDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       const QString &dirPath, uint filterCode, bool readSubDirs);
    void readDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       const QString &dirPath, uint filterCode);
    void readDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       const QString &dirPath);
    void makeDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       const QString &dirPath);
    void clearDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                        const QString &dirPath);
    void removeDirectory(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                         const QString &dirPath);

    // Zip archives
    void zipRead(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                 const QString &zipFilePath);
    void zipAppend(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                   const QString &zipFilePath, const QString &sourceFilePaths,
                   const QString &destinationFilePaths);
    void zipAppendAll(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                      const QString &zipFilePath, const QString &sourceDirPath,
                      bool wrapInContainerDir);
    void zipExtract(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                    const QString &zipFilePath, const QString &sourceFilePaths,
                    const QString &destinationFilePaths);
    void zipExtractAll(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                       const QString &zipFilePath, const QString &destinationDirPath);

    // MIME type table
    void registerExtension(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           const QString &extension, bool isBinary);
    void registerMimeType(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                          const QString &mimeType, const QString &extension, bool isBinary,
                          bool isDefaultExtension);

    // Network
    void udpListen(const QString &qtKey, const QString &callbackFunc, uint callbackId, uint port);
    void udpStop(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void fetchSource(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                     const QString &urlAddress);
    void verifySSL(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                   const QString &verificationUrlAddress);
    void installTrustedRootCert(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                                const QString &rootCertUrlAddress);
    void download(const QString &qtKey, const QString &url,
                  const QString &callbackFunc = QString());
    void downloadSilent(const QString &qtKey, const QString &url,
                        const QString &callbackFunc = QString());
    void downloadEx(const QString &qtKey, const QString &url, bool silent = false,
                    bool overwritePrompt = true, bool userSelectsPath = true,
                    const QString &directory = QString(), const QString &fileName = QString(),
                    const QString &callbackFunc = QString());

    // System: the calls without a callback id do nothing at all for a wrong key.
    void regEntry(const QString &qtKey, const QString &key, const QString &value,
                  const QVariant &defaultRet, const QString &callbackFunc);
    void setRegEntry(const QString &qtKey, const QString &key, const QString &value,
                     const QVariant &data, const QString &callbackFunc = QString());
    void launch(const QString &qtKey, const QString &path, const QStringList &args = {},
                bool detached = false);
    void launchExplorer(const QString &qtKey, const QString &path);
    void launchNotepad(const QString &qtKey, const QString &path);
    void launchWord(const QString &qtKey, const QString &path);
    void launchExcel(const QString &qtKey, const QString &path);
    void launchPowerPoint(const QString &qtKey, const QString &path);
    void setClipboard(const QString &qtKey, const QString &text);
    void clearClipboard(const QString &qtKey);
    void setClipboardEnabled(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                             bool enable);
    void setStandByEnabled(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           bool enable);

    // Mail
    void sendMail(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                  const QString &toAddresses = QString(), const QString &subject = QString(),
                  const QString &message = QString(), const QString &ccAddresses = QString(),
                  const QString &bccAddresses = QString(),
                  const QString &attachmentNames = QString(),
                  const QString &attachmentData = QString(),
                  const QString &attachmentIsBin = QString(), bool isHTML = false,
                  uint priority = 1, bool receipt = false);
    // The same with the arguments left in the frame's qtParametersArray, for large mails.
    void sendMail(uint frameId);

    // Wi-Fi
    void fetchWifiConnName(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void startWifiConnMonitor(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void stopWifiConnMonitor(const QString &qtKey, const QString &callbackFunc, uint callbackId);

    // Documents
    void vellumDocToPdf(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                        const QString &docxml, const QString &pdfName);

    // Popups and video: a second page above this one. Sizes and positions are in pixels of the
    // view; position 1 to 4 is a corner (top left, bottom left, top right, bottom right).
    void openPopup(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                   const QString &url, int width, int height, uint position = 0);
    void openPopupFullScreen(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                             const QString &url);
    void closePopup(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void setPopupSource(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                        const QString &source, const QString &baseUrl = QString());
    void injectJsIntoPopUp(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                           const QString &js, bool isFrameRecursive = false);
    // Registers the function that hears every message a popup page posts; no answer now.
    void onPopupPostReceived(const QString &qtKey, const QString &callbackFunc, uint callbackId);
    void playYouTubeVideo(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                          const QString &videoId, int width, int height, uint position = 0);
    void playYouTubeVideoFullScreen(const QString &qtKey, const QString &callbackFunc,
                                    uint callbackId, const QString &videoId);
    void stopVideo(const QString &qtKey, const QString &callbackFunc, uint callbackId);

protected:
    bool event(QEvent *event) override;

private:
    WebView *view() const;
    // Checks the key, runs the call body and answers with its report.
    template<typename Body>
    void answer(const QString &qtKey, const QString &callbackFunc, uint callbackId, Body body);
    bool allowed(const QString &qtKey);
    // The key check of the calls that report nothing, not even a refusal.
    bool quietlyAllowed(const QString &qtKey);
    void startDownload(const QString &qtKey, const QString &url, const DownloadOptions &options);
    // Success when done, else the popup calls' failure with message.
    void respondPopup(const QString &callbackFunc, uint callbackId, bool done,
                      const QString &message);

    QtWebViewPrivate *m_host;
    QPointer<QWebFrame> m_frame;
    bool m_released = false;
};
