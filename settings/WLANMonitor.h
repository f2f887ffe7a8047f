#pragma once
#include <QRegExp>
#include <QThread>
#include <QTimer>

// Watches for a Wi-Fi adapter in QC test mode. Every 2 s (while monitoring) one poll runs on this
// thread: when an adapter appears it is brought up and wpa_supplicant is started for it unless one
// already answers; when the last one goes, wpa_supplicant is killed. Each change is reported once
// by signalDetectDevice (state 1 with the adapter's name, or 0 with an empty name). Polls never
// overlap: a tick while one runs starts nothing. The programs run through SystemActions.
class WLANMonitor : public QThread
{
    Q_OBJECT
public:
    explicit WLANMonitor(QObject *parent = nullptr);
    ~WLANMonitor() override;

    // The adapters' name pattern, a file-name wildcard ("wlan*" from construction).
    void setDeviceNamePattern(QString pattern);
    // Starts (or restarts) the 2000 ms poll timer, or stops it.
    void setMonitoring(bool on);
    // Stops the timer and waits until a running poll has ended.
    void stop();

signals:
    void signalDetectDevice(int state, QString device);

public slots:
    void slotPullingTimer();

protected:
    void run() override;

private:
    // Brings the adapter up and starts wpa_supplicant for it when ifconfig does not list it yet.
    void bringUp(const QString &device);

    QRegExp m_DeviceNamePattern;
    QTimer m_PollTimer;
    // The presence last acted on: 0 no adapter (so a first poll without one does nothing), 1 one.
    int m_LastState = 0;
};
