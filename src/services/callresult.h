#pragma once

#include <QString>
#include <QStringList>

// The outcome of one page call before it is encoded for the page: success with a message (the
// call's data) and values, or failure with a code and a message.
struct CallResult final
{
    bool success = true;
    int errorCode = 0;
    QString message;
    QStringList values;

    static CallResult ok(const QString &data = QString(), const QStringList &values = {})
    {
        return CallResult { true, 0, data, values };
    }
    static CallResult failure(int code, const QString &message)
    {
        return CallResult { false, code, message, {} };
    }
};
