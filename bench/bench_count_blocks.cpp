// Building blocks of the own counter on a 1280 x 1024 frame of 1,600 seeded discs, one core each:
// the labelling the counter runs on its blob mask against OpenCV's connected components with
// statistics, and the maximum-entropy threshold against Otsu's.
#include "CellCount_alg.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kWidth = 1280, kHeight = 1024, kDiscs = 1600;

// Dark discs of cell sizes (radius 6 to 14 pixels) on a grey background with noise; touching and
// overlapping discs make clusters as a crowded slide does.
cv::Mat discFrame()
{
    cv::RNG rng(1600);
    cv::Mat grey(kHeight, kWidth, CV_8U, cv::Scalar(150)), noise(kHeight, kWidth, CV_8U);
    for (int i = 0; i < kDiscs; ++i)
        cv::circle(grey, {rng.uniform(0, kWidth), rng.uniform(0, kHeight)}, rng.uniform(6, 15),
                   rng.uniform(50, 110), cv::FILLED);
    rng.fill(noise, cv::RNG::NORMAL, 0, 6);
    return grey + noise;
}

cv::Mat discMask()
{
    cv::Mat mask;
    cv::threshold(discFrame(), mask, 128, 255, cv::THRESH_BINARY_INV);
    return mask;
}

// The caller's part of every labelling: a zeroed label image and preset tables.
void label_frame(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat mask = discMask();
    cv::Mat labels(mask.size(), CV_32S);
    std::vector<short> left(CellCount_alg::kLabelLimit + 1), top(left.size()), right(left.size()), bottom(left.size());
    std::vector<int> area(left.size());
    CellCount_alg alg;
    for (auto _ : state) {
        labels.setTo(0);
        std::fill(left.begin(), left.end(), 9999);
        std::fill(top.begin(), top.end(), 9999);
        std::fill(right.begin(), right.end(), 0);
        std::fill(bottom.begin(), bottom.end(), 0);
        std::fill(area.begin(), area.end(), 0);
        benchmark::DoNotOptimize(alg.NormalLabeling_ver_2(mask.data, labels.ptr<int>(), kWidth, kHeight, 10, 9999,
                                                          left.data(), top.data(), right.data(), bottom.data(),
                                                          area.data()));
    }
}

void label_frame_floor(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat mask = discMask();
    cv::Mat labels, stats, centroids;
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S));
}

void maxentropy_frame(benchmark::State &state)
{
    const cv::Mat grey = discFrame();
    CellCount_alg alg;
    for (auto _ : state)
        benchmark::DoNotOptimize(alg.Get_MaxEntropy_Threshold(grey.data, kWidth, kHeight, 0));
}

void maxentropy_frame_floor(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat grey = discFrame();
    cv::Mat binary;
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::threshold(grey, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU));
}

} // namespace

BENCHMARK(label_frame)->Unit(benchmark::kMicrosecond);
BENCHMARK(label_frame_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(maxentropy_frame)->Unit(benchmark::kMicrosecond);
BENCHMARK(maxentropy_frame_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
