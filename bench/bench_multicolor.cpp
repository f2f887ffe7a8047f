// The Multicolor channel store: storing a frame, an adjustment and the overlay merge, each
// against a memcpy of the buffers it fills, measured in the same run. The tile view's full
// repaint against a memcpy of its picture, and the auto-save of a 16-bit colour channel against
// a plain write of the same bytes.
#include "FileWriteBench.h"
#include "GuiBenchMain.h"
#include "MultiColorAutoSave.h"
#include "MultiColorImageWidget.h"
#include "MultiColorModel.h"
#include "Paths.h"
#include "Utilities.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kPixels = MultiColorModel::kPixels;

std::vector<uchar> frame(int bits)
{
    std::vector<uchar> f(kPixels * size_t(bits / 8));
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uchar((i * 131) ^ (i >> 7));
    if (bits == 16)
        for (size_t i = 1; i < f.size(); i += 2)
            f[i] &= 0xF0; // camera words: 12 bits shifted left by 4, low nibble empty
    return f;
}

// Copies the given byte counts from one block into another, as one step.
void memcpyFloor(benchmark::State &state, std::vector<size_t> sizes)
{
    size_t total = 0;
    for (size_t s : sizes)
        total = std::max(total, s);
    std::vector<uchar> from(total, 1), to(total);
    for (auto _ : state) {
        for (size_t s : sizes)
            std::memcpy(to.data(), from.data(), s);
        benchmark::ClobberMemory();
    }
}

void store(benchmark::State &state, int bits)
{
    MultiColorModel model;
    const std::vector<uchar> f = frame(bits);
    for (auto _ : state)
        benchmark::DoNotOptimize(model.setImageData(2, f.data(), 1, bits));
}

void adjust(benchmark::State &state, int bits)
{
    MultiColorModel model;
    const std::vector<uchar> f = frame(bits);
    model.setImageData(2, f.data(), 3, bits);
    model.setBrightness(2, 20, false);
    for (auto _ : state)
        model.setContrast(2, 17, false);
}

void overlay(benchmark::State &state, int bits)
{
    MultiColorModel model;
    const std::vector<uchar> f = frame(bits);
    for (int c = 0; c < 4; ++c)
        model.setImageData(c, f.data(), c == 0 ? 7 : c - 1, bits);
    for (auto _ : state)
        model.makeOverlayImage(bits);
}

void mc_store_8bit(benchmark::State &s) { store(s, 8); }
void mc_store_8bit_floor(benchmark::State &s) { memcpyFloor(s, {kPixels, kPixels, 3 * kPixels, 3 * kPixels}); }
void mc_store_16bit(benchmark::State &s) { store(s, 16); }
void mc_store_16bit_floor(benchmark::State &s) { memcpyFloor(s, {2 * kPixels, 2 * kPixels, 6 * kPixels, 6 * kPixels}); }
void mc_adjust_8bit(benchmark::State &s) { adjust(s, 8); }
void mc_adjust_8bit_floor(benchmark::State &s) { memcpyFloor(s, {kPixels, 3 * kPixels}); }
void mc_adjust_16bit(benchmark::State &s) { adjust(s, 16); }
void mc_adjust_16bit_floor(benchmark::State &s) { memcpyFloor(s, {2 * kPixels, 6 * kPixels}); }
void mc_overlay_8bit(benchmark::State &s) { overlay(s, 8); }
void mc_overlay_8bit_floor(benchmark::State &s) { memcpyFloor(s, {3 * kPixels}); }
void mc_overlay_16bit(benchmark::State &s) { overlay(s, 16); }
void mc_overlay_16bit_floor(benchmark::State &s) { memcpyFloor(s, {6 * kPixels}); }

// Four 8-bit tiles painted into a picture of the view's size (1272 x 1000, 32 bits).
void mc_tile_repaint(benchmark::State &state)
{
    MultiColorImageWidget tiles;
    const std::vector<uchar> f = frame(8);
    for (int c = 0; c < 4; ++c)
        tiles.setImageData(c, c, const_cast<uchar *>(f.data()), true, 0, 8);
    tiles.setImageDisplayState(3);
    tiles.resize(1272, 1000);
    QImage picture(1272, 1000, QImage::Format_RGB32);
    for (auto _ : state) {
        // As inside the main window: the view paints no background of its own.
        tiles.render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
        benchmark::ClobberMemory();
    }
}
void mc_tile_repaint_floor(benchmark::State &s) { memcpyFloor(s, {size_t(1272) * 1000 * 4}); }

// A 16-bit colour channel from the snapshot (the model's captured image, shared) to the closed TIFF.
void mc_autosave_16bit(benchmark::State &state)
{
    MultiColorModel model;
    const std::vector<uchar> f = frame(16);
    model.setImageData(2, f.data(), 1, 16);
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QString folder = Paths::fixedPath(dir.path()) + "/";
    for (auto _ : state) {
        MultiColorAutoSave job(model.capturedImage(2, 48), 16, true, folder, "GFP", "Instrument: VANTOR S");
        const MultiColorAutoSave::Outcome outcome = job.run();
        if (!outcome.written) {
            state.SkipWithError("auto-save failed");
            return;
        }
        removeUntimed(state, QFile::encodeName(dir.path() + "/" + outcome.fileName));
    }
}
void mc_autosave_16bit_floor(benchmark::State &s)
{
    plainWriteFloor(s, "plain.tif", QByteArray(int(kPixels) * 6, 'x'));
}

} // namespace

BENCHMARK(mc_tile_repaint)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_tile_repaint_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_autosave_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_autosave_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_store_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_store_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_store_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_store_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_adjust_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_adjust_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_adjust_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_adjust_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_overlay_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_overlay_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_overlay_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(mc_overlay_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, [] { initializePseudoColorTable(); });
}
