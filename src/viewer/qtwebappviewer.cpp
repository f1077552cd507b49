#include "viewer/qtwebappviewer.h"

#include "app/logger.h"
#include "config/appconfig.h"
#include "config/preferencestore.h"
#include "platform/platformpaths.h"

#include <QDir>
#include <QLabel>
#include <QUrl>

QtWebAppViewer::QtWebAppViewer(QWidget *parent)
    : QMainWindow(parent)
    , m_page(new QLabel(this))
{
    AppConfig config;
    PreferenceStore prefs;
    Logger::instance().startUp(config, prefs, PlatformPaths::tempFolder());
    setWindowTitle(config.appTitle());
    setCentralWidget(m_page);
    resize(AppConfig::defaultWindowWidth(), AppConfig::defaultWindowHeight());
}

void QtWebAppViewer::loadLocalFile(const QString &path)
{
    m_page->setText(QUrl::fromLocalFile(QDir::current().absoluteFilePath(path)).toString());
}
