#include "config/appconfig.h"

#include "platform/platformpaths.h"
#include "platform/textcipher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

// The configuration is compiled into this layer's static library, whose resources the linker
// keeps only when something asks for them.
static bool registerConfigResource()
{
    Q_INIT_RESOURCE(config);
    return true;
}

namespace {

// Keeps the shared parsed copy of the configuration alive for the whole run, so values changed
// in memory survive while no other record is open.
QSettings &sharedSettings()
{
    static QSettings anchor(AppConfig::configFilePath(), QSettings::IniFormat);
    return anchor;
}

// Empty while the data folders are in the working directory.
QString &userDataRoot()
{
    static QString root;
    return root;
}

bool inDataFolder(const QString &relativePath)
{
    const QString folder = QDir::cleanPath(relativePath).section(QLatin1Char('/'), 0, 0);
    return folder == AppConfig::prefsDirName() || folder == AppConfig::cacheDirName()
        || folder == AppConfig::storageDirName() || folder == AppConfig::downloadsDirName()
        || folder == AppConfig::tempDirName();
}

} // namespace

QString AppConfig::configFilePath()
{
    static const bool registered = registerConfigResource();
    Q_UNUSED(registered)
    return QStringLiteral(":/config/ini/config.ini");
}

AppConfig::AppConfig()
{
    sharedSettings();
    m_settings = std::make_unique<QSettings>(configFilePath(), QSettings::IniFormat);
}

AppConfig::~AppConfig() = default;
AppConfig::AppConfig(AppConfig &&) noexcept = default;
AppConfig &AppConfig::operator=(AppConfig &&) noexcept = default;

AppConfig AppConfig::openForShell()
{
    AppConfig config;
    if (QCoreApplication::instance()) {
        // The user's data location is named after these, so they are set before it is chosen;
        // two apps hosted by this shell then keep their data apart.
        QCoreApplication::setOrganizationName(config.companyName());
        QCoreApplication::setApplicationName(config.appTitle());
        applyWorkingDirectoryRule(QCoreApplication::applicationDirPath());
    }
    return config;
}

QString AppConfig::dataPath(const QString &relativePath)
{
    const QString &root = userDataRoot();
    if (!root.isEmpty() && inDataFolder(relativePath))
        return QDir(root).absoluteFilePath(relativePath);
    return QDir::current().absoluteFilePath(relativePath);
}

bool AppConfig::applyWorkingDirectoryRule(const QString &appDir)
{
    const QString appPath = QFileInfo(appDir).absoluteFilePath();
    const QStringList folders
        = QDir(appPath).entryList(QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    if (!folders.contains(QStringLiteral("app")))
        return false;
    // An installed copy cannot take its data beside itself.
    QString root;
    if (!PlatformPaths::folderIsWritable(appPath)) {
        root = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!QDir().mkpath(root))
            qWarning().noquote() << QStringLiteral("Could not create the data folder ") + root;
    }
    userDataRoot() = root;
    if (appPath == QFileInfo(QDir::currentPath()).absoluteFilePath())
        return false;
    return QDir::setCurrent(appPath);
}

void AppConfig::setRunValue(const QString &key, const QVariant &value)
{
    sharedSettings().setValue(key, value);
}

QString AppConfig::string(const char *key) const
{
    return m_settings->value(QLatin1String(key)).toString();
}

int AppConfig::integer(const char *key) const
{
    return m_settings->value(QLatin1String(key)).toInt();
}

bool AppConfig::boolean(const char *key) const
{
    return m_settings->value(QLatin1String(key)).toBool();
}

QStringList AppConfig::list(const char *key) const
{
    return m_settings->value(QLatin1String(key)).toStringList();
}

QString AppConfig::onLoadPassword() const
{
    return TextCipher(TextCipher::PasswordKey).decryptText(string("on_load_password"));
}

QUrl AppConfig::onLoadUrl() const
{
    const QString text = onLoadUrlText().trimmed();
    if (text.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
        return QUrl::fromLocalFile(text.mid(7));
    if (text.startsWith(QLatin1String("..")))
        return QUrl::fromLocalFile(QDir::current().absolutePath() + text.mid(2));
    return QUrl(text, QUrl::TolerantMode);
}

QUrl AppConfig::fullOnLoadUrl() const
{
    QUrl url = onLoadUrl();
    const QString query = onLoadQueryString().trimmed();
    if (!query.isEmpty())
        url.setQuery(query);
    const QString fragment = onLoadFragment().trimmed();
    if (!fragment.isEmpty())
        url.setFragment(fragment);
    return url;
}

QStringList AppConfig::trustedHosts() const
{
    QStringList hosts = shellAccessOtherDomains();
    if (shellAccessOnLoadDomain()) {
        const QUrl start = fullOnLoadUrl();
        if (!start.isEmpty() && !start.isLocalFile())
            hosts.append(start.host(QUrl::FullyDecoded));
    }
    return hosts;
}

bool AppConfig::helpIsCollection() const
{
    return helpDocDesktop().endsWith(QLatin1String("QHC"), Qt::CaseInsensitive);
}

void AppConfig::setOnLoadUrl(const QString &url)
{
    if (!url.isNull())
        m_settings->setValue(QStringLiteral("on_load_url"), url);
}

void AppConfig::setOnLoadUsername(const QString &name)
{
    if (!name.isNull())
        m_settings->setValue(QStringLiteral("on_load_username"), name);
}

void AppConfig::setOnLoadPassword(const QString &plainPassword)
{
    if (plainPassword.isNull())
        return;
    m_settings->setValue(QStringLiteral("on_load_password"),
                         TextCipher(TextCipher::PasswordKey).encryptText(plainPassword));
}

void AppConfig::setOnLoadMaximize(bool maximize)
{
    m_settings->setValue(QStringLiteral("on_load_maximize"),
                         maximize ? QStringLiteral("true") : QStringLiteral("false"));
}

QStringList AppConfig::settingsPageScripts() const
{
    QString elements = userConfigElements().trimmed();
    elements.replace(QLatin1Char(','), QLatin1String("','"));
    return {
        QStringLiteral("qtKeyCookieName = 'QT_ACCESS_KEY_COOKIE';"),
        QStringLiteral("showMenuBar =false;"),
        QStringLiteral("userEditableSettings =")
            + (userCanEditConfig() ? QStringLiteral("true") : QStringLiteral("false"))
            + QLatin1Char(';'),
        QStringLiteral("var configFilePath = '") + QFileInfo(configFilePath()).absoluteFilePath()
            + QStringLiteral("';"),
        QStringLiteral("var settingsElements =['") + elements + QStringLiteral("'];;"),
    };
}
