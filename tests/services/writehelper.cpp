// Runs one write in a process of its own, so that a test can limit the file size the process
// may write and watch the write fail midway. Prints "<success> <code> <message>".

#include "platform/filewriter.h"
#include "services/fileoperations.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const QString &mode = args.at(1);
    const QString &path = args.at(2);
    // Random letters, so that no compression on the way shrinks the payload below the limit.
    QByteArray payload(args.at(3).toInt(), '\0');
    for (char &byte : payload)
        byte = char('a' + QRandomGenerator::global()->bounded(26));
    const QString base64 = QString::fromLatin1(payload.toBase64());
    const QString text = QString::fromLatin1(payload);

    CallResult result;
    if (mode == QLatin1String("writeFile"))
        result = FileOperations::writeFile(path, text);
    else if (mode == QLatin1String("writeBinaryFile"))
        result = FileOperations::writeBinaryFile(path, base64);
    else if (mode == QLatin1String("writeEncryptedFile"))
        result = FileOperations::writeEncryptedFile(path, 0, text);
    else if (mode == QLatin1String("writeFileData"))
        result = FileWriter::writeFileData(path, base64, true)
            ? CallResult::ok()
            : CallResult::failure(-1, QStringLiteral("failed"));
    else
        return 2;
    QTextStream(stdout) << (result.success ? 1 : 0) << ' ' << result.errorCode << ' '
                        << result.message << '\n';
    return 0;
}
