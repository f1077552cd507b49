#include "platform/logger.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>
#include <QTime>

#include <algorithm>

namespace {

bool needsEscape(QChar c)
{
    return c == QLatin1Char('\\') || c.category() == QChar::Other_Control
        || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
}

// Every message is one line: a logged name or text could otherwise break the line and write
// what looks like a line of the shell's own. The backslash is escaped too, so an escape in the
// log always stands for a character that was escaped.
QString escaped(const QString &message)
{
    if (std::none_of(message.cbegin(), message.cend(), needsEscape))
        return message;
    QString text;
    text.reserve(message.size() + 16);
    for (const QChar c : message) {
        if (!needsEscape(c)) {
            text += c;
            continue;
        }
        switch (c.unicode()) {
        case '\\':
            text += QLatin1String("\\\\");
            break;
        case '\n':
            text += QLatin1String("\\n");
            break;
        case '\r':
            text += QLatin1String("\\r");
            break;
        case '\t':
            text += QLatin1String("\\t");
            break;
        default:
            text += c.unicode() < 0x100
                ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return text;
}

} // namespace

Logger &Logger::instance()
{
    static Logger state;
    return state;
}

QString Logger::pathFor(const QString &tempFolder, const QString &logName)
{
    QString path = tempFolder;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + (logName.isEmpty() ? QStringLiteral("Corvid.log") : logName);
}

QString Logger::startSeparator()
{
    return QLatin1Char('\n') + QString(54, QLatin1Char('-')) + QLatin1Char('\n');
}

void Logger::trimFile(const QString &path, int maxChars)
{
    if (maxChars < 0)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    const QString kept = text.right(maxChars);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    file.write(kept.toUtf8());
    file.flush();
    file.close();
}

void Logger::enable()
{
    m_enabled = true;
    m_writeToFile = true;
}

void Logger::setSwitches(bool app, bool shell, bool udp)
{
    m_app = app;
    m_shell = shell;
    m_udp = udp;
}

bool Logger::isOn(LogCategory category) const
{
    if (!m_enabled)
        return false;
    switch (category) {
    case LogCategory::App:
        return m_app;
    case LogCategory::Shell:
        return m_shell;
    case LogCategory::Udp:
        return m_udp;
    }
    return false;
}

void Logger::log(LogCategory category, const QString &message)
{
    if (isOn(category))
        write(message);
}

void Logger::write(const QString &message)
{
    // Here every line passes, whoever logs it.
    const QString entry = escaped(message);
    if (!m_writeToFile) {
        qDebug().noquote() << entry;
        return;
    }
    QFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        qDebug().noquote() << QStringLiteral("Can't Write To Log File: ") + m_filePath
                + QStringLiteral(" Error: ") + file.errorString();
        qDebug().noquote() << entry;
        return;
    }
    const QString line = QLatin1Char('[')
        + QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("] ")
        + entry + QLatin1Char('\n');
    file.write(line.toUtf8());
}

void Logger::appendStartSeparator()
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    file.write(startSeparator().toUtf8());
    qDebug().noquote() << QStringLiteral("LOG FILE PATH: ") + m_filePath;
}
