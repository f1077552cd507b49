#include "net/wifimonitor.h"
#include "platform/logger.h"
#include "platform/wifiinfo.h"

#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QtTest>

namespace {
const char ServeArg[] = "--fake-network-manager", PrintNameArg[] = "--print-name";
const QString Service = "org.freedesktop.NetworkManager", Root = "/org/freedesktop/NetworkManager";

// NetworkManager's properties, kept per path and interface so that a question to the wrong
// interface fails. SetNetworks takes one "type|state|id|ssid" per active connection; without an
// SSID, the connection's access point is missing.
class FakeNetworkManager : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &call, const QDBusConnection &bus) override
    {
        const QVariantList arguments = call.arguments();
        if (call.member() == "SetNetworks")
            return setNetworks(arguments.value(0).toStringList()), bus.send(call.createReply());
        const QString key = call.path() + ' ' + arguments.value(0).toString();
        const QVariant value = m_objects.value(key).value(arguments.value(1).toString());
        if (call.member() == "GetAll" && m_objects.contains(key))
            return bus.send(call.createReply(QVariant::fromValue(m_objects.value(key))));
        if (call.member() == "Get" && value.isValid())
            return bus.send(call.createReply(QVariant::fromValue(QDBusVariant(value))));
        return bus.send(call.createErrorReply(QDBusError::InvalidArgs, key));
    }

private:
    void setNetworks(const QStringList &networks)
    {
        m_objects.clear();
        QList<QDBusObjectPath> active;
        for (const QString &network : networks) {
            const QStringList fields = network.split('|');
            const QString path = Root + "/Active/" + QString::number(active.size());
            const QDBusObjectPath accessPoint(Root + "/AccessPoint/"
                                              + QString::number(active.size()));
            active << QDBusObjectPath(path);
            m_objects[path + ' ' + Service + ".Connection.Active"]
                = { { "Type", fields.value(0) },
                    { "State", fields.value(1).toUInt() },
                    { "Id", fields.value(2) },
                    { "SpecificObject", QVariant::fromValue(accessPoint) } };
            if (fields.size() > 3)
                m_objects[accessPoint.path() + ' ' + Service + ".AccessPoint"]
                    = { { "Ssid", fields.at(3).toUtf8() } };
        }
        m_objects[Root + ' ' + Service] = { { "ActiveConnections", QVariant::fromValue(active) } };
    }

    QMap<QString, QVariantMap> m_objects;
};

bool fakeOnBus()
{
    return QDBusConnection::systemBus().interface()->isServiceRegistered(Service);
}
} // namespace

// Against the fake above, in a process of its own, on a bus that the test starts.
class TestWifiMonitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Through timeout, so that nothing outlives a run that dies midway.
        m_bus.start("timeout",
                    { "300", "dbus-daemon", "--nofork", "--print-address",
                      "--config-file=" CORVID_TEST_DATA "/wifibus.conf" });
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 30000);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());
        QVERIFY(QDBusConnection::systemBus().isConnected());
    }
    void cleanupTestCase()
    {
        stopFake();
        m_bus.terminate();
        QVERIFY(m_bus.waitForFinished(30000));
    }

    void connectionName_data()
    {
        QTest::addColumn<QString>("bus"); // "fake", "no service" or "none"
        QTest::addColumn<QStringList>("networks");
        QTest::addColumn<QString>("name");
        const QString wifi = "802-11-wireless|2|", wired = "802-3-ethernet|2|";
        QTest::newRow("wireless") << "fake" << QStringList(wifi + "id|Café ☕") << "Café ☕";
        QTest::newRow("activating") << "fake" << QStringList("802-11-wireless|1|id|A") << "";
        QTest::newRow("wired, then two wireless: the first")
            << "fake" << QStringList({ wired + "Wired", wifi + "a|A", wifi + "b|B" }) << "A";
        QTest::newRow("access point gone: the connection's name")
            << "fake" << QStringList(wifi + "Home") << "Home";
        QTest::newRow("hidden SSID: the connection's name")
            << "fake" << QStringList(wifi + "Hidden|") << "Hidden";
        QTest::newRow("no NetworkManager") << "no service" << QStringList() << "";
        QTest::newRow("no system bus") << "none" << QStringList() << "";
    }
    // Asked by a child, so that its first use of the system bus can still find none.
    void connectionName()
    {
        QFETCH(QString, bus);
        QFETCH(QStringList, networks);
        bus == "fake" ? setNetworks(networks) : stopFake();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (bus == "none")
            environment.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), { PrintNameArg });
        QVERIFY(child.waitForFinished(60000) && child.exitCode() == 0);
        QTEST(QString::fromUtf8(child.readAllStandardOutput()), "name");
    }

    void reportsFirstPollThenChanges_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("connected") << "Home";
        // A marker text standing for "nothing reported yet" would make this one report every poll.
        QTest::newRow("named like a marker") << "_INIT_";
        QTest::newRow("not connected") << "";
    }
    void reportsFirstPollThenChanges()
    {
        QFETCH(QString, name);
        QTemporaryFile log;
        QVERIFY(log.open());
        Logger::instance().setFilePath(log.fileName());
        Logger::instance().enable();
        int polls = 0;
        WifiMonitor monitor;
        monitor.setInterval(20);
        QSignalSpy changed(&monitor, &WifiMonitor::changed);
        QVERIFY(!monitor.stop());
        setNetworks(wireless(name));
        QVERIFY(monitor.start() && !monitor.start());
        QVERIFY(changed.wait(30000));
        QTEST(changed.takeFirst().at(0).toString(), "name");

        monitor.setNameSource([&polls] { return ++polls, WifiInfo::connectionName(); });
        QTRY_VERIFY_WITH_TIMEOUT(polls >= 5, 30000);
        QCOMPARE(changed.count(), 0); // silent while nothing changes
        for (const QString next : { "Office", "" }) {
            setNetworks(wireless(next));
            QVERIFY(changed.wait(30000));
            QCOMPARE(changed.takeFirst().at(0).toString(), next);
        }
        // Reported again after a restart, though unchanged.
        QVERIFY(monitor.stop() && !monitor.isMonitoring() && monitor.start());
        QVERIFY(changed.wait(30000));
        QCOMPARE(changed.takeFirst().at(0).toString(), QString());

        const QByteArray lines = log.readAll();
        QCOMPARE(lines.count("WIFI CONNECTION DETECTED: "), 4);
        QVERIFY2(lines.contains("] WIFI CONNECTION DETECTED: Office\n"), lines.constData());
    }

private:
    void setNetworks(const QStringList &networks)
    {
        if (m_fake.state() == QProcess::NotRunning) {
            m_fake.start("timeout", { "300", QCoreApplication::applicationFilePath(), ServeArg });
            QTRY_VERIFY_WITH_TIMEOUT(fakeOnBus(), 30000);
        }
        QDBusMessage call = QDBusMessage::createMethodCall(Service, Root, Service, "SetNetworks");
        QCOMPARE(QDBusConnection::systemBus().call(call << networks).type(),
                 QDBusMessage::ReplyMessage);
    }
    static QStringList wireless(const QString &ssid)
    {
        return ssid.isEmpty() ? QStringList() : QStringList("802-11-wireless|2|id|" + ssid);
    }
    void stopFake()
    {
        m_fake.terminate();
        m_fake.waitForFinished(30000);
        QTRY_VERIFY_WITH_TIMEOUT(!fakeOnBus(), 30000);
    }

    QProcess m_bus, m_fake;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], PrintNameArg) == 0)
        return fputs(WifiInfo::connectionName().toUtf8().constData(), stdout) < 0;
    FakeNetworkManager fake;
    if (argc == 2 && qstrcmp(argv[1], ServeArg) == 0)
        return QDBusConnection::systemBus().registerVirtualObject(Root, &fake,
                                                                  QDBusConnection::SubPath)
                && QDBusConnection::systemBus().registerService(Service)
            ? app.exec()
            : 1;
    TestWifiMonitor test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wifimonitor.moc"
