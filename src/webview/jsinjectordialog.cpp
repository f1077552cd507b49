#include "webview/jsinjectordialog.h"

#include "platform/prompter.h"
#include "webview/frametreemodel.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWebFrame>
#include <QWebPage>
#include <algorithm>

namespace {

void describe(QWebFrame *frame, int depth, QString *out)
{
    const QList<QWebFrame *> children = frame->childFrames();
    for (QWebFrame *child : children) {
        *out += QString(depth, QLatin1Char(' ')) + child->frameName() + QLatin1Char('\t')
            + child->requestedUrl().toString() + QLatin1Char('\n');
        describe(child, depth + 1, out);
    }
}

void warn(QWidget *parent, const QString &text)
{
    Prompter::current().warning(parent, QStringLiteral("Unable To Inject"), text);
}

} // namespace

JsInjectorDialog::JsInjectorDialog(QWidget *parent)
    : QDialog(parent,
              Qt::Window | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint
                  | Qt::WindowCloseButtonHint)
    , m_frameTreeView(new QTreeView)
    , m_refreshFrameTreeButton(new QPushButton(QStringLiteral("&Refresh")))
    , m_jsEdit(new QPlainTextEdit)
    , m_injectButton(new QPushButton(QStringLiteral("&Inject!")))
{
    setObjectName(QStringLiteral("JsInjectorDialog"));
    setWindowTitle(QStringLiteral("Injector"));
    setWindowIcon(QIcon(QStringLiteral(":/viewerButtons/resources/injection.png")));
    resize(550, 550);

    m_frameTreeView->setObjectName(QStringLiteral("frameTreeView"));
    m_frameTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_refreshFrameTreeButton->setObjectName(QStringLiteral("refreshFrameTreeButton"));
    m_jsEdit->setObjectName(QStringLiteral("jsEdit"));
    m_injectButton->setObjectName(QStringLiteral("injectButton"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);

    auto *frameRow = new QHBoxLayout;
    frameRow->addWidget(m_frameTreeView);
    frameRow->addWidget(m_refreshFrameTreeButton, 0, Qt::AlignTop);
    auto *injectRow = new QHBoxLayout;
    injectRow->addStretch();
    injectRow->addWidget(m_injectButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Frame:")));
    layout->addLayout(frameRow);
    layout->addWidget(new QLabel(QStringLiteral("JavaScript:")));
    layout->addWidget(m_jsEdit);
    layout->addLayout(injectRow);
    layout->addWidget(buttons);

    connect(m_injectButton, &QPushButton::clicked, this,
            &JsInjectorDialog::on_injectButton_clicked);
    connect(m_refreshFrameTreeButton, &QPushButton::clicked, this,
            &JsInjectorDialog::on_refreshFrameTreeButton_clicked);
    connect(buttons, &QDialogButtonBox::accepted, this, &QWidget::close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
}

JsInjectorDialog *JsInjectorDialog::showFor(QWebPage *page, QWidget *owner)
{
    auto *dialog = owner
        ? owner->findChild<JsInjectorDialog *>(QString(), Qt::FindDirectChildrenOnly)
        : nullptr;
    if (!dialog)
        dialog = new JsInjectorDialog(owner);
    dialog->setPage(page);
    dialog->on_refreshFrameTreeButton_clicked();
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

void JsInjectorDialog::setPage(QWebPage *page)
{
    m_page = page;
}

QString JsInjectorDialog::frameDescription(QWebFrame *mainFrame)
{
    QString text;
    if (mainFrame)
        describe(mainFrame, 0, &text);
    return text;
}

QWebFrame *JsInjectorDialog::frameAt(QWebFrame *mainFrame, const QVector<int> &rows)
{
    QWebFrame *frame = mainFrame;
    for (int row : rows) {
        if (!frame)
            return nullptr;
        frame = frame->childFrames().value(row);
    }
    return frame;
}

void JsInjectorDialog::on_refreshFrameTreeButton_clicked()
{
    m_frameTreeView->reset();
    FrameTreeModel *previous = m_model;
    QItemSelectionModel *previousSelection = m_frameTreeView->selectionModel();
    m_model = new FrameTreeModel(frameDescription(m_page ? m_page->mainFrame() : nullptr), this);
    m_frameTreeView->setModel(m_model);
    m_frameTreeView->collapseAll();
    // The view lets go of both without deleting them; kept, they would pile up with each refresh.
    delete previousSelection;
    delete previous;
}

void JsInjectorDialog::on_injectButton_clicked()
{
    const QModelIndexList selected = m_frameTreeView->selectionModel()
        ? m_frameTreeView->selectionModel()->selectedIndexes()
        : QModelIndexList();
    if (selected.isEmpty()) {
        warn(this, QStringLiteral("Please Select A Frame First."));
        return;
    }
    const QString script = m_jsEdit->toPlainText();
    if (script.trimmed().isEmpty()) {
        warn(this, QStringLiteral("Please Input Some JavaScript First."));
        return;
    }
    QVector<int> rows;
    for (QModelIndex index = selected.first(); index.isValid(); index = index.parent())
        rows.append(index.row());
    std::reverse(rows.begin(), rows.end());
    if (QWebFrame *frame = frameAt(m_page ? m_page->mainFrame() : nullptr, rows))
        frame->evaluateJavaScript(script);
}
