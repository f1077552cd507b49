#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopedPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// A working directory like the one beside the shell (a copy of html/ and an app/ folder for the
// test's pages) in which shell peers run as real processes. TMPDIR points into it too, so the
// log and every other file a peer writes stays inside.
class PeerWorkDir
{
public:
    PeerWorkDir()
    {
        const QString html = m_dir.filePath(QStringLiteral("html"));
        QDir().mkpath(html);
        const QDir source(QStringLiteral(CORVID_SOURCE_DIR "/html"));
        const QStringList files = source.entryList(QDir::Files);
        for (const QString &file : files)
            QFile::copy(source.filePath(file), html + QLatin1Char('/') + file);
        QDir().mkpath(m_dir.filePath(QStringLiteral("app")));
        QDir().mkpath(m_dir.filePath(QStringLiteral("tmp")));
    }

    ~PeerWorkDir() { m_dir.setAutoRemove(!QTest::currentTestFailed()); }

    QString path(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? m_dir.path() : m_dir.filePath(relative);
    }

    bool writePage(const QString &relative, const QByteArray &html) const
    {
        QFile file(path(relative));
        return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly)
            && file.write(html) == html.size();
    }

    // The shell log of peers started with logOptions().
    QString logText() const
    {
        QFile file(path(QStringLiteral("tmp/corvid-%1/peer.log").arg(::getuid())));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Shell messages on, written to the log that logText() reads.
    static QStringList logOptions()
    {
        return { QStringLiteral("--set"), QStringLiteral("debug_log_enabled=true"),
                 QStringLiteral("--set"), QStringLiteral("shell_log_enabled=true"),
                 QStringLiteral("--set"), QStringLiteral("dynamic_log_settings=false"),
                 QStringLiteral("--set"), QStringLiteral("debug_log_name=peer.log") };
    }

private:
    QTemporaryDir m_dir;
};

// One shell peer process and the lines it reports.
class ShellPeer
{
public:
    explicit ShellPeer(const PeerWorkDir &dir)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("TMPDIR"), dir.path(QStringLiteral("tmp")));
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(dir.path());
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
    }

    ~ShellPeer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Quick settings every test wants: no start delay, a normal window, no login script.
    static QStringList baseOptions()
    {
        return { QStringLiteral("--set"), QStringLiteral("udp_wait_secs=0"),
                 QStringLiteral("--set"), QStringLiteral("on_load_maximize=false"),
                 QStringLiteral("--set"), QStringLiteral("on_load_inject_credentials=false") };
    }

    void start(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(SHELL_PEER), baseOptions() + arguments);
    }

    // Waits for a reported line that starts with prefix followed by a blank; returns the rest,
    // or a null string when the peer ends or the time runs out first.
    QString waitFor(const QString &prefix, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (true) {
            while (m_process.canReadLine()) {
                QString line = QString::fromUtf8(m_process.readLine());
                line.chop(line.endsWith(QLatin1Char('\n')) ? 1 : 0);
                m_lines.append(line);
            }
            for (int i = m_taken; i < m_lines.size(); ++i) {
                if (m_lines.at(i).startsWith(prefix + QLatin1Char(' '))) {
                    m_taken = i + 1;
                    return m_lines.at(i).mid(prefix.size() + 1);
                }
            }
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return QString();
            m_process.waitForReadyRead(int(qBound<qint64>(1, deadline.remainingTime(), 100)));
        }
    }

    void send(const QString &command)
    {
        m_process.write(command.toUtf8() + '\n');
        m_process.waitForBytesWritten(5000);
    }

    // The exit code, or -1 when the peer did not end normally in time.
    int waitForExit(int timeoutMs = 20000)
    {
        if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }

    QStringList lines() const { return m_lines; }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QStringList m_lines;
    int m_taken = 0;
};
