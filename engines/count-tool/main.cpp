#include "CountTool.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return CountTool::run(app.arguments().mid(1), stdout, stderr);
}
