#pragma once

#include "platform/corvidexport.h"

#include <QScopedPointer>
#include <QString>

class QSettings;

// The user's preferences in "prefs/prefs.ini". Keys and values are stored enciphered, so a key
// cannot be found by enciphering it again: every lookup deciphers the stored keys.
class CORVID_EXPORT PreferenceStore final
{
public:
    PreferenceStore();
    ~PreferenceStore();
    PreferenceStore(const PreferenceStore &) = delete;
    PreferenceStore &operator=(const PreferenceStore &) = delete;

    static QString fileName() { return QStringLiteral("prefs.ini"); }
    static QString encode(const QString &plain);
    static QString decode(const QString &stored);

    QString prefValue(const QString &key);
    void setPref(const QString &key, const QString &value);
    void removePref(const QString &key);
    QString findPrefKey(const QString &key);

private:
    bool open();
    bool openForEditing();

    QScopedPointer<QSettings> m_settings;
};
