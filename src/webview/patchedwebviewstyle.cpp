#include "webview/patchedwebviewstyle.h"

#include <QStyleOption>

void PatchedWebViewStyle::drawControl(ControlElement element, const QStyleOption *option,
                                      QPainter *painter, const QWidget *widget) const
{
    if ((element == CE_CheckBox || element == CE_RadioButton) && option && option->styleObject)
        option->styleObject->setProperty("_q_no_animation", true);
    QProxyStyle::drawControl(element, option, painter, widget);
}
