#pragma once
#include "ProcessRunner.h"

#include <QString>
#include <QStringList>

// The operating-system actions of the instrument: power-off, reboot, exit to the shell, mount and
// unmount, sync, and the external programs (date, hwclock, tar, Wi-Fi tools, ffmpeg, mount).
// On the instrument RealSystemActions performs them; everywhere else SimulatedSystemActions
// records each call and answers as the instrument would, so nothing on a development machine is
// ever powered off, rebooted, mounted or unmounted.
class SystemActions
{
public:
    virtual ~SystemActions() = default;

    // The process-wide instance: real on the instrument, simulated elsewhere, unless replaced.
    static SystemActions &instance();
    // Replaces the instance (not owned); nullptr restores the default.
    static void setInstance(SystemActions *actions);

    virtual ProcessResult run(const QString &program, const QStringList &args, int timeoutMs) = 0;
    // A program that does not end by itself, ended once its output holds `until` (any output when
    // empty) or at the time-out (see ProcessRunner::runUntilOutput). By default run() answers it.
    virtual ProcessResult runUntilOutput(const QString &program, const QStringList &args, int timeoutMs,
                                         const QByteArray &until = QByteArray())
    {
        Q_UNUSED(until)
        return run(program, args, timeoutMs);
    }
    virtual bool mount(const QString &device, const QString &mountPoint, const QString &fsType,
                       const QString &options, QString *error) = 0;
    virtual bool unmount(const QString &mountPoint, QString *error) = 0;
    virtual void sync() = 0;
    // The kernel's memory report ("/proc/meminfo" lines): whether written files still wait in the
    // page cache ("Dirty:", "Writeback:") after a sync.
    virtual QByteArray memoryReport() = 0;
    virtual void reboot() = 0;             // restart the computer
    virtual void powerOff() = 0;           // "shutdown -h now"
    virtual void exitProcess(int code) = 0; // leave the application (exit to the shell)
};
