#pragma once

#include "corvidexport.h"

#include <QMainWindow>

class QLabel;

// The top-level viewer window.
class CORVID_EXPORT QtWebAppViewer : public QMainWindow
{
    Q_OBJECT

public:
    explicit QtWebAppViewer(QWidget *parent = nullptr);

    void loadLocalFile(const QString &path);

signals:
    void forcedQuitRequested();

private:
    QLabel *m_page;
};
