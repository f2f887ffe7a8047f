#include "SimulatedSystemActions.h"

#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

std::optional<ProcessResult> SimulatedSystemActions::record(const QString &action, const QStringList &args)
{
    Handler handler;
    {
        QMutexLocker lock(&m_lock);
        m_calls << (QStringList{action} + args).join(' ');
        if (m_calls.size() > kCallLimit)
            m_calls.removeFirst();
        handler = m_handler;
    }
    if (handler)
        return handler(action, args);
    return std::nullopt;
}

ProcessResult SimulatedSystemActions::run(const QString &program, const QStringList &args, int timeoutMs)
{
    if (auto answer = record(program, args))
        return *answer;
    static const QStringList harmless = {"tar", "ffmpeg", "awk", "ffprobe"};
    if (harmless.contains(QFileInfo(program).fileName()))
        return ProcessRunner::run(program, args, timeoutMs);
    ProcessResult ok;
    ok.started = true;
    ok.exitCode = 0;
    return ok;
}

bool SimulatedSystemActions::mount(const QString &device, const QString &mountPoint, const QString &fsType,
                                   const QString &options, QString *error)
{
    QStringList args{device, mountPoint, fsType};
    if (!options.isEmpty())
        args << options;
    if (auto answer = record("mount", args)) {
        if (!answer->ok() && error)
            *error = QString::fromUtf8(answer->errors);
        return answer->ok();
    }
    return true;
}

bool SimulatedSystemActions::unmount(const QString &mountPoint, QString *error)
{
    if (auto answer = record("umount", {mountPoint})) {
        if (!answer->ok() && error)
            *error = QString::fromUtf8(answer->errors);
        return answer->ok();
    }
    return true;
}

void SimulatedSystemActions::sync()
{
    record("sync", {});
}

QByteArray SimulatedSystemActions::memoryReport()
{
    return QByteArrayLiteral("Dirty:               0 kB\nWriteback:           0 kB\n");
}

void SimulatedSystemActions::reboot()
{
    record("reboot", {});
    leave(0);
}

void SimulatedSystemActions::powerOff()
{
    record("shutdown", {"-h", "now"});
    leave(0);
}

void SimulatedSystemActions::exitProcess(int code)
{
    record("exit", {QString::number(code)});
    leave(code);
}

void SimulatedSystemActions::leave(int code)
{
    std::function<void(int)> hook;
    {
        QMutexLocker lock(&m_lock);
        hook = m_exitHook;
    }
    if (hook) {
        hook(code);
        return;
    }
    std::fflush(nullptr);
    std::exit(code);
}

void SimulatedSystemActions::setHandler(Handler handler)
{
    QMutexLocker lock(&m_lock);
    m_handler = std::move(handler);
}

void SimulatedSystemActions::setExitHook(std::function<void(int)> hook)
{
    QMutexLocker lock(&m_lock);
    m_exitHook = std::move(hook);
}

QStringList SimulatedSystemActions::calls() const
{
    QMutexLocker lock(&m_lock);
    return m_calls;
}

void SimulatedSystemActions::clearCalls()
{
    QMutexLocker lock(&m_lock);
    m_calls.clear();
}
