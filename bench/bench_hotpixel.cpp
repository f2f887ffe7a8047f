// Hot-pixel correction of one 1280 x 1024 8-bit still with 1,000, 10,000 and 100,000 listed
// pixels (raster order, as the calibration lists them), each against one memcpy of the frame.
#include "HotPixelCorrector.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;

cv::Mat frame()
{
    cv::Mat f(kHeight, kWidth, CV_8UC1);
    cv::RNG rng(42);
    rng.fill(f, cv::RNG::NORMAL, 20, 6);
    return f;
}

std::vector<cv::Point> listed(int count)
{
    std::mt19937 rng(7);
    std::vector<cv::Point> points(static_cast<size_t>(count));
    for (cv::Point &p : points)
        p = cv::Point(int(rng() % kWidth), int(rng() % kHeight));
    std::sort(points.begin(), points.end(),
              [](const cv::Point &a, const cv::Point &b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    return points;
}

void correct(benchmark::State &state, int count)
{
    cv::Mat f = frame();
    HotPixelCorrector corrector;
    corrector.setPixels(listed(count));
    for (auto _ : state) {
        corrector.correct(f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}

void floor(benchmark::State &state)
{
    const cv::Mat f = frame();
    cv::Mat copy(f.size(), f.type());
    for (auto _ : state) {
        std::memcpy(copy.data, f.data, f.total());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.total()));
}

} // namespace

int main(int argc, char **argv)
{
    for (int count : {1000, 10000, 100000}) {
        const std::string name = "hotpixel_correct_" + std::to_string(count);
        benchmark::RegisterBenchmark(name.c_str(), correct, count)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "_floor").c_str(), floor)->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
