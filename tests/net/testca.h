#pragma once

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

// A certificate authority made with openssl for one test run, and server certificates for
// "localhost" and 127.0.0.1: one signed by it, one self-signed that nothing trusts.
// Files in dir: ca.pem, ca.der, signed.pem, signed.key, selfsigned.pem, selfsigned.key.
inline bool makeTestCa(const QString &dir)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QDir d(dir);
    const auto run = [&](const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(dir);
        process.start(openssl, arguments);
        const bool ok = process.waitForFinished(60000) && process.exitCode() == 0;
        if (!ok)
            qWarning() << "openssl" << arguments << process.readAllStandardError();
        return ok;
    };
    QFile ext(d.filePath(QStringLiteral("server.ext")));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
    ext.close();
    const QString days = QStringLiteral("2");
    return run({ "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                 "ca.pem", "-days", days, "-subj", "/CN=Corvid Test Root" })
        && run({ "x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der" })
        && run({ "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signed.key", "-out",
                 "signed.csr", "-subj", "/CN=localhost" })
        && run({ "x509", "-req", "-in", "signed.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                 "-CAcreateserial", "-out", "signed.pem", "-days", days, "-extfile", "server.ext" })
        && run({ "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "selfsigned.key",
                 "-out", "selfsigned.pem", "-days", days, "-subj", "/CN=localhost", "-addext",
                 "subjectAltName=DNS:localhost,IP:127.0.0.1" });
}
