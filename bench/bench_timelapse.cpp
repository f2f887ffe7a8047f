// One time-lapse frame through the page's frame slot (count, labels, TIFF write with its metadata,
// thumbnail) against a plain write(2) of the frame's bytes to the same folder; the resident
// memory a long series adds per frame, against one thumbnail's pixels; and the browser's two
// figures against a plain read of the same file: one slide-show step (the timer's slot: the next
// file read, its time and the last file's time for the annotation, the view updated) and one file
// of a folder load (read, scaled, thumbnail).
// The step's file is read right after the repaint of the frame before it, which has pushed the
// file's bytes and the array they go into out of the CPU caches, so its floor is a plain read of
// that same file at that same moment (the repaints untimed in both). The step also reports the
// repaint that follows it and its share, with that repaint, of the shortest show interval,
// 150 ms; the repaint of a new frame alone is measured against a copy of the viewport's picture.
// A folder load reads file after file with nothing in between, so its floor reads one file over
// and over.
#include "GuiBenchMain.h"
#include "FileWriteBench.h"
#include "Globals.h"
#include "ImageSeriesFiles.h"
#include "Paths.h"
#include "ImReaderWriter.h"
#include "LGraphicsView.h"
#include "TimeLapseImageWidget.h"
#include "TimeLapseWidget.h"
#include "ui_TimeLapseImageWidget.h"
#include "Utilities.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <cstring>
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

// A folder of n 8-bit frames carrying their metadata and time, as a run writes them.
QStringList writeSeries(const QString &folder, int n)
{
    QStringList paths;
    QByteArray data = frame(8);
    ImReaderWriter image;
    image.load(data.constData(), W, H, 8, 1, 1, 1, 1);
    for (int i = 0; i < n; ++i) {
        paths << QString("%1/s_%2.tif").arg(folder).arg(i, 4, 10, QChar('0'));
        const QString meta = QString("Instrument: VANTOR S;Objective: Olympus 10X NA 0.25 UPlanFL;Time: 00:%1:00")
                                 .arg(i, 2, 10, QChar('0'));
        if (!image.write(QFile::encodeName(paths.last()), meta.toUtf8()))
            return {};
    }
    return paths;
}

// A plain read of one series file over and over: the floor of a folder load.
void timelapse_load_file_floor(benchmark::State &state)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QStringList paths = writeSeries(dir.path(), 1);
    ImReaderWriter image;
    for (auto _ : state)
        if (!image.read(QFile::encodeName(paths.value(0)))) {
            state.SkipWithError("not read");
            return;
        }
}

// A browser playing a 10-file series on the time-lapse screen, the steps driven from here.
struct SlideShow
{
    QTemporaryDir dir{benchFolder() + "/bench-XXXXXX"};
    QStringList paths;
    TimeLapseImageWidget browser;
    SlideShow()
    {
        g_CurrentMenu = MENU_TIMELAPSE;
        paths = writeSeries(dir.path(), 10);
        std::vector<ThumbnailInfo> series;
        for (const QString &path : paths) {
            ThumbnailInfo info;
            info.path = path;
            info.thumbnail = QPixmap(80, 60);
            series.push_back(info);
        }
        browser.resize(1495, 1020);
        browser.show();
        browser.loadThumbnail(series, false);
        browser.slotEnableAnnotation(true);
        start();
    }
    void start()
    {
        browser.form()->BUTTON_SLIDESHOW_START->click();
        browser.slideTimer().stop();
        QCoreApplication::processEvents();
    }
    // The file the next step reads: the next image, or the first after the last.
    QString nextPath() const
    {
        const int row = browser.form()->LISTWIDGET_IMAGE->currentRow() + 1;
        return paths.value(row < paths.size() ? row : 0);
    }
    // After the step that ends the show (back to image 1), the user's Start.
    void restartWhenEnded()
    {
        if (browser.slideShowState() != SlideShowPlaying)
            start();
    }
};

// One slide-show step: the timer's slot (the next file read, its time and the last file's time
// read for the annotation, the view updated), timed; the event-loop pass that repaints the view
// after it, untimed. Counters: that repaint, the step with it, and their share of the shortest
// show interval, 150 ms.
void timelapse_slide_tick(benchmark::State &state)
{
    SlideShow show;
    QElapsedTimer clock;
    qint64 slot = 0, paint = 0;
    for (auto _ : state) {
        clock.start();
        show.browser.updateSlide();
        const qint64 ns = clock.nsecsElapsed();
        QCoreApplication::processEvents();
        paint += clock.nsecsElapsed() - ns;
        slot += ns;
        state.SetIterationTime(double(ns) / 1e9);
        show.restartWhenEnded();
    }
    const double steps = double(qMax<benchmark::IterationCount>(1, state.iterations()));
    state.counters["paint_ms"] = double(paint) / 1e6 / steps;
    state.counters["with_paint_ms"] = double(slot + paint) / 1e6 / steps;
    state.counters["share_of_150ms"] = double(slot + paint) / 1e6 / steps / 150.0;
}

// A plain read of the file the step reads, where the step reads it: after the repaint of the
// frame before. The step itself and its repaint run untimed between the reads.
void timelapse_slide_tick_floor(benchmark::State &state)
{
    SlideShow show;
    ImReaderWriter plain;
    QElapsedTimer clock;
    for (auto _ : state) {
        const QByteArray path = QFile::encodeName(show.nextPath());
        clock.start();
        const bool read = plain.read(path);
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (!read) {
            state.SkipWithError("not read");
            return;
        }
        show.browser.updateSlide();
        QCoreApplication::processEvents();
        show.restartWhenEnded();
    }
}

// The paint of a new frame alone (the view's pass after the step's slot), against a copy of the
// viewport's picture: the least any full repaint of the view writes.
void timelapse_slide_paint(benchmark::State &state)
{
    SlideShow show;
    QElapsedTimer clock;
    for (auto _ : state) {
        show.browser.updateSlide();
        clock.start();
        QCoreApplication::processEvents();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        show.restartWhenEnded();
    }
}
void timelapse_slide_paint_floor(benchmark::State &state)
{
    SlideShow show;
    const QSize size = show.browser.form()->m_LGraphicsView->viewport()->size();
    QImage from(size, QImage::Format_RGB32), to(size, QImage::Format_RGB32);
    from.fill(Qt::gray);
    for (auto _ : state) {
        std::memcpy(to.bits(), from.constBits(), size_t(from.sizeInBytes()));
        benchmark::ClobberMemory();
    }
}

// One file of a 1,000-file load: read, brought to 8 bits and scaled to its thumbnail.
void timelapse_load_file(benchmark::State &state)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QStringList paths = writeSeries(dir.path(), 8);
    TimeLapseWidget page;
    ImReaderWriter image;
    int i = 0;
    for (auto _ : state) {
        ThumbnailInfo info;
        if (!ImageSeriesFiles::loadFrame(QFileInfo(paths[i++ % paths.size()]), image, QSize(80, 60), info)) {
            state.SkipWithError("not loaded");
            return;
        }
        page.plan().pushThumbnail(info);
        if (page.plan().thumbnails().size() >= 1000) {
            state.PauseTiming();
            page.plan().clearThumbnails();
            state.ResumeTiming();
        }
    }
}

} // namespace

BENCHMARK(timelapse_slide_tick)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(timelapse_slide_tick_floor)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(timelapse_slide_paint)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(timelapse_slide_paint_floor)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(timelapse_load_file)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(timelapse_load_file_floor)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(timelapse_frame_save_8bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_frame_save_8bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_frame_save_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_frame_save_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(timelapse_memory_per_frame)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, initializePseudoColorTable);
}
