#pragma once

#include "platform/corvidexport.h"

#include <QObject>

// Keeps Cut, Copy and Paste from the page's keyboard: installed on the web view, it drops the
// platform's primary bindings of the three (Ctrl+X, Ctrl+C, Ctrl+V). Only Control counts, so
// Ctrl+Shift+C is dropped as well, while Shift+Insert passes.
class CORVID_EXPORT ClipboardKeyPressBlocker : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
