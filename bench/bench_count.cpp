// The own counter and the second engine's finder4 on one frame of the simulated specimen (10X, in
// focus, transmitted light, light set for a mean grey near 150), counted as the cell-count page
// counts, each against the classic counter's steps with the same OpenCV calls on the same frame.
// One core each.
#include "ClassicCounter.h"
#include "CountTool.h"
#include "SampleRenderer.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

constexpr int kObjective10X = 2;

// The 8-bit frame the page counts: the top 8 of the camera's 12 bits, the light searched for a
// mean grey near 150.
const cv::Mat &specimenFrame()
{
    static const cv::Mat frame = [] {
        SampleRenderer renderer;
        SampleView view;
        view.objective = kObjective10X;
        view.stageSteps = renderer.trueFocusSteps(kObjective10X);
        double low = 0.0, high = 1.0;
        cv::Mat frame12, grey;
        for (int step = 0; step < 16; ++step) {
            view.light = (low + high) / 2;
            renderer.render(view, frame12);
            grey.create(frame12.size(), CV_8U);
            std::transform(frame12.begin<ushort>(), frame12.end<ushort>(), grey.begin<uchar>(),
                           [](ushort v) { return uchar(std::min(v >> 4, 255)); });
            (cv::mean(grey)[0] < 150.0 ? low : high) = view.light;
        }
        return grey;
    }();
    return frame;
}

void count_pipeline(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat &grey = specimenFrame();
    CountTool::Result result;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            CountTool::countPipeline(grey.data, grey.cols, grey.rows, CountTool::Protocol{}, 10.0f, result));
    state.counters["cells"] = double(result.total);
    state.counters["mean_grey"] = cv::mean(grey)[0];
}

void count_finder4(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat &grey = specimenFrame();
    CountTool::Result result;
    double seconds = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(seconds = CountTool::countFinder("finder4", grey.data, grey.cols, grey.rows, 10.0f, CountTool::finderFallBacks(),
                                                                  result));
    state.counters["cells"] = double(result.total);
    state.counters["engine_seconds"] = seconds;
}

void classicCounter(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat &grey = specimenFrame();
    for (auto _ : state)
        classicCount(grey);
}

} // namespace

BENCHMARK(count_pipeline)->Unit(benchmark::kMillisecond);
BENCHMARK(classicCounter)->Name("count_pipeline_floor")->Unit(benchmark::kMillisecond);
BENCHMARK(count_finder4)->Unit(benchmark::kMillisecond);
BENCHMARK(classicCounter)->Name("count_finder4_floor")->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
