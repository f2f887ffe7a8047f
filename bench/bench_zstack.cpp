// One Z-stack slice's save step (the frame copied, written as TIFF with its metadata text, its
// thumbnail made from the samples in memory), against a plain write(2) of the same frame bytes to
// the same folder. Each iteration writes a new file; it is removed outside the timed part.
#include "GuiBenchMain.h"
#include "Globals.h"
#include "Utilities.h"
#include "ZStackSliceWriter.h"
#include "ImReaderWriter.h"
#include "ImageSeriesFiles.h"
#include "ZStackImageWidget.h"

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

// The browser's side of a stack: one 16-bit slice loaded from a folder (read, brought to 8 bits,
// thumbnail) and one slice shown (read, metadata, objective, view update with its position text),
// each against a plain read(2) of the same file's bytes.
struct SliceFolder
{
    QTemporaryDir dir{benchFolder() + "/bench-XXXXXX"};
    QStringList paths;
    SliceFolder()
    {
        const QByteArray samples = frame(16);
        ZStackSliceWriter writer;
        for (int i = 0; i < 3; ++i) {
            paths << dir.path() + QString("/cells_%1.tif").arg(i, 4, 10, QChar('0'));
            const QString text = "Instrument: VANTOR S;Objective: Olympus 10X NA 0.25 UPlanFL";
            if (!writer.setFrame(reinterpret_cast<const uchar *>(samples.constData()), 16)
                || !writer.write(paths.last(), ZStackSliceWriter::metaText(text, 5.0f * float(i))))
                paths.clear();
        }
    }
};

void plainReadFloor(benchmark::State &state)
{
    SliceFolder folder;
    const QByteArray path = QFile::encodeName(folder.paths.value(1));
    QByteArray buffer(kPixels * 2 + 65536, Qt::Uninitialized);
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        qint64 total = 0, got = 0;
        while (fd >= 0 && (got = ::read(fd, buffer.data() + total, size_t(buffer.size() - total))) > 0)
            total += got;
        if (fd < 0 || ::close(fd) != 0 || total <= kPixels * 2) {
            state.SkipWithError("plain read failed");
            return;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}

void zstack_load_slice(benchmark::State &state)
{
    SliceFolder folder;
    const QFileInfo file(folder.paths.value(1));
    ImReaderWriter image; // the page reads a whole folder into one reader
    for (auto _ : state) {
        ThumbnailInfo slice;
        if (!ImageSeriesFiles::loadFrame(file, image, QSize(132, 100), slice)) {
            state.SkipWithError("slice not read");
            return;
        }
        benchmark::DoNotOptimize(slice.thumbnail);
    }
}
void zstack_load_slice_floor(benchmark::State &state) { plainReadFloor(state); }

void zstack_show_slice(benchmark::State &state)
{
    SliceFolder folder;
    ZStackImageWidget browser;
    std::vector<ThumbnailInfo> slices(3);
    for (int i = 0; i < 3; ++i)
        slices[size_t(i)].path = folder.paths.value(i);
    browser.loadThumbnail(slices);
    browser.slotEnableAnnotation(true);
    int row = 0;
    for (auto _ : state) // the slices in turn, as a user steps through them
        browser.loadImageByIndex(row++ % 3, true);
}
void zstack_show_slice_floor(benchmark::State &state) { plainReadFloor(state); }

} // namespace

BENCHMARK(zstack_slice_save_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_slice_save_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_slice_save_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_slice_save_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_load_slice)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_load_slice_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_show_slice)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zstack_show_slice_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, initializePseudoColorTable);
}
