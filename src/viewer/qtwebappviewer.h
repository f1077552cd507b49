#pragma once

#include "platform/corvidexport.h"
#include "viewer/webappviewer.h"

class QtWebView;

// The viewer window holding the Qt web view. Closing it asks the page first.
class CORVID_EXPORT QtWebAppViewer : public WebAppViewer
{
    Q_OBJECT

public:
    explicit QtWebAppViewer(QWidget *parent = nullptr);

    QtWebView *view() const { return m_view; }

    void loadLocalFile(const QString &path) override;
    void loadUrl(const QUrl &url) override;

signals:
    void forcedQuitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QtWebView *m_view;
};
