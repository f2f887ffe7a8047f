#include "ProcessRunner.h"

#include <QProcess>

ProcessResult ProcessRunner::run(const QString &program, const QStringList &args, int timeoutMs,
                                 const QString &workingDir)
{
    ProcessResult result;
    QProcess process;
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(qMin(timeoutMs, 10000))) {
        result.errors = process.errorString().toUtf8();
        return result;
    }
    result.started = true;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(2000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.output = process.readAllStandardOutput();
    result.errors += process.readAllStandardError();
    return result;
}
