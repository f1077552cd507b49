#pragma once

#include "platform/corvidexport.h"

#include <QString>
#include <QVariant>

// The system registry by full key paths such as "HKEY_CURRENT_USER\SOFTWARE\Clients\Mail",
// root name first. An empty value name stands for the key's unnamed default value. On Windows
// this is the registry itself; elsewhere one INI store per root in the user's configuration
// folder stands in for it, with key paths and value names compared without regard to case.
class CORVID_EXPORT Registry
{
public:
    // The value, or fallback when the key or the value does not exist.
    static QVariant value(const QString &keyPath, const QString &valueName,
                          const QVariant &fallback = QVariant());
    // False when the root is unknown or the store cannot be written.
    static bool setValue(const QString &keyPath, const QString &valueName, const QVariant &data);
    // Whether page script may write under keyPath: never under HKEY_LOCAL_MACHINE.
    static bool pageMayWrite(const QString &keyPath);

    // Where the stand-in keeps its stores (tests point it at a folder of their own); empty
    // restores the user's configuration folder. Unused on Windows.
    static void setStoreFolder(const QString &folder);
    static QString storeFolder();
};
