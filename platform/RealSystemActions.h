#pragma once
#include "SystemActions.h"

// System actions on the instrument itself.
class RealSystemActions : public SystemActions
{
public:
    ProcessResult run(const QString &program, const QStringList &args, int timeoutMs) override;
    ProcessResult runUntilOutput(const QString &program, const QStringList &args, int timeoutMs,
                                 const QByteArray &until) override;
    bool mount(const QString &device, const QString &mountPoint, const QString &fsType,
               const QString &options, QString *error) override;
    bool unmount(const QString &mountPoint, QString *error) override;
    void sync() override;
    QByteArray memoryReport() override;
    void reboot() override;
    void powerOff() override;
    void exitProcess(int code) override;
};
