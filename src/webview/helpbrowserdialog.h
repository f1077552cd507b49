#pragma once

#include "platform/corvidexport.h"

#include <QDialog>
#include <QList>
#include <QUrl>

class QHelpEngine;
class QToolButton;
class QWebView;

// The desktop help: a compiled help collection shown with its table of contents, its index and
// a page view that keeps its own back and forward history.
class CORVID_EXPORT HelpBrowserDialog : public QDialog
{
    Q_OBJECT

public:
    // Opens helpDir/collectionFile. When that is missing or cannot be read, warns and closes
    // itself once the event loop runs; otherwise shows itself.
    HelpBrowserDialog(const QString &helpDir, const QString &collectionFile,
                      const QString &virtualFolder, const QString &iconPath,
                      QWidget *parent = nullptr);

    // A dialog that deletes itself when closed; the one call the Help action needs.
    static HelpBrowserDialog *showCollection(const QString &helpDir, const QString &collectionFile,
                                             const QString &virtualFolder, const QString &iconPath,
                                             QWidget *parent);

    // Null when the collection could not be opened.
    QHelpEngine *helpEngine() const { return m_helpEngine; }
    QWebView *pageView() const { return m_pageView; }
    // Visited addresses, oldest first; the current page is the entry before historyCursor().
    QList<QUrl> history() const { return m_history; }
    int historyCursor() const { return m_cursor; }

public slots:
    void setFirstPage();
    void setCurrentPage(const QUrl &url, const QString &keyword);
    void setCurrentPage(const QUrl &url);
    void on_reloadButton_clicked();
    void on_backButton_clicked();
    void on_forwardButton_clicked();
    void on_printButton_clicked();

private:
    void applyStyleSheet();
    void setUpForm(const QString &iconPath);
    QToolButton *addButton(const char *name, const QString &toolTip, const QString &icon);
    void connectEngine();
    // Shows url: pages of the collection come from the help engine, anything else is loaded.
    void loadUrl(const QUrl &url, const QString &keyword = QString());
    void pageLoaded();

    QString m_helpDir;
    QString m_collectionFile;
    QString m_virtualFolder;
    QString m_namespace;
    QHelpEngine *m_helpEngine = nullptr;
    QWebView *m_pageView = nullptr;
    QToolButton *m_printButton = nullptr;
    QToolButton *m_reloadButton = nullptr;
    QToolButton *m_backButton = nullptr;
    QToolButton *m_forwardButton = nullptr;
    QUrl m_shownUrl;
    bool m_shownFromCollection = false;
    QList<QUrl> m_history;
    int m_cursor = 0;
    // Applied once the page has loaded: content set from the engine has no address to scroll
    // by, and highlighting before the load would mark the old page.
    QString m_pendingKeyword;
    QString m_pendingAnchor;
    bool m_contentsCreated = false;
    bool m_firstPagePending = false;
};
