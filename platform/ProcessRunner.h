#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs an external program from an argument list (never a shell string) with a time-out.
// A program still running at the time-out is killed; its output so far is kept.
struct ProcessResult
{
    bool started = false;   // the program could be started
    bool timedOut = false;  // it was killed at the time-out
    int exitCode = -1;      // valid when started and not timed out
    QByteArray output;      // standard output
    QByteArray errors;      // standard error

    bool ok() const { return started && !timedOut && exitCode == 0; }
};

class ProcessRunner
{
public:
    static ProcessResult run(const QString &program, const QStringList &args, int timeoutMs,
                             const QString &workingDir = QString());

    // For programs that never end by themselves (ping without a count): runs until its standard
    // output holds `until` (any output when empty) or timeoutMs passes, then ends it. timedOut
    // tells that the awaited output did not come; the output so far is kept either way.
    static ProcessResult runUntilOutput(const QString &program, const QStringList &args, int timeoutMs,
                                        const QByteArray &until = QByteArray());
};
