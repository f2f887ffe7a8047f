// The counting engine's frame path, flat-field correction and automatic threshold on 1280 x 1024
// frames, each against the plain library operation (or copy) that does the same amount of work.
// The brightfield finder on frames of countless tiny objects (uniform noise, a 1-pixel
// checkerboard), against the library calls that find and fill those objects: each object costs
// its own size. On the checkerboard both are the library's contour search of its one object with
// a hole at every other pixel.
#include "CellCounter.h"
#include "ClassicCounter.h"

#include <opencv2/imgproc.hpp>

#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 1280, kHeight = 1024;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

// Cells on a bright, unevenly lit field with sensor noise, from a fixed seed; channels bytes per pixel.
std::vector<unsigned char> frame(int channels)
{
    std::vector<unsigned char> f(kPixels * size_t(channels));
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 4.0);
    for (size_t i = 0; i < kPixels; ++i) {
        const int x = int(i % kWidth), y = int(i / kWidth);
        const int dx = x % 61 - 30, dy = y % 53 - 26, r2 = dx * dx + dy * dy;
        const double light = 200.0 - 0.00005 * ((x - 640) * (x - 640) + (y - 512) * (y - 512));
        const double cell = r2 < 100 ? 40.0 : r2 < 196 ? -110.0 : 0.0;
        const auto v = static_cast<unsigned char>(std::clamp(light + cell + noise(rng), 0.0, 255.0));
        for (int c = 0; c < channels; ++c)
            f[i * size_t(channels) + size_t(c)] = v;
    }
    return f;
}

// The uneven light alone, as the flat field.
std::vector<unsigned char> flatField()
{
    std::vector<unsigned char> f(kPixels * 3);
    for (size_t i = 0; i < kPixels; ++i) {
        const int x = int(i % kWidth), y = int(i / kWidth);
        const double light = 200.0 - 0.00005 * ((x - 640) * (x - 640) + (y - 512) * (y - 512));
        std::fill_n(&f[i * 3], 3, static_cast<unsigned char>(light));
    }
    return f;
}

void engine_frame_io(benchmark::State &state)
{
    std::vector<unsigned char> grey = frame(1);
    Quorvan::CellCounter engine(5, kHeight, kWidth, 0.0001f, 10, 3.63f);
    for (auto _ : state) {
        engine.setImageData(grey.data(), 0, false);
        benchmark::DoNotOptimize(engine.getImageData(11, false, 2));
    }
}

// The bytes handed in and out: one frame in, one 3-byte picture out.
void engine_frame_io_floor(benchmark::State &state)
{
    const std::vector<unsigned char> grey = frame(1), tag(kPixels * 3);
    std::vector<unsigned char> in(grey.size()), out(tag.size());
    for (auto _ : state) {
        std::memcpy(in.data(), grey.data(), grey.size());
        std::memcpy(out.data(), tag.data(), tag.size());
        benchmark::ClobberMemory();
    }
}

void engine_correct_shading(benchmark::State &state)
{
    std::vector<unsigned char> colour = frame(3), flat = flatField();
    Quorvan::CellCounter engine(0, kHeight, kWidth, 0.0001f, 10, 3.63f);
    engine.setImageData(flat.data(), 6, false);
    engine.setImageData(colour.data(), 0, false);
    for (auto _ : state) {
        engine.correctShading(0);
        benchmark::ClobberMemory();
    }
}

void engine_correct_shading_floor(benchmark::State &state)
{
    std::vector<unsigned char> grey = frame(1), flat3 = flatField();
    const cv::Mat source(kHeight, kWidth, CV_8UC1, grey.data());
    cv::Mat flat, corrected(kHeight, kWidth, CV_8UC1);
    cv::extractChannel(cv::Mat(kHeight, kWidth, CV_8UC3, flat3.data()), flat, 1);
    for (auto _ : state) {
        cv::divide(source, flat, corrected, cv::mean(flat)[0]);
        benchmark::ClobberMemory();
    }
}

void engine_auto_threshold(benchmark::State &state)
{
    std::vector<unsigned char> grey = frame(1);
    Quorvan::CellCounter engine(5, kHeight, kWidth, 0.0001f, 10, 3.63f);
    engine.setImageData(grey.data(), 0, false);
    for (auto _ : state) {
        engine.autoThreshold(0, 0);
        benchmark::ClobberMemory();
    }
}

void engine_auto_threshold_floor(benchmark::State &state)
{
    std::vector<unsigned char> grey = frame(1);
    const cv::Mat source(kHeight, kWidth, CV_8UC1, grey.data());
    cv::Mat mask(kHeight, kWidth, CV_8UC1);
    for (auto _ : state) {
        cv::threshold(source, mask, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
        cv::medianBlur(mask, mask, 3);
        benchmark::ClobberMemory();
    }
}

// A uniform frame makes every pixel a candidate of one key: the worst case of the suppression.
// Smoothing keeps it uniform, so the frame is set up once.
void local_maxima_uniform(benchmark::State &state)
{
    Quorvan::CellCounter engine(5, kHeight, kWidth, 0.0001f, 10, 3.63f);
    const cv::Mat image(kHeight, kWidth, CV_8UC1, cv::Scalar(10)), mask(kHeight, kWidth, CV_8UC1, cv::Scalar(255));
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.getVorelLocalMaxima(image, mask, 0, 20.0f, 5, 0.0f, 5, {}));
}

void local_maxima_uniform_floor(benchmark::State &state)
{
    const cv::Mat image(kHeight, kWidth, CV_8UC1, cv::Scalar(10));
    cv::Mat smoothed(kHeight, kWidth, CV_8UC1);
    for (auto _ : state) {
        cv::GaussianBlur(image, smoothed, cv::Size(3, 3), 3.0, 0.0);
        benchmark::ClobberMemory();
    }
}

// A drawn two-colour set of 400 cells on a 20 x 20 grid: brightfield dark discs, every third cell
// dead (red), the others live (green). Planes in the order the engine's channels take them.
struct TwoColourSet
{
    cv::Mat bright, green, red;
};

const TwoColourSet &twoColourSet()
{
    static const TwoColourSet set = [] {
        TwoColourSet s{cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(180)), cv::Mat::zeros(kHeight, kWidth, CV_8UC1),
                       cv::Mat::zeros(kHeight, kWidth, CV_8UC1)};
        std::mt19937 rng(7);
        for (int i = 0; i < 400; ++i) {
            const cv::Point at(32 + 64 * (i % 20) + int(rng() % 9) - 4, 26 + 50 * (i / 20) + int(rng() % 9) - 4);
            const int r = 9 + int(rng() % 4);
            cv::circle(s.bright, at, r, cv::Scalar(50), cv::FILLED);
            cv::circle(i % 3 == 0 ? s.red : s.green, at, r, cv::Scalar(150 + int(rng() % 60)), cv::FILLED);
        }
        return s;
    }();
    return set;
}

// A mode-1 engine holding the set, its overlay mask made at a fixed level (the stains are flat discs,
// which the automatic level would split).
std::unique_ptr<Quorvan::CellCounter> twoColourEngine()
{
    auto engine = std::make_unique<Quorvan::CellCounter>(1, kHeight, kWidth, 0.0001f, 6.55f, 3.63f);
    engine->setSizeCalibration(1.0f, 0.0f);
    const TwoColourSet &s = twoColourSet();
    for (const auto &[channel, plane] : {std::pair{1, &s.bright}, {2, &s.green}, {3, &s.red}, {5, &s.bright}}) {
        cv::Mat pixels;
        cv::cvtColor(*plane, pixels, cv::COLOR_GRAY2BGR);
        engine->setImageData(pixels.data, channel, false);
    }
    engine->makeOverlayMaskImageData(100, 100, 0, 0, 0, 0);
    return engine;
}

void count_twocolour(benchmark::State &state)
{
    cv::setNumThreads(1);
    auto engine = twoColourEngine();
    int live = 0, dead = 0;
    float size = 0, green = 0, red = 0, liveGreen = 0, deadRed = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->findObjects(3, 60, 1.5f, 20, 20, 50.0f, 0, live, dead, size, green, red,
                                                     liveGreen, deadRed, false, 0));
    state.counters["live"] = live;
    state.counters["dead"] = dead;
}

// The classic counter on the brightfield plane.
void count_twocolour_floor(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat &bright = twoColourSet().bright;
    for (auto _ : state)
        classicCount(bright);
}

void quick_count(benchmark::State &state)
{
    cv::setNumThreads(1);
    auto engine = twoColourEngine();
    int count = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->findObjects(count));
    state.counters["cells"] = count;
}

// One threshold and one contour search of the green plane.
void quick_count_floor(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat &green = twoColourSet().green;
    cv::Mat mask;
    for (auto _ : state) {
        cv::threshold(green, mask, 100, 255, cv::THRESH_BINARY);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        benchmark::DoNotOptimize(contours.data());
    }
}

// Frames made of tiny objects: 0 uniform noise, 1 a 1-pixel checkerboard of 40 and 180.
cv::Mat tinyObjects(int kind)
{
    cv::Mat grey(kHeight, kWidth, CV_8UC1);
    if (kind == 0) {
        cv::RNG rng(11);
        rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
    } else {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                grey.at<uchar>(y, x) = (x + y) % 2 ? 180 : 40;
    }
    return grey;
}

void brightfield_tiny(benchmark::State &state, int kind)
{
    cv::setNumThreads(1);
    cv::Mat grey = tinyObjects(kind);
    Quorvan::CellCounter engine(5, kHeight, kWidth, 0.0001f, 10, 3.63f);
    engine.setSizeCalibration(1.0f, 0.0f);
    int live = 0, dead = 0;
    for (auto _ : state) {
        float size = 0, intensity = 0;
        engine.setImageData(grey.data, 0, false);
        benchmark::DoNotOptimize(engine.findObjects4(0, 90, 0, 1.5f, 150, 200, 50.0f, 30.0f, 6, 0.5f, 2.0f, live,
                                                     dead, size, intensity, true, false, 0));
    }
    state.counters["objects"] = live + dead;
}

// The threshold with its median, the contours, and for each object its circle, its rectangle and
// its outline filled in a mask of its box.
void brightfield_tiny_floor(benchmark::State &state, int kind)
{
    cv::setNumThreads(1);
    const cv::Mat grey = tinyObjects(kind);
    cv::Mat mask;
    for (auto _ : state) {
        cv::threshold(grey, mask, 95, 255, cv::THRESH_BINARY_INV);
        cv::medianBlur(mask, mask, 3);
        std::vector<std::vector<cv::Point>> contours;
        std::vector<cv::Vec4i> hierarchy;
        cv::findContours(mask, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
        for (size_t i = 0; i < contours.size(); ++i) {
            if (hierarchy[i][3] >= 0)
                continue;
            cv::Point2f centre;
            float radius = 0;
            cv::minEnclosingCircle(contours[i], centre, radius);
            const cv::Rect box = cv::minAreaRect(contours[i]).boundingRect() & cv::Rect(0, 0, grey.cols, grey.rows);
            cv::Mat filled = cv::Mat::zeros(box.size(), CV_8UC1);
            cv::fillPoly(filled, std::vector<std::vector<cv::Point>>{contours[i]}, cv::Scalar(255), cv::LINE_8, 0,
                         -box.tl());
            benchmark::DoNotOptimize(filled.data);
        }
    }
}

void brightfield_noise(benchmark::State &state) { brightfield_tiny(state, 0); }
void brightfield_noise_floor(benchmark::State &state) { brightfield_tiny_floor(state, 0); }
void brightfield_checkerboard(benchmark::State &state) { brightfield_tiny(state, 1); }
void brightfield_checkerboard_floor(benchmark::State &state) { brightfield_tiny_floor(state, 1); }

} // namespace

BENCHMARK(brightfield_noise)->Unit(benchmark::kMillisecond);
BENCHMARK(brightfield_noise_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(brightfield_checkerboard)->Unit(benchmark::kMillisecond);
BENCHMARK(brightfield_checkerboard_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(count_twocolour)->Unit(benchmark::kMillisecond);
BENCHMARK(count_twocolour_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(quick_count)->Unit(benchmark::kMicrosecond);
BENCHMARK(quick_count_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(local_maxima_uniform)->Unit(benchmark::kMicrosecond);
BENCHMARK(local_maxima_uniform_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(engine_frame_io)->Unit(benchmark::kMicrosecond);
BENCHMARK(engine_frame_io_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(engine_correct_shading)->Unit(benchmark::kMicrosecond);
BENCHMARK(engine_correct_shading_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(engine_auto_threshold)->Unit(benchmark::kMicrosecond);
BENCHMARK(engine_auto_threshold_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
