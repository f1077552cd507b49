#pragma once

#include "platform/corvidexport.h"

#include <QStringList>

class AppConfig;
class Logger;
class PreferenceStore;

// The log switches as the configuration and the user's stored preferences set them.
class CORVID_EXPORT LogSettings final
{
public:
    // The start-up sequence: path, configured switches, trim, stored switches, separator.
    static void startUp(Logger &log, const AppConfig &config, PreferenceStore &prefs,
                        const QString &tempFolder);
    static void loadConfiguredSwitches(Logger &log, const AppConfig &config);
    // Takes the switches from the preferences when the configuration allows it. Never turns
    // logging off.
    static void loadStoredSwitches(Logger &log, const AppConfig &config, PreferenceStore &prefs);
    // Stores the three switches given as "app_INTRADELIM_shell_INTRADELIM_udp" and reloads them.
    static void updateSettings(Logger &log, const QString &settings, const AppConfig &config,
                               PreferenceStore &prefs);
    // The stored switches as stored ("1", "0" or empty), app, shell and udp in that order.
    static QStringList storedSwitches(PreferenceStore &prefs);
};
