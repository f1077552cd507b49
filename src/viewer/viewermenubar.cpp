#include "viewer/viewermenubar.h"

#include "config/appconfig.h"
#include "webview/qtwebviewprivate.h"

#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>

namespace {

template<typename Slot>
QAction *addItem(QMenu *menu, const QString &label, QtWebViewPrivate *host, Slot slot,
                 QKeySequence::StandardKey shortcut = QKeySequence::UnknownKey)
{
    QAction *action = menu->addAction(label);
    if (shortcut != QKeySequence::UnknownKey)
        action->setShortcuts(shortcut);
    QObject::connect(action, &QAction::triggered, host, slot);
    return action;
}

template<typename Slot>
QAction *addToggle(QMenu *menu, const QString &label, QtWebViewPrivate *host, Slot slot)
{
    QAction *action = menu->addAction(label);
    action->setCheckable(true);
    QObject::connect(action, &QAction::toggled, host, slot);
    return action;
}

void buildFileMenu(QMenuBar *bar, QtWebViewPrivate *host, const AppConfig &config)
{
    QMenu *menu = bar->addMenu(QStringLiteral("&File"));
    if (config.recoverOption())
        addItem(menu, QStringLiteral("Re&cover"), host, [host] { host->recover(); });
    if (config.printOption()) {
        if (config.recoverOption())
            menu->addSeparator();
        addItem(menu, QStringLiteral("&Print..."), host, &QtWebViewPrivate::print,
                QKeySequence::Print);
    }
    menu->addSeparator();
    addItem(menu, QStringLiteral("E&xit"), host, &QtWebViewPrivate::requestQuit,
            QKeySequence::Close);
}

void buildViewMenu(QMenuBar *bar, QtWebViewPrivate *host, const AppConfig &config)
{
    QMenu *menu = bar->addMenu(QStringLiteral("&View"));
    if (config.reloadOption())
        addItem(menu, QStringLiteral("&Refresh"), host, &QtWebViewPrivate::reloadPage,
                QKeySequence::Refresh);
    if (config.navigationOption()) {
        addItem(menu, QStringLiteral("&Back"), host, &QtWebViewPrivate::backPage,
                QKeySequence::Back);
        addItem(menu, QStringLiteral("&Forward"), host, &QtWebViewPrivate::forwardPage,
                QKeySequence::Forward);
    }
    if (config.newOption())
        addItem(
            menu, QStringLiteral("&New Window"), host, [host] { host->clone(); },
            QKeySequence::New);
}

void buildSettingsMenu(QMenuBar *bar, QtWebViewPrivate *host, const AppConfig &config)
{
    const bool history = config.deleteHistoryOption();
    const bool storage = config.deleteStorageOption();
    if (!config.userCanEditConfig() && !history && !storage)
        return;
    QMenu *menu = bar->addMenu(QStringLiteral("&Settings"));
    if (config.userCanEditConfig()) {
        addToggle(menu, QStringLiteral("Edit &Settings"), host, &QtWebViewPrivate::toggleSettings);
        if (history || storage)
            menu->addSeparator();
    }
    if (history)
        addItem(menu, QStringLiteral("Delete &History"), host, &QtWebViewPrivate::clearCache);
    if (storage)
        addItem(menu, QStringLiteral("Delete &Storage"), host, &QtWebViewPrivate::clearStorage);
}

void buildToolsMenu(QMenuBar *bar, QtWebViewPrivate *host, const AppConfig &config)
{
    if (!config.developerOptions())
        return;
    QMenu *menu = bar->addMenu(QStringLiteral("&Tools"));
    addItem(menu, QStringLiteral("In&spector"), host, &QtWebViewPrivate::showInspector);
    addItem(menu, QStringLiteral("In&jector"), host, &QtWebViewPrivate::showInjector);
    addToggle(menu, QStringLiteral("Direct &Edit"), host, &QtWebViewPrivate::toggleDirectEdit);
}

void buildHelpMenu(QMenuBar *bar, QtWebViewPrivate *host)
{
    QMenu *menu = bar->addMenu(QStringLiteral("&Help"));
    QAction *help = addItem(menu, QStringLiteral("View &Help"), host, &QtWebViewPrivate::showHelp,
                            QKeySequence::HelpContents);
    help->setStatusTip(QStringLiteral("View Help Documentation"));
    menu->addSeparator();
    QAction *about = addItem(menu, QStringLiteral("&About"), host, &QtWebViewPrivate::showAbout);
    about->setStatusTip(QStringLiteral("View Application Infomation"));
}

} // namespace

QMenuBar *ViewerMenuBar::build(QLayout *layout, QtWebViewPrivate *host, const AppConfig &config)
{
    if (!config.displayMenuBar())
        return nullptr;
    auto *bar = new QMenuBar;
    buildFileMenu(bar, host, config);
    buildViewMenu(bar, host, config);
    buildSettingsMenu(bar, host, config);
    buildToolsMenu(bar, host, config);
    buildHelpMenu(bar, host);
    layout->setMenuBar(bar);
    return bar;
}
