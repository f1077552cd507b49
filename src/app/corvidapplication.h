#pragma once

#include "platform/corvidexport.h"
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
    static QString launchFilePathFrom(const QStringList &arguments);

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
