#pragma once
#include <QByteArray>
#include <QString>
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

// text with its control characters shown escaped (\n, \r, \t, \xHH), so that a file
// name or a library's message cannot break a tool's one-line reason, in the local encoding.
inline QByteArray oneLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control)
            line += c;
        else if (c == '\n')
            line += QLatin1String("\\n");
        else if (c == '\r')
            line += QLatin1String("\\r");
        else if (c == '\t')
            line += QLatin1String("\\t");
        else
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return line.toLocal8Bit();
}

// Says "TOOL: why" as one line on err; returns the status of a refusal, 2.
inline int refuse(FILE *err, const char *tool, const QString &why)
{
    std::fprintf(err, "%s: %s\n", tool, oneLine(why).constData());
    return 2;
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
