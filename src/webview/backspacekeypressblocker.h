#pragma once

#include "platform/corvidexport.h"

#include <QObject>
#include <functional>

class QGraphicsWebView;
class QWebFrame;

// Keeps Backspace from navigating back: installed on the web view, it clears the history and
// drops the key. Instead it deletes the last character of the focused text field, once per
// stroke: a stroke brings a shortcut override, a press and a release, and auto-repeat is
// faster still, so Backspaces closer than 250 ms together delete one character only.
class CORVID_EXPORT BackspaceKeyPressBlocker : public QObject
{
    Q_OBJECT

public:
    explicit BackspaceKeyPressBlocker(QObject *parent = nullptr);

    void setTarget(QGraphicsWebView *target) { m_target = target; }
    // Milliseconds of a steady clock; tests set their own.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static bool deleteLastCharacter(QWebFrame *frame);

    QGraphicsWebView *m_target = nullptr;
    std::function<qint64()> m_clock;
    qint64 m_lastBackspace;
};
