#pragma once

#include "platform/corvidexport.h"

#include <QProxyStyle>

// The application style with the transitions of check boxes and radio buttons turned off, so
// that the page's controls change at once like an application's.
class CORVID_EXPORT PatchedWebViewStyle : public QProxyStyle
{
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
};
