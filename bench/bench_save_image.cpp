// The savers' per-frame work on 1280 x 1024 frames: the scale bar with its ticks and label burnt
// into a copy of a frame (against one memcpy of the frame), pseudo colour (against one memcpy of
// the RGB result), and a series frame as the z-stack and time-lapse savers do it, read from its
// work file, coloured, burnt and written as TIFF (against a plain read and write of the same
// bytes). series_memory_1000_frames: peak resident memory after 1,000 series frames (value)
// against after the first 10 (floor), both in kB; a ratio of 1 means memory stays flat.
#include "GuiBenchMain.h"
#include "ImReaderWriter.h"
#include "SaveImageComposer.h"

#include "FileWriteBench.h"

#include <QGuiApplication>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const QByteArray kText = "Instrument: VANTOR S;Serial Number: VS000123;Version: 1.0.0;Camera Mode: 8 bit;"
                         "Filter Cube: GFP;Objective: 10X;Light: 50 %;Exposure: 80 ms;Gain: 1 dB";

std::vector<unsigned char> frame(int bits, bool colour)
{
    std::vector<unsigned char> s(size_t(SaveImageComposer::frameBytes(bits, colour)));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = (unsigned char)((i * 131) ^ (i >> 7));
    return s;
}

SaveImageComposer composer()
{
    SaveImageComposer c;
    c.barAllowed = true;
    c.scaleBar.show = true;
    c.scaleBar.lengthUm = 100;
    c.scaleBar.lengthPixels = 180.4f;
    c.scaleBar.lineWidth = 4;
    c.scaleBar.fontSize = 10;
    c.scaleBar.color = Qt::red;
    c.scaleBarPoint = QPointF(20, 940);
    c.pseudoColorIndex = 1;
    return c;
}

void memcpyFloor(benchmark::State &state, int bits, bool colour)
{
    const std::vector<unsigned char> source = frame(bits, colour);
    std::vector<unsigned char> out(source.size());
    for (auto _ : state) {
        std::memcpy(out.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
}

void burnBar(benchmark::State &state, int bits, bool colour)
{
    const SaveImageComposer c = composer();
    const std::vector<unsigned char> source = frame(bits, colour);
    std::vector<unsigned char> out(source.size());
    for (auto _ : state) {
        c.drawScaleBar(source.data(), colour, int(source.size()), out.data());
        benchmark::ClobberMemory();
    }
}

void burn_bar_8bit(benchmark::State &state) { burnBar(state, 8, false); }
void burn_bar_8bit_floor(benchmark::State &state) { memcpyFloor(state, 8, false); }
void burn_bar_48bit(benchmark::State &state) { burnBar(state, 16, true); }
void burn_bar_48bit_floor(benchmark::State &state) { memcpyFloor(state, 16, true); }

void pseudo_color_8bit(benchmark::State &state)
{
    const SaveImageComposer c = composer();
    const std::vector<unsigned char> grey = frame(8, false);
    std::vector<unsigned char> out(size_t(SaveImageComposer::frameBytes(8, true)));
    for (auto _ : state) {
        c.makePseudoColorImage(grey.data(), int(out.size()), out.data());
        benchmark::ClobberMemory();
    }
}
void pseudo_color_8bit_floor(benchmark::State &state) { memcpyFloor(state, 8, true); }

// One series: a work file of the run's depth in a folder of its own, and the folder for the TIFFs.
struct Series
{
    QTemporaryDir dir{benchFolder() + "/bench-XXXXXX"};
    QByteArray work, out;
    int bits;
    bool pseudo;
    Series(int bits, bool pseudo) : bits(bits), pseudo(pseudo)
    {
        work = QFile::encodeName(dir.path() + "/Temp_000000.raw");
        out = QFile::encodeName(dir.path() + "/Run_0001.tif");
        const std::vector<unsigned char> samples = frame(bits, false);
        QFile f(QString::fromUtf8(work));
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char *>(samples.data()), qint64(samples.size()));
    }
    int outBytes() const { return SaveImageComposer::frameBytes(bits, pseudo); }
};

// What the series savers do per frame, with the buffers of a run.
struct SeriesStep
{
    const Series &series;
    SaveImageComposer c = composer();
    ImReaderWriter reader, writer;
    bool loaded;
    explicit SeriesStep(const Series &s)
        : series(s),
          loaded(writer.load(std::vector<unsigned char>(size_t(s.outBytes())).data(), 1280, 1024, quint16(s.bits),
                             s.pseudo ? 3 : 1, 1, s.pseudo ? 2 : 1, 1))
    {
    }
    bool run()
    {
        if (!loaded || !reader.read(series.work))
            return false;
        c.composeSeriesFrame(reader.data(series.bits), series.bits, series.pseudo, writer.data(series.bits));
        return writer.write(series.out, kText);
    }
};

void seriesSave(benchmark::State &state, int bits, bool pseudo)
{
    Series series(bits, pseudo);
    SeriesStep step(series);
    for (auto _ : state) {
        if (!step.run()) {
            state.SkipWithError("series frame failed");
            return;
        }
        removeUntimed(state, series.out);
    }
}

// Reads the work file with read(2) and writes as many bytes as the saved TIFF holds.
void seriesFloor(benchmark::State &state, int bits, bool pseudo)
{
    Series series(bits, pseudo);
    std::vector<unsigned char> in(size_t(SaveImageComposer::frameBytes(bits, false)));
    const std::vector<unsigned char> out(size_t(series.outBytes()));
    for (auto _ : state) {
        const int r = ::open(series.work.constData(), O_RDONLY | O_CLOEXEC);
        const bool read = r >= 0 && ::read(r, in.data(), in.size()) == ssize_t(in.size());
        ::close(r);
        const int w = ::open(series.out.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const bool written = w >= 0 && ::write(w, out.data(), out.size()) == ssize_t(out.size());
        if (::close(w) != 0 || !read || !written) {
            state.SkipWithError("plain read or write failed");
            return;
        }
        removeUntimed(state, series.out);
    }
}

void series_save_8bit(benchmark::State &state) { seriesSave(state, 8, false); }
void series_save_8bit_floor(benchmark::State &state) { seriesFloor(state, 8, false); }
void series_save_16bit_pseudo(benchmark::State &state) { seriesSave(state, 16, true); }
void series_save_16bit_pseudo_floor(benchmark::State &state) { seriesFloor(state, 16, true); }

// Peak resident set size in kB since the last reset.
long peakRssKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

void series_memory_1000_frames(benchmark::State &state)
{
    for (auto _ : state) {
        Series series(16, true);
        SeriesStep step(series);
        std::ofstream("/proc/self/clear_refs") << "5"; // resets the peak
        long first = 0;
        for (int n = 1; n <= 1000; ++n) {
            if (!step.run()) {
                state.SkipWithError("series frame failed");
                return;
            }
            ::unlink(series.out.constData());
            if (n == 10)
                first = peakRssKb();
        }
        state.counters["value"] = double(peakRssKb());
        state.counters["floor"] = double(first);
        state.counters["growth_kb"] = double(peakRssKb() - first);
    }
}

} // namespace

BENCHMARK(series_memory_1000_frames)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(burn_bar_8bit)->Unit(benchmark::kMicrosecond);
BENCHMARK(burn_bar_8bit_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(burn_bar_48bit)->Unit(benchmark::kMicrosecond);
BENCHMARK(burn_bar_48bit_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(pseudo_color_8bit)->Unit(benchmark::kMicrosecond);
BENCHMARK(pseudo_color_8bit_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(series_save_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(series_save_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(series_save_16bit_pseudo)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(series_save_16bit_pseudo_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Fonts need a GUI application (offscreen unless a platform is chosen).
int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv);
}
