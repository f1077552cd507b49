#include "net/udplistener.h"

#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

// The listener on real sockets over 127.0.0.1. Delivery to a page, in order and cut at a zero
// byte, is tested with the page (tests/webview/tst_networkcalls).
class TestUdpListener : public QObject
{
    Q_OBJECT

private slots:
    void refusesBadPortsAndBusyPorts_data();
    void refusesBadPortsAndBusyPorts();
    void listensAgainAfterStop();
    void emulationDeliversTheFileOnEveryTick();

private:
    static quint16 freePort()
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        return probe.localPort();
    }
};

void TestUdpListener::refusesBadPortsAndBusyPorts_data()
{
    QTest::addColumn<quint32>("port");
    QTest::addColumn<bool>("occupy");
    QTest::addColumn<int>("outcome");
    QTest::newRow("zero") << 0u << false << int(UdpListener::InvalidPort);
    // Would wrap round to port 4464 if cut to 16 bits.
    QTest::newRow("past 16 bits") << 70000u << false << int(UdpListener::InvalidPort);
    QTest::newRow("in use") << 0u << true << int(UdpListener::BindFailed);
}

void TestUdpListener::refusesBadPortsAndBusyPorts()
{
    QFETCH(quint32, port);
    QFETCH(bool, occupy);
    QFETCH(int, outcome);
    QUdpSocket holder;
    if (occupy) {
        QVERIFY(holder.bind(QHostAddress::Any, 0, QUdpSocket::DontShareAddress));
        port = holder.localPort();
    }
    UdpListener listener;
    QCOMPARE(int(listener.listen(port)), outcome);
    QVERIFY(!listener.isListening());
    // Idle again: a free port works at once.
    QCOMPARE(listener.listen(freePort()), UdpListener::Listening);
}

void TestUdpListener::listensAgainAfterStop()
{
    UdpListener listener;
    QVERIFY(!listener.stop());
    const quint16 port = freePort();
    QCOMPARE(listener.listen(port), UdpListener::Listening);
    QCOMPARE(listener.listen(freePort()), UdpListener::AlreadyListening);
    QVERIFY(listener.stop());
    // The port is released: another socket may take it, and so may the listener afterwards.
    {
        QUdpSocket other;
        QVERIFY(other.bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress));
    }
    QCOMPARE(listener.listen(port), UdpListener::Listening);
    QSignalSpy received(&listener, &UdpListener::received);
    QUdpSocket().writeDatagram("again", QHostAddress::LocalHost, port);
    QTRY_COMPARE(received.count(), 1);
}

// Where no socket can be used, the file stands in for the network, changed or not, and an
// absent file delivers an empty text.
void TestUdpListener::emulationDeliversTheFileOnEveryTick()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("udp.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("http://10.1.1.1/\0rest", 21));
    file.close();
    UdpListener listener;
    QCOMPARE(listener.listen(freePort()), UdpListener::Listening);
    listener.emulateFrom(file.fileName(), 5);
    QSignalSpy received(&listener, &UdpListener::received);
    QTRY_VERIFY(received.count() >= 2);
    QCOMPARE(received.at(1).at(0).toString(), QStringLiteral("http://10.1.1.1/"));
    file.remove();
    received.clear();
    QTRY_VERIFY(!received.isEmpty());
    QCOMPARE(received.last().at(0).toString(), QString());
    listener.stop();
    received.clear();
    QTest::qWait(50);
    QVERIFY(received.isEmpty());
}

QTEST_MAIN(TestUdpListener)
#include "tst_udplistener.moc"
