#include "shellfixture.h"

#include "webview/handoversegment.h"
#include "webview/viewerstate.h"

#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QRandomGenerator>

namespace {

const QStringList MenuKeys { QStringLiteral("recover_option"),
                             QStringLiteral("print_option"),
                             QStringLiteral("reload_option"),
                             QStringLiteral("navigation_option"),
                             QStringLiteral("new_option"),
                             QStringLiteral("user_can_edit_config"),
                             QStringLiteral("delete_history_option"),
                             QStringLiteral("delete_storage_option"),
                             QStringLiteral("developer_options") };

// The menus as "Title: item, item, ---, item".
QStringList describe(QMenuBar *bar)
{
    QStringList menus;
    const QList<QAction *> titles = bar->actions();
    for (QAction *title : titles) {
        QStringList items;
        const QList<QAction *> actions = title->menu()->actions();
        for (QAction *action : actions)
            items << (action->isSeparator() ? QStringLiteral("---") : action->text());
        menus << title->text() + QStringLiteral(": ") + items.join(QStringLiteral(", "));
    }
    return menus;
}

QAction *findItem(QMenuBar *bar, const QString &text)
{
    const QList<QAction *> titles = bar->actions();
    for (QAction *title : titles) {
        const QList<QAction *> actions = title->menu()->actions();
        for (QAction *action : actions) {
            if (action->text() == text)
                return action;
        }
    }
    return nullptr;
}

} // namespace

class TestViewerMenuBar : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noMenuBarWhenSwitchedOff();
    void itemsFollowTheKeys_data();
    void itemsFollowTheKeys();
    void checkableItems();
    void shortcuts_data();
    void shortcuts();
    void statusTips();
    void newWindowHandsOverBeside();
    void editSettingsTogglesTheForm();

private:
    QMenuBar *buildWith(const QStringList &onKeys);

    QScopedPointer<ShellFixture> m_shell;
};

void TestViewerMenuBar::init()
{
    m_shell.reset(new ShellFixture);
}

void TestViewerMenuBar::cleanup()
{
    m_shell.reset();
}

QMenuBar *TestViewerMenuBar::buildWith(const QStringList &onKeys)
{
    m_shell->set(QStringLiteral("display_menu_bar"), true);
    for (const QString &key : MenuKeys)
        m_shell->set(key, onKeys.contains(key));
    m_shell->viewer.reset(new QtWebAppViewer);
    return m_shell->viewer->findChild<QMenuBar *>();
}

void TestViewerMenuBar::noMenuBarWhenSwitchedOff()
{
    m_shell->set(QStringLiteral("display_menu_bar"), false);
    for (const QString &key : MenuKeys)
        m_shell->set(key, true);
    m_shell->viewer.reset(new QtWebAppViewer);
    QVERIFY(!m_shell->viewer->findChild<QMenuBar *>());
    QVERIFY(!m_shell->view()->layout()->menuBar());
}

void TestViewerMenuBar::itemsFollowTheKeys_data()
{
    QTest::addColumn<QStringList>("on");
    QTest::addColumn<QStringList>("expected");
    const QString help = QStringLiteral("&Help: View &Help, ---, &About");
    const QString tools = QStringLiteral("&Tools: In&spector, In&jector, Direct &Edit");
    QTest::newRow("every key on")
        << MenuKeys
        << QStringList { QStringLiteral("&File: Re&cover, ---, &Print..., ---, E&xit"),
                         QStringLiteral("&View: &Refresh, &Back, &Forward, &New Window"),
                         QStringLiteral(
                             "&Settings: Edit &Settings, ---, Delete &History, Delete &Storage"),
                         tools, help };
    QTest::newRow("every key off")
        << QStringList {}
        << QStringList { QStringLiteral("&File: ---, E&xit"), QStringLiteral("&View: "), help };
    QTest::newRow("only history in the settings group")
        << QStringList { QStringLiteral("delete_history_option") }
        << QStringList { QStringLiteral("&File: ---, E&xit"), QStringLiteral("&View: "),
                         QStringLiteral("&Settings: Delete &History"), help };
    QTest::newRow("only storage in the settings group")
        << QStringList { QStringLiteral("delete_storage_option") }
        << QStringList { QStringLiteral("&File: ---, E&xit"), QStringLiteral("&View: "),
                         QStringLiteral("&Settings: Delete &Storage"), help };
    QTest::newRow("edit settings alone has no separator")
        << QStringList { QStringLiteral("user_can_edit_config") }
        << QStringList { QStringLiteral("&File: ---, E&xit"), QStringLiteral("&View: "),
                         QStringLiteral("&Settings: Edit &Settings"), help };
    QTest::newRow("edit settings and storage")
        << QStringList { QStringLiteral("user_can_edit_config"),
                         QStringLiteral("delete_storage_option") }
        << QStringList { QStringLiteral("&File: ---, E&xit"), QStringLiteral("&View: "),
                         QStringLiteral("&Settings: Edit &Settings, ---, Delete &Storage"), help };
    QTest::newRow("print without recover")
        << QStringList { QStringLiteral("print_option") }
        << QStringList { QStringLiteral("&File: &Print..., ---, E&xit"), QStringLiteral("&View: "),
                         help };
    QTest::newRow("recover without print")
        << QStringList { QStringLiteral("recover_option") }
        << QStringList { QStringLiteral("&File: Re&cover, ---, E&xit"), QStringLiteral("&View: "),
                         help };
    QTest::newRow("tools only with developer options")
        << QStringList { QStringLiteral("developer_options") }
        << QStringList { QStringLiteral("&File: ---, E&xit"), QStringLiteral("&View: "), tools,
                         help };
    QTest::newRow("navigation and new window")
        << QStringList { QStringLiteral("navigation_option"), QStringLiteral("new_option") }
        << QStringList { QStringLiteral("&File: ---, E&xit"),
                         QStringLiteral("&View: &Back, &Forward, &New Window"), help };
    QTest::newRow("refresh only") << QStringList { QStringLiteral("reload_option") }
                                  << QStringList { QStringLiteral("&File: ---, E&xit"),
                                                   QStringLiteral("&View: &Refresh"), help };
}

void TestViewerMenuBar::itemsFollowTheKeys()
{
    QFETCH(QStringList, on);
    QFETCH(QStringList, expected);
    QMenuBar *bar = buildWith(on);
    QVERIFY(bar);
    QCOMPARE(m_shell->view()->layout()->menuBar(), bar);
    QCOMPARE(describe(bar), expected);
}

void TestViewerMenuBar::checkableItems()
{
    QMenuBar *bar = buildWith(MenuKeys);
    QVERIFY(bar);
    QStringList checkable;
    const QList<QAction *> titles = bar->actions();
    for (QAction *title : titles) {
        const QList<QAction *> actions = title->menu()->actions();
        for (QAction *action : actions) {
            if (action->isCheckable())
                checkable << action->text();
        }
    }
    QCOMPARE(checkable,
             (QStringList { QStringLiteral("Edit &Settings"), QStringLiteral("Direct &Edit") }));
    QAction *directEdit = findItem(bar, QStringLiteral("Direct &Edit"));
    QVERIFY(!directEdit->isChecked());
    directEdit->trigger();
    QVERIFY(m_shell->host()->webView()->page()->isContentEditable());
    directEdit->trigger();
    QVERIFY(!m_shell->host()->webView()->page()->isContentEditable());
}

void TestViewerMenuBar::shortcuts_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("standardKey");
    QTest::addColumn<QString>("oneOfThem");
    QTest::newRow("print") << "&Print..." << int(QKeySequence::Print) << "Ctrl+P";
    QTest::newRow("exit") << "E&xit" << int(QKeySequence::Close) << "Ctrl+W";
    QTest::newRow("refresh") << "&Refresh" << int(QKeySequence::Refresh) << "F5";
    QTest::newRow("back") << "&Back" << int(QKeySequence::Back) << "Alt+Left";
    QTest::newRow("forward") << "&Forward" << int(QKeySequence::Forward) << "Alt+Right";
    QTest::newRow("new window") << "&New Window" << int(QKeySequence::New) << "Ctrl+N";
    QTest::newRow("help") << "View &Help" << int(QKeySequence::HelpContents) << "F1";
    QTest::newRow("recover has none") << "Re&cover" << int(QKeySequence::UnknownKey) << "";
    QTest::newRow("about has none") << "&About" << int(QKeySequence::UnknownKey) << "";
    QTest::newRow("delete history has none")
        << "Delete &History" << int(QKeySequence::UnknownKey) << "";
}

void TestViewerMenuBar::shortcuts()
{
    QFETCH(QString, item);
    QFETCH(int, standardKey);
    QFETCH(QString, oneOfThem);
    QMenuBar *bar = buildWith(MenuKeys);
    QVERIFY(bar);
    QAction *action = findItem(bar, item);
    QVERIFY(action);
    const QList<QKeySequence> expected
        = QKeySequence::keyBindings(QKeySequence::StandardKey(standardKey));
    QCOMPARE(action->shortcuts(), expected);
    if (!oneOfThem.isEmpty())
        QVERIFY2(action->shortcuts().contains(QKeySequence(oneOfThem)),
                 qPrintable(QKeySequence::listToString(action->shortcuts())));
    else
        QVERIFY(action->shortcuts().isEmpty());
}

void TestViewerMenuBar::statusTips()
{
    QMenuBar *bar = buildWith({});
    QVERIFY(bar);
    QCOMPARE(findItem(bar, QStringLiteral("View &Help"))->statusTip(),
             QStringLiteral("View Help Documentation"));
    QCOMPARE(findItem(bar, QStringLiteral("&About"))->statusTip(),
             QStringLiteral("View Application Infomation"));
    QCOMPARE(findItem(bar, QStringLiteral("E&xit"))->statusTip(), QString());
}

// "&New Window" starts a successor with one empty argument and hands it the window 50 pixels
// right and down, in normal state; without new_window_is_clone it gets no page address.
void TestViewerMenuBar::newWindowHandsOverBeside()
{
    const QString key = QStringLiteral("corvid-test-menubar-%1-%2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(QRandomGenerator::global()->generate());
    m_shell->set(QStringLiteral("display_menu_bar"), true);
    m_shell->set(QStringLiteral("new_option"), true);
    m_shell->set(QStringLiteral("new_window_is_clone"), false);
    m_shell->writePage(QStringLiteral("app/page.html"), "<html><body>page</body></html>");
    m_shell->start(QStringLiteral("app/page.html"), key);
    QList<QStringList> starts;
    m_shell->host()->setProcessStarter(
        [&starts](const QString &program, const QStringList &arguments) {
            starts << (QStringList { program } + arguments);
            return true;
        });
    QTRY_VERIFY(m_shell->content()
                && m_shell->content()->url().fileName() == QLatin1String("page.html"));
    m_shell->viewer->move(70, 90);
    m_shell->viewer->resize(640, 480);

    QAction *newWindow
        = findItem(m_shell->viewer->findChild<QMenuBar *>(), QStringLiteral("&New Window"));
    QVERIFY(newWindow);
    newWindow->trigger();

    QCOMPARE(starts.size(), 1);
    QCOMPARE(starts.first(), (QStringList { QCoreApplication::applicationFilePath(), QString() }));
    HandOverSegment reader(key);
    const ViewerState state = ViewerState::deserialize(reader.take());
    QVERIFY(state.restored);
    QCOMPARE(QRect(state.x, state.y, state.width, state.height), QRect(120, 140, 640, 480));
    QVERIFY(!state.minimized);
    QVERIFY(!state.maximized);
    QVERIFY(state.url.isEmpty());
    QCOMPARE(state.request, OnLoadNothing);
    QVERIFY2(m_shell->viewer->isVisible(), "a new window leaves this one open");
    QVERIFY(m_shell->prompter.shown.isEmpty());
}

void TestViewerMenuBar::editSettingsTogglesTheForm()
{
    m_shell->set(QStringLiteral("display_menu_bar"), true);
    m_shell->set(QStringLiteral("user_can_edit_config"), true);
    m_shell->writePage(QStringLiteral("app/page.html"), "<html><body>page</body></html>");
    m_shell->start(QStringLiteral("app/page.html"));
    QTRY_VERIFY(m_shell->content()
                && m_shell->content()->url().fileName() == QLatin1String("page.html"));
    m_shell->eval(
        m_shell->mainFrame(),
        QStringLiteral("window.toggles = 0; window.toggleSettings = function() { toggles++; };"));
    QAction *edit
        = findItem(m_shell->viewer->findChild<QMenuBar *>(), QStringLiteral("Edit &Settings"));
    QVERIFY(edit);
    edit->trigger();
    QVERIFY(edit->isChecked());
    edit->trigger();
    QVERIFY(!edit->isChecked());
    QCOMPARE(m_shell->eval(m_shell->mainFrame(), QStringLiteral("toggles")).toInt(), 2);
}

QTEST_MAIN(TestViewerMenuBar)
#include "tst_viewermenubar.moc"
