#include "webview/popupwebviewinterface.h"

#include "platform/scriptprotocol.h"

#include <QEvent>
#include <QStringList>

PopupWebViewInterface::PopupWebViewInterface(QObject *parent)
    : QObject(parent)
{
}

void PopupWebViewInterface::release()
{
    m_released = true;
    deleteLater();
}

bool PopupWebViewInterface::event(QEvent *event)
{
    // A popup page calling deleteLater() would leave the host with a dangling object.
    if (event->type() == QEvent::DeferredDelete && !m_released)
        return true;
    return QObject::event(event);
}

PopupWebViewInterface::Fields PopupWebViewInterface::pair(const QString &postKeys,
                                                          const QString &postValues)
{
    const QString delimiter = ScriptProtocol::intraDelimiter();
    const QStringList keys = postKeys.split(delimiter);
    const QStringList values = postValues.split(delimiter);
    Fields fields;
    const int count = qMin(keys.size(), values.size());
    for (int i = 0; i < count; ++i) {
        if (!keys.at(i).trimmed().isEmpty())
            fields.insert(keys.at(i), values.at(i));
    }
    return fields;
}

void PopupWebViewInterface::postMessage(const QString &sourceId, const QString &eventId,
                                        const QString &postKeys, const QString &postValues)
{
    emit posted(sourceId, eventId, pair(postKeys, postValues));
}
