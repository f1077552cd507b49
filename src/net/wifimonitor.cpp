#include "net/wifimonitor.h"

#include "platform/logger.h"
#include "platform/wifiinfo.h"

#include <QTimer>

namespace {

const int DefaultIntervalMs = 2000;

} // namespace

WifiMonitor::WifiMonitor(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
    , m_nameSource(&WifiInfo::connectionName)
{
    m_timer->setInterval(DefaultIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &WifiMonitor::checkWifiConn);
}

WifiMonitor::~WifiMonitor() = default;

bool WifiMonitor::start()
{
    if (isMonitoring())
        return false;
    m_lastName.reset();
    m_timer->start();
    return true;
}

bool WifiMonitor::stop()
{
    if (!isMonitoring())
        return false;
    m_timer->stop();
    return true;
}

bool WifiMonitor::isMonitoring() const
{
    return m_timer->isActive();
}

int WifiMonitor::interval() const
{
    return m_timer->interval();
}

void WifiMonitor::setInterval(int milliseconds)
{
    m_timer->setInterval(milliseconds);
}

void WifiMonitor::setNameSource(NameSource source)
{
    m_nameSource = source ? std::move(source) : NameSource(&WifiInfo::connectionName);
}

void WifiMonitor::checkWifiConn()
{
    if (!isMonitoring())
        return;
    const QString name = m_nameSource();
    if (m_lastName && *m_lastName == name)
        return;
    Logger::instance().log(LogCategory::Udp, QStringLiteral("WIFI CONNECTION DETECTED: ") + name);
    // Stored before the signal, so that a receiver that stops or restarts the monitor is not
    // undone by this poll.
    m_lastName = name;
    emit changed(name);
}
