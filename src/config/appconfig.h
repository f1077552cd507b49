#pragma once

#include "platform/corvidexport.h"

#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <memory>

class QSettings;

// The shell's configuration: the INI file compiled into the program. Records are cheap and
// created wherever a value is needed; all records of the process share one parsed copy, so a
// value changed through a setter is seen by every reader until the process ends.
class CORVID_EXPORT AppConfig final
{
public:
    // A record only: opening one changes nothing else.
    AppConfig();
    ~AppConfig();
    AppConfig(const AppConfig &) = delete;
    AppConfig &operator=(const AppConfig &) = delete;
    AppConfig(AppConfig &&) noexcept;
    AppConfig &operator=(AppConfig &&) noexcept;

    // The record the shell starts with: opening it also names the application after the
    // configuration and applies the working-directory rule to the program's own folder.
    static AppConfig openForShell();

    static QString configFilePath();
    static QString iconPath() { return QStringLiteral("icons/icon.ico"); }
    static int defaultWindowWidth() { return 800; }
    static int defaultWindowHeight() { return 600; }

    // The data folders the shell writes: in the working directory, or in the user's data
    // location for an installed copy (see applyWorkingDirectoryRule).
    static QString prefsDirName() { return QStringLiteral("prefs"); }
    static QString cacheDirName() { return QStringLiteral("cache"); }
    static QString storageDirName() { return QStringLiteral("storage"); }
    static QString downloadsDirName() { return QStringLiteral("downloads"); }
    static QString tempDirName() { return QStringLiteral("temp"); }
    // The program's own folders (html, app, icons, help), found in the working directory.
    static QString helpDirName() { return QStringLiteral("help"); }
    static QString blankPagePath() { return QStringLiteral("html/blank.html"); }
    // relativePath made absolute, in the data folders' place when it lies in one of them.
    static QString dataPath(const QString &relativePath);

    // Makes appDir the working directory when it differs from the current one and holds a
    // folder named "app" (not a link). Returns whether the working directory changed. For such
    // a folder it also places the data folders: beside the program while its folder is
    // writable (a build tree or a portable copy), else (an installed copy) in the user's data
    // location (QStandardPaths::AppDataLocation), which is created.
    static bool applyWorkingDirectoryRule(const QString &appDir);

    // Changes a value for the rest of this run only (the embedded file is never written).
    static void setRunValue(const QString &key, const QVariant &value);

    QString appTitle() const { return string("app_title"); }
    QString appVersion() const { return string("app_version"); }
    QString companyName() const { return string("company_name"); }
    QString copyrightYear() const { return string("copyright_year"); }
    QString debugLogName() const { return string("debug_log_name"); }
    int debugLogMaxCharsOnLoad() const { return integer("debug_log_max_chars_on_load"); }
    bool dynamicLogSettings() const { return boolean("dynamic_log_settings"); }
    bool debugLogEnabled() const { return boolean("debug_log_enabled"); }
    bool appLogEnabled() const { return boolean("app_log_enabled"); }
    bool shellLogEnabled() const { return boolean("shell_log_enabled"); }
    bool udpLogEnabled() const { return boolean("udp_log_enabled"); }
    bool onLoadMaximize() const { return boolean("on_load_maximize"); }
    QString onLoadUrlText() const { return string("on_load_url"); }
    QString onLoadQueryString() const { return string("on_load_query_string"); }
    QString onLoadFragment() const { return string("on_load_fragment"); }
    QString onLoadUsername() const { return string("on_load_username"); }
    QString onLoadPassword() const; // deciphered
    bool onLoadInjectCredentials() const { return boolean("on_load_inject_credentials"); }
    bool crossDomainRestriction() const { return boolean("cross_domain_restriction"); }
    bool shellAccessOnLoadDomain() const { return boolean("shell_access_on_load_domain"); }
    QStringList shellAccessOtherDomains() const { return list("shell_access_other_domains"); }
    bool shellAccessOtherSubdomains() const { return boolean("shell_access_other_subdomains"); }
    bool localStorageEnabled() const { return boolean("local_storage_enabled"); }
    int maxPagesInMemory() const { return integer("max_pages_in_memory"); }
    bool plugginsEnabled() const { return boolean("pluggins_enabled"); }
    bool contextMenuEnabled() const { return boolean("context_menu_enabled"); }
    bool clipboardEnabled() const { return boolean("clipboard_enabled"); }
    QString helpDocDesktop() const { return string("help_doc_desktop"); }
    QString helpDocMobile() const { return string("help_doc_mobile"); }
    QString helpDocVirtualFolder() const { return string("help_doc_virtual_folder"); }
    bool displayMenuBar() const { return boolean("display_menu_bar"); }
    bool newOption() const { return boolean("new_option"); }
    bool newWindowIsClone() const { return boolean("new_window_is_clone"); }
    bool recoverOption() const { return boolean("recover_option"); }
    bool deleteHistoryOption() const { return boolean("delete_history_option"); }
    bool deleteStorageOption() const { return boolean("delete_storage_option"); }
    bool printOption() const { return boolean("print_option"); }
    bool reloadOption() const { return boolean("reload_option"); }
    bool navigationOption() const { return boolean("navigation_option"); }
    bool developerOptions() const { return boolean("developer_options"); }
    bool userCanEditConfig() const { return boolean("user_can_edit_config"); }
    QString userConfigElements() const { return string("user_config_elements"); }
    bool useUdpOnLoadUrl() const { return boolean("use_udp_on_load_url"); }
    int udpListeningPort() const { return integer("udp_listening_port"); }
    int udpWaitSecs() const { return integer("udp_wait_secs"); }
    bool pipeRequestsEnabled() const { return boolean("pipe_requests_enabled"); }
    bool pipeOutUrls() const { return boolean("pipe_out_urls"); }
    bool pipeOutValues() const { return boolean("pipe_out_values"); }
    QString messagePipeName() const { return string("message_pipe_name"); }

    QUrl onLoadUrl() const;
    QUrl fullOnLoadUrl() const;
    QStringList trustedHosts() const;
    bool helpIsCollection() const;

    // Null strings are ignored; empty strings are stored.
    void setOnLoadUrl(const QString &url);
    void setOnLoadUsername(const QString &name);
    void setOnLoadPassword(const QString &plainPassword);
    void setOnLoadMaximize(bool maximize);

    // The statements that tell the container page about its settings form, in evaluation order.
    QStringList settingsPageScripts() const;

private:
    QString string(const char *key) const;
    int integer(const char *key) const;
    bool boolean(const char *key) const;
    QStringList list(const char *key) const;

    std::unique_ptr<QSettings> m_settings;
};
