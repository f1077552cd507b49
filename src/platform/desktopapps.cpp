#include "platform/desktopapps.h"

#include "platform/registry.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace DesktopApps {

namespace {

QString registryText(const QString &keyPath)
{
    return Registry::value(keyPath, QString()).toString();
}

// The registered server command of an automation name, "/automation" removed; empty when the
// registry has none.
QString registeredServerCommand(const QString &automationName)
{
    const QString classes = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\");
    const QString classId = registryText(classes + automationName + QStringLiteral("\\CLSID"));
    // Without a class id the paths below would name the CLSID folder itself.
    if (classId.trimmed().isEmpty())
        return QString();
    QString command = registryText(classes + QStringLiteral("Wow6432Node\\CLSID\\") + classId
                                   + QStringLiteral("\\LocalServer32"));
    if (command.isEmpty())
        command = registryText(classes + QStringLiteral("CLSID\\") + classId
                               + QStringLiteral("\\LocalServer32"));
    if (command.isEmpty())
        command = registryText(classes + QStringLiteral("CLSID\\") + classId
                               + QStringLiteral("\\LocalServer"));
    return command.remove(QStringLiteral("/automation"), Qt::CaseInsensitive).trimmed();
}

// Server commands are often an unquoted path with blanks ("C:\Program Files\...\EXCEL.EXE
// /x"), which Windows itself reads up to the ".exe"; plain splitting would cut the path apart.
Command splitServerCommand(const QString &text)
{
    const QString exe = QStringLiteral(".exe");
    const int exeEnd = text.indexOf(exe, 0, Qt::CaseInsensitive) + exe.size();
    const bool unquotedPathWithBlanks = !text.startsWith(QLatin1Char('"')) && exeEnd > exe.size()
        && text.left(exeEnd).contains(QLatin1Char(' '))
        && (exeEnd == text.size() || text.at(exeEnd).isSpace());
    if (unquotedPathWithBlanks)
        return { text.left(exeEnd), QProcess::splitCommand(text.mid(exeEnd)) };
    QStringList parts = QProcess::splitCommand(text);
    if (parts.isEmpty())
        return {};
    const QString program = parts.takeFirst();
    return { program, parts };
}

#ifndef Q_OS_WIN

struct DesktopEntry
{
    QString name;
    QString exec;
};

const int XdgMimeTimeoutMs = 5000;
const qint64 MaxEntryBytes = 1 << 20;

// The desktop file id that `xdg-mime query default` names for mimeType; empty when there is
// none or the tool does not answer in time.
QString defaultDesktopId(const QString &mimeType)
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty() || mimeType.isEmpty())
        return QString();
    QProcess query;
    query.setStandardInputFile(QProcess::nullDevice());
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(xdgMime, { QStringLiteral("query"), QStringLiteral("default"), mimeType });
    if (!query.waitForFinished(XdgMimeTimeoutMs)) {
        query.kill();
        query.waitForFinished(XdgMimeTimeoutMs);
        return QString();
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return QString();
    const QString answer = QString::fromUtf8(query.readAllStandardOutput());
    const QString id = answer.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(';'), 0, 0);
    return id.trimmed();
}

// The applications folders in the order the desktop searches them.
QStringList applicationFolders()
{
    QString dataHome = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (dataHome.isEmpty())
        dataHome = QFile::decodeName(qgetenv("HOME")) + QStringLiteral("/.local/share");
    QString dataDirs = QFile::decodeName(qgetenv("XDG_DATA_DIRS"));
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList folders;
    const QStringList bases
        = QStringList(dataHome) + dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &base : bases)
        folders.append(base + QStringLiteral("/applications"));
    return folders;
}

// An entry below folder for id, where each dash of the id may stand for a subfolder
// ("kde4-foo.desktop" is also "kde4/foo.desktop"). Links are not followed.
QString findEntryIn(const QString &folder, const QString &id)
{
    const QFileInfo direct(folder + QLatin1Char('/') + id);
    if (direct.isFile() && !direct.isSymLink())
        return direct.filePath();
    for (int dash = id.indexOf(QLatin1Char('-')); dash > 0;
         dash = id.indexOf(QLatin1Char('-'), dash + 1)) {
        const QString part = id.left(dash);
        const QFileInfo subfolder(folder + QLatin1Char('/') + part);
        if (part.startsWith(QLatin1Char('.')) || !subfolder.isDir() || subfolder.isSymLink())
            continue;
        const QString found = findEntryIn(subfolder.filePath(), id.mid(dash + 1));
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

// A value with the desktop entry escapes (\s \n \t \r \\) resolved.
QString unescapeValue(const QString &value)
{
    QString result;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            result.append(QLatin1Char(' '));
            break;
        case 'n':
            result.append(QLatin1Char('\n'));
            break;
        case 't':
            result.append(QLatin1Char('\t'));
            break;
        case 'r':
            result.append(QLatin1Char('\r'));
            break;
        case '\\':
            result.append(QLatin1Char('\\'));
            break;
        default:
            result.append(c).append(next);
        }
    }
    return result;
}

// The Name and Exec of the [Desktop Entry] group of the entry for mimeType's default program.
DesktopEntry defaultEntryFor(const QString &mimeType)
{
    const QString id = defaultDesktopId(mimeType);
    // An id is a file name; anything that could leave the applications folders is refused.
    if (!id.endsWith(QLatin1String(".desktop")) || id.startsWith(QLatin1Char('.'))
        || id.contains(QLatin1Char('/')) || id.contains(QLatin1Char('\\')))
        return {};
    QString path;
    const QStringList folders = applicationFolders();
    for (const QString &folder : folders) {
        path = findEntryIn(folder, id);
        if (!path.isEmpty())
            break;
    }
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.read(MaxEntryBytes)).split(QLatin1Char('\n'));
    DesktopEntry entry;
    bool inMainGroup = false;
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || line.startsWith(QLatin1Char('#')) || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = unescapeValue(line.mid(equals + 1).trimmed());
        if (key == QLatin1String("Name") && entry.name.isNull())
            entry.name = value;
        else if (key == QLatin1String("Exec") && entry.exec.isNull())
            entry.exec = value;
    }
    return entry;
}

// An Exec line split into arguments by its quoting rules, without field codes and with "%%" as
// "%". Empty when the quoting is broken.
QStringList splitExec(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false, quoted = false, onlyFieldCodes = true;
    const auto finish = [&] {
        if (inArgument && !(current.isEmpty() && onlyFieldCodes))
            arguments.append(current);
        current.clear();
        inArgument = false;
        onlyFieldCodes = true;
    };
    const QString fieldCodes = QStringLiteral("fFuUickdDnNvm");
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (c == QLatin1Char('%') && i + 1 < exec.size()) {
            const QChar code = exec.at(++i);
            const bool fieldCode = fieldCodes.contains(code);
            if (code == QLatin1Char('%'))
                current.append(code);
            else if (!fieldCode)
                current.append(c).append(code);
            inArgument = true;
            onlyFieldCodes = onlyFieldCodes && fieldCode;
            continue;
        }
        if (quoted) {
            if (c == QLatin1Char('"'))
                quoted = false;
            else if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current.append(exec.at(++i));
            else
                current.append(c);
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            finish();
            continue;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else {
            current.append(c);
        }
        inArgument = true;
        onlyFieldCodes = false;
    }
    if (quoted)
        return {};
    finish();
    return arguments;
}

Command commandOf(const DesktopEntry &entry)
{
    QStringList parts = splitExec(entry.exec);
    if (parts.isEmpty() || parts.first().isEmpty())
        return {};
    const QString program = parts.takeFirst();
    return { program, parts };
}

#endif // Q_OS_WIN

} // namespace

Command defaultCommandFor(const QString &mimeType)
{
#ifdef Q_OS_WIN
    Q_UNUSED(mimeType)
    return {};
#else
    return commandOf(defaultEntryFor(mimeType));
#endif
}

Command officeCommand(const QString &automationName)
{
    const Command registered = splitServerCommand(registeredServerCommand(automationName));
    if (!registered.isEmpty())
        return registered;
    const QString openXml = QStringLiteral("application/vnd.openxmlformats-officedocument.");
    const QString openDocument = QStringLiteral("application/vnd.oasis.opendocument.");
    QStringList documentTypes;
    if (automationName == QLatin1String("Word.Application"))
        documentTypes = QStringList { openXml + QStringLiteral("wordprocessingml.document"),
                                      openDocument + QStringLiteral("text") };
    else if (automationName == QLatin1String("Excel.Application"))
        documentTypes = QStringList { openXml + QStringLiteral("spreadsheetml.sheet"),
                                      openDocument + QStringLiteral("spreadsheet") };
    else if (automationName == QLatin1String("PowerPoint.Application"))
        documentTypes = QStringList { openXml + QStringLiteral("presentationml.presentation"),
                                      openDocument + QStringLiteral("presentation") };
    for (const QString &type : qAsConst(documentTypes)) {
        const Command command = defaultCommandFor(type);
        if (!command.isEmpty())
            return command;
    }
    return {};
}

QString mailClientName()
{
    QString name = registryText(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Clients\\Mail"));
    if (name.isEmpty())
        name = registryText(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Classes\\Clients\\Mail"));
#ifndef Q_OS_WIN
    if (name.isEmpty())
        name = defaultEntryFor(QStringLiteral("x-scheme-handler/mailto")).name;
#endif
    return name.isEmpty() ? QString() : name;
}

QString mailClientCommand(const QString &name)
{
    QString command;
    if (!name.isEmpty())
        command = registryText(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\Mail\\")
                               + name + QStringLiteral("\\shell\\open\\command"));
#ifndef Q_OS_WIN
    if (command.isEmpty()) {
        const Command desktop
            = commandOf(defaultEntryFor(QStringLiteral("x-scheme-handler/mailto")));
        QStringList parts;
        if (!desktop.isEmpty())
            parts = QStringList(desktop.program) + desktop.arguments;
        for (QString &part : parts) {
            if (part.contains(QLatin1Char(' ')))
                part = QLatin1Char('"') + part + QLatin1Char('"');
        }
        command = parts.join(QLatin1Char(' '));
    }
#endif
    return command.isEmpty() ? QString() : command;
}

} // namespace DesktopApps
