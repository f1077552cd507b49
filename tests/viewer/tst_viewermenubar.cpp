#include "shellfixture.h"

#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMetaEnum>

namespace {

const QStringList MenuKeys = QStringLiteral("recover_option print_option reload_option "
                                            "navigation_option new_option user_can_edit_config "
                                            "delete_history_option delete_storage_option "
                                            "developer_options")
                                 .split(' ');

// The menus as "Title: item, ---, item | Title: ...", where an item is marked [x] when it is
// checkable and =Key when it has the shortcuts of that standard key.
QString describe(QMenuBar *bar)
{
    const QMetaEnum keys = QMetaEnum::fromType<QKeySequence::StandardKey>();
    QStringList menus;
    for (QAction *title : bar->actions()) {
        QStringList items;
        for (QAction *action : title->menu()->actions()) {
            QString item = action->isSeparator() ? QStringLiteral("---") : action->text();
            if (action->isCheckable())
                item += QStringLiteral(" [x]");
            for (int i = 0; i < keys.keyCount() && !action->shortcuts().isEmpty(); ++i) {
                const auto key = QKeySequence::StandardKey(keys.value(i));
                if (QKeySequence::keyBindings(key) == action->shortcuts()) {
                    item += QLatin1Char('=') + QLatin1String(keys.key(i));
                    break;
                }
            }
            items << item;
        }
        menus << QString(title->text() + QStringLiteral(": ") + items.join(QStringLiteral(", ")))
                     .trimmed();
    }
    return menus.join(QStringLiteral(" | "));
}

QAction *item(QWidget *viewer, const QString &text)
{
    for (QAction *action : viewer->findChild<QMenuBar *>()->findChildren<QAction *>()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

class TestViewerMenuBar : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_shell.reset(new ShellFixture); }
    void cleanup() { m_shell.reset(); }

    void itemsFollowTheKeys_data()
    {
        QTest::addColumn<bool>("display");
        QTest::addColumn<QStringList>("on");
        QTest::addColumn<QString>("expected");
        const QString file = QStringLiteral("&File: ---, E&xit=Close | &View: | ");
        const QString help = QStringLiteral("&Help: View &Help=HelpContents, ---, &About");
        const QString all = QStringLiteral(
            "&File: Re&cover, ---, &Print...=Print, ---, E&xit=Close"
            " | &View: &Refresh=Refresh, &Back=Back, &Forward=Forward, &New Window=New"
            " | &Settings: Edit &Settings [x], ---, Delete &History, Delete &Storage"
            " | &Tools: In&spector, In&jector, Direct &Edit [x] | ");
        QTest::newRow("every key on") << true << MenuKeys << all + help;
        QTest::newRow("menu bar switched off") << false << MenuKeys << QString();
        QTest::newRow("every key off") << true << QStringList() << file + help;
        QTest::newRow("only history in the settings group")
            << true << QStringList { "delete_history_option" }
            << file + "&Settings: Delete &History | " + help;
        QTest::newRow("edit settings alone has no separator")
            << true << QStringList { "user_can_edit_config" }
            << file + "&Settings: Edit &Settings [x] | " + help;
        QTest::newRow("edit settings and storage")
            << true << QStringList { "user_can_edit_config", "delete_storage_option" }
            << file + "&Settings: Edit &Settings [x], ---, Delete &Storage | " + help;
        QTest::newRow("print without recover")
            << true << QStringList { "print_option" }
            << "&File: &Print...=Print, ---, E&xit=Close | &View: | " + help;
        QTest::newRow("navigation and new window")
            << true << QStringList { "navigation_option", "new_option" }
            << "&File: ---, E&xit=Close | &View: &Back=Back, &Forward=Forward, &New Window=New | "
                + help;
    }

    void itemsFollowTheKeys()
    {
        QFETCH(bool, display);
        QFETCH(QStringList, on);
        QFETCH(QString, expected);
        m_shell->set(QStringLiteral("display_menu_bar"), display);
        for (const QString &key : MenuKeys)
            m_shell->set(key, on.contains(key));
        m_shell->create();
        QMenuBar *bar = m_shell->viewer->findChild<QMenuBar *>();
        QCOMPARE(m_shell->view()->layout()->menuBar(), bar);
        QCOMPARE(bar ? describe(bar) : QString(), expected);
    }

    // New Window hands the window over to a successor and leaves this one open; the toggles
    // switch the settings form of the container page and the editing of the page.
    void itemsReachTheShell()
    {
        m_shell->set(QStringLiteral("display_menu_bar"), true);
        for (const QString &key : MenuKeys)
            m_shell->set(key, true);
        QVERIFY(m_shell->open(QStringLiteral("page.html"), "<html><body>page</body></html>"));
        QWebFrame *main = m_shell->mainFrame();
        m_shell->eval(main,
                      "window.toggles = 0; window.toggleSettings = function() { toggles++; };");
        QWidget *viewer = m_shell->viewer.data();
        item(viewer, "&New Window")->trigger();
        QCOMPARE(m_shell->started.size(), 1);
        QVERIFY(viewer->isVisible() && m_shell->prompter.shown.isEmpty());
        item(viewer, "Edit &Settings")->trigger();
        item(viewer, "Direct &Edit")->trigger();
        QCOMPARE(m_shell->eval(main, "toggles").toInt(), 1);
        QVERIFY(m_shell->host()->webView()->page()->isContentEditable());
    }

private:
    QScopedPointer<ShellFixture> m_shell;
};

QTEST_MAIN(TestViewerMenuBar)
#include "tst_viewermenubar.moc"
