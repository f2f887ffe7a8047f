#include "CommandLineTool.h"
#include "CountTool.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CommandLineTool::quiet();
    QList<QByteArray> arguments; // as given: a file name need not be UTF-8
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    const int status = CountTool::run(arguments, stdout, stderr);
    return status == 0 && !CommandLineTool::closedOutput("vantor-count", "the cells") ? 1 : status;
}
