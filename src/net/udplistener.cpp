#include "net/udplistener.h"

#include "platform/logger.h"

#include <QFile>
#include <QTimer>
#include <QUdpSocket>

namespace {

void logUdp(const QString &message)
{
    Logger::instance().log(LogCategory::Udp, message);
}

} // namespace

UdpListener::UdpListener(QObject *parent)
    : QObject(parent)
{
}

UdpListener::~UdpListener()
{
    stop();
}

UdpListener::Outcome UdpListener::listen(quint32 port)
{
    if (isListening())
        return AlreadyListening;
    // A port past 16 bits would otherwise wrap round to some other port.
    if (port == 0 || port > 65535) {
        logUdp(QStringLiteral("INVALID UDP PORT: ") + QString::number(port));
        return InvalidPort;
    }
    if (!m_socket)
        m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress::Any, quint16(port))) {
        logUdp(QStringLiteral("COULD NOT BIND UDP PORT ") + QString::number(port)
               + QStringLiteral(": ") + m_socket->errorString());
        m_socket->abort();
        return BindFailed;
    }
    m_port = port;
    connect(m_socket, &QUdpSocket::readyRead, this, &UdpListener::readPendingDatagrams);
    logUdp(QStringLiteral("LISTENING FOR UDP ON PORT: ") + QString::number(port));
    return Listening;
}

void UdpListener::emulateFrom(const QString &path, int intervalMs)
{
    m_emulationPath = path;
    if (!m_emulationTimer) {
        m_emulationTimer = new QTimer(this);
        connect(m_emulationTimer, &QTimer::timeout, this, &UdpListener::emulateDatagram);
    }
    m_emulationTimer->start(intervalMs);
}

bool UdpListener::stop()
{
    if (!isListening())
        return false;
    m_port = 0;
    disconnect(m_socket, &QUdpSocket::readyRead, this, &UdpListener::readPendingDatagrams);
    // Unbinds, so that the port is free again and this socket can be bound once more.
    m_socket->abort();
    delete m_emulationTimer;
    m_emulationTimer = nullptr;
    logUdp(QStringLiteral("UDP LISTENING STOPPED"));
    return true;
}

QString UdpListener::datagramText(const QByteArray &datagram)
{
    const int end = datagram.indexOf('\0');
    return QString::fromUtf8(end < 0 ? datagram : datagram.left(end));
}

void UdpListener::readPendingDatagrams()
{
    while (isListening() && m_socket->hasPendingDatagrams()) {
        QByteArray datagram(int(qMax<qint64>(m_socket->pendingDatagramSize(), 0)), '\0');
        m_socket->readDatagram(datagram.data(), datagram.size());
        m_lastText = datagramText(datagram);
        logUdp(QStringLiteral("UDP BROADCAST RECEIVED: ") + m_lastText);
        emit received(m_lastText);
    }
}

void UdpListener::emulateDatagram()
{
    QFile file(m_emulationPath);
    m_lastText = file.open(QIODevice::ReadOnly | QIODevice::Text) ? datagramText(file.readAll())
                                                                  : QString();
    logUdp(QStringLiteral("UDP EMULATION RECEIVED: ") + m_lastText);
    emit received(m_lastText);
}
