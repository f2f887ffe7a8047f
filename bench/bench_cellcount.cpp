// The Cell count page's count of one simulated-specimen frame (4X, in focus, mean grey near 150),
// from startCellCounting to the end of completedCellCounting with the viewer connected: thumbnail,
// result texts and the viewer's image included. What the page leaves to the event loop after a
// count (painting, the work files' writes) runs between iterations, untimed: its time per count
// is the counter "after_ms". Each against the engine's own calls with the page's arguments on
// the same frame. One core: OpenCV runs single-threaded for both. Also the viewer's
// tag button: both work files read and shown, against reading them and making their pixmaps.
#include "GuiBenchMain.h"

#include "CellCountDefaults.h"
#include "CellCountImageWidget.h"
#include "CellCountWidget.h"
#include "CellCount_alg.h"
#include "CellCounter.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SampleRenderer.h"
#include "Utilities.h"
#include "ImageGraphicsView.h"
#include "ui_CellCountImageWidget.h"
#include "ui_CellCountWidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QPixmap>
#include <QTemporaryDir>
#include <opencv2/core.hpp>

#include <cstring>
#include <memory>
#include <vector>

using namespace CellCountDefaults;

namespace {

constexpr int kWidth = 1280, kHeight = 1024;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

std::unique_ptr<QTemporaryDir> g_root;
std::vector<unsigned char> g_frame;

// The specimen at 4X in focus, scaled to a mean grey of 150.
std::vector<unsigned char> specimen()
{
    SampleRenderer renderer;
    SampleView view;
    view.objective = 1;
    view.stageSteps = renderer.trueFocusSteps(1);
    cv::Mat frame12;
    renderer.render(view, frame12);
    cv::Mat grey;
    frame12.convertTo(grey, CV_8U, 150.0 / cv::mean(frame12)[0]);
    return std::vector<unsigned char>(grey.data, grey.data + kPixels);
}

void prepare()
{
    cv::setNumThreads(1);
    g_root = std::make_unique<QTemporaryDir>(qEnvironmentVariable("VANTOR_ROOT", QDir::tempPath()) + "/bench-XXXXXX");
    Paths::setRoot(g_root->path());
    QDir().mkpath(Paths::configDir());
    QDir().mkpath(Paths::ssd() + "/.CellCount");
    WritePrivateProfileString("Lens", "1", "4X", Paths::configFile().toStdString());
    initializePseudoColorTable();
    g_frame = specimen();
}

// A page set up as a count start leaves it, its viewer connected.
struct Page
{
    CellCountWidget page;
    CellCountImageWidget viewer;
    explicit Page(int engine)
    {
        QObject::connect(&page, &CellCountWidget::completed, &viewer, &CellCountImageWidget::loadThumbnail);
        page.form()->comboBox->setCurrentIndex(engine);
        page.setCurrentObjectiveLensPosition(1);
        page.initCellCounter();
        page.resize(378, 1020);
        page.show(); // the histogram is drawn
        viewer.show();
    }
};

void count_page(benchmark::State &state, int engine)
{
    Page p(engine);
    QElapsedTimer after;
    qint64 afterNs = 0;
    for (auto _ : state) {
        std::memcpy(p.page.frameTarget8(), g_frame.data(), kPixels);
        p.page.startCellCounting();
        state.PauseTiming();
        after.start();
        QCoreApplication::processEvents();
        afterNs += after.nsecsElapsed();
        state.ResumeTiming();
    }
    state.counters["cells"] = p.page.totalNumber();
    state.counters["after_ms"] = benchmark::Counter(double(afterNs) / 1e6 / double(state.iterations()));
    state.counters["written"] = p.page.workFilesPending() ? 0 : 1;
}

void count_page_nimbo(benchmark::State &state) { count_page(state, 0); }
void count_page_second(benchmark::State &state) { count_page(state, 1); }

// The own engine's count and tag step as the page calls them.
void count_page_nimbo_floor(benchmark::State &state)
{
    const float total = 4.0f * kReductionLens;
    const int minPixels = sizeToPixels(float(kMinCellSizeUm), kCellSizeOffsetUm, kCameraPixelUm, total);
    const int maxPixels = sizeToPixels(float(kMaxCellSizeUm), kCellSizeOffsetUm, kCameraPixelUm, total);
    std::vector<unsigned char> plane(kPixels), tag(kPixels * 3), grey(kPixels);
    std::vector<int> labels(kPixels);
    std::vector<_MainDeclusterCountInfo_NimboS> records(CellCount_alg::kLabelLimit + 1);
    CellCount_alg engine;
    int cells = 0;
    for (auto _ : state) {
        std::memcpy(grey.data(), g_frame.data(), kPixels);
        std::memset(static_cast<void *>(records.data()), 0, records.size() * sizeof(records[0]));
        std::memset(labels.data(), 0, kPixels * sizeof(int));
        const int n = engine.CellCounting_NimboS(
            grey.data(), plane.data(), tag.data(), labels.data(), kWidth, kHeight, records.data(), kOutsideMinSize,
            kOutsideMaxSize, kOutsideThresholdOffset, kOutsideKernelSize, kOutsideGain, kInsideMinSize,
            kInsideMaxSize, kInsideThresholdOffset, kMustDetectIntensity, kNrKernelSize, kPostMinIntensity,
            kPostMaxIntensity, kRoundness, minPixels, maxPixels, kDeclusterTolerance, kClusterDistance,
            kIntensityRatio, kCenterRange, kWholeRange, kLiveMinIntensity);
        int live = 0, dead = 0;
        CellCount_alg::ProcessTag_Filtering_NimboS(tag.data(), records.data(), kWidth, kHeight, n, &cells, &live,
                                                   &dead, false);
    }
    state.counters["cells"] = cells;
}

// The second engine's image intake and object finder with the page's fall-back settings.
void count_page_second_floor(benchmark::State &state)
{
    const float total = 4.0f * kReductionLens;
    Quorvan::CellCounter engine(5, kHeight, kWidth, countedVolumeMl(kCameraPixelUm, total), total, kCameraPixelUm);
    engine.setSizeCalibration(1.0f, 0.0f);
    engine.setCircleThickness(2);
    engine.setTagColor(1, 255, 0, 0);
    engine.setTagColor(2, 0, 255, 0);
    engine.setTagColor(3, 255, 127, 0);
    std::vector<unsigned char> grey(kPixels);
    const float *live = liveCellDetection(kFinderLiveCellDetection);
    int liveCells = 0, deadCells = 0;
    for (auto _ : state) {
        std::memcpy(grey.data(), g_frame.data(), kPixels);
        float avgSize = 0, meanIntensity = 0;
        engine.setImageData(grey.data(), 0, false);
        engine.findObjects4(kFinderMinCellSizeUm, kFinderMaxCellSizeUm, kFinderRoundness, kFinderClusterFactor,
                            noiseReductionValue(kFinderNoiseReduction), kFinderBrightThreshold,
                            kFinderConcaveAreaLimit, float(kFinderDeclusteringLevel), kFinderReserved, live[0],
                            live[1], liveCells, deadCells, avgSize, meanIntensity, kFinderDeclusteringLevel > 0,
                            false, 0);
    }
    state.counters["cells"] = liveCells + deadCells;
}

// The work files of one count: the frame and a tagged copy of it.
QStringList countFiles()
{
    const QString frame = CellCountWidget::workFilePath("%sTemp_%06d.tif", 0);
    const QString tag = CellCountWidget::workFilePath("%sTemp_%06d_TAG.tif", 0);
    std::vector<unsigned char> rgb(kPixels * 3);
    for (size_t i = 0; i < kPixels; ++i)
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = g_frame[i];
    ImReaderWriter writer;
    writer.load(g_frame.data(), kWidth, kHeight, 8, 1, 1, 1, 1);
    writer.write(frame.toUtf8(), QByteArray());
    writer.load(rgb.data(), kWidth, kHeight, 8, 3, 1, 2, 1);
    writer.write(tag.toUtf8(), QByteArray());
    return {frame, tag};
}

// Two presses of the tag button: the counted frame, then the tagged image again.
void viewer_tag_toggle(benchmark::State &state)
{
    const QStringList files = countFiles();
    CellCountImageWidget viewer;
    viewer.show();
    std::vector<ThumbnailInfo> images(1);
    images[0].kind = 0;
    images[0].path = files[1];
    viewer.loadThumbnail(images);
    for (auto _ : state) {
        viewer.slotShowTagImage(false, true);
        viewer.slotShowTagImage(true, true);
    }
    QGraphicsPixmapItem *shown = viewer.form()->m_LGraphicsView->pixmapItem();
    state.counters["shown"] = shown && shown->pixmap().width() == kWidth ? 1 : 0;
}

void viewer_tag_toggle_floor(benchmark::State &state)
{
    const QStringList files = countFiles();
    for (auto _ : state) {
        for (const QString &path : files) {
            ImReaderWriter reader;
            reader.read(path.toUtf8());
            const int samples = reader.samplesPerPixel;
            QImage image(reader.buffer8.get(), kWidth, kHeight, kWidth * samples,
                         samples == 3 ? QImage::Format_RGB888 : QImage::Format_Indexed8);
            if (samples == 1)
                image.setColorTable(g_PseudoColorTable[7]);
            QPixmap pixmap = QPixmap::fromImage(image);
            benchmark::DoNotOptimize(pixmap);
        }
    }
}

} // namespace

BENCHMARK(viewer_tag_toggle)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(viewer_tag_toggle_floor)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(count_page_nimbo)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(count_page_nimbo_floor)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(count_page_second)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(count_page_second_floor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv)
{
    const int status = runGuiBenchmarks(argc, argv, prepare);
    g_root.reset();
    return status;
}
