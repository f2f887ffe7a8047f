#pragma once
#include "SystemActions.h"

#include <QMutex>
#include <functional>
#include <optional>

// System actions of the simulated instrument: every call is recorded as one line ("shutdown -h
// now", "reboot", "sync", "mount DEVICE MOUNTPOINT TYPE", "umount MOUNTPOINT", "exit CODE", or the
// program and its arguments) and answered as the instrument would. A handler (installed by the
// simulator or a test) may answer any call; otherwise programs that only read or write inside the
// sandbox (tar, ffmpeg, awk) really run, and the rest succeed without doing anything.
class SimulatedSystemActions : public SystemActions
{
public:
    // Answers one action; nullopt leaves it to the default answer. The action is the first word
    // of the recorded line ("mount", "umount", "sync", "reboot", "shutdown", "exit" or a program).
    using Handler = std::function<std::optional<ProcessResult>(const QString &action, const QStringList &args)>;

    ProcessResult run(const QString &program, const QStringList &args, int timeoutMs) override;
    bool mount(const QString &device, const QString &mountPoint, const QString &fsType,
               const QString &options, QString *error) override;
    bool unmount(const QString &mountPoint, QString *error) override;
    void sync() override;
    // The simulated instrument's page cache holds nothing unwritten: its sync leaves the files to
    // the development machine, whose own cache (shared with every other program) is not waited for.
    QByteArray memoryReport() override;
    void reboot() override;
    void powerOff() override;
    void exitProcess(int code) override;

    void setHandler(Handler handler);
    // What ends the process after power-off, reboot or exit; tests replace it. Default: std::exit.
    void setExitHook(std::function<void(int)> hook);

    // The calls recorded since the last clear, the latest kCallLimit: a simulated run that syncs
    // and mounts all day keeps about a megabyte of them at most.
    static constexpr int kCallLimit = 10000;
    QStringList calls() const;
    void clearCalls();

private:
    std::optional<ProcessResult> record(const QString &action, const QStringList &args);
    void leave(int code);

    mutable QMutex m_lock;
    QStringList m_calls;
    Handler m_handler;
    std::function<void(int)> m_exitHook;
};
