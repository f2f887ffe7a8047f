#include "WLANMonitor.h"

#include "Paths.h"
#include "SystemActions.h"

#include <QDir>

namespace {
const int kPollPeriodMs = 2000;
const int kCommandTimeoutMs = 30000;
}

WLANMonitor::WLANMonitor(QObject *parent)
    : QThread(parent), m_DeviceNamePattern("wlan*")
{
    connect(&m_PollTimer, &QTimer::timeout, this, &WLANMonitor::slotPullingTimer);
}

WLANMonitor::~WLANMonitor()
{
    stop();
}

void WLANMonitor::setDeviceNamePattern(QString pattern)
{
    m_DeviceNamePattern.setPattern(pattern);
}

void WLANMonitor::setMonitoring(bool on)
{
    if (on)
        m_PollTimer.start(kPollPeriodMs);
    else
        m_PollTimer.stop();
}

void WLANMonitor::slotPullingTimer()
{
    if (!isRunning())
        start(QThread::InheritPriority);
}

void WLANMonitor::stop()
{
    m_PollTimer.stop();
    if (isRunning()) {
        quit();
        wait();
    }
}

void WLANMonitor::run()
{
    const QStringList devices = QDir(Paths::path("/sys/class/net"))
                                    .entryList({m_DeviceNamePattern.pattern()},
                                               QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                                               QDir::Unsorted);
    const int state = devices.isEmpty() ? 0 : 1;
    if (state == m_LastState)
        return;
    m_LastState = state;
    SystemActions &actions = SystemActions::instance();
    if (state == 0) {
        actions.run("pkill", {"-9", "wpa_supplicant"}, kCommandTimeoutMs);
        emit signalDetectDevice(0, QString());
        return;
    }
    const QString device = devices.first();
    bringUp(device);
    emit signalDetectDevice(1, device);
}

void WLANMonitor::bringUp(const QString &device)
{
    SystemActions &actions = SystemActions::instance();
    if (QString::fromLocal8Bit(actions.run("ifconfig", {}, kCommandTimeoutMs).output).contains(device))
        return;
    actions.run("ifconfig", {device, "up"}, kCommandTimeoutMs);
    // wpa_cli complains on its standard error when no wpa_supplicant serves the adapter.
    const ProcessResult probe = actions.run("wpa_cli", {"-i", device, "status"}, kCommandTimeoutMs);
    if (!QString::fromUtf8(probe.errors).isEmpty())
        actions.run("wpa_supplicant",
                    {"-B", "-Dwext", "-i" + device, "-c/etc/wpa_supplicant/wpa_supplicant.conf", "-f/tmp/wpa_supplicant.log"},
                    kCommandTimeoutMs);
}
