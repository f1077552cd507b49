#pragma once

#include "platform/corvidexport.h"

#include <QUrl>
#include <QWidget>

// The program's top-level window, as the application sees it.
class CORVID_EXPORT WebAppViewer : public QWidget
{
    Q_OBJECT

public:
    explicit WebAppViewer(QWidget *parent = nullptr)
        : QWidget(parent)
    {
    }

    virtual void loadLocalFile(const QString &path) = 0;
    virtual void loadUrl(const QUrl &url) = 0;
};
