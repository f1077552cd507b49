#include "webview/contextmenublocker.h"

#include <QEvent>

bool ContextMenuBlocker::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::GraphicsSceneContextMenu)
        return true;
    return QObject::eventFilter(watched, event);
}
