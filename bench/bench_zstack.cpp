// One Z-stack slice's save step (the frame copied, written as TIFF with its metadata text, its
// thumbnail made from the samples in memory), against a plain write(2) of the same frame bytes to
// the same folder. Each iteration writes a new file; it is removed outside the timed part.
#include "GuiBenchMain.h"
#include "Globals.h"
#include "Utilities.h"
#include "ZStackSliceWriter.h"

#include "FileWriteBench.h"

#include <QApplication>

namespace {

constexpr int kPixels = ZStackSliceWriter::kWidth * ZStackSliceWriter::kHeight;
const QString kBaseText = "Instrument: VANTOR S;Serial Number: VS000123;Version: 1.0.0;Camera Mode: 16 bit;"
                          "Filter Cube: GFP;Objective: 10X;Light: 50;Exposure: 10 ms;Gain: 1 dB";

QByteArray frame(int bits)
{
    QByteArray s(kPixels * (bits / 8), Qt::Uninitialized);
    for (int i = 0; i < s.size(); ++i)
        s[i] = char((i * 131) ^ (i >> 7));
    return s;
}

void sliceSave(benchmark::State &state, int bits)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QString path = dir.path() + "/cells_0001.tif";
    const QByteArray samples = frame(bits);
    const auto *data = reinterpret_cast<const uchar *>(samples.constData());
    ZStackSliceWriter writer;
    int slice = 0;
    for (auto _ : state) {
        const QString text = ZStackSliceWriter::metaText(kBaseText, 0.5f * float(slice++));
        if (!writer.setFrame(data, bits) || !writer.write(path, text)) {
            state.SkipWithError("slice not written");
            return;
        }
        benchmark::DoNotOptimize(writer.thumbnail(g_PseudoColorTable[1]));
        removeUntimed(state, QFile::encodeName(path));
    }
    state.SetBytesProcessed(state.iterations() * samples.size());
}

void zstack_slice_save_8bit(benchmark::State &state) { sliceSave(state, 8); }
void zstack_slice_save_8bit_floor(benchmark::State &state) { plainWriteFloor(state, "cells_0001.raw", frame(8)); }
void zstack_slice_save_16bit(benchmark::State &state) { sliceSave(state, 16); }
void zstack_slice_save_16bit_floor(benchmark::State &state) { plainWriteFloor(state, "cells_0001.raw", frame(16)); }

} // namespace

BENCHMARK(zstack_slice_save_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_slice_save_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_slice_save_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_slice_save_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, initializePseudoColorTable);
}
