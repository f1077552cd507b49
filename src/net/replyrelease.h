#pragma once

#include <QNetworkReply>
#include <QPointer>

// Lets go of a pending reply without hearing from it again: it is disconnected from receiver,
// stopped, deleted from the event loop, and reply is set to null. A reply that has already
// failed is not aborted, which would only report a second error.
void releaseReply(QPointer<QNetworkReply> &reply, const QObject *receiver);
