#pragma once
#include "VisibleText.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <opencv2/core/utils/logger.hpp>

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
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::signal(SIGXFSZ, SIG_IGN);
}

// text as one line (VisibleText) in the local encoding, so that a file name or a library's
// message cannot break, reorder or hide a part of a tool's reason.
inline QByteArray oneLine(const QString &text)
{
    return VisibleText::escaped(text).toLocal8Bit();
}

// Says "TOOL: why" as one line on err; returns the status of a refusal, 2.
inline int refuse(FILE *err, const char *tool, const QString &why)
{
    std::fprintf(err, "%s: %s\n", tool, oneLine(why).constData());
    return 2;
}

// Writes bytes to out and flushes them; on a failure says so on err ("TOOL: cannot write WHAT:
// reason") and returns false. A line that reports success follows only a true answer.
inline bool written(FILE *out, const QByteArray &bytes, FILE *err, const char *tool, const char *what)
{
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out) == size_t(bytes.size())
        && std::fflush(out) == 0 && !std::ferror(out))
        return true;
    std::fprintf(err, "%s: cannot write %s: %s\n", tool, what, std::strerror(errno != 0 ? errno : EIO));
    return false;
}

// Ends standard output: flushes and closes it, so that no write failure passes unseen; on a
// failure says so on standard error as written() does and returns false.
inline bool closedOutput(const char *tool, const char *what)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    const int error = errno;
    if (std::fclose(stdout) == 0 && flushed)
        return true;
    std::fprintf(stderr, "%s: cannot write %s: %s\n", tool, what,
                 std::strerror(error != 0 ? error : errno != 0 ? errno : EIO));
    return false;
}

} // namespace CommandLineTool
