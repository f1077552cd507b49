#pragma once

#include "corvidexport.h"

#include <QObject>
#include <QVariantList>

class QtWebViewPrivate;
class WebView;

// The host object that trusted pages see as QtObj. It is a plain object, not the view itself,
// so that page script reaches exactly these calls and none of a widget's own slots (close, hide,
// setEnabled, ...). Every call that carries qtKey checks it before doing anything.
class CORVID_EXPORT ScriptApi : public QObject
{
    Q_OBJECT

public:
    explicit ScriptApi(QtWebViewPrivate *host);

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

    // Cipher
    void encrypt(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                 const QString &clearText, uint encryptionKey);
    void decrypt(const QString &qtKey, const QString &callbackFunc, uint callbackId,
                 const QString &encrypted, uint encryptionKey);

private:
    WebView *view() const;
    bool allowed(const QString &qtKey);

    QtWebViewPrivate *m_host;
};
