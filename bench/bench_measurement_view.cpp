// The measuring view's figures for four captured 16-bit channels and the shown image: the whole
// image (tool 12) and a 400 x 300 rectangle item, records passed on as the page receives them,
// against OpenCV's minMaxLoc, meanStdDev and calcHist on the same five regions.
#include "GuiBenchMain.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "ImageGraphicsView.h"
#include "Utilities.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

namespace {

constexpr int W = 1280, H = 1024, kChannels = 4;
const cv::Rect kRect(300, 200, 400, 300);

// Camera words of a seeded 12-bit channel (most significant byte first, value shifted by four).
std::vector<uchar> cameraWords(unsigned seed)
{
    std::vector<uchar> raw(size_t(W) * H * 2);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(0, 600);
    for (size_t i = 0; i < raw.size() / 2; ++i) {
        const int v = std::min(4095, int(i % W + i / W) + noise(random));
        raw[2 * i] = uchar(v >> 4);
        raw[2 * i + 1] = uchar((v & 0xF) << 4);
    }
    return raw;
}

cv::Mat decoded(const std::vector<uchar> &raw)
{
    cv::Mat values(H, W, CV_16UC1);
    for (int i = 0; i < W * H; ++i)
        values.at<ushort>(i / W, i % W) = ushort((raw[2 * i] << 4) | (raw[2 * i + 1] >> 4));
    return values;
}

struct Frames
{
    std::vector<std::vector<uchar>> raw;
    std::vector<cv::Mat> values;
    Frames()
    {
        for (int c = 0; c < kChannels; ++c) {
            raw.push_back(cameraWords(7u + unsigned(c)));
            values.push_back(decoded(raw.back()));
        }
    }
};

const Frames &frames()
{
    static const Frames f;
    return f;
}

// The multicolour view as the main window sets it up, each channel shown in turn; the page's
// receiver copies every record.
struct View
{
    ImageGraphicsView view;
    std::vector<TSMeasurementItem> kept;
    View()
    {
        view.m_bHighByte = false;
        for (int c = 0; c < kChannels; ++c) {
            const cv::Mat &values = frames().values[c];
            view.setFilterImageData(7, values.data, 16, 1, false, c, true, const_cast<uchar *>(frames().raw[c].data()));
        }
        QObject::connect(&view, &ImageGraphicsView::overlayMeasurementResultChanged,
                         [this](TSMeasurementItem &r, int) { kept.push_back(r); });
        QObject::connect(&view, &ImageGraphicsView::measurementResultChanged,
                         [this](TSMeasurementItem &r, bool) { kept.push_back(r); });
    }
};

void measure_whole_image_5ch(benchmark::State &state)
{
    View v;
    for (auto _ : state) {
        v.kept.clear();
        v.view.setCurrentMeasurementTool(TOOL_WHOLE_IMAGE);
    }
    if (v.kept.size() != 5)
        state.SkipWithError("five records expected");
}

void measure_rect_5ch(benchmark::State &state)
{
    View v;
    auto *rect = new DiagramRectItem(QRectF(kRect.x, kRect.y, kRect.width, kRect.height), nullptr);
    v.view.diagramScene()->addGraphicsItem(rect, false);
    const uint key = v.view.diagramScene()->getItemKey(rect);
    for (auto _ : state) {
        v.kept.clear();
        v.view.slotCalcMeasurementItem(key, TOOL_RECTANGLE);
    }
    if (v.kept.size() != 5 || v.kept.back().roi != kRect)
        state.SkipWithError("five records of the rectangle expected");
}

// The floor: OpenCV's figures of the same region on the four channels and the shown image (the
// last channel shown).
void openCvFigures(benchmark::State &state, const cv::Rect &region)
{
    const int bins = 4096, channel = 0;
    const float range[] = {0.0f, float(bins)};
    const float *ranges[] = {range};
    for (auto _ : state)
        for (int i = 0; i <= kChannels; ++i) {
            const cv::Mat roi = frames().values[std::min(i, kChannels - 1)](region);
            double low, high;
            cv::Scalar mean, deviation;
            cv::Mat histogram;
            cv::minMaxLoc(roi, &low, &high);
            cv::meanStdDev(roi, mean, deviation);
            cv::calcHist(&roi, 1, &channel, cv::Mat(), histogram, 1, &bins, ranges);
            benchmark::DoNotOptimize(histogram.data);
        }
}

void measure_whole_image_5ch_floor(benchmark::State &state) { openCvFigures(state, cv::Rect(0, 0, W, H)); }
void measure_rect_5ch_floor(benchmark::State &state) { openCvFigures(state, kRect); }

} // namespace

BENCHMARK(measure_whole_image_5ch)->Unit(benchmark::kMicrosecond);
BENCHMARK(measure_whole_image_5ch_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(measure_rect_5ch)->Unit(benchmark::kMicrosecond);
BENCHMARK(measure_rect_5ch_floor)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv, [] {
        initializePseudoColorTable();
        frames();
    });
}
