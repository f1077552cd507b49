#pragma once

#include "platform/corvidexport.h"

#include <QString>
#include <QStringList>

enum class LogCategory { App, Shell, Udp };

// The shell's one log. Off until it is turned on (LogSettings does that from the configuration
// and the user's stored switches); an enabled log goes to its file, a disabled one drops
// messages.
class CORVID_EXPORT Logger final
{
public:
    Logger() = default;

    // The one log state of the process.
    static Logger &instance();

    static QString pathFor(const QString &tempFolder, const QString &logName);
    static QString startSeparator();
    // Keeps the last maxChars characters of the file; a negative limit keeps it whole.
    static void trimFile(const QString &path, int maxChars);

    // Turns the log on, written to the file.
    void enable();
    void setSwitches(bool app, bool shell, bool udp);
    void appendStartSeparator();

    bool isEnabled() const { return m_enabled; }
    bool writesToFile() const { return m_writeToFile; }
    bool isOn(LogCategory category) const;
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString &path) { m_filePath = path; }

    // Writes the message when logging is enabled and its category is on.
    void log(LogCategory category, const QString &message);

private:
    void write(const QString &message);

    bool m_enabled = false;
    bool m_writeToFile = false;
    bool m_app = true;
    bool m_shell = true;
    bool m_udp = true;
    QString m_filePath;
};

inline void logShell(const QString &message)
{
    Logger::instance().log(LogCategory::Shell, message);
}
