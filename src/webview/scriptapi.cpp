#include "webview/scriptapi.h"

#include "app/logger.h"
#include "config/appconfig.h"
#include "services/textcipher.h"
#include "webview/qtwebview.h"
#include "webview/qtwebviewprivate.h"
#include "webview/webviewprivate.h"

ScriptApi::ScriptApi(QtWebViewPrivate *host)
    : QObject(host)
    , m_host(host)
{
}

WebView *ScriptApi::view() const
{
    return m_host->view();
}

bool ScriptApi::allowed(const QString &qtKey)
{
    return view()->checkAccessKey(qtKey, true);
}

void ScriptApi::qtSetProcessing(bool isProcessing)
{
    view()->webViewPrivate()->setProcessing(isProcessing);
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
    d->quitRequestCallbackFunc = callbackFunc;
    d->quitRequestCallbackId = callbackId;
}

void ScriptApi::onKilled(const QString &qtKey, const QString &callbackFunc, uint callbackId)
{
    if (!allowed(qtKey))
        return;
    WebViewPrivate *d = view()->webViewPrivate();
    d->killedCallbackFunc = callbackFunc;
    d->killedCallbackId = callbackId;
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
    const AppConfig config(false);
    const QUrl url = config.onLoadUrl().adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    view()->invokeCallback(callbackFunc,
                           {url.toString(), config.onLoadUsername(), config.onLoadPassword(),
                            config.onLoadMaximize()},
                           WebView::NoStateChange);
}

void ScriptApi::updateSettings(const QString &qtKey, const QVariantList &settingsList,
                               const QString &callbackFunc)
{
    if (!view()->checkAccessKey(qtKey, false))
        return;
    AppConfig config(false);
    if (settingsList.size() > 0)
        config.setOnLoadUrl(settingsList.at(0).toString());
    if (settingsList.size() > 1)
        config.setOnLoadUsername(settingsList.at(1).toString());
    if (settingsList.size() > 2)
        config.setOnLoadPassword(settingsList.at(2).toString());
    config.setOnLoadMaximize(settingsList.size() > 3 && settingsList.at(3).toBool());
    view()->invokeCallback(callbackFunc, {true}, WebView::NoStateChange);
}

void ScriptApi::qtLog(const QString &message)
{
    Logger::instance().log(LogCategory::App, message);
}

void ScriptApi::fetchLogSettings(const QString &qtKey, const QString &callbackFunc,
                                 uint callbackId)
{
    if (allowed(qtKey))
        view()->respondSuccess(callbackFunc, callbackId, QString(),
                               Logger::storedSwitches(m_host->preferences()));
}

void ScriptApi::updateLogSettings(const QString &qtKey, const QString &callbackFunc,
                                  uint callbackId, const QString &settings)
{
    if (!allowed(qtKey))
        return;
    Logger::instance().updateSettings(settings, AppConfig(false), m_host->preferences());
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
