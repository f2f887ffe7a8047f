#include "ProcessRunner.h"

#include <QElapsedTimer>
#include <QProcess>

namespace {

// Starts the program with its standard input closed; false (with the reason in result.errors)
// when it could not be started.
bool start(QProcess &process, const QString &program, const QStringList &args, int timeoutMs, ProcessResult &result)
{
    process.start(program, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(qMin(timeoutMs, 10000))) {
        result.errors = process.errorString().toUtf8();
        return false;
    }
    result.started = true;
    process.closeWriteChannel();
    return true;
}

} // namespace

ProcessResult ProcessRunner::run(const QString &program, const QStringList &args, int timeoutMs,
                                 const QString &workingDir)
{
    ProcessResult result;
    QProcess process;
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    if (!start(process, program, args, timeoutMs, result))
        return result;
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
    if (!start(process, program, args, timeoutMs, result))
        return result;
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
