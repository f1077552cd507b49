#pragma once

#include "platform/corvidexport.h"
#include "webview/scriptruntime.h"
#include "webview/webview.h"

class QVBoxLayout;
class QtWebViewPrivate;

// The web view on the desktop: QtWebKit in a graphics view, with the optional menu bar.
class CORVID_EXPORT QtWebView : public WebView
{
    Q_OBJECT

public:
    explicit QtWebView(QWidget *parent = nullptr);
    ~QtWebView() override;

    QtWebViewPrivate *pageHost() const { return m_host; }

    void loadLocalFile(const QString &path) override;
    void setUrl(const QUrl &url) override;
    QWebFrame *mainFrame() const override;
    void evaluateInMainFrame(const QString &script) override;
    int platform() const override;
    float platformVersionNumber() const override;
    QString platformVersionName() const override;
    bool isUdpEmulated() const override { return false; }
    QString logFilePath() const override;
    QString tempDirPath() const override;
    QString storageDirPath() const override;
    QString userDocsDirPath() const override;
    QString userDesktopDirPath() const override;
    QString frameRuntimeScript() const override;
    bool isOnline() const override;
    QString prefValue(const QString &key) override;
    void setPref(const QString &key, const QString &value) override;
    void removePref(const QString &key) override;
    void quitApplication(int exitCode) override;

    ScriptRuntime::HostInfo hostInfo() const;
    // An exit code as the process can report it: on Unix only 8 bits survive, so a code that
    // would read as success or wrap around becomes 255.
    static int processExitCode(int exitCode);

protected:
    bool mainFrameFetchesValues() const override;
    void releaseEngineMemory() override;

private:
    QtWebViewPrivate *m_host;
    QVBoxLayout *m_layout;
};
