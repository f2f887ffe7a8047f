#pragma once
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

// What the command-line tools share around their own work: one-line reasons on standard error
// and output whose loss is reported, not passed over.
namespace CommandLineTool {

// Library messages would add lines to the tool's own reasons; past a file-size limit a write
// fails and is reported like a full drive.
inline void quiet()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::signal(SIGXFSZ, SIG_IGN);
}

// Flushes standard output; on a failed write says so on standard error ("TOOL: cannot write
// WHAT: reason") and returns false.
inline bool flushed(const char *tool, const char *what)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    std::fprintf(stderr, "%s: cannot write %s: %s\n", tool, what, std::strerror(errno));
    return false;
}

} // namespace CommandLineTool
