#include "config/preferencestore.h"

#include "config/appconfig.h"
#include "platform/textcipher.h"

#include <QDebug>
#include <QDir>
#include <QSettings>

namespace {

// INI keys must stay free of the characters the settings class treats specially.
const QString EqualsMark = QStringLiteral("_EQU_");
const QString SlashMark = QStringLiteral("_SLSH_");
const QString BackslashMark = QStringLiteral("_BSLSH_");

} // namespace

PreferenceStore::PreferenceStore() = default;
PreferenceStore::~PreferenceStore() = default;

QString PreferenceStore::encode(const QString &plain)
{
    QString text = TextCipher(TextCipher::DefaultKey).encryptText(plain);
    text.replace(QLatin1Char('='), EqualsMark);
    text.replace(QLatin1Char('/'), SlashMark);
    text.replace(QLatin1Char('\\'), BackslashMark);
    return text;
}

QString PreferenceStore::decode(const QString &stored)
{
    QString text = stored;
    text.replace(EqualsMark, QStringLiteral("="));
    text.replace(SlashMark, QStringLiteral("/"));
    text.replace(BackslashMark, QStringLiteral("\\"));
    return TextCipher(TextCipher::DefaultKey).decryptText(text);
}

bool PreferenceStore::open()
{
    if (m_settings)
        return true;
    const QString folder = AppConfig::dataPath(AppConfig::prefsDirName());
    if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
        qDebug().noquote() << QStringLiteral("Directory creation failed for path: ") + folder;
        return false;
    }
    QScopedPointer<QSettings> settings(
        new QSettings(QDir(folder).filePath(fileName()), QSettings::IniFormat));
    if (settings->status() != QSettings::NoError)
        return false;
    m_settings.swap(settings);
    return true;
}

bool PreferenceStore::openForEditing()
{
    if (open() && m_settings->isWritable())
        return true;
    qDebug("Cannot edit preferrences.");
    return false;
}

QString PreferenceStore::findPrefKey(const QString &key)
{
    if (!open())
        return QString();
    const QStringList storedKeys = m_settings->allKeys();
    for (const QString &stored : storedKeys) {
        if (decode(stored) == key)
            return stored;
    }
    return QString();
}

QString PreferenceStore::prefValue(const QString &key)
{
    if (!open()) {
        qDebug("Cannot read from preferrences.");
        return QString();
    }
    if (key.isEmpty())
        return QString();
    const QString stored = findPrefKey(key);
    if (stored.isNull())
        return QString();
    const QString value = decode(m_settings->value(stored).toString());
    // An empty stored value must read back as empty, not as "never stored".
    return value.isNull() ? QStringLiteral("") : value;
}

void PreferenceStore::setPref(const QString &key, const QString &value)
{
    if (!openForEditing() || key.isEmpty() || value.isNull())
        return;
    removePref(key);
    m_settings->setValue(encode(key), encode(value));
    m_settings->sync();
}

void PreferenceStore::removePref(const QString &key)
{
    if (!openForEditing() || key.isEmpty())
        return;
    const QString stored = findPrefKey(key);
    if (!stored.isNull())
        m_settings->remove(stored);
}
