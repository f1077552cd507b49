#pragma once

#include <QFile>
#include <QProcess>

#include <unistd.h>

// Makes a directory refuse the deletion of its entries, the way a file held open elsewhere
// refuses deletion on other systems. Root ignores permissions, so it gets the append-only flag.
class DeletionGuard final
{
public:
    explicit DeletionGuard(const QString &directory)
        : m_directory(directory)
        , m_active(refuse(true))
    {
    }
    ~DeletionGuard() { release(); }

    bool isActive() const { return m_active; }
    void release()
    {
        if (m_active)
            m_active = !refuse(false);
    }

private:
    bool refuse(bool on) const
    {
        if (::geteuid() == 0)
            return QProcess::execute("chattr", { on ? "+a" : "-a", m_directory }) == 0;
        const QFile::Permissions allowed = QFile::ReadOwner | QFile::ExeOwner;
        return QFile::setPermissions(m_directory, on ? allowed : allowed | QFile::WriteOwner);
    }

    QString m_directory;
    bool m_active;
};
