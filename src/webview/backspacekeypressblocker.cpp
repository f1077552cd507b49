#include "webview/backspacekeypressblocker.h"

#include <QElapsedTimer>
#include <QGraphicsWebView>
#include <QKeyEvent>
#include <QWebFrame>
#include <QWebHistory>
#include <QWebPage>

namespace {

constexpr qint64 StrokeGapMs = 250;

qint64 steadyMilliseconds()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

BackspaceKeyPressBlocker::BackspaceKeyPressBlocker(QObject *parent)
    : QObject(parent)
    , m_clock(steadyMilliseconds)
    , m_lastBackspace(m_clock())
{
}

bool BackspaceKeyPressBlocker::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched != m_target
        || (type != QEvent::KeyPress && type != QEvent::ShortcutOverride
            && type != QEvent::KeyRelease))
        return QObject::eventFilter(watched, event);
    if (static_cast<QKeyEvent *>(event)->key() != Qt::Key_Backspace)
        return false;
    m_target->page()->history()->clear();
    const qint64 now = m_clock();
    const qint64 gap = now - m_lastBackspace;
    m_lastBackspace = now;
    if (gap > StrokeGapMs)
        deleteLastCharacter(m_target->page()->mainFrame());
    return true;
}

bool BackspaceKeyPressBlocker::deleteLastCharacter(QWebFrame *frame)
{
    // The field is looked for in the frame that has the focus: an outer frame's active element
    // is the frame element holding the focused page, never the field itself.
    const bool edited
        = frame
              ->evaluateJavaScript(QStringLiteral(
                  "ret = false; activeEl = document.activeElement; "
                  "activeElType = ( activeEl ? activeEl.tagName : '' ).toLowerCase(); "
                  "if( document.hasFocus() && ( activeElType == 'input' || "
                  "activeElType == 'textarea' ) && !activeEl.readOnly && "
                  "!activeEl.disabled ) { activeEl.value = activeEl.value.substring( "
                  "0, activeEl.value.length-1 ); ret = true; } ret;"))
              .toBool();
    if (edited)
        return true;
    const QList<QWebFrame *> children = frame->childFrames();
    for (QWebFrame *child : children) {
        if (deleteLastCharacter(child))
            return true;
    }
    return false;
}
