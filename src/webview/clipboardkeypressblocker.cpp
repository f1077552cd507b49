#include "webview/clipboardkeypressblocker.h"

#include <QKeyEvent>
#include <QKeySequence>

bool ClipboardKeyPressBlocker::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const int control = key->modifiers() & Qt::ControlModifier ? int(Qt::CTRL) : 0;
    const QKeySequence pressed(key->key() | control);
    for (const auto standard : { QKeySequence::Cut, QKeySequence::Paste, QKeySequence::Copy }) {
        const QList<QKeySequence> bindings = QKeySequence::keyBindings(standard);
        if (!bindings.isEmpty() && bindings.first() == pressed)
            return true;
    }
    return false;
}
