#pragma once
#include "QtParallelBackend.h"

#include <QCoreApplication>

// A test program that runs the instrument's code uses OpenCV's loops as the application's main()
// does: on the Qt pool, whose threads sleep while idle. The TBB workers would spin after every
// loop, such as the one of each frame the simulated camera renders, and take the cores of the
// programs running beside. Included by a bench file that every such program links.
namespace {
void useQtParallelBackend()
{
    QtParallelBackend::install();
}
Q_COREAPP_STARTUP_FUNCTION(useQtParallelBackend)
} // namespace
