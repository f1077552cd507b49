#include "platform/launcher.h"

#include "platform/desktopapps.h"
#include "platform/logger.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace Launcher {

namespace {

const int StartTimeoutMs = 30000;

// Starts command with target as its last argument, the program found on the search path when
// it is not given as a path.
bool startWith(const DesktopApps::Command &command, const QString &target, QObject *owner)
{
    if (command.isEmpty()) {
        logShell(QStringLiteral("No program is set up to open ") + target);
        return false;
    }
    QString program = command.program;
    if (!program.contains(QLatin1Char('/')) && !program.contains(QLatin1Char('\\')))
        program = QStandardPaths::findExecutable(program);
    if (program.isEmpty()) {
        logShell(QStringLiteral("Program not found: ") + command.program);
        return false;
    }
    // An absolute path can never be taken for one of the program's options.
    const QString argument = target.isEmpty()
        ? target
        : QDir::toNativeSeparators(QFileInfo(target).absoluteFilePath());
    return launch(program, command.arguments + QStringList(argument), false, owner);
}

} // namespace

bool launch(const QString &path, const QStringList &arguments, bool detached, QObject *owner)
{
    const QFileInfo file(path);
    if (!file.isFile() || !file.isExecutable()) {
        logShell(QStringLiteral("Not launched, no executable file: ") + path);
        return false;
    }
    if (detached) {
        if (QProcess::startDetached(file.absoluteFilePath(), arguments))
            return true;
        logShell(QStringLiteral("Could not launch ") + path);
        return false;
    }
    auto *process = new QProcess(owner);
    process->setStandardErrorFile(QProcess::nullDevice());
    // The output is never read: dropping it keeps a talkative child from filling our memory.
    QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                     [process] { process->readAllStandardOutput(); });
    // A finished child's process object is of no further use; a running one is ended with owner.
    QObject::connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), process,
                     &QObject::deleteLater);
    process->start(file.absoluteFilePath(), arguments, QIODevice::ReadWrite);
    if (process->waitForStarted(StartTimeoutMs))
        return true;
    logShell(QStringLiteral("Could not launch ") + path + QStringLiteral(": ")
             + process->errorString());
    delete process;
    return false;
}

bool launchFileManager(const QString &path, QObject *owner)
{
#ifdef Q_OS_WIN
    return startWith({ QStringLiteral("explorer"), {} }, path, owner);
#else
    return startWith(DesktopApps::defaultCommandFor(QStringLiteral("inode/directory")), path,
                     owner);
#endif
}

bool launchTextEditor(const QString &path, QObject *owner)
{
#ifdef Q_OS_WIN
    return startWith({ QStringLiteral("notepad"), {} }, path, owner);
#else
    return startWith(DesktopApps::defaultCommandFor(QStringLiteral("text/plain")), path, owner);
#endif
}

bool launchOffice(const QString &automationName, const QString &path, QObject *owner)
{
    return startWith(DesktopApps::officeCommand(automationName), path, owner);
}

} // namespace Launcher
