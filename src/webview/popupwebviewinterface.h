#pragma once

#include "platform/corvidexport.h"

#include <QMap>
#include <QObject>
#include <QString>

// The host object of a popup page, published there as QtObj. A popup may show any page, so
// this object carries no power: one call that hands a message to the page below, and nothing
// of the page's own QtObj or its key. Page script also reaches what every object inherits:
// deferred deletion is refused and the name is read-only, as for ScriptApi.
class CORVID_EXPORT PopupWebViewInterface : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString objectName READ objectName CONSTANT)

public:
    // A post's keys with their values, in ascending key order.
    using Fields = QMap<QString, QString>;

    explicit PopupWebViewInterface(QObject *parent = nullptr);

    // Deletes the object from the event loop; the only deferred deletion it accepts.
    void release();

    // Pairs the delimited keys and values by position, as many pairs as there are keys but
    // never beyond the last value, then drops the pairs without a key. Dropping empty items
    // first would shift every later value onto the wrong key. A later key replaces an earlier.
    static Fields pair(const QString &postKeys, const QString &postValues);

public slots:
    void postMessage(const QString &sourceId, const QString &eventId, const QString &postKeys,
                     const QString &postValues);

signals:
    void posted(const QString &sourceId, const QString &eventId,
                const PopupWebViewInterface::Fields &fields);

protected:
    bool event(QEvent *event) override;

private:
    bool m_released = false;
};
