#pragma once

#include "corvidexport.h"

#include <QString>
#include <QStringList>

class AppConfig;
class PreferenceStore;

enum class LogCategory { App, Shell, Udp };

// The shell's one log. Off unless the configuration or the user's stored switches turn it on;
// an enabled log always goes to the file, a disabled one drops messages.
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

    // The start-up sequence: path, configured switches, trim, stored switches, separator.
    void startUp(const AppConfig &config, PreferenceStore &prefs, const QString &tempFolder);
    void loadConfiguredSwitches(const AppConfig &config);
    // Takes the switches from the preferences when the configuration allows it. Never turns
    // logging off.
    void loadStoredSwitches(const AppConfig &config, PreferenceStore &prefs);
    // Stores the three switches given as "app_INTRADELIM_shell_INTRADELIM_udp" and reloads them.
    void updateSettings(const QString &settings, const AppConfig &config, PreferenceStore &prefs);
    // The stored switches as stored ("1", "0" or empty), app, shell and udp in that order.
    static QStringList storedSwitches(PreferenceStore &prefs);

    bool isEnabled() const { return m_enabled; }
    bool writesToFile() const { return m_writeToFile; }
    bool isOn(LogCategory category) const;
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString &path) { m_filePath = path; }

    // Writes the message when logging is enabled and its category is on.
    void log(LogCategory category, const QString &message);

private:
    void write(const QString &message);
    void appendStartSeparator();

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
