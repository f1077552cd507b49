#pragma once

#include "corvidexport.h"
#include "viewer/qtwebappviewer.h"

#include <QApplication>

// The process: the viewer window, the launch file, and the orderly and forced ways to end.
class CORVID_EXPORT CorvidApplication : public QApplication
{
    Q_OBJECT

public:
    CorvidApplication(int &argc, char **argv);
    ~CorvidApplication() override;

    static QString startPagePath() { return QStringLiteral("html/index.html"); }
    // The file the program was started with: the last argument when there is one.
    static QString launchFilePath();
    static QString launchFilePathFrom(const QStringList &arguments);
    // Set once from the command line; tests set it to hand a page a start file.
    static void setLaunchFilePath(const QString &path);

    QtWebAppViewer &viewer() { return m_viewer; }
    int run();

    // Each stage of the forced quit waits this long; tests shorten it.
    void setForceQuitDelay(int milliseconds) { m_forceQuitDelay = milliseconds; }

public slots:
    void forceQuit();

protected slots:
    void onQuit();

private slots:
    void forceQuitNow();
    void forceHardQuitNow();

private:
    QtWebAppViewer m_viewer;
    int m_forceQuitDelay = 3000;
};
