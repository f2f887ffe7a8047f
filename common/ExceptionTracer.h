#pragma once

// Crash logging. Constructing an ExceptionTracer writes the program's build stamp and a backtrace
// (at most 100 frames, innermost first, one line each) to standard output and to
// "/root/vantor.error", and the build stamp alone to "/root/exist.error", both overwritten.
// Everything it does is async-signal-safe (no allocation, only open/write/close), so it may run
// inside a signal handler; the file names are resolved beforehand by prepare().
class ExceptionTracer
{
public:
    ExceptionTracer();

    // Resolves the crash-file paths under the current root into static buffers and loads what
    // backtrace needs. Called before the handlers are installed and again when the root moves.
    static void prepare();

    // Gives the calling thread an alternate signal stack of its own (once), where handlers
    // installed with SA_ONSTACK run even when the thread's stack has overflowed. Every thread the
    // program starts calls it first, so that a crash anywhere leaves its log.
    static void useAlternateStack();

    // The build-stamp line, "Mmm dd yyyy  hh:mm:ss\n".
    static const char *buildStamp();

    // Writes text to standard output without allocating.
    static void writeOut(const char *text);
};
