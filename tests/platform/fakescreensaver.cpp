// Owns org.freedesktop.ScreenSaver on the session bus and appends each Inhibit and UnInhibit
// call to the file named by its one argument, so that a test can see what the shell asked.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>

class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public slots:
    // Cookies start well above zero, so that an unset one never matches.
    uint Inhibit(const QString &, const QString &) { return record("Inhibit", ++m_lastCookie); }
    void UnInhibit(uint cookie) { record("UnInhibit", cookie); }

private:
    uint record(const char *call, uint cookie)
    {
        QFile log(QCoreApplication::arguments().at(1));
        if (log.open(QIODevice::Append))
            log.write(call + (' ' + QByteArray::number(cookie)) + '\n');
        return cookie;
    }

    uint m_lastCookie = 40;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    FakeScreenSaver saver;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (argc != 2
        || !bus.registerObject("/org/freedesktop/ScreenSaver", &saver,
                               QDBusConnection::ExportAllSlots)
        || !bus.registerService("org.freedesktop.ScreenSaver"))
        return 1;
    return app.exec();
}

#include "fakescreensaver.moc"
