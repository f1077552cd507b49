#include "webview/webviewprivate.h"

#include "webview/webview.h"

WebViewPrivate::WebViewPrivate(WebView *view)
    : QObject(view)
    , m_view(view)
{
}
