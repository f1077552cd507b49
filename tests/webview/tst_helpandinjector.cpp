#include "shellfixture.h"
#include "webview/frametreemodel.h"
#include "webview/helpbrowserdialog.h"
#include "webview/jsinjectordialog.h"
#include "webview/scriptapi.h"

#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpIndexModel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QWebView>

namespace {

const QString Help = QStringLiteral("qthelp://org.corvid.shell/doc/");
// The help engine reads its collection on threads of its own; a loaded machine may be slow.
const int Wait = 20000;

// The tree as "name|url(children),next", read through index() and data() only, with every
// child's parent() checked against the index it came from.
QString dump(const QAbstractItemModel &model, const QModelIndex &parent = {})
{
    QStringList items;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex first = model.index(row, 0, parent);
        if (model.parent(first) != parent)
            return QStringLiteral("bad parent at ") + first.data().toString();
        QString item = first.data().toString();
        if (model.columnCount(parent) > 1 && model.index(row, 1, parent).data().isValid())
            item += QLatin1Char('|') + model.index(row, 1, parent).data().toString();
        if (model.rowCount(first) > 0)
            item += QLatin1Char('(') + dump(model, first) + QLatin1Char(')');
        items.append(item);
    }
    return items.join(QLatin1Char(','));
}

} // namespace

class TestHelpAndInjector : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void generatedCollectionOpens();
    void historyFollowsBackAndForward();
    void unusableCollectionWarnsAndCloses_data();
    void unusableCollectionWarnsAndCloses();
    void frameTreeModel_data();
    void frameTreeModel();
    void frameDescriptionOfNestedFrames();
    void injectorWarnings_data();
    void injectorWarnings();
    void injectsIntoTheChosenFrame();

private:
    // A dialog on a copy of the collection the build generated.
    HelpBrowserDialog *openHelp();
    // A page whose main frame holds "a" (holding "a1") and "b"; null when it does not load.
    QWebPage *framedPage();
    QToolButton *button(const char *name) const;

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<HelpBrowserDialog> m_help;
    QScopedPointer<QWebPage> m_page;
    QScopedPointer<QWidget> m_owner;
    RecordingPrompter m_prompter;
};

void TestHelpAndInjector::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_prompter.shown.clear();
    Prompter::setCurrent(&m_prompter);
}

void TestHelpAndInjector::cleanup()
{
    m_help.reset();
    m_owner.reset();
    m_page.reset();
    Prompter::setCurrent(nullptr);
    m_dir->setAutoRemove(!QTest::currentTestFailed());
}

HelpBrowserDialog *TestHelpAndInjector::openHelp()
{
    const QString help = m_dir->filePath(QStringLiteral("help"));
    QDir().mkpath(help);
    for (const char *file : { "/help/corvid.qhc", "/help/corvid.qch" }) {
        const QString name = QFileInfo(QLatin1String(file)).fileName();
        if (!QFile::copy(QLatin1String(CORVID_BIN_DIR) + QLatin1String(file),
                         help + QLatin1Char('/') + name))
            return nullptr;
    }
    m_help.reset(new HelpBrowserDialog(help, QStringLiteral("corvid.qhc"), QStringLiteral("doc"),
                                       QStringLiteral("icons/icon.ico")));
    return m_help.data();
}

QToolButton *TestHelpAndInjector::button(const char *name) const
{
    return m_help->findChild<QToolButton *>(QLatin1String(name));
}

void TestHelpAndInjector::generatedCollectionOpens()
{
    HelpBrowserDialog *help = openHelp();
    QVERIFY2(help && help->helpEngine(), "the build did not generate help/corvid.qhc");
    QVERIFY(help->isVisible());
    QHelpIndexModel *index = help->helpEngine()->indexModel();
    QTRY_VERIFY_WITH_TIMEOUT(!index->isCreatingIndex() && index->rowCount() > 0, Wait);
    // Every call a page can make is documented under its own name.
    const QStringList keywords = index->stringList();
    const QMetaObject &api = ScriptApi::staticMetaObject;
    for (int i = api.methodOffset(); i < api.methodCount(); ++i) {
        const QMetaMethod method = api.method(i);
        if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Public)
            QVERIFY2(keywords.contains(QString::fromLatin1(method.name())), method.name());
    }
    // The first entry of the contents is shown on its own.
    QTRY_COMPARE_WITH_TIMEOUT(help->history(),
                              QList<QUrl> { QUrl(Help + QStringLiteral("index.html")) }, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(help->pageView()->title(), QStringLiteral("Corvid"), Wait);
    // The collection's style sheet reaches the page.
    QVERIFY(help->pageView()
                ->page()
                ->mainFrame()
                ->evaluateJavaScript(QStringLiteral("getComputedStyle(document.body).fontFamily"))
                .toString()
                .contains(QLatin1String("sans-serif")));
    QVERIFY(help->helpEngine()->contentModel()->rowCount() > 0);
    QVERIFY(button("printButton")->isEnabled() && button("reloadButton")->isEnabled());
    QVERIFY(!button("backButton")->isEnabled() && !button("forwardButton")->isEnabled());
}

void TestHelpAndInjector::historyFollowsBackAndForward()
{
    HelpBrowserDialog *help = openHelp();
    QVERIFY(help && help->helpEngine());
    QWebView *view = help->pageView();
    const QUrl a(Help + QStringLiteral("index.html"));
    QTRY_COMPARE_WITH_TIMEOUT(help->history(), QList<QUrl> { a }, Wait);
    const QUrl b(Help + QStringLiteral("menus.html"));
    help->setCurrentPage(b);
    help->setCurrentPage(QUrl(Help + QStringLiteral("settings.html")));
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("The settings form"), Wait);
    QVERIFY(button("backButton")->isEnabled() && !button("forwardButton")->isEnabled());

    button("backButton")->click();
    button("backButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Corvid"), Wait);
    QVERIFY(!button("backButton")->isEnabled() && button("forwardButton")->isEnabled());
    button("forwardButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Menus and keys"), Wait);
    QVERIFY(button("backButton")->isEnabled() && button("forwardButton")->isEnabled());
    button("backButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Corvid"), Wait);

    // D: a link of the page, which resolves against the help folder on disk.
    view->page()->mainFrame()->evaluateJavaScript(
        QStringLiteral("document.querySelector('a[href=\"/doc/calls.html\"]').click();"));
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Script calls"), Wait);
    QCOMPARE(help->history(), (QList<QUrl> { a, QUrl(QStringLiteral("file:///doc/calls.html")) }));
    QCOMPARE(help->historyCursor(), 2);
    QVERIFY(button("backButton")->isEnabled() && !button("forwardButton")->isEnabled());

    // Reload shows the same page again, taken from the collection.
    view->page()->mainFrame()->evaluateJavaScript(QStringLiteral("document.title = 'changed';"));
    button("reloadButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Script calls"), Wait);
}

void TestHelpAndInjector::unusableCollectionWarnsAndCloses_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not a collection") << QByteArray("plain text, not a help collection\n");
}

void TestHelpAndInjector::unusableCollectionWarnsAndCloses()
{
    QFETCH(QByteArray, content);
    const QString help = m_dir->filePath(QStringLiteral("help"));
    QDir().mkpath(help);
    if (!content.isEmpty()) {
        QFile file(help + QStringLiteral("/corvid.qhc"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    QPointer<HelpBrowserDialog> dialog = HelpBrowserDialog::showCollection(
        help, QStringLiteral("corvid.qhc"), QStringLiteral("doc"), QString(), nullptr);
    QCOMPARE(m_prompter.shown,
             QStringList {
                 QStringLiteral("Missing Resource|The Help Documentation Could Not Ne Found.") });
    QVERIFY(!dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), Wait);
}

void TestHelpAndInjector::frameTreeModel_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("tree");
    QTest::newRow("no frames") << QString() << QString();
    QTest::newRow("nested") << "a\tu1\n a1\tu2\n  a2\tu3\nb\tu4\n"
                            << "a|u1(a1|u2(a2|u3)),b|u4";
    QTest::newRow("empty name dropped") << "a\tu1\n \tu2\n"
                                        << "a|u1(u2)";
    QTest::newRow("blank lines skipped") << "a\tu1\n\n   \n a1\tu2\n"
                                         << "a|u1(a1|u2)";
    QTest::newRow("back two levels") << "a\tu\n b\tu\n  c\tu\nd\tu\n"
                                     << "a|u(b|u(c|u)),d|u";
    QTest::newRow("indented first line") << " a\tu\nb\tu"
                                         << "a|u,b|u";
}

void TestHelpAndInjector::frameTreeModel()
{
    QFETCH(QString, description);
    QFETCH(QString, tree);
    const FrameTreeModel model(description);
    QCOMPARE(dump(model), tree);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Id / Name"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("URL"));
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
    QCOMPARE(model.flags({}), Qt::NoItemFlags);
    if (model.rowCount() > 0)
        QCOMPARE(model.flags(model.index(0, 0)), Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

QWebPage *TestHelpAndInjector::framedPage()
{
    const QMap<QString, QByteArray> pages {
        { QStringLiteral("top.html"),
          "<iframe name='a' src='a.html'></iframe><iframe name='b' src='b.html'></iframe>" },
        { QStringLiteral("a.html"), "<iframe name='a1' src='c.html'></iframe>" },
        { QStringLiteral("b.html"), "<p>b</p>" },
        { QStringLiteral("c.html"), "<p>c</p>" },
    };
    for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
        QFile file(m_dir->filePath(it.key()));
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size())
            return nullptr;
    }
    m_page.reset(new QWebPage);
    QSignalSpy loaded(m_page.data(), &QWebPage::loadFinished);
    m_page->mainFrame()->load(QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("top.html"))));
    return loaded.wait(20000) ? m_page.data() : nullptr;
}

void TestHelpAndInjector::frameDescriptionOfNestedFrames()
{
    QWebPage *page = framedPage();
    QVERIFY(page);
    const QString url = QUrl::fromLocalFile(m_dir->path()).toString() + QLatin1Char('/');
    QCOMPARE(JsInjectorDialog::frameDescription(page->mainFrame()),
             QStringLiteral("a\t%1a.html\n a1\t%1c.html\nb\t%1b.html\n").arg(url));
    QCOMPARE(JsInjectorDialog::frameDescription(nullptr), QString());
}

void TestHelpAndInjector::injectorWarnings_data()
{
    QTest::addColumn<bool>("frames");
    QTest::addColumn<bool>("select");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("warning");
    const QString noFrame = QStringLiteral("Please Select A Frame First.");
    QTest::newRow("page without frames") << false << false << "x = 1;" << noFrame;
    QTest::newRow("no frame selected") << true << false << "x = 1;" << noFrame;
    QTest::newRow("blank script") << true << true << " \n\t "
                                  << QStringLiteral("Please Input Some JavaScript First.");
}

void TestHelpAndInjector::injectorWarnings()
{
    QFETCH(bool, frames);
    QFETCH(bool, select);
    QFETCH(QString, script);
    QFETCH(QString, warning);
    if (frames)
        QVERIFY(framedPage());
    else
        m_page.reset(new QWebPage);
    m_owner.reset(new QWidget);
    JsInjectorDialog *injector = JsInjectorDialog::showFor(m_page.data(), m_owner.data());
    QCOMPARE(injector->frameModel()->rowCount(), frames ? 2 : 0);
    auto *tree = injector->findChild<QTreeView *>(QStringLiteral("frameTreeView"));
    if (select)
        tree->setCurrentIndex(injector->frameModel()->index(0, 0));
    injector->findChild<QPlainTextEdit *>(QStringLiteral("jsEdit"))->setPlainText(script);
    injector->on_injectButton_clicked();
    QCOMPARE(m_prompter.shown, QStringList { QStringLiteral("Unable To Inject|") + warning });
}

void TestHelpAndInjector::injectsIntoTheChosenFrame()
{
    QWebPage *page = framedPage();
    QVERIFY(page);
    m_owner.reset(new QWidget);
    JsInjectorDialog *injector = JsInjectorDialog::showFor(page, m_owner.data());
    auto *tree = injector->findChild<QTreeView *>(QStringLiteral("frameTreeView"));
    tree->setCurrentIndex(injector->frameModel()->index(0, 0, injector->frameModel()->index(0, 0)));
    injector->findChild<QPlainTextEdit *>(QStringLiteral("jsEdit"))
        ->setPlainText(QStringLiteral("  window.injected = 'here';\n"));
    injector->findChild<QPushButton *>(QStringLiteral("injectButton"))->click();
    QWebFrame *a = page->mainFrame()->childFrames().at(0);
    const QString probe = QStringLiteral("String(window.injected)");
    QCOMPARE(a->childFrames().at(0)->evaluateJavaScript(probe).toString(), QStringLiteral("here"));
    QCOMPARE(a->evaluateJavaScript(probe).toString(), QStringLiteral("undefined"));
    QCOMPARE(page->mainFrame()->evaluateJavaScript(probe).toString(), QStringLiteral("undefined"));
    QVERIFY(m_prompter.shown.isEmpty());

    // The same injector comes back; a frame gone since the tree was built is left alone.
    QCOMPARE(JsInjectorDialog::showFor(page, m_owner.data()), injector);
    tree->setCurrentIndex(injector->frameModel()->index(1, 0));
    page->mainFrame()->evaluateJavaScript(
        QStringLiteral("var b = document.getElementsByName('b')[0]; b.parentNode.removeChild(b);"));
    injector->on_injectButton_clicked();
    QCOMPARE(JsInjectorDialog::frameAt(page->mainFrame(), { 1 }), nullptr);
    QVERIFY(m_prompter.shown.isEmpty());
}

QTEST_MAIN(TestHelpAndInjector)
#include "tst_helpandinjector.moc"
