#pragma once
#include <QProcess>
#include <QStringList>

// Runs /usr/bin/python3 with these arguments: its lines of output, or one line starting
// "python failed" with its error output when it did not end well within the time.
inline QStringList pythonLines(const QStringList &args, int timeoutMs = 120000)
{
    QProcess python;
    python.start("/usr/bin/python3", args);
    if (!python.waitForFinished(timeoutMs) || python.exitCode() != 0)
        return {"python failed: " + QString::fromUtf8(python.readAllStandardError())};
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}
