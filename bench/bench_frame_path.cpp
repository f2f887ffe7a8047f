// The live frame's way from the capture thread to the display surface, per frame: the ring
// hand-off, the 180-degree copy into the 1272 x 1000 surface and, in 16-bit mode, the pick of
// each pixel's upper byte. Each figure is paired with one memcpy of the same input frame.
#include "CameraAccess.h"
#include "DisplayThread.h"
#include "FrameRing.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

void fillRing(FrameRing &ring)
{
    for (int k = 0; k < FrameRing::kSlots; ++k) {
        unsigned char *slot = ring.slot(k);
        for (int i = 0; i < FrameRing::kSlotBytes; ++i)
            slot[i] = static_cast<unsigned char>((i * 31 + k) | 1);
    }
}

void framePath(benchmark::State &state, int bytesPerPixel)
{
    FrameRing ring;
    fillRing(ring);
    std::vector<unsigned char> surface(size_t(DisplayThread::kSurfaceWidth) * DisplayThread::kSurfaceHeight);
    uint64_t seen = ring.handedOver();
    const auto never = [] { return false; };
    for (auto _ : state) {
        // Capture side: the frame read into the write slot is handed over.
        ring.advance();
        ring.handOver();
        // Display side: take it and turn it into the surface.
        unsigned char *frame = ring.waitForFrame(&seen, never, 100);
        DisplayThread::turnIntoSurface(frame, bytesPerPixel, surface.data(), DisplayThread::kSurfaceWidth);
        benchmark::DoNotOptimize(surface.data());
        benchmark::ClobberMemory();
    }
}

void frameCopy(benchmark::State &state, int frameBytes)
{
    // Four source frames in turn, as the ring has them, so the floor does not run from cache.
    std::vector<unsigned char> source(size_t(FrameRing::kSlots) * frameBytes, 0x55);
    std::vector<unsigned char> target(static_cast<size_t>(frameBytes));
    int k = 0;
    for (auto _ : state) {
        std::memcpy(target.data(), source.data() + size_t(k) * frameBytes, size_t(frameBytes));
        k = (k + 1) % FrameRing::kSlots;
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

void frame_path_8bit(benchmark::State &state) { framePath(state, 1); }
void frame_path_8bit_floor(benchmark::State &state) { frameCopy(state, kFrameBytes8); }
void frame_path_16bit(benchmark::State &state) { framePath(state, 2); }
void frame_path_16bit_floor(benchmark::State &state) { frameCopy(state, kFrameBytes16); }

} // namespace

BENCHMARK(frame_path_8bit)->Unit(benchmark::kMicrosecond);
BENCHMARK(frame_path_8bit_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(frame_path_16bit)->Unit(benchmark::kMicrosecond);
BENCHMARK(frame_path_16bit_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
