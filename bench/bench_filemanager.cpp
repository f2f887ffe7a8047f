// The file manager's pictures: icons of a folder of 200 camera images (1280 x 1024: TIFF of 8 and
// 16 bits, 8-bit JPEG) with the thumbnail cache emptied, decoded on the provider's threads and
// each icon painted once, against reading the same files' bytes; one 16-bit TIFF brought to the
// viewer's pixmap, against a plain read of that file; and the thumbnail of each of the damaged
// files of the tests that cost a decoder most (a JPEG of 20,000 repeated scans, JPEG files at the
// limits of scans, scanned blocks and coefficients, one coding its coefficients again, a PNG past
// its palette, a BMP whose pixels begin in its header), as a decoding thread makes it, in
// milliseconds against a second.
#include "GuiBenchMain.h"
#include "FileIconProvider.h"
#include "FileWriteBench.h"
#include "ImReaderWriter.h"
#include "ImageThumbnailReader.h"
#include "ImageViewerDlg.h"

#include <QFileInfo>
#include <QPainter>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 200;

struct ImageFolder
{
    QTemporaryDir dir{benchFolder() + "/bench-XXXXXX"};
    QStringList paths;
    explicit ImageFolder(int bits, int count, const char *suffix = "tif")
    {
        ImReaderWriter image;
        void *samples = image.reserve(1280, 1024, quint16(bits), 1, 1, 1, 1);
        if (!samples)
            return;
        for (quint32 i = 0; i < 1280u * 1024u; ++i) {
            const quint32 v = (i * 131) ^ (i >> 7);
            if (bits == 16)
                static_cast<quint16 *>(samples)[i] = quint16(v & 0x0fff);
            else
                static_cast<quint8 *>(samples)[i] = quint8(v);
        }
        for (int i = 0; i < count; ++i) {
            paths << dir.path() + QString("/cells_%1.%2").arg(i, 4, 10, QChar('0')).arg(QLatin1String(suffix));
            if (!image.write(QFile::encodeName(paths.last()), "Instrument: VANTOR S")) {
                paths.clear();
                return;
            }
        }
    }
};

bool readBytes(const QString &path, QByteArray &buffer)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    qint64 total = 0, got = 0;
    while ((got = ::read(fd, buffer.data() + total, size_t(buffer.size() - total))) > 0)
        total += got;
    return ::close(fd) == 0 && total > 0;
}

void plainReadFloor(benchmark::State &state, const QStringList &paths)
{
    QByteArray buffer(1280 * 1024 * 2 + 65536, Qt::Uninitialized);
    for (auto _ : state)
        for (const QString &path : paths)
            if (!readBytes(path, buffer)) {
                state.SkipWithError("plain read failed");
                return;
            }
}

void thumbnails(benchmark::State &state, int bits, const char *suffix = "tif")
{
    ImageFolder folder(bits, kFiles, suffix);
    FileIconProvider provider;
    provider.setThumbnailReader(&ImageThumbnailReader::read);
    provider.setThumbnailOn(true);
    QImage canvas(150, 150, QImage::Format_RGB32);
    QList<QIcon> icons;
    for (auto _ : state) {
        state.PauseTiming();
        FileIconProvider::clearThumbnailCache();
        icons.clear();
        state.ResumeTiming();
        // Asked as the model asks, decoded on the provider's threads, painted once all are in.
        for (const QString &path : folder.paths)
            icons << provider.icon(QFileInfo(path));
        while (provider.pendingThumbnails() > 0)
            QThread::usleep(200);
        QPainter painter(&canvas);
        for (const QIcon &icon : icons)
            icon.paint(&painter, QRect(11, 0, 128, 102));
    }
    state.counters["threads"] = FileIconProvider::decodingThreads();
}

void fm_thumbnails_200(benchmark::State &state) { thumbnails(state, 8); }
void fm_thumbnails_200_floor(benchmark::State &state) { plainReadFloor(state, ImageFolder(8, kFiles).paths); }
void fm_thumbnails_200_16bit(benchmark::State &state) { thumbnails(state, 16); }
void fm_thumbnails_200_16bit_floor(benchmark::State &state) { plainReadFloor(state, ImageFolder(16, kFiles).paths); }
void fm_thumbnails_200_jpeg(benchmark::State &state) { thumbnails(state, 8, "jpg"); }
void fm_thumbnails_200_jpeg_floor(benchmark::State &state) { plainReadFloor(state, ImageFolder(8, kFiles, "jpg").paths); }

void viewer_load_16bit(benchmark::State &state)
{
    ImageFolder folder(16, 1);
    ImageViewerDlg viewer;
    const QString path = folder.paths.value(0);
    for (auto _ : state) {
        viewer.load(path, "cells_0000.tif");
        while (viewer.isLoading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!viewer.isValidImage()) {
            state.SkipWithError("image not shown");
            return;
        }
    }
}
void viewer_load_16bit_floor(benchmark::State &state) { plainReadFloor(state, ImageFolder(16, 1).paths); }

// The damaged files the tests read, written once by their generator (in VANTOR_SOURCE_DIR, or
// the source tree the build folder lies in).
QString hostileFolder()
{
    static QTemporaryDir dir{benchFolder() + "/bench-XXXXXX"};
    const QString source = qEnvironmentVariable("VANTOR_SOURCE_DIR", QCoreApplication::applicationDirPath() + "/../..");
    static const bool written =
        QProcess::execute("/usr/bin/python3", {source + "/tests/support/hostile_images.py", dir.path()}) == 0;
    return written ? dir.path() : QString();
}

void thumbnailOf(benchmark::State &state, const char *name)
{
    const QString folder = hostileFolder();
    if (folder.isEmpty()) {
        state.SkipWithError("the damaged files were not written");
        return;
    }
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state)
        benchmark::DoNotOptimize(ImageThumbnailReader::read(folder + "/" + name, FileIconProvider::thumbnailSize));
    // Milliseconds a thumbnail, against the second no file may hold the interface.
    state.counters["value"] = double(clock.nsecsElapsed()) / 1e6 / double(state.iterations());
    state.counters["floor"] = 1000.0;
}

} // namespace

BENCHMARK_CAPTURE(thumbnailOf, scan_bomb_jpg, "scan-bomb.jpg")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, scans_300_jpg, "scans-300.jpg")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, scanned_blocks_16m_jpg, "scanned-blocks-16m.jpg")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, scanned_blocks_over_jpg, "scanned-blocks-over.jpg")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, recoded_scans_jpg, "recoded-scans.jpg")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, coefficients_over_jpg, "coefficients-over.jpg")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, coefficients_3_passes_jpg, "coefficients-3-passes.jpg")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, palette_past_end_png, "palette-past-end.png")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, offset_zero_bmp, "offset-zero.bmp")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, tags_4m_shared_tif, "tags-4m-shared.tif")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, ztxt_bomb_png, "ztxt-bomb.png")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(thumbnailOf, itxt_bomb_png, "itxt-bomb.png")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fm_thumbnails_200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fm_thumbnails_200_floor)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fm_thumbnails_200_16bit)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fm_thumbnails_200_16bit_floor)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fm_thumbnails_200_jpeg)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fm_thumbnails_200_jpeg_floor)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(viewer_load_16bit)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(viewer_load_16bit_floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv);
}
