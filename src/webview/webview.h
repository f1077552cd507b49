#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QHash>
#include <QPair>
#include <QTimer>
#include <QVariantList>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>

class AppConfig;
class QWebFrame;
class TempFileManager;
class WebViewPrivate;

// The web view as the script protocol, the quit logic and the logging see it. Everything that
// depends on the web engine or the operating system is a virtual operation of a subclass.
class CORVID_EXPORT WebView : public QWidget
{
    Q_OBJECT

public:
    enum Platform {
        UnknownPlatform = 0,
        WindowsPlatform,
        MacPlatform,
        LinuxPlatform,
        IosPlatform,
        AndroidPlatform
    };
    enum StateChange { NoStateChange = 0, QuitStateChange = 5 };
    enum ErrorCode { ErrUnknown = 0, ErrUnsupported = 1, ErrAccessDenied = 4 };

    explicit WebView(QWidget *parent = nullptr);
    ~WebView() override;

    static QString accessKeyCookieName() { return QStringLiteral("QT_ACCESS_KEY_COOKIE"); }

    virtual void loadLocalFile(const QString &path) = 0;
    virtual void setUrl(const QUrl &url) = 0;
    virtual QWebFrame *mainFrame() const = 0;
    virtual void evaluateInMainFrame(const QString &script) = 0;
    virtual int platform() const = 0;
    virtual float platformVersionNumber() const = 0;
    virtual QString platformVersionName() const = 0;
    virtual bool isUdpEmulated() const = 0;
    virtual QString logFilePath() const = 0;
    virtual QString tempDirPath() const = 0;
    virtual QString storageDirPath() const = 0;
    virtual QString userDocsDirPath() const = 0;
    virtual QString userDesktopDirPath() const = 0;
    virtual QString frameRuntimeScript() const = 0;
    virtual bool isOnline() const = 0;
    virtual QString prefValue(const QString &key) = 0;
    virtual void setPref(const QString &key, const QString &value) = 0;
    virtual void removePref(const QString &key) = 0;
    virtual void quitApplication(int exitCode) = 0;

    WebViewPrivate *webViewPrivate() const { return m_d; }
    const AppConfig &config() const { return *m_config; }
    // Short-lived files handed to other programs; removed again after use.
    TempFileManager &tempFiles() const { return *m_tempFiles; }

    // The file the program was started with, handed over by the application.
    QString launchFilePath() const { return m_launchFilePath; }
    void setLaunchFilePath(const QString &path) { m_launchFilePath = path; }

    // The access key: empty until the first page load has finished.
    QString accessKey() const { return m_accessKey; }
    // Makes the key once per run and hands it to the page through setCookie.
    void generateAccessKey();
    // An empty key is refused too, so calls fail closed before the key exists.
    bool checkAccessKey(const QString &qtKey, bool report);

    void respond(const QString &callbackFunc, uint callbackId, bool success, int errorCode,
                 const QString &message, const QStringList &values, int indicator);
    void respondSuccess(const QString &callbackFunc, uint callbackId);
    void respondSuccess(const QString &callbackFunc, uint callbackId, const QString &message,
                        const QStringList &values);
    void respondSuccessWithIndicator(const QString &callbackFunc, uint callbackId, int indicator);
    void respondError(const QString &callbackFunc, uint callbackId, int errorCode,
                      const QString &message);
    void respondResult(const QString &callbackFunc, uint callbackId, const CallResult &result);
    void respondUnsupported(const QString &callbackFunc, uint callbackId, const QString &function);

    void invokeCallback(const QString &callbackFunc, const QVariantList &arguments, int indicator);
    void invokeCallbackAll(const QString &callbackFunc, const QVariantList &arguments,
                           int indicator);
    void invokeOnErrorCallback(int errorCode, const QVariantList &arguments);
    void setQtStateChangeIndicator(int indicator);

    static QString encodeArguments(const QVariantList &arguments);
    // The next piece, from the end, of a long text of a response being evaluated in the main
    // frame, handed to that frame's host object; empty when the id is unknown or all is taken.
    QString takeResponseValue(uint id);
    static QString escapeForScript(const QString &text);

    // The quit request of page script: checked against the access key.
    void requestQuit(const QString &qtKey, bool wait);
    // The quit request itself: asks the page to get ready unless it never registered for that.
    // The shell's own close and menu quit use it directly, so they work before the key exists.
    void runQuitRequest(bool wait);
    void waitForProcessing();

    // Runs work for the page from the event loop, in order. Responses are evaluated there rather
    // than inside the page's own call, so the page library always answers from a turn of its
    // own (a frame trusts only messages sent by the top window).
    void runForPage(std::function<void()> work);
    // The same for a script evaluated in the main frame; scripts queued together are evaluated
    // in one go.
    void runScriptForPage(const QString &script);
    void flushPageWork();
    // Responses between two releases of the engine's memory (4,000); tests make it small.
    void setResponsesPerRelease(int count) { m_responsesPerRelease = count; }

    // The UDP calls of page script, handed to the listener through the signals below.
    void udpListen(const QString &qtKey, const QString &callbackFunc, uint callbackId, uint port)
    {
        emit udpListenRequested(qtKey, callbackFunc, callbackId, port);
    }
    void udpStop(const QString &qtKey, const QString &callbackFunc, uint callbackId)
    {
        emit udpStopRequested(qtKey, callbackFunc, callbackId);
    }

signals:
    void engineMemoryReleased();
    void udpListenRequested(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                            uint port);
    void udpStopRequested(const QString &qtKey, const QString &callbackFunc, uint callbackId);

protected:
    // Whether the main frame holds the host object, so that a response can fetch its long texts
    // from it rather than carry them as script literals.
    virtual bool mainFrameFetchesValues() const { return false; }
    // Lets the engine give back the memory of scripts and values that are garbage by now.
    virtual void releaseEngineMemory() { }

private:
    // Texts a response script fetches by id instead of parsing them.
    using FetchedValues = QVector<QPair<uint, QString>>;

    QString callbackScript(const char *entryPoint, const QString &callbackFunc,
                           const QVariantList &arguments, int indicator, FetchedValues *fetched);
    void invokeEntryPoint(const char *entryPoint, const QString &callbackFunc,
                          const QVariantList &arguments, int indicator);
    static void appendEncodedArguments(QString &out, const QVariantList &arguments,
                                       const std::function<QString(const QString &)> &fetch
                                       = nullptr);
    static void appendEscaped(QString &out, const QString &text);
    // A first guess of the encoded length, so that large results are not copied as they grow.
    static int argumentsSize(const QVariantList &arguments);

    WebViewPrivate *m_d;
    QString m_accessKey;
    QString m_launchFilePath;
    std::unique_ptr<AppConfig> m_config;
    // Owned here: the manager takes no parent of its own.
    std::unique_ptr<TempFileManager> m_tempFiles;
    // One step of page work: a script for the main frame, or a step of its own.
    struct PageWork
    {
        QString script;
        std::function<void()> step;
        FetchedValues fetched;
    };
    void schedulePageWork();
    void evaluateScripts(QList<PageWork> &work, int begin, int end);
    void evaluateBatch(const QList<PageWork> &work, int begin, int end);

    QList<PageWork> m_pageWork;
    QTimer m_pageWorkTimer;
    // The fetched texts of the scripts being evaluated, by id.
    QHash<uint, QString> m_responseValues;
    // Every response leaves garbage in the engine, which collects it far too seldom on its own
    // when a page makes calls without pause: memory would climb by hundreds of megabytes. A
    // release also drops the engine's compiled code, which the page's busy functions earn back.
    void releaseEngineMemoryNow();
    int m_responsesPerRelease = 4000;
    int m_responsesSinceRelease = 0;
    QTimer m_releaseTimer;
    uint m_nextValueId = 1;
};
