// The Single page's model: storing a 16-bit frame with its pseudo-colour display copy, against a
// memcpy of the two arrays it fills, measured in the same run.
#include "SingleModel.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kPixels = SingleModel::kPixels;

void single_store_16bit(benchmark::State &state)
{
    SingleModel model;
    std::vector<uchar> frame(kPixels * 2);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uchar(((i * 131) ^ (i >> 7)) & (i % 2 ? 0xF0 : 0xFF)); // camera words, low nibble empty
    for (auto _ : state) {
        model.setImageData(1, frame.data(), 3, 16);
        benchmark::ClobberMemory();
    }
}

// The frame (2 bytes a pixel) and its RGB copy (6 bytes a pixel), copied once each.
void single_store_16bit_floor(benchmark::State &state)
{
    std::vector<uchar> from(kPixels * 6, 1), frame(kPixels * 2), rgb(kPixels * 6);
    for (auto _ : state) {
        std::memcpy(frame.data(), from.data(), frame.size());
        std::memcpy(rgb.data(), from.data(), rgb.size());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(single_store_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(single_store_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
