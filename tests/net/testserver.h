#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

// The loopback server of data/testserver.py, for one test program. With a certificate and key
// it also speaks TLS on the same port.
class TestServer
{
public:
    ~TestServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Starts serving root; false (with the reason in the test log) when it does not come up.
    bool start(const QString &root, const QString &cert = QString(), const QString &key = QString())
    {
        QStringList arguments { QStringLiteral(CORVID_SOURCE_DIR "/tests/net/data/testserver.py"),
                                QStringLiteral("--root"), root };
        if (!cert.isEmpty())
            arguments << QStringLiteral("--cert") << cert << QStringLiteral("--key") << key;
        m_process.start(QStandardPaths::findExecutable(QStringLiteral("python3")), arguments);
        if (!m_process.waitForStarted(5000)) {
            qWarning() << "python3:" << m_process.errorString();
            return false;
        }
        const QRegularExpression portLine(QStringLiteral("PORT (\\d+)"));
        QByteArray out;
        const bool up = QTest::qWaitFor(
            [&] {
                out += m_process.readAllStandardOutput();
                m_port = portLine.match(QString::fromUtf8(out)).captured(1).toInt();
                return m_port > 0 || m_process.state() == QProcess::NotRunning;
            },
            15000);
        if (m_port == 0)
            qWarning() << "testserver.py:" << m_process.readAllStandardError();
        return up && m_port > 0;
    }

    int port() const { return m_port; }
    // An address on this server, by host name ("localhost" or "127.0.0.1").
    QString url(const QString &path, const QString &scheme = QStringLiteral("http"),
                const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("%1://%2:%3%4").arg(scheme, host).arg(m_port).arg(path);
    }

private:
    QProcess m_process;
    int m_port = 0;
};
