#pragma once
#include "HangBound.h"

#include <QProcess>
#include <QStringList>

// Runs /usr/bin/python3 with these arguments: its lines of output, or one line starting
// "python failed" with what went wrong and its error output when it did not end well.
inline QStringList pythonLines(const QStringList &args)
{
    QProcess python;
    python.start("/usr/bin/python3", args);
    const bool ended = python.waitForFinished(kHangBoundMs);
    if (ended && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0)
        return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const QString how = !ended ? (python.state() == QProcess::NotRunning ? python.errorString() : "no end in time")
                        : python.exitStatus() == QProcess::CrashExit ? "killed"
                                                                      : QString("exit code %1").arg(python.exitCode());
    return {"python failed: " + how + ": " + QString::fromUtf8(python.readAllStandardError())};
}
