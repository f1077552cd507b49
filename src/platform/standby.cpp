#include "platform/standby.h"

#include "platform/logger.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QDBusConnection>
#include <QDBusMessage>
#endif

namespace StandBy {

namespace {

bool g_inhibited = false;

#ifndef Q_OS_WIN

const int CallTimeoutMs = 3000;
uint g_cookie = 0;

// One call to the session's screen saver; an invalid message when it could not be made.
QDBusMessage callScreenSaver(const QString &method, const QVariantList &arguments)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QDBusMessage();
    QDBusMessage call
        = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                         QStringLiteral("/org/freedesktop/ScreenSaver"),
                                         QStringLiteral("org.freedesktop.ScreenSaver"), method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, CallTimeoutMs);
}

bool release()
{
    if (!g_inhibited)
        return true;
    // The cookie is useless after any answer, so it is let go even when the call failed.
    g_inhibited = false;
    const QDBusMessage reply
        = callScreenSaver(QStringLiteral("UnInhibit"), { QVariant::fromValue(g_cookie) });
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    logShell(QStringLiteral("The screen saver did not take back its inhibition: ")
             + reply.errorMessage());
    return false;
}

bool inhibit()
{
    if (g_inhibited)
        return true;
    QString appName = QCoreApplication::applicationName();
    if (appName.isEmpty())
        appName = QStringLiteral("Corvid");
    const QDBusMessage reply = callScreenSaver(
        QStringLiteral("Inhibit"), { appName, QStringLiteral("The page keeps the display on.") });
    const QVariantList answer = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || answer.size() != 1
        || answer.first().userType() != QMetaType::UInt) {
        logShell(QStringLiteral("The screen saver could not be inhibited: ")
                 + reply.errorMessage());
        return false;
    }
    g_cookie = answer.first().toUInt();
    g_inhibited = true;
    // Released on the way out, while the application and its bus connection still exist.
    static bool releaseOnQuit = false;
    if (!releaseOnQuit && QCoreApplication::instance()) {
        releaseOnQuit = true;
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                         QCoreApplication::instance(), [] { release(); });
    }
    return true;
}

#endif // Q_OS_WIN

} // namespace

bool setEnabled(bool enable)
{
#ifdef Q_OS_WIN
    EXECUTION_STATE state = ES_CONTINUOUS;
    if (!enable)
        state |= ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;
    if (SetThreadExecutionState(state) == 0)
        return false;
    g_inhibited = !enable;
    return true;
#else
    return enable ? release() : inhibit();
#endif
}

bool isInhibited()
{
    return g_inhibited;
}

} // namespace StandBy
