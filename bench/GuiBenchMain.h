#pragma once
#include "QtParallelBackend.h"
#include <QApplication>
#include <benchmark/benchmark.h>

#include <functional>

// The main() of a benchmark program that needs a Qt application (widgets, pixmaps): off-screen
// unless a platform is named, prepare run once the application exists, then every benchmark.
inline int runGuiBenchmarks(int argc, char **argv, const std::function<void()> &prepare = {})
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QtParallelBackend::install(); // as the application runs
    if (prepare)
        prepare();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
