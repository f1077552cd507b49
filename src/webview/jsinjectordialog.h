#pragma once

#include "platform/corvidexport.h"

#include <QDialog>
#include <QPointer>
#include <QVector>

class FrameTreeModel;
class QPlainTextEdit;
class QPushButton;
class QTreeView;
class QWebFrame;
class QWebPage;

// A developer tool: lists the frame tree of a page, and evaluates script typed by the user in
// the frame chosen there.
class CORVID_EXPORT JsInjectorDialog : public QDialog
{
    Q_OBJECT

public:
    explicit JsInjectorDialog(QWidget *parent = nullptr);

    // Shows owner's injector (made on first use and kept as its child) for page, with the frame
    // tree rebuilt. The one call the Injector action needs.
    static JsInjectorDialog *showFor(QWebPage *page, QWidget *owner);

    // The page whose frames are listed; may be null, and becomes null when the page goes.
    void setPage(QWebPage *page);
    QWebPage *page() const { return m_page; }
    FrameTreeModel *frameModel() const { return m_model; }

    // One line per frame below mainFrame, depth-first: depth spaces (0 for the main frame's
    // children), the frame's name, a tab, its requested address. Empty without a frame.
    static QString frameDescription(QWebFrame *mainFrame);
    // The frame reached from mainFrame through the child at each row in turn; null when a row
    // is out of range (the frame went since the tree was built) or there is no main frame.
    static QWebFrame *frameAt(QWebFrame *mainFrame, const QVector<int> &rows);

public slots:
    void on_injectButton_clicked();
    void on_refreshFrameTreeButton_clicked();

private:
    QPointer<QWebPage> m_page;
    FrameTreeModel *m_model = nullptr;
    QTreeView *m_frameTreeView;
    QPushButton *m_refreshFrameTreeButton;
    QPlainTextEdit *m_jsEdit;
    QPushButton *m_injectButton;
};
