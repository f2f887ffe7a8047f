#include "CountTool.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The tool prints its own one-line reasons; library messages would add lines to them.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return CountTool::run(app.arguments().mid(1), stdout, stderr);
}
