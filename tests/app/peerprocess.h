#pragma once

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <unistd.h>

// A working directory like the one beside the shell, with html/ and the test's page as
// app/page.html. TMPDIR points into it too, so the log and every other file a peer writes
// stays inside.
class PeerWorkDir : public QTemporaryDir
{
public:
    explicit PeerWorkDir(const QByteArray &page)
    {
        QFile file(filePath("app/page.html"));
        QVERIFY(QDir(path()).mkdir("app") && QDir(path()).mkdir("tmp")
                && QFile::link(CORVID_SOURCE_DIR "/html", filePath("html")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(page) == page.size());
    }
    ~PeerWorkDir() { setAutoRemove(!QTest::currentTestFailed()); }

    QString pageUrl() const { return QUrl::fromLocalFile(filePath("app/page.html")).toString(); }

    // The shell log of the peers.
    QString logText() const
    {
        QFile file(filePath(QStringLiteral("tmp/corvid-%1/peer.log").arg(::getuid())));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

// One shell peer process on the work directory's page, and the lines it reports.
class ShellPeer
{
public:
    ShellPeer(const PeerWorkDir &dir, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("TMPDIR", dir.filePath("tmp"));
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(dir.path());
        // No start delay, no login script, the test's page as the start page, and the shell's
        // messages in the log.
        QStringList options;
        for (const QString &setting : QStringList {
                 "udp_wait_secs=0", "on_load_inject_credentials=false", "debug_log_enabled=true",
                 "shell_log_enabled=true", "dynamic_log_settings=false", "debug_log_name=peer.log",
                 "on_load_url=" + dir.pageUrl() })
            options << "--set" << setting;
        m_process.start(SHELL_PEER, options + arguments);
    }

    ~ShellPeer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The rest of the next reported line that starts with prefix and a blank, or a null string
    // when the peer ends or the time runs out first.
    QString waitFor(const QString &prefix)
    {
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired();) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).chopped(1);
                if (line.startsWith(prefix + ' '))
                    return line.mid(prefix.size() + 1);
            }
            if (m_process.state() == QProcess::NotRunning)
                break;
            m_process.waitForReadyRead(100);
        }
        return QString();
    }

    void send(const QString &command)
    {
        m_process.write(command.toUtf8() + '\n');
        m_process.waitForBytesWritten(5000);
    }

    // The exit code, or -1 when the peer did not end normally in time.
    int waitForExit()
    {
        const bool ended = m_process.waitForFinished(20000);
        return ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    QProcess m_process;
};
