// TIFF write of one 1280 x 1024 frame with its metadata text, against a plain write(2) of the same
// samples to the same folder. Every iteration writes a new file, as a recording does; the file is
// removed again outside the timed part.
#include "ImReaderWriter.h"

#include "FileWriteBench.h"

namespace {

constexpr quint32 W = 1280;
constexpr quint32 H = 1024;
const QByteArray kText = "Instrument: VANTOR S; Serial Number: VS000123; Version: 1.0.0; Camera Mode: 16 bit; "
                         "Filter Cube: Trans; Objective: 10X; Light: 50 %; Exposure: 10 ms; Gain: 1; "
                         "Time: 12:34:56.789";


QByteArray frame(int bits)
{
    QByteArray s(int(W * H * (bits / 8)), Qt::Uninitialized);
    for (int i = 0; i < s.size(); ++i)
        s[i] = char((i * 131) ^ (i >> 7));
    return s;
}


void tiffWrite(benchmark::State &state, int bits)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QByteArray path = QFile::encodeName(dir.path() + "/frame_0001.tif");
    const QByteArray samples = frame(bits);
    ImReaderWriter rw;
    if (!rw.load(samples.constData(), W, H, quint16(bits), 1, 1, 1, 1)) {
        state.SkipWithError("load failed");
        return;
    }
    for (auto _ : state) {
        if (!rw.write(path, kText)) {
            state.SkipWithError("write failed");
            return;
        }
        removeUntimed(state, path);
    }
    state.SetBytesProcessed(state.iterations() * samples.size());
}

void plainWrite(benchmark::State &state, int bits)
{
    plainWriteFloor(state, "frame_0001.raw", frame(bits));
}

void tiff_write_8bit(benchmark::State &state) { tiffWrite(state, 8); }
void tiff_write_8bit_floor(benchmark::State &state) { plainWrite(state, 8); }
void tiff_write_16bit(benchmark::State &state) { tiffWrite(state, 16); }
void tiff_write_16bit_floor(benchmark::State &state) { plainWrite(state, 16); }

} // namespace

BENCHMARK(tiff_write_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(tiff_write_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(tiff_write_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(tiff_write_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
