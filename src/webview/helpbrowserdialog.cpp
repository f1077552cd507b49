#include "webview/helpbrowserdialog.h"

#include "platform/prompter.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QPrinter>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebFrame>
#include <QWebSettings>
#include <QWebView>

HelpBrowserDialog::HelpBrowserDialog(const QString &helpDir, const QString &collectionFile,
                                     const QString &virtualFolder, const QString &iconPath,
                                     QWidget *parent)
    : QDialog(parent)
    , m_helpDir(helpDir)
    , m_collectionFile(collectionFile)
    , m_virtualFolder(virtualFolder)
{
    const QFileInfo collection(helpDir + QLatin1Char('/') + collectionFile);
    bool usable = collection.isFile();
    if (usable) {
        m_helpEngine = new QHelpEngine(collection.absoluteFilePath(), this);
        // A file that is not a collection would show an empty browser as if all were well.
        usable = m_helpEngine->setupData();
    }
    if (!usable) {
        Prompter::current().warning(parentWidget(), QStringLiteral("Missing Resource"),
                                    QStringLiteral("The Help Documentation Could Not Ne Found."));
        delete m_helpEngine;
        m_helpEngine = nullptr;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    m_namespace = m_helpEngine->registeredDocumentations().value(0);
    setUpForm(iconPath);
    applyStyleSheet();
    connectEngine();
    QTimer::singleShot(250, this, &HelpBrowserDialog::setFirstPage);
    show();
}

void HelpBrowserDialog::applyStyleSheet()
{
    // Pages come from the collection as text, so they cannot link a style sheet of their own:
    // the collection's one sheet is applied to every page instead.
    const QByteArray css
        = m_helpEngine->fileData(QUrl(QStringLiteral("qthelp://") + m_namespace + QLatin1Char('/')
                                      + m_virtualFolder + QStringLiteral("/help.css")));
    if (!css.isEmpty()) {
        m_pageView->settings()->setUserStyleSheetUrl(
            QUrl(QStringLiteral("data:text/css;charset=utf-8;base64,")
                 + QString::fromLatin1(css.toBase64())));
    }
}

HelpBrowserDialog *HelpBrowserDialog::showCollection(const QString &helpDir,
                                                     const QString &collectionFile,
                                                     const QString &virtualFolder,
                                                     const QString &iconPath, QWidget *parent)
{
    auto *dialog = new HelpBrowserDialog(helpDir, collectionFile, virtualFolder, iconPath, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

QToolButton *HelpBrowserDialog::addButton(const char *name, const QString &toolTip,
                                          const QString &icon)
{
    auto *button = new QToolButton;
    button->setObjectName(QLatin1String(name));
    button->setToolTip(toolTip);
    button->setIcon(QIcon(icon));
    button->setEnabled(false);
    return button;
}

void HelpBrowserDialog::setUpForm(const QString &iconPath)
{
    setWindowTitle(QStringLiteral("Help"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(iconPath));
    resize(800, 600);

    m_printButton = addButton("printButton", QStringLiteral("Print"),
                              QStringLiteral(":/viewerButtons/resources/print.png"));
    m_printButton->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    m_reloadButton = addButton("reloadButton", QStringLiteral("Reload"),
                               QStringLiteral(":/viewerButtons/resources/view-refresh.png"));
    m_reloadButton->setShortcut(QKeySequence(QStringLiteral("F5")));
    m_backButton = addButton("backButton", QStringLiteral("Back"),
                             QStringLiteral(":/viewerButtons/resources/go-previous.png"));
    m_forwardButton = addButton("forwardButton", QStringLiteral("Forward"),
                                QStringLiteral(":/viewerButtons/resources/go-next.png"));
    for (QToolButton *button : { m_reloadButton, m_backButton, m_forwardButton })
        button->setText(QStringLiteral("..."));

    auto *buttonRow = new QHBoxLayout;
    for (QToolButton *button : { m_printButton, m_reloadButton, m_backButton, m_forwardButton })
        buttonRow->addWidget(button);
    buttonRow->addStretch();

    m_pageView = new QWebView;
    m_pageView->setObjectName(QStringLiteral("pageView"));
    m_pageView->setUrl(QUrl(QStringLiteral("about:blank")));
    auto *pagePanel = new QWidget;
    auto *pageLayout = new QVBoxLayout(pagePanel);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addLayout(buttonRow);
    pageLayout->addWidget(m_pageView);

    auto *tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("tabWidget"));
    tabs->setMinimumWidth(127);
    tabs->addTab(m_helpEngine->contentWidget(), QStringLiteral("Table Of Contents"));
    tabs->addTab(m_helpEngine->indexWidget(), QStringLiteral("Index"));

    auto *splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(tabs);
    splitter->addWidget(pagePanel);
    splitter->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(splitter);

    connect(m_printButton, &QToolButton::clicked, this, &HelpBrowserDialog::on_printButton_clicked);
    connect(m_reloadButton, &QToolButton::clicked, this,
            &HelpBrowserDialog::on_reloadButton_clicked);
    connect(m_backButton, &QToolButton::clicked, this, &HelpBrowserDialog::on_backButton_clicked);
    connect(m_forwardButton, &QToolButton::clicked, this,
            &HelpBrowserDialog::on_forwardButton_clicked);

    m_pageView->page()->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    m_pageView->setContextMenuPolicy(Qt::NoContextMenu);
    connect(m_pageView, &QWebView::linkClicked, this,
            qOverload<const QUrl &>(&HelpBrowserDialog::setCurrentPage));
    connect(m_pageView, &QWebView::loadFinished, this, &HelpBrowserDialog::pageLoaded);
}

void HelpBrowserDialog::connectEngine()
{
    QHelpContentWidget *contents = m_helpEngine->contentWidget();
    connect(contents, &QHelpContentWidget::linkActivated, this,
            qOverload<const QUrl &>(&HelpBrowserDialog::setCurrentPage));
    QHelpIndexWidget *index = m_helpEngine->indexWidget();
    connect(index, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink &document, const QString &keyword) {
                setCurrentPage(document.url, keyword);
            });
    // A keyword found on several pages: the first one stands for all.
    connect(index, &QHelpIndexWidget::documentsActivated, this,
            [this](const QList<QHelpLink> &documents, const QString &keyword) {
                if (!documents.isEmpty())
                    setCurrentPage(documents.first().url, keyword);
            });
    // The contents are collected on a thread of their own and may not be there yet when the
    // first page is due.
    connect(m_helpEngine->contentModel(), &QHelpContentModel::contentsCreated, this, [this] {
        m_contentsCreated = true;
        if (m_firstPagePending)
            setFirstPage();
    });
}

void HelpBrowserDialog::setFirstPage()
{
    if (!m_helpEngine)
        return;
    QHelpContentModel *model = m_helpEngine->contentModel();
    const QModelIndex first = model->index(0, 0);
    if (!first.isValid()) {
        m_firstPagePending = !m_contentsCreated;
        return;
    }
    m_firstPagePending = false;
    QHelpContentWidget *contents = m_helpEngine->contentWidget();
    contents->setCurrentIndex(first);
    contents->expand(first);
    setCurrentPage(model->contentItemAt(first)->url(), QString());
}

void HelpBrowserDialog::loadUrl(const QUrl &url, const QString &keyword)
{
    const QString prefix = QStringLiteral("qthelp://") + m_namespace;
    QString address = url.toString();
    if (!address.startsWith(prefix, Qt::CaseInsensitive) && !m_virtualFolder.isEmpty()) {
        // A link in a page shown from the engine resolves against the help folder on disk; its
        // path from the virtual folder on names the same page inside the collection.
        const int at = address.indexOf(QLatin1Char('/') + m_virtualFolder + QLatin1Char('/'));
        if (at > 0)
            address = prefix + address.mid(at);
    }
    m_pendingKeyword = keyword;
    m_shownUrl = url;
    m_shownFromCollection = address.startsWith(prefix, Qt::CaseInsensitive);
    if (m_shownFromCollection) {
        const QUrl helpUrl(address, QUrl::TolerantMode);
        m_pendingAnchor = helpUrl.fragment();
        const QString base = QDir(m_helpDir).absolutePath() + QLatin1Char('/');
        m_pageView->setContent(m_helpEngine->fileData(helpUrl), QStringLiteral("text/html"),
                               QUrl::fromLocalFile(base));
    } else {
        m_pendingAnchor.clear();
        m_pageView->load(url);
    }
    m_printButton->setEnabled(true);
    m_reloadButton->setEnabled(true);
}

void HelpBrowserDialog::pageLoaded()
{
    if (!m_pendingAnchor.isEmpty())
        m_pageView->page()->mainFrame()->scrollToAnchor(m_pendingAnchor);
    if (!m_pendingKeyword.isEmpty())
        m_pageView->findText(m_pendingKeyword, QWebPage::HighlightAllOccurrences);
    m_pendingAnchor.clear();
    m_pendingKeyword.clear();
}

void HelpBrowserDialog::setCurrentPage(const QUrl &url, const QString &keyword)
{
    loadUrl(url, keyword);
    // A new page drops the forward history.
    m_history.insert(m_cursor, url);
    ++m_cursor;
    m_history.erase(m_history.begin() + m_cursor, m_history.end());
    m_backButton->setEnabled(m_history.size() >= 2);
    m_forwardButton->setEnabled(false);
}

void HelpBrowserDialog::setCurrentPage(const QUrl &url)
{
    setCurrentPage(url, QString());
}

void HelpBrowserDialog::on_backButton_clicked()
{
    if (m_cursor < 2)
        return;
    --m_cursor;
    loadUrl(m_history.at(m_cursor - 1));
    m_backButton->setEnabled(m_cursor > 1);
    m_forwardButton->setEnabled(true);
}

void HelpBrowserDialog::on_forwardButton_clicked()
{
    if (m_cursor >= m_history.size())
        return;
    ++m_cursor;
    loadUrl(m_history.at(m_cursor - 1));
    m_forwardButton->setEnabled(m_cursor < m_history.size());
    m_backButton->setEnabled(true);
}

void HelpBrowserDialog::on_reloadButton_clicked()
{
    // A page set from the collection has only the help folder as its address: the engine's own
    // reload would show that folder instead of the page.
    if (m_shownFromCollection)
        loadUrl(m_shownUrl);
    else
        m_pageView->triggerPageAction(QWebPage::ReloadAndBypassCache);
}

void HelpBrowserDialog::on_printButton_clicked()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (Prompter::current().printSetup(this, &printer))
        m_pageView->page()->mainFrame()->print(&printer);
}
