#pragma once

#include "config/appconfig.h"

#include <QDir>
#include <QMap>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// Configuration values changed for one test, put back when it ends.
class ScopedRunValues
{
public:
    ~ScopedRunValues()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
            AppConfig::setRunValue(it.key(), it.value());
    }

    void set(const QString &key, const QVariant &value)
    {
        if (!m_saved.contains(key))
            m_saved.insert(key,
                           QSettings(AppConfig::configFilePath(), QSettings::IniFormat).value(key));
        AppConfig::setRunValue(key, value);
    }

private:
    QMap<QString, QVariant> m_saved;
};

// A temporary working directory for one test, where the data folders (prefs/) are made.
class ScopedWorkDir : public QTemporaryDir
{
public:
    ScopedWorkDir() { QDir::setCurrent(path()); }
    ~ScopedWorkDir()
    {
        QDir::setCurrent(m_startDir);
        setAutoRemove(!QTest::currentTestFailed());
    }

private:
    const QString m_startDir = QDir::currentPath();
};
