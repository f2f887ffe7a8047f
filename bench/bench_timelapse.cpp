// One time-lapse frame through the page's frame slot (count, labels, TIFF write with its metadata,
// thumbnail) against a plain write(2) of the frame's bytes to the same folder; and the resident
// memory a long series adds per frame, against one thumbnail's pixels.
#include "GuiBenchMain.h"
#include "FileWriteBench.h"
#include "Globals.h"
#include "Paths.h"
#include "TimeLapseWidget.h"
#include "Utilities.h"

#include <QApplication>
#include <QFile>
#include <unistd.h>

namespace {

constexpr int W = 1280;
constexpr int H = 1024;

QByteArray frame(int bits)
{
    QByteArray s(W * H * (bits / 8), Qt::Uninitialized);
    for (int i = 0; i < s.size(); ++i)
        s[i] = char((i * 131) ^ (i >> 7));
    if (bits == 16) // camera words: 12 bits shifted left by four, most significant byte first
        for (int i = 1; i < s.size(); i += 2)
            s[i] = char(s[i] & 0xF0);
    return s;
}

// A page with a 10,000-frame plan writing into folder/Bench.
struct Series
{
    TimeLapseWidget page;
    explicit Series(const QString &folder)
    {
        g_CurrentMenu = MENU_TIMELAPSE;
        QDir(folder).mkpath("Bench");
        page.setSaveTarget(folder, "Bench", "tif");
        restart();
    }
    void restart()
    {
        page.plan().setTimelapseParameters(2, 46, 39, 1.0f, TIMELAPSE_INTERVAL_SECOND, 10);
        page.plan().canRun(8, false);
    }
    // One frame; the file is removed and the plan restarted outside the timed part.
    bool take(benchmark::State *state, uchar *data, int bits)
    {
        page.captureCompleted(data, bits);
        if (state)
            state->PauseTiming();
        auto &thumbnails = page.plan().thumbnails();
        const bool ok = !thumbnails.empty() && ::unlink(QFile::encodeName(thumbnails.back().path).constData()) == 0;
        if (page.plan().count() >= page.plan().totalCount() - 1)
            restart();
        if (state && thumbnails.size() > 256)
            thumbnails.clear();
        if (state)
            state->ResumeTiming();
        return ok;
    }
};

void frameSave(benchmark::State &state, int bits)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    Series series(dir.path());
    QByteArray data = frame(bits);
    for (auto _ : state)
        if (!series.take(&state, reinterpret_cast<uchar *>(data.data()), bits)) {
            state.SkipWithError("frame not saved");
            return;
        }
    state.SetBytesProcessed(state.iterations() * data.size());
}

void timelapse_frame_save_8bit(benchmark::State &state) { frameSave(state, 8); }
void timelapse_frame_save_8bit_floor(benchmark::State &state) { plainWriteFloor(state, "frame.raw", frame(8)); }
void timelapse_frame_save_16bit(benchmark::State &state) { frameSave(state, 16); }
void timelapse_frame_save_16bit_floor(benchmark::State &state) { plainWriteFloor(state, "frame.raw", frame(16)); }

qint64 residentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

// Resident memory added per frame over 2,000 frames (after a warm-up), as a ratio to the pixels
// of one 80 x 60 thumbnail: a long series keeps its thumbnails and nothing else.
void timelapse_memory_per_frame(benchmark::State &state)
{
    constexpr int kFrames = 2000;
    double perFrame = 0.0;
    for (auto _ : state) {
        QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
        Series series(dir.path());
        QByteArray data = frame(8);
        for (int i = 0; i < 50; ++i)
            series.take(nullptr, reinterpret_cast<uchar *>(data.data()), 8);
        series.page.plan().clearThumbnails();
        const qint64 before = residentBytes();
        for (int i = 0; i < kFrames; ++i)
            if (!series.take(nullptr, reinterpret_cast<uchar *>(data.data()), 8)) {
                state.SkipWithError("frame not saved");
                return;
            }
        perFrame = double(residentBytes() - before) / kFrames;
        if (series.page.plan().thumbnails().size() != size_t(kFrames))
            state.SkipWithError("thumbnails lost");
    }
    state.counters["value"] = perFrame;
    state.counters["floor"] = 80.0 * 60.0 * 4.0;
}

} // namespace

BENCHMARK(timelapse_frame_save_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_frame_save_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_frame_save_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_frame_save_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_memory_per_frame)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, initializePseudoColorTable);
}
