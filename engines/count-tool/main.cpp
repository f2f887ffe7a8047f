#include "CountTool.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstring>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The tool prints its own one-line reasons; library messages would add lines to them.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // Past a file-size limit a write fails and is reported like a full drive.
    std::signal(SIGXFSZ, SIG_IGN);
    QList<QByteArray> arguments; // as given: a file name need not be UTF-8
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    const int status = CountTool::run(arguments, stdout, stderr);
    if (status == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        std::fprintf(stderr, "vantor-count: cannot write the cells: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}
