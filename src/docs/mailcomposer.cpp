#include "docs/mailcomposer.h"

#include "config/appconfig.h"
#include "docs/attatchmentmanager.h"
#include "docs/email.h"
#include "platform/desktopapps.h"
#include "platform/filewriter.h"
#include "platform/launcher.h"
#include "platform/systemopener.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

enum class Outcome { Sent, FileFailed, LaunchFailed };

// The path of name in folder, or a null string when a link already sits there: writing would
// follow it to a file this call never made.
QString unlinkedPath(const QString &folder, const QString &name)
{
    const QString path = FileWriter::filePath(folder, name);
    return path.isNull() || QFileInfo(path).isSymLink() ? QString() : path;
}

Outcome sendMessageFile(const Email &email)
{
    const QString path = unlinkedPath(email.folder(),
                                      AttatchmentManager::timestampFileName(QStringLiteral("eml")));
    if (path.isNull())
        return Outcome::FileFailed;
    // Written as bytes: the text is UTF-8 with CR LF already, which a text-mode write would
    // change again.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !FileWriter::writeAll(file, email.mimeText())
        || !file.commit())
        return Outcome::FileFailed;
    if (!SystemOpener::current().openWithAssociatedApplication(path))
        return Outcome::LaunchFailed;
    MailComposer::attachments().registerFile(path);
    return Outcome::Sent;
}

// The client's program from its registered command: quotes and the "-mail" switch go. A bare
// name, as desktop entries give it, is looked up on the PATH.
QString composeProgram(const QString &clientName)
{
    QString command = DesktopApps::mailClientCommand(clientName);
    if (command.endsWith(QLatin1String("-mail")))
        command.chop(5);
    const QString program = command.remove(QLatin1Char('"')).trimmed();
    const QString found = program.contains(QLatin1Char('/')) || program.contains(QLatin1Char('\\'))
        ? QString()
        : QStandardPaths::findExecutable(program);
    return found.isEmpty() ? program : found;
}

Outcome sendComposeCommand(const Email &email, const QString &clientName)
{
    QStringList written;
    for (const Email::Attachment &attachment : email.attachments()) {
        const QString path = unlinkedPath(email.folder(), attachment.name);
        if (path.isNull()
            || TempFileManager::createFile(email.folder(), attachment.name, attachment.data,
                                           attachment.isBinary)
                   .isNull())
            return Outcome::FileFailed;
        written.append(path);
    }
    // The next call clears the attachments; the client may read them at any time until then.
    const QStringList arguments { QStringLiteral("-compose"), email.composeArgument(written) };
    return Launcher::launch(composeProgram(clientName), arguments, true, nullptr)
        ? Outcome::Sent
        : Outcome::LaunchFailed;
}

Outcome send(const Email &email, const QString &clientName)
{
    if (clientName == QLatin1String("Mail"))
        return Outcome::LaunchFailed;
    if (clientName.contains(QLatin1String("Thunderbird"), Qt::CaseSensitive))
        return sendComposeCommand(email, clientName);
    return sendMessageFile(email);
}

} // namespace

namespace MailComposer {

CallResult sendMail(const MailRequest &request)
{
    const QString clientName = DesktopApps::mailClientName();
    if (clientName.isEmpty())
        return CallResult::failure(
            1000, QStringLiteral("A default mail client has not been setup on this computer."));
    const QString fileFailed = QStringLiteral("File creation failed.");
    const QString folder = mailFolder();
    // Clearing through a link would delete files in a folder that is not ours.
    if (QFileInfo(folder).isSymLink())
        return CallResult::failure(1003, fileFailed);
    // Messages and attachments of earlier calls go with it.
    TempFileManager::clearDirectory(folder);

    Email email(folder);
    email.setTo(request.to);
    email.setCc(request.cc);
    email.setBcc(request.bcc);
    email.setSubject(request.subject);
    email.setMessage(request.message, request.isHTML);
    email.setPriority(request.priority);
    email.setReceipt(request.receipt);
    email.setAttachmentLists(request.attachmentNames, request.attachmentData,
                             request.attachmentIsBin);
    switch (send(email, clientName)) {
    case Outcome::Sent:
        return CallResult::ok();
    case Outcome::FileFailed:
        return CallResult::failure(1003, fileFailed);
    case Outcome::LaunchFailed:
        break;
    }
    return CallResult::failure(1000, QStringLiteral("Mail client launch failed."));
}

AttatchmentManager &attachments()
{
    static AttatchmentManager manager;
    return manager;
}

QString mailFolder()
{
    return AppConfig::dataPath(AppConfig::tempDirName());
}

} // namespace MailComposer
