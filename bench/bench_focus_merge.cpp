// Extended-focus merge of 21 slices of 1280 x 1024 (edge kernel 11, noise filters and Sobel 3),
// with the detail stage off and on, each against a floor in the same run: a plain merge of the
// same slices by 11 x 11 local variance (cv::boxFilter) and per-pixel argmax. focus_merge_mem_100
// reports the peak memory a 100-slice merge adds, as a ratio to the slices' own bytes.
#include "DeconvFocus_alg.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kW = 1280, kH = 1024;

// A seeded texture blurred a little more with each slice's distance to a tilted plane.
std::vector<cv::Mat> slices(int n)
{
    cv::RNG rng(7);
    cv::Mat small(kH / 4, kW / 4, CV_8UC1), scene;
    rng.fill(small, cv::RNG::UNIFORM, 0, 256);
    cv::resize(small, scene, cv::Size(kW, kH), 0, 0, cv::INTER_CUBIC);
    std::vector<cv::Mat> out;
    for (int i = 0; i < n; ++i) {
        cv::Mat s;
        cv::GaussianBlur(scene, s, cv::Size(0, 0), 0.5 + 0.3 * std::abs(i - n / 2));
        out.push_back(s);
    }
    return out;
}

void merge(benchmark::State &state, bool sr)
{
    std::vector<cv::Mat> stack = slices(21);
    DeconvFocus_alg engine;
    for (cv::Mat &s : stack)
        engine.set_load_image(s.data, kW, kH);
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.run(11, 3, 3, 3, sr, 0.25f, 1, 1, 2.5));
}

void focus_merge_21(benchmark::State &state) { merge(state, false); }
void focus_merge_21_sr(benchmark::State &state) { merge(state, true); }

void floorMerge(benchmark::State &state)
{
    const std::vector<cv::Mat> stack = slices(21);
    for (auto _ : state) {
        cv::Mat best(kH, kW, CV_32F, cv::Scalar(-1)), result(kH, kW, CV_8UC1), f, mean, sq, var, mask;
        for (const cv::Mat &s : stack) {
            s.convertTo(f, CV_32F);
            cv::boxFilter(f, mean, CV_32F, cv::Size(11, 11));
            cv::boxFilter(f.mul(f), sq, CV_32F, cv::Size(11, 11));
            var = sq - mean.mul(mean);
            cv::compare(var, best, mask, cv::CMP_GT);
            var.copyTo(best, mask);
            s.copyTo(result, mask);
        }
        benchmark::DoNotOptimize(result.data);
    }
}

void focus_merge_21_floor(benchmark::State &state) { floorMerge(state); }
void focus_merge_21_sr_floor(benchmark::State &state) { floorMerge(state); }

long statusKiB(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::string(key).size()));
    return 0;
}

void focus_merge_mem_100(benchmark::State &state)
{
    std::vector<cv::Mat> stack = slices(100);
    double added = 0;
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5"; // peak := current
        const long before = statusKiB("VmRSS:");
        {
            DeconvFocus_alg engine;
            for (cv::Mat &s : stack)
                engine.set_load_image(s.data, kW, kH);
            benchmark::DoNotOptimize(engine.run(11, 3, 3, 3, true, 0.25f, 1, 1, 2.5));
        }
        const long peak = statusKiB("VmHWM:");
        added = double(peak - before) * 1024.0;
    }
    state.counters["value"] = added;
    state.counters["floor"] = 100.0 * kW * kH;
}

} // namespace

BENCHMARK(focus_merge_21)->Unit(benchmark::kMillisecond);
BENCHMARK(focus_merge_21_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(focus_merge_21_sr)->Unit(benchmark::kMillisecond);
BENCHMARK(focus_merge_21_sr_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(focus_merge_mem_100)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
