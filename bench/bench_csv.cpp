// CSV write of a 10,000-row measurement table, against a plain write(2) of the same bytes to the
// same folder. Every iteration writes a new file; the file is removed again outside the timed part.
#include "CSVReaderWriter.h"

#include "FileWriteBench.h"

namespace {

constexpr int kRows = 10000;

CSVReaderWriter table()
{
    CSVReaderWriter csv;
    const int min[4] = {3, 12, 0, 41}, max[4] = {4012, 2250, 998, 3000};
    const float mean[4] = {512.25f, 301.5f, 77.75f, 1500.f}, std[4] = {40.5f, 12.25f, 3.5f, 250.f};
    for (int i = 0; i < kRows; ++i)
        csv.fillDataFieldNew(-1, i % 2 ? "Rectangle" : "Line", 100.f + float(i) / 7, 0, 2500.f + float(i), 0, min,
                             max, mean, std, 0);
    return csv;
}

QByteArray joined(const CSVReaderWriter &csv)
{
    QByteArray bytes;
    for (int i = 0; i < csv.rowCount(); ++i)
        bytes += (i ? "\n" : "") + csv.row(i);
    return bytes;
}



void csv_write_10000(benchmark::State &state)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QByteArray path = QFile::encodeName(dir.path() + "/table.csv");
    CSVReaderWriter csv = table();
    for (auto _ : state) {
        if (!csv.write(path.constData())) {
            state.SkipWithError("write failed");
            return;
        }
        removeUntimed(state, path);
    }
    state.SetBytesProcessed(state.iterations() * joined(csv).size());
}

void csv_write_10000_floor(benchmark::State &state)
{
    plainWriteFloor(state, "table.csv", joined(table()));
}

} // namespace

BENCHMARK(csv_write_10000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(csv_write_10000_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
