#include "platform/wifiinfo.h"

#ifdef Q_OS_WIN
#include <QNetworkConfigurationManager>
#else
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QVariantMap>
#endif

namespace WifiInfo {

#ifdef Q_OS_WIN

// Bearer management is deprecated, but on Windows it is still what names the WLAN connection.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

QString connectionName()
{
    // A fresh manager, so that the list is current rather than cached.
    const QNetworkConfigurationManager manager;
    const QList<QNetworkConfiguration> active
        = manager.allConfigurations(QNetworkConfiguration::Active);
    for (const QNetworkConfiguration &configuration : active) {
        if (configuration.bearerType() == QNetworkConfiguration::BearerWLAN)
            return configuration.name();
    }
    return QString();
}

QT_WARNING_POP

#else

namespace {

// All calls of one question share this, so that a hanging NetworkManager stalls the caller (the
// GUI thread, every poll) once and briefly, however many connections it lists.
const int AnswerBudgetMs = 2000;
// NM_ACTIVE_CONNECTION_STATE_ACTIVATED: connections still coming up or going down do not count.
const uint ActivatedState = 2;

QString service()
{
    return QStringLiteral("org.freedesktop.NetworkManager");
}

// The arguments of a Properties call, or none when it failed or the time is up.
QVariantList askProperties(const QString &path, const QString &method,
                           const QVariantList &arguments, const QDeadlineTimer &deadline)
{
    const qint64 remainingMs = deadline.remainingTime();
    if (remainingMs <= 0)
        return QVariantList();
    QDBusMessage call = QDBusMessage::createMethodCall(
        service(), path, QStringLiteral("org.freedesktop.DBus.Properties"), method);
    call.setArguments(arguments);
    const QDBusMessage reply
        = QDBusConnection::systemBus().call(call, QDBus::Block, int(remainingMs));
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments() : QVariantList();
}

// One property's value; invalid when it could not be read.
QVariant property(const QString &path, const QString &interface, const QString &name,
                  const QDeadlineTimer &deadline)
{
    const QVariantList answer
        = askProperties(path, QStringLiteral("Get"), { interface, name }, deadline);
    if (answer.size() != 1 || answer.first().userType() != qMetaTypeId<QDBusVariant>())
        return QVariant();
    return answer.first().value<QDBusVariant>().variant();
}

// Demarshals a container only when it has the D-Bus type expected: reading one of another type
// yields garbage.
template<typename T> T containerAs(const QVariant &value, const char *signature)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>()
        || value.value<QDBusArgument>().currentSignature() != QLatin1String(signature))
        return T();
    return qdbus_cast<T>(value);
}

QVariantMap allProperties(const QString &path, const QString &interface,
                          const QDeadlineTimer &deadline)
{
    const QVariantList answer
        = askProperties(path, QStringLiteral("GetAll"), { interface }, deadline);
    return answer.size() == 1 ? containerAs<QVariantMap>(answer.first(), "a{sv}") : QVariantMap();
}

// The network name of an activated wireless connection; empty for anything else.
QString wirelessName(const QString &activePath, const QDeadlineTimer &deadline)
{
    const QVariantMap active = allProperties(
        activePath, QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"), deadline);
    if (active.value(QStringLiteral("Type")).toString() != QLatin1String("802-11-wireless")
        || active.value(QStringLiteral("State")).toUInt() != ActivatedState)
        return QString();
    const QString accessPoint
        = qvariant_cast<QDBusObjectPath>(active.value(QStringLiteral("SpecificObject"))).path();
    if (!accessPoint.isEmpty() && accessPoint != QLatin1String("/")) {
        const QByteArray ssid
            = property(accessPoint, QStringLiteral("org.freedesktop.NetworkManager.AccessPoint"),
                       QStringLiteral("Ssid"), deadline)
                  .toByteArray();
        if (!ssid.isEmpty())
            return QString::fromUtf8(ssid);
    }
    // A hidden network's SSID reads empty, and an access point may vanish between two calls;
    // the connection is still up, so its name stands in rather than "not connected".
    return active.value(QStringLiteral("Id")).toString();
}

} // namespace

QString connectionName()
{
    if (!QDBusConnection::systemBus().isConnected())
        return QString();
    const QDeadlineTimer deadline(AnswerBudgetMs);
    const QList<QDBusObjectPath> activePaths = containerAs<QList<QDBusObjectPath>>(
        property(QStringLiteral("/org/freedesktop/NetworkManager"), service(),
                 QStringLiteral("ActiveConnections"), deadline),
        "ao");
    for (const QDBusObjectPath &activePath : activePaths) {
        const QString name = wirelessName(activePath.path(), deadline);
        if (!name.isEmpty())
            return name;
    }
    return QString();
}

#endif // Q_OS_WIN

} // namespace WifiInfo
