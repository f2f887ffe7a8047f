// Focus value of one 1280 x 1024 8-bit frame as autofocus scores it (frame handed to the measurer,
// then blur, Laplacian, threshold and sum), against one memcpy of the frame.
#include "ImMeasurer.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr size_t kFrameBytes = size_t(ImMeasurer::kFrameWidth) * ImMeasurer::kFrameHeight;

// A grey background with soft discs and sensor noise, from a fixed seed.
std::vector<unsigned char> frame()
{
    std::vector<unsigned char> f(kFrameBytes);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 4.0);
    const int w = ImMeasurer::kFrameWidth;
    for (size_t i = 0; i < f.size(); ++i) {
        const int x = int(i % w), y = int(i / w);
        const int dx = x % 97 - 48, dy = y % 89 - 44;
        const double disc = dx * dx + dy * dy < 900 ? 80.0 : 0.0;
        f[i] = static_cast<unsigned char>(std::clamp(100.0 + disc + noise(rng), 0.0, 255.0));
    }
    return f;
}

void focus_value(benchmark::State &state)
{
    std::vector<unsigned char> f = frame();
    ImMeasurer measurer;
    for (auto _ : state) {
        measurer.setImageData(f.data(), ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight, 8);
        benchmark::DoNotOptimize(measurer.GetFocusValue(false));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
}

void focus_value_floor(benchmark::State &state)
{
    const std::vector<unsigned char> f = frame();
    std::vector<unsigned char> copy(f.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), f.data(), f.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
}

} // namespace

BENCHMARK(focus_value)->Unit(benchmark::kMicrosecond);
BENCHMARK(focus_value_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
