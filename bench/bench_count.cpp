// The own counter and the second engine's finder4 on one frame of the simulated specimen (10X, in
// focus, transmitted light, light set for a mean grey near 150), counted as the cell-count page
// counts, each against the classic counter's steps with the same OpenCV calls on the same frame.
// One core each.
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

// The classic counter: Gaussian 3 x 3, inverted Otsu threshold, holes filled, opening, exact
// distance transform, markers at its regional maxima, watershed, and each region's area,
// centroid and central mean.
void classicCounter(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat &grey = specimenFrame();
    const cv::Mat ellipse3 = cv::getStructuringElement(cv::MORPH_ELLIPSE, {3, 3});
    const cv::Mat disc = cv::getStructuringElement(cv::MORPH_ELLIPSE, {11, 11});
    for (auto _ : state) {
        cv::Mat smooth, mask, framed, distance, largest, peaks, markers, relief, colour;
        cv::GaussianBlur(grey, smooth, {3, 3}, 0);
        cv::threshold(smooth, mask, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
        cv::copyMakeBorder(mask, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, 0);
        cv::floodFill(framed, {0, 0}, 255);
        mask |= ~framed(cv::Rect(1, 1, mask.cols, mask.rows));
        cv::morphologyEx(mask, mask, cv::MORPH_OPEN, ellipse3);
        cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
        cv::dilate(distance, largest, disc);
        peaks = (distance == largest) & (distance >= 2.0f);
        const int n = cv::connectedComponents(peaks, markers, 8, CV_32S);
        markers.setTo(n, mask == 0);
        cv::normalize(-distance, relief, 0, 255, cv::NORM_MINMAX, CV_8U);
        cv::cvtColor(relief, colour, cv::COLOR_GRAY2BGR);
        cv::watershed(colour, markers);
        std::vector<double> area(size_t(n) + 1), sx(area.size()), sy(area.size()), sum(area.size());
        for (int y = 0; y < markers.rows; ++y) {
            const int *m = markers.ptr<int>(y);
            const uchar *g = grey.ptr<uchar>(y);
            for (int x = 0; x < markers.cols; ++x)
                if (m[x] > 0 && m[x] < n) {
                    area[size_t(m[x])] += 1;
                    sx[size_t(m[x])] += x;
                    sy[size_t(m[x])] += y;
                    sum[size_t(m[x])] += g[x];
                }
        }
        benchmark::DoNotOptimize(area.data());
        benchmark::DoNotOptimize(sum.data());
    }
}

} // namespace

BENCHMARK(count_pipeline)->Unit(benchmark::kMillisecond);
BENCHMARK(classicCounter)->Name("count_pipeline_floor")->Unit(benchmark::kMillisecond);
BENCHMARK(count_finder4)->Unit(benchmark::kMillisecond);
BENCHMARK(classicCounter)->Name("count_finder4_floor")->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
