#pragma once

#include "platform/corvidexport.h"

#include <QObject>

// Keeps the browser's context menu from the page: installed on the web view, it drops the
// scene's context-menu events.
class CORVID_EXPORT ContextMenuBlocker : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
