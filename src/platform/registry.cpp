#include "platform/registry.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString DefaultValueName = QStringLiteral("Default");

QString &storeFolderOverride()
{
    static QString folder;
    return folder;
}

QString valueNameOrDefault(const QString &valueName)
{
    return valueName.isEmpty() ? DefaultValueName : valueName;
}

// The components of a key path. Backslashes are replaced by hand: QDir::fromNativeSeparators
// leaves them alone wherever the native separator is the slash.
QStringList keyParts(const QString &keyPath)
{
    return QString(keyPath)
        .replace(QLatin1Char('\\'), QLatin1Char('/'))
        .split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

#ifndef Q_OS_WIN
const QStringList &rootNames()
{
    static const QStringList names { QStringLiteral("HKEY_CLASSES_ROOT"),
                                     QStringLiteral("HKEY_CURRENT_USER"),
                                     QStringLiteral("HKEY_LOCAL_MACHINE"),
                                     QStringLiteral("HKEY_USERS"),
                                     QStringLiteral("HKEY_CURRENT_CONFIG") };
    return names;
}

// The store of keyPath's root and the settings key of the value in it; false for an unknown
// root. Paths and names are kept in lower case, so that they compare without regard to case.
bool locate(const QString &keyPath, const QString &valueName, QString *storePath,
            QString *settingsKey)
{
    QStringList parts = keyParts(keyPath);
    if (parts.isEmpty() || !rootNames().contains(parts.first().toUpper()))
        return false;
    *storePath = Registry::storeFolder() + QLatin1Char('/') + parts.takeFirst().toUpper()
        + QStringLiteral(".ini");
    parts.append(valueNameOrDefault(valueName));
    *settingsKey = parts.join(QLatin1Char('/')).toLower();
    return true;
}
#endif

} // namespace

QVariant Registry::value(const QString &keyPath, const QString &valueName, const QVariant &fallback)
{
#ifdef Q_OS_WIN
    return QSettings(keyPath, QSettings::NativeFormat)
        .value(valueNameOrDefault(valueName), fallback);
#else
    QString storePath, settingsKey;
    if (!locate(keyPath, valueName, &storePath, &settingsKey))
        return fallback;
    return QSettings(storePath, QSettings::IniFormat).value(settingsKey, fallback);
#endif
}

bool Registry::setValue(const QString &keyPath, const QString &valueName, const QVariant &data)
{
#ifdef Q_OS_WIN
    QSettings settings(keyPath, QSettings::NativeFormat);
    settings.setValue(valueNameOrDefault(valueName), data);
#else
    QString storePath, settingsKey;
    if (!locate(keyPath, valueName, &storePath, &settingsKey)
        || !QDir().mkpath(Registry::storeFolder()))
        return false;
    QSettings settings(storePath, QSettings::IniFormat);
    settings.setValue(settingsKey, data);
#endif
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool Registry::pageMayWrite(const QString &keyPath)
{
    const QString root = keyParts(keyPath).value(0);
    return root.compare(QLatin1String("HKEY_LOCAL_MACHINE"), Qt::CaseInsensitive) != 0
        && root.compare(QLatin1String("HKLM"), Qt::CaseInsensitive) != 0;
}

void Registry::setStoreFolder(const QString &folder)
{
    storeFolderOverride() = folder;
}

QString Registry::storeFolder()
{
    if (!storeFolderOverride().isEmpty())
        return storeFolderOverride();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/corvid/registry");
}
