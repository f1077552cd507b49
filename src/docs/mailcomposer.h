#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QString>

class AttatchmentManager;

// What the page hands over for one mail, as the page gave it: address lists separated by ";",
// attachment lists joined with the list delimiter, an is-binary item binary when it is "1".
struct MailRequest
{
    QString to;
    QString subject;
    QString message;
    QString cc;
    QString bcc;
    QString attachmentNames;
    QString attachmentData;
    QString attachmentIsBin;
    bool isHTML = false;
    uint priority = 1;
    bool receipt = false;
};

// Hands a prepared mail to the user's default mail client; the shell never sends mail itself.
// A client that takes a compose command line gets one, with the attachments written as files;
// any other gets an unsent message file opened with the desktop's handler.
namespace MailComposer {

// Success, or failure 1000 (no client, or it could not be started) or 1003 (a file could not
// be written), with the texts the page knows.
CORVID_EXPORT CallResult sendMail(const MailRequest &request);
// The process-wide manager that deletes message files once the client has read them.
CORVID_EXPORT AttatchmentManager &attachments();
// The mail folder: "temp" in the working directory.
CORVID_EXPORT QString mailFolder();

} // namespace MailComposer
