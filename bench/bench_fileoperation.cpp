// The file manager's paste and move of a 1 GiB folder (700 files of 1.3 MB in seven sub-folders
// and one of 100 MB) within one drive, by the worker itself, each against the system's tools on
// the same folder in the same run: a copy against "cp -r", a move against "cp -r", "sync" and
// "rm -r". Both figures are wall-clock seconds with the page cache flushed before each part.
#include "FileOperationThread.h"
#include "FileWriteBench.h"
#include "GuiBenchMain.h"

#include <QElapsedTimer>
#include <QProcess>

namespace {

void writeFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 131) ^ (i >> 9) ^ int(bytes));
    for (qint64 left = bytes; left > 0; left -= block.size())
        file.write(block.constData(), qMin<qint64>(left, block.size()));
}

struct Folder
{
    QTemporaryDir dir{benchFolder() + "/bench-XXXXXX"};
    QString master = dir.path() + "/master/Data";
    Folder()
    {
        for (int f = 0; f < 7; ++f) {
            const QString sub = master + QString("/Run_%1").arg(f);
            QDir().mkpath(sub);
            for (int i = 0; i < 100; ++i)
                writeFile(sub + QString("/cells_%1.tif").arg(i, 4, 10, QChar('0')), 1300000);
        }
        writeFile(master + "/movie.mp4", 100 * 1000 * 1000);
    }
    bool tool(const QString &program, const QStringList &args) const
    {
        return QProcess::execute(program, args) == 0;
    }
    void flush() const { tool("sync", {}); }
    void clear(const QString &folder) const { QDir(folder).removeRecursively(); }
};

double seconds(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

bool runWorker(int mode, const QString &source, const QString &destination)
{
    FileOperationThread worker;
    worker.setLocations({source}, destination);
    worker.m_Mode = mode;
    worker.start();
    worker.wait();
    return worker.failures().isEmpty() && !worker.driveRemoved();
}

// The mean seconds of the iterations so far.
struct Means
{
    double value = 0, floor = 0;
    int count = 0;
    void add(benchmark::State &state, double v, double f)
    {
        value += v;
        floor += f;
        ++count;
        state.counters["value"] = value / count;
        state.counters["floor"] = floor / count;
    }
};

void fm_copy_1g(benchmark::State &state)
{
    Folder folder;
    const QString out = folder.dir.path() + "/out";
    Means means;
    for (auto _ : state) {
        QDir().mkpath(out);
        folder.flush();
        const double floor = seconds([&] { folder.tool("cp", {"-r", folder.master, out + "/cp"}); });
        folder.flush();
        QDir().mkpath(out + "/fm");
        bool ok = true;
        const double value = seconds([&] { ok = runWorker(FileOperationThread::Copy, folder.master, out + "/fm"); });
        if (!ok)
            state.SkipWithError("the worker's copy failed");
        means.add(state, value, floor);
        folder.clear(out);
    }
}

void fm_move_1g(benchmark::State &state)
{
    Folder folder;
    const QString work = folder.dir.path() + "/work";
    Means means;
    for (auto _ : state) {
        for (const char *part : {"/cp", "/fm"}) {
            QDir().mkpath(work + part + "/out");
            folder.tool("cp", {"-r", folder.master, work + part + "/Data"});
        }
        folder.flush();
        const double floor = seconds([&] {
            folder.tool("cp", {"-r", work + "/cp/Data", work + "/cp/out/Data"});
            folder.flush();
            folder.tool("rm", {"-r", work + "/cp/Data"});
        });
        folder.flush();
        bool ok = true;
        const double value =
            seconds([&] { ok = runWorker(FileOperationThread::Move, work + "/fm/Data", work + "/fm/out"); });
        if (!ok || QFileInfo::exists(work + "/fm/Data"))
            state.SkipWithError("the worker's move failed");
        means.add(state, value, floor);
        folder.clear(work);
    }
}

} // namespace

BENCHMARK(fm_copy_1g)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fm_move_1g)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv);
}
