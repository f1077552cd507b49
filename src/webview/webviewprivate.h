#pragma once

#include "corvidexport.h"

#include <QObject>
#include <QString>

class WebView;

// Platform-neutral state of a web view: the quit protocol with the page.
class CORVID_EXPORT WebViewPrivate : public QObject
{
    Q_OBJECT

public:
    explicit WebViewPrivate(WebView *view);

    WebView *view() const { return m_view; }

    bool isProcessing() const { return m_processing; }
    void setProcessing(bool processing) { m_processing = processing; }
    bool isQuitAllowed() const { return m_quitAllowed; }
    void setQuitAllowed(bool allowed) { m_quitAllowed = allowed; }

    QString quitRequestCallbackFunc;
    uint quitRequestCallbackId = 0;
    QString killedCallbackFunc;
    uint killedCallbackId = 0;
    // Where the start file goes each time the page asks for it.
    QString importCallbackFunc;
    uint importCallbackId = 0;

    // One step of waiting for the page; tests shorten it.
    int waitStepMs = 1000;

signals:
    // Emitted when the shell quits with exit code 0: the viewer window closes.
    void quitRequested();

private:
    WebView *m_view;
    bool m_processing = false;
    bool m_quitAllowed = false;
};
