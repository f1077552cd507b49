// Runs one call in a process of its own, so that a test can limit what the process may write
// (its file size, its right to pass over permissions) and watch the call fail midway.
// Usage: corvid_writehelper MODE PATH ARGUMENT. Prints "<success> <code> <message>".

#include "platform/filewriter.h"
#include "services/fileoperations.h"
#include "services/zipoperations.h"
#include "services/zipreader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const QString &mode = args.at(1), &path = args.at(2), &argument = args.at(3);
    // For the writes, ARGUMENT is the payload size: random letters, so that no compression on
    // the way shrinks the payload below the limit.
    QByteArray payload(mode.startsWith(QLatin1String("write")) ? argument.toInt() : 0, '\0');
    for (char &byte : payload)
        byte = char('a' + QRandomGenerator::global()->bounded(26));
    const QString base64 = QString::fromLatin1(payload.toBase64());
    const QString text = QString::fromLatin1(payload);
    const auto outcome = [](bool success) {
        return success ? CallResult::ok() : CallResult::failure(-1, QStringLiteral("failed"));
    };

    CallResult result;
    if (mode == QLatin1String("writeFile"))
        result = FileOperations::writeFile(path, text);
    else if (mode == QLatin1String("writeBinaryFile"))
        result = FileOperations::writeBinaryFile(path, base64);
    else if (mode == QLatin1String("writeEncryptedFile"))
        result = FileOperations::writeEncryptedFile(path, 0, text);
    else if (mode == QLatin1String("writeFileData"))
        result = outcome(FileWriter::writeFileData(path, base64, true));
    else if (mode == QLatin1String("zipAppend")) // ARGUMENT: the file to add
        result = ZipOperations::zipAppend(path, argument, QFileInfo(argument).fileName());
    else if (mode == QLatin1String("extractAll")) // ARGUMENT: the destination
        result = outcome(ZipReader(path).extractAll(argument));
    else
        return 2;
    QTextStream(stdout) << (result.success ? 1 : 0) << ' ' << result.errorCode << ' '
                        << result.message << '\n';
    return 0;
}
