#include "ProcessRunner.h"

#include <QElapsedTimer>
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

ProcessResult ProcessRunner::runUntilOutput(const QString &program, const QStringList &args, int timeoutMs,
                                            const QByteArray &until)
{
    ProcessResult result;
    QProcess process;
    process.start(program, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(qMin(timeoutMs, 10000))) {
        result.errors = process.errorString().toUtf8();
        return result;
    }
    result.started = true;
    process.closeWriteChannel();
    QElapsedTimer clock;
    clock.start();
    auto arrived = [&] { return until.isEmpty() ? !result.output.isEmpty() : result.output.contains(until); };
    while (!arrived()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || process.state() != QProcess::Running)
            break;
        process.waitForReadyRead(int(left));
        result.output += process.readAllStandardOutput();
    }
    result.output += process.readAllStandardOutput();
    result.timedOut = !arrived();
    if (process.state() == QProcess::Running) {
        process.kill();
        process.waitForFinished(2000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.output += process.readAllStandardOutput();
    result.errors += process.readAllStandardError();
    return result;
}
