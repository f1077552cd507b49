#pragma once

#include "platform/corvidexport.h"

class AppConfig;
class QLayout;
class QMenuBar;
class QtWebViewPrivate;

// The viewer's menu bar, built from the configuration's menu switches.
class CORVID_EXPORT ViewerMenuBar final
{
public:
    // Builds the menu bar into layout when the configuration asks for one; null otherwise.
    static QMenuBar *build(QLayout *layout, QtWebViewPrivate *host, const AppConfig &config);
};
