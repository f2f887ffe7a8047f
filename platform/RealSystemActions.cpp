#include "RealSystemActions.h"

#include <QFile>

#include <sys/mount.h>
#include <sys/reboot.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

ProcessResult RealSystemActions::run(const QString &program, const QStringList &args, int timeoutMs)
{
    return ProcessRunner::run(program, args, timeoutMs);
}

ProcessResult RealSystemActions::runUntilOutput(const QString &program, const QStringList &args, int timeoutMs,
                                                const QByteArray &until)
{
    return ProcessRunner::runUntilOutput(program, args, timeoutMs, until);
}

bool RealSystemActions::mount(const QString &device, const QString &mountPoint, const QString &fsType,
                              const QString &options, QString *error)
{
    const QByteArray dev = device.toLocal8Bit(), dir = mountPoint.toLocal8Bit(),
                     type = fsType.toLocal8Bit(), data = options.toLocal8Bit();
    if (::mount(dev.constData(), dir.constData(), type.constData(), 0,
                data.isEmpty() ? nullptr : data.constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool RealSystemActions::unmount(const QString &mountPoint, QString *error)
{
    if (::umount(mountPoint.toLocal8Bit().constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

void RealSystemActions::sync()
{
    ::sync();
}

QByteArray RealSystemActions::memoryReport()
{
    QFile file("/proc/meminfo");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void RealSystemActions::reboot()
{
    ::sync();
    ::reboot(RB_AUTOBOOT);
}

void RealSystemActions::powerOff()
{
    ProcessRunner::run("shutdown", {"-h", "now"}, 30000);
}

void RealSystemActions::exitProcess(int code)
{
    std::exit(code);
}
