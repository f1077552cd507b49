#pragma once

#include "platform/corvidexport.h"

#include <QObject>
#include <QString>

class QTimer;
class QUdpSocket;

// Listens on one UDP port and hands on the text of every datagram that arrives, unchanged and in
// arrival order. The socket is made when listening first starts and is kept, unbound between
// listens, for the life of the listener.
class CORVID_EXPORT UdpListener : public QObject
{
    Q_OBJECT

public:
    enum Outcome { Listening, AlreadyListening, InvalidPort, BindFailed };

    explicit UdpListener(QObject *parent = nullptr);
    ~UdpListener() override;

    // Binds port on every address. A port of 0 or above 65535 is refused; a failed bind leaves
    // the listener idle so that the caller can try again.
    Outcome listen(quint32 port);
    // Reads the file at path every intervalMs instead of the network, for platforms without a
    // usable socket. Runs until stop().
    void emulateFrom(const QString &path, int intervalMs);
    // Unbinds the port; false when not listening.
    bool stop();

    bool isListening() const { return m_port != 0; }
    quint32 port() const { return m_port; }
    QString lastText() const { return m_lastText; }

    // The text of a datagram: UTF-8 up to the first zero byte.
    static QString datagramText(const QByteArray &datagram);

signals:
    void received(const QString &text);

private slots:
    void readPendingDatagrams();
    void emulateDatagram();

private:
    QUdpSocket *m_socket = nullptr;
    QTimer *m_emulationTimer = nullptr;
    QString m_emulationPath;
    quint32 m_port = 0;
    QString m_lastText;
};
