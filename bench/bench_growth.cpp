// Confluency analysis of a 1280 x 1024 frame with 50 % cover, on one core:
//   confluency_frame            decoded frame, min area 255, no watershed, no file; floor: Otsu
//                               threshold and a 4-connected labelling of the same frame
//   confluency_frame_watershed  the same with watershed 0.2; floor: the OpenCV calls of the
//                               watershed road on the same (thresholded, cleaned) mask
//   confluency_dots_watershed   watershed 0.2, no removal, on a dense grid of 3 x 3 dots (one seed
//                               each); floor: the same OpenCV calls on its mask
//   confluency_file             the whole analysis of a TIFF file, results written; value in ms
//                               per image against the 1000 ms an image may take
//   growth_folder_image         one image of the page's folder run (the folder check's read, the
//                               analysis, the thumbnail, the record); floor: the analysis alone
//                               of the same file (at most 1.1); seconds per image reported
//   growth_browser_image        the browser reading a count image and showing it; floor:
//                               cv::imread of the same file (at most 2)
#include "ConfluencyAnalysis.h"
#include "FileWriteBench.h"
#include "GrowthMonitor.h"
#include "GrowthMonitorImageWidget.h"
#include "GrowthMonitorWidget.h"
#include "GuiBenchMain.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "Utilities.h"
#include "ui_GrowthMonitorImageWidget.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <climits>
#include <memory>
#include <utility>

namespace {

// Dark cells with a light halo on an uneven bright background, with noise, until half is covered.
cv::Mat frame()
{
    cv::RNG rng(3);
    cv::Mat cells = cv::Mat::zeros(1024, 1280, CV_8U);
    while (cv::countNonZero(cells) < int(cells.total() / 2)) {
        const cv::Point centre(rng.uniform(0, cells.cols), rng.uniform(0, cells.rows));
        cv::ellipse(cells, centre, cv::Size(rng.uniform(9, 26), rng.uniform(6, 15)), rng.uniform(0.0, 180.0), 0, 360,
                    cv::Scalar(255), cv::FILLED);
    }
    cv::Mat halo;
    cv::dilate(cells, halo, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(7, 7)));
    cv::Mat grey(cells.size(), CV_32F);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x) {
            const float base = 195.0f + 10.0f * float(x) / float(grey.cols) - 8.0f * float(y) / float(grey.rows);
            grey.at<float>(y, x) = cells.at<uchar>(y, x) ? base * 0.55f : halo.at<uchar>(y, x) ? base * 1.12f : base;
        }
    cv::GaussianBlur(grey, grey, cv::Size(0, 0), 1.0);
    cv::Mat noise(grey.size(), CV_32F);
    rng.fill(noise, cv::RNG::NORMAL, 0, 4);
    grey += noise;
    cv::Mat eight;
    grey.convertTo(eight, CV_8U);
    return eight;
}

struct Frame
{
    cv::Mat grey, colour;
    explicit Frame(cv::Mat frame) : grey(std::move(frame))
    {
        cv::setNumThreads(0); // one core: OpenCV works on the calling thread
        cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    }
};

const Frame &shared()
{
    static const Frame f(frame());
    return f;
}

GrowthMonitorParameter settings(double watershed)
{
    GrowthMonitorParameter p;
    p.thresholdType = 0;
    p.background = 1;
    p.minArea = 255;
    p.watershed = watershed;
    return p;
}

void analyse(benchmark::State &state, double watershed)
{
    const Frame &f = shared();
    GrowthMonitorParameter p = settings(watershed);
    for (auto _ : state) {
        ConfluencyAnalysis::Result result;
        ConfluencyAnalysis::run(f.grey, f.colour, p, result);
        benchmark::DoNotOptimize(result.covered);
    }
}

void confluency_frame(benchmark::State &state)
{
    analyse(state, 0.0);
}

void confluency_frame_floor(benchmark::State &state)
{
    const Frame &f = shared();
    for (auto _ : state) {
        cv::Mat mask, labels;
        cv::threshold(f.grey, mask, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
        benchmark::DoNotOptimize(cv::connectedComponents(mask, labels, 4, CV_32S));
    }
}

void confluency_frame_watershed(benchmark::State &state)
{
    analyse(state, 0.2);
}

// The OpenCV calls of the watershed road on a mask, the seeds labelled in one pass.
void watershedFloor(benchmark::State &state, const cv::Mat &m, const cv::Mat &colour)
{
    const cv::Mat kernel = cv::Mat::ones(3, 3, CV_8U);
    for (auto _ : state) {
        cv::Mat opened, surrounding, ring, distance, seeds, markers, ring32;
        cv::morphologyEx(m, opened, cv::MORPH_OPEN, kernel, cv::Point(-1, -1), 2);
        cv::dilate(opened, surrounding, kernel, cv::Point(-1, -1), 3);
        cv::subtract(surrounding, m, ring);
        cv::distanceTransform(m, distance, cv::DIST_L2, 3);
        cv::normalize(distance, distance, 0.0, 1.0, cv::NORM_MINMAX);
        cv::threshold(distance, distance, 0.2, 1.0, cv::THRESH_BINARY);
        distance.convertTo(seeds, CV_8U);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(seeds, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        cv::connectedComponents(seeds, markers, 8, CV_32S);
        ring.convertTo(ring32, CV_32S);
        markers += ring32;
        cv::watershed(colour, markers);
        benchmark::DoNotOptimize(markers.data);
    }
}

// The mask the watershed road starts from: the segmentation of the analysis without watershed
// is the same threshold and small-object removal (plus a cleared frame, immaterial here).
void confluency_frame_watershed_floor(benchmark::State &state)
{
    const Frame &f = shared();
    GrowthMonitorParameter p = settings(0.0);
    ConfluencyAnalysis::Result plain;
    ConfluencyAnalysis::run(f.grey, f.colour, p, plain);
    watershedFloor(state, plain.segmentation != 0, f.colour);
}

// Dark 3 x 3 dots every 4 pixels on a bright field.
const Frame &dots()
{
    static const Frame f([] {
        cv::Mat grey(1024, 1280, CV_8U, cv::Scalar(200));
        for (int y = 2; y + 1 < grey.rows; y += 4)
            for (int x = 2; x + 1 < grey.cols; x += 4)
                grey(cv::Rect(x - 1, y - 1, 3, 3)).setTo(50);
        return grey;
    }());
    return f;
}

void confluency_dots_watershed(benchmark::State &state)
{
    const Frame &f = dots();
    GrowthMonitorParameter p = settings(0.2);
    p.minArea = 0;
    ConfluencyAnalysis::Result result;
    for (auto _ : state) {
        ConfluencyAnalysis::run(f.grey, f.colour, p, result);
        benchmark::DoNotOptimize(result.covered);
    }
    state.counters["objects"] = result.count;
}

void confluency_dots_watershed_floor(benchmark::State &state)
{
    const Frame &f = dots();
    watershedFloor(state, f.grey < 128, f.colour);
}

// Milliseconds per analysed file, reported against the budget of one second per image.
void confluency_file(benchmark::State &state)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const std::string source = (dir.path() + "/frame.tif").toStdString();
    if (!cv::imwrite(source, shared().grey)) {
        state.SkipWithError("cannot write the frame");
        return;
    }
    GrowthMonitor model;
    model.setGrowthMonitorParameter(settings(0.2));
    double seconds = 0;
    for (auto _ : state) {
        float confluency = 0;
        int count = 0, threshold = 0;
        const auto start = std::chrono::steady_clock::now();
        if (!model.getConfluencyValue(source, dir.path() + "/result.tif", confluency, count, threshold)) {
            state.SkipWithError("analysis failed");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["value"] = 1000.0 * seconds / double(state.iterations());
    state.counters["floor"] = 1000.0;
}

// The page's work folder and one source frame in a fresh root.
std::unique_ptr<QTemporaryDir> g_root;
QString g_source;

void prepare()
{
    cv::setNumThreads(0);
    g_root = std::make_unique<QTemporaryDir>(benchFolder() + "/bench-XXXXXX");
    Paths::setRoot(g_root->path());
    QDir().mkpath(Paths::configDir());
    QDir().mkpath(GrowthMonitor::rawFolder());
    QDir().mkpath(Paths::path("/media/USB1/day 1"));
    initializePseudoColorTable();
    g_source = Paths::path("/media/USB1/day 1/img1.tif");
    ImReaderWriter image;
    image.load(shared().grey.data, 1280, 1024, 8, 1, 1, 1, 1);
    image.write(g_source.toUtf8(), QByteArray());
}

// The analysis alone, as the page calls it.
void growth_folder_image_floor(benchmark::State &state)
{
    GrowthMonitor model;
    model.setGrowthMonitorParameter(settings(0.2));
    const QString base = GrowthMonitor::rawFolder() + "img1.tif";
    for (auto _ : state) {
        float confluency = 0;
        int count = 0, threshold = 0;
        if (!model.getConfluencyValue(g_source.toStdString(), base, confluency, count, threshold)) {
            state.SkipWithError("analysis failed");
            return;
        }
    }
}

void growth_folder_image(benchmark::State &state)
{
    GrowthMonitorWidget page;
    page.model().setGrowthMonitorParameter(settings(0.2));
    const QFileInfo file(g_source);
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ImReaderWriter check; // the folder check's read of the file
        if (!check.read(QFile::encodeName(g_source)) || !page.analyseFolderImage(file)) {
            state.SkipWithError("the image was not analysed");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        page.model().clearThumbnails();
        state.ResumeTiming();
    }
    state.counters["seconds_per_image"] = seconds / double(state.iterations());
}

// A count image on the drive as a run leaves it.
QString countImage()
{
    static const QString path = [] {
        GrowthMonitor model;
        model.setGrowthMonitorParameter(settings(0.2));
        float confluency = 0;
        int count = 0, threshold = 0;
        const QString base = GrowthMonitor::rawFolder() + "browse.tif";
        model.getConfluencyValue(g_source.toStdString(), base, confluency, count, threshold);
        return GrowthMonitor::getResultFilePath(base, IMAGE_COUNT, QString());
    }();
    return path;
}

void growth_browser_image_floor(benchmark::State &state)
{
    const std::string path = countImage().toStdString();
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_UNCHANGED).data);
}

void growth_browser_image(benchmark::State &state)
{
    countImage();
    GrowthMonitorImageWidget browser;
    std::vector<ThumbnailInfo> list(1);
    list[0].path = GrowthMonitor::rawFolder() + "browse.tif";
    list[0].sourcePath = g_source;
    browser.loadThumbnail(list, 0);
    browser.form()->BUTTON_IMAGE_COUNT->click();
    for (auto _ : state) {
        if (!browser.loadImageByIndex(0)) {
            state.SkipWithError("the count image was not shown");
            return;
        }
    }
}

} // namespace

BENCHMARK(growth_folder_image_floor)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(growth_folder_image)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(growth_browser_image_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(growth_browser_image)->Unit(benchmark::kMillisecond);
BENCHMARK(confluency_frame)->Unit(benchmark::kMillisecond);
BENCHMARK(confluency_frame_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(confluency_frame_watershed)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(confluency_frame_watershed_floor)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(confluency_dots_watershed)->Unit(benchmark::kMillisecond);
BENCHMARK(confluency_dots_watershed_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(confluency_file)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, prepare);
}
