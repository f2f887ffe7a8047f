// The simulated camera's frame rate (render the specimen and lay the frame out for the wire)
// against the real camera's top rate at 10 ms exposure, which it must beat to keep up: a frame of
// one cube, and one exposed across a cube change (two pictures mixed).
#include "SimulatedCamera.h"
#include "SampleRenderer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

void renderRate(benchmark::State &state, size_t parts)
{
    SampleRenderer renderer;
    SampleView view;
    view.objective = 2;
    view.stageSteps = renderer.trueFocusSteps(2) + 300; // slightly out of focus: two blur levels mixed
    view.exposureMs = 10;
    view.light = 0.5;
    std::vector<SampleView> views(parts, view);
    for (size_t i = 1; i < views.size(); ++i)
        views[i].filter = int(i);
    cv::Mat frame12;
    std::vector<unsigned char> wire(SampleRenderer::Width * SampleRenderer::Height);
    renderer.render(views, frame12); // builds the blur levels once, as the first frame does

    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        renderer.render(views, frame12);
        SimulatedCamera::packFrame(frame12, 8, wire.data());
        benchmark::DoNotOptimize(wire.data());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The 10 ms row of the 8-bit exposure table: frame count 0, line count 993.
    state.counters["value"] = double(state.iterations()) / seconds;
    state.counters["floor"] = 1000.0 / SimulatedCamera::exposureMs(15, 0, 993);
}

void sim_render_rate(benchmark::State &state)
{
    renderRate(state, 1);
}

void sim_render_mixed_rate(benchmark::State &state)
{
    renderRate(state, 2);
}

} // namespace

BENCHMARK(sim_render_rate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sim_render_mixed_rate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
