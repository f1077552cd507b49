#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

#include <unistd.h>

// Makes a directory refuse the deletion of its entries, the way a file held open elsewhere
// refuses deletion on other systems. Root ignores permissions, so it gets the append-only flag.
class DeletionGuard final
{
public:
    explicit DeletionGuard(const QString &directory)
        : m_directory(directory)
    {
        m_active = geteuid() == 0
            ? chattr(QStringLiteral("+a"))
            : QFile::setPermissions(m_directory, QFile::ReadOwner | QFile::ExeOwner);
    }
    ~DeletionGuard() { release(); }

    bool isActive() const { return m_active; }
    void release()
    {
        if (!m_active)
            return;
        m_active = false;
        if (geteuid() == 0)
            chattr(QStringLiteral("-a"));
        else
            QFile::setPermissions(m_directory,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    bool chattr(const QString &flag) const
    {
        return QProcess::execute(QStringLiteral("chattr"), { flag, m_directory }) == 0;
    }

    QString m_directory;
    bool m_active = false;
};
