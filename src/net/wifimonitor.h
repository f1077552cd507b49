#pragma once

#include "platform/corvidexport.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

// Watches which wireless network the machine is on by asking every interval (2 s by default).
// The first poll after start() always reports, the empty name too (no wireless network); later
// polls report only a change, a change to the empty name included.
class CORVID_EXPORT WifiMonitor : public QObject
{
    Q_OBJECT

public:
    // Answers with the current network name, empty when there is none.
    using NameSource = std::function<QString()>;

    explicit WifiMonitor(QObject *parent = nullptr);
    ~WifiMonitor() override;

    // Starts polling; the first poll comes one interval later. False, with nothing changed, when
    // already monitoring.
    bool start();
    // False when not monitoring.
    bool stop();
    bool isMonitoring() const;
    // Polls at once instead of waiting for the timer; does nothing while not monitoring.
    void checkNow() { checkWifiConn(); }

    int interval() const;
    void setInterval(int milliseconds);
    // Where polls read the name; WifiInfo::connectionName unless replaced. An empty function
    // restores that.
    void setNameSource(NameSource source);

signals:
    void changed(const QString &name);

private slots:
    void checkWifiConn();

private:
    QTimer *m_timer;
    NameSource m_nameSource;
    // Empty until the first poll after a start, so that any name, whatever it reads, is reported
    // then.
    std::optional<QString> m_lastName;
};
