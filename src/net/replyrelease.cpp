#include "net/replyrelease.h"

void releaseReply(QPointer<QNetworkReply> &reply, const QObject *receiver)
{
    if (!reply)
        return;
    QNetworkReply *released = reply;
    reply = nullptr;
    released->disconnect(receiver);
    if (released->isRunning() && released->error() == QNetworkReply::NoError)
        released->abort();
    released->deleteLater();
}
