#include "config/logsettings.h"

#include "config/appconfig.h"
#include "config/preferencestore.h"
#include "platform/logger.h"
#include "platform/scriptprotocol.h"

#include <algorithm>

namespace {

const QString AppSwitchKey = QStringLiteral("isAppLogging");
const QString ShellSwitchKey = QStringLiteral("isShellLogging");
const QString UdpSwitchKey = QStringLiteral("isUdpLogging");
const QString IntraDelimiter = ScriptProtocol::intraDelimiter();

QString switchText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

void LogSettings::startUp(Logger &log, const AppConfig &config, PreferenceStore &prefs,
                          const QString &tempFolder)
{
    // Without a usable temporary folder there is no log file: every line falls back to the
    // debug output rather than being written somewhere unintended.
    log.setFilePath(tempFolder.isEmpty() ? QString()
                                         : Logger::pathFor(tempFolder, config.debugLogName()));
    loadConfiguredSwitches(log, config);
    if (!log.filePath().isEmpty())
        Logger::trimFile(log.filePath(), config.debugLogMaxCharsOnLoad());
    loadStoredSwitches(log, config, prefs);
    if (log.writesToFile())
        log.appendStartSeparator();
    log.log(LogCategory::Shell, QStringLiteral("CORVID DEBUGGING..."));
}

void LogSettings::loadConfiguredSwitches(Logger &log, const AppConfig &config)
{
    if (config.debugLogEnabled())
        log.enable();
    log.setSwitches(config.appLogEnabled(), config.shellLogEnabled(), config.udpLogEnabled());
}

void LogSettings::loadStoredSwitches(Logger &log, const AppConfig &config, PreferenceStore &prefs)
{
    if (!config.dynamicLogSettings())
        return;
    const bool app = prefs.prefValue(AppSwitchKey) == QLatin1String("1");
    const bool shell = prefs.prefValue(ShellSwitchKey) == QLatin1String("1");
    const bool udp = prefs.prefValue(UdpSwitchKey) == QLatin1String("1");
    log.setSwitches(app, shell, udp);
    if (app || shell || udp)
        log.enable();
}

void LogSettings::updateSettings(Logger &log, const QString &settings, const AppConfig &config,
                                 PreferenceStore &prefs)
{
    QString cleaned = settings;
    if (cleaned.contains(IntraDelimiter)) {
        QStringList parts = cleaned.split(IntraDelimiter);
        parts.erase(std::remove_if(parts.begin(), parts.end(),
                                   [](const QString &part) { return part.trimmed().isEmpty(); }),
                    parts.end());
        cleaned = parts.join(IntraDelimiter);
    }
    const QStringList parts = cleaned.split(IntraDelimiter);
    const auto isOnAt
        = [&parts](int i) { return i < parts.size() && parts.at(i) == QLatin1String("1"); };
    prefs.setPref(AppSwitchKey, switchText(isOnAt(0)));
    prefs.setPref(ShellSwitchKey, switchText(isOnAt(1)));
    prefs.setPref(UdpSwitchKey, switchText(isOnAt(2)));
    loadStoredSwitches(log, config, prefs);
}

QStringList LogSettings::storedSwitches(PreferenceStore &prefs)
{
    return { prefs.prefValue(AppSwitchKey), prefs.prefValue(ShellSwitchKey),
             prefs.prefValue(UdpSwitchKey) };
}
