// ImMeasurer checked against independent computations: plain loops, OpenCV calls other than the
// measurer's, and numpy on frames written out by the test. Frames come from seeded generators, in
// both depths.
#include "ImMeasurer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>

namespace {

constexpr int W = ImMeasurer::kFrameWidth;
constexpr int H = ImMeasurer::kFrameHeight;

// A synthetic frame: the values a measurer must see (CV_32S) and the bytes the camera delivers.
struct SyntheticFrame
{
    int bits = 8;
    cv::Mat values;
    QByteArray wire;
};

// Smooth background, bright and dark discs of several sizes, then noise: edges for the focus
// value and varied statistics for the region tools.
SyntheticFrame makeFrame(int bits, unsigned seed)
{
    std::mt19937 rng(seed);
    const double top = bits == 8 ? 255.0 : 4095.0;
    cv::Mat scene(H, W, CV_64F);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            scene.at<double>(y, x) = top * (0.25 + 0.2 * x / W + 0.1 * y / H);
    std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1), radius(3, 60), nibble(0, 15);
    std::uniform_real_distribution<double> level(0.0, top);
    for (int i = 0; i < 150; ++i)
        cv::circle(scene, {px(rng), py(rng)}, radius(rng), cv::Scalar(level(rng)), cv::FILLED);
    std::normal_distribution<double> noise(0.0, top / 40.0);
    SyntheticFrame f{bits, cv::Mat(H, W, CV_32S), QByteArray(W * H * (bits / 8), 0)};
    auto *out = reinterpret_cast<uchar *>(f.wire.data());
    for (int i = 0; i < W * H; ++i) {
        const int v = f.values.at<int>(i / W, i % W) = int(std::clamp(std::lround(scene.at<double>(i / W, i % W) + noise(rng)), 0L, long(top)));
        // 16 bits: big-endian words, the value shifted left by four; the low nibble carries no data.
        const int word = (v << 4) | nibble(rng);
        out[bits == 8 ? i : 2 * i] = uchar(bits == 8 ? v : word >> 8);
        if (bits == 16)
            out[2 * i + 1] = uchar(word & 0xFF);
    }
    return f;
}

// Minimum, maximum, mean, standard deviation and histogram of the region, computed on its values.
void compareRegionFigures(const TSMeasurementItem &item, const SyntheticFrame &f, cv::Rect r)
{
    const cv::Mat region = f.values(r);
    std::vector<int> histogram(f.bits == 8 ? 256 : 4096, 0);
    for (auto it = region.begin<int>(); it != region.end<int>(); ++it)
        ++histogram[*it];
    double lo = 0, hi = 0;
    cv::minMaxLoc(region, &lo, &hi);
    cv::Scalar mean, stddev;
    cv::meanStdDev(region, mean, stddev);
    QCOMPARE(item.roi, r);
    QCOMPARE(item.minIntensity, lo);
    QCOMPARE(item.maxIntensity, hi);
    QVERIFY2(std::abs(item.meanIntensity - mean[0]) <= 1e-4 * mean[0] + 1e-3, qPrintable(QString("mean %1 vs %2").arg(item.meanIntensity).arg(mean[0])));
    QVERIFY2(std::abs(item.stdIntensity - stddev[0]) <= 1e-4 * stddev[0] + 1e-3, qPrintable(QString("std %1 vs %2").arg(item.stdIntensity).arg(stddev[0])));
    QVERIFY(item.histogram == histogram);
    QCOMPARE(item.histogramMaxCount, *std::max_element(histogram.begin(), histogram.end()));
}

double closedPerimeter(const std::vector<cv::Point> &pts)
{
    double p = 0;
    for (size_t i = 0; i < pts.size(); ++i)
        p += cv::norm(pts[(i + 1) % pts.size()] - pts[i]);
    return p;
}

// Pixel centres of the region inside the contour (boundary pixels may go either way).
int pixelsInside(const std::vector<cv::Point2f> &contour, cv::Rect r)
{
    int inside = 0;
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x)
            inside += cv::pointPolygonTest(contour, cv::Point2f(float(x), float(y)), false) >= 0;
    return inside;
}

TSMeasurementItem measureTwoPoint(ImMeasurer &m, TMeasurementTool tool, cv::Point a, cv::Point b)
{
    m.setCurrentMeasurementTool(tool);
    return m.setROIImage(a, b) ? m.measure({a, b}) : TSMeasurementItem();
}

} // namespace

class TestImMeasurer : public QObject
{
    Q_OBJECT

    // The frame of the current data row's depth and one measurer fed with it once.
    std::pair<const SyntheticFrame &, ImMeasurer &> current()
    {
        QFETCH(int, bits);
        const int i = bits == 8 ? 0 : 1;
        if (m_Frames[i].values.empty()) {
            m_Frames[i] = makeFrame(bits, 20240 + bits);
            m_Measurers[i].setImageData(m_Frames[i].wire.data(), W, H, bits);
        }
        return {m_Frames[i], m_Measurers[i]};
    }

    SyntheticFrame m_Frames[2];
    ImMeasurer m_Measurers[2];

    static void depths_data()
    {
        QTest::addColumn<int>("bits");
        QTest::newRow("8-bit") << 8;
        QTest::newRow("16-bit") << 16;
    }

private slots:

    void frameIntake_data() { depths_data(); }
    void frameIntake()
    {
        const auto [f, m] = current();
        int mismatches = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                mismatches += m.intensity({x, y}) != f.values.at<int>(y, x);
        QCOMPARE(mismatches, 0);
        QVERIFY(std::abs(m.GetAveIntensityValue() - cv::mean(f.values)[0]) < 1e-6);
        QVERIFY(m.intensity({W, 0}) == 0 && m.intensity({0, -1}) == 0); // nothing outside the frame
        // A depth the measurer does not know reads as 0 and gives no histogram.
        ImMeasurer other;
        std::vector<uchar> bytes(size_t(W) * H * 2, 0x7F);
        other.setImageData(bytes.data(), W, H, 12);
        QCOMPARE(other.intensity({5, 5}), 0);
        QVERIFY(measureTwoPoint(other, TOOL_RECTANGLE, {0, 0}, {10, 10}).histogram.empty());
    }

    // Rectangles, ellipses and the whole image, with corners kept on the frame.
    void regions_data() { depths_data(); }
    void regions()
    {
        const auto [f, m] = current();
        std::mt19937 rng(7 + f.bits);
        std::uniform_int_distribution<int> px(0, W), py(0, H);
        for (int trial = 0; trial < 6; ++trial) {
            const cv::Point a(px(rng), py(rng)), b(px(rng), py(rng));
            if (std::abs(a.x - b.x) < 2 || std::abs(a.y - b.y) < 2)
                continue;
            const cv::Rect r(cv::Point(std::min(a.x, b.x), std::min(a.y, b.y)), cv::Point(std::max(a.x, b.x), std::max(a.y, b.y)));
            TSMeasurementItem item = measureTwoPoint(m, TOOL_RECTANGLE, a, b);
            QCOMPARE(item.area, float(r.area()));
            QCOMPARE(item.length, float(2 * (r.width + r.height)));
            compareRegionFigures(item, f, r);
            QCOMPARE(cv::countNonZero(m.mask()), r.area());

            item = measureTwoPoint(m, TOOL_ELLIPSE, a, b);
            compareRegionFigures(item, f, r);
            const double perimeter = 2 * M_PI * std::sqrt((std::pow(r.width / 2.0, 2) + std::pow(r.height / 2.0, 2)) / 2);
            // Pixels inside the analytic ellipse inscribed in the region.
            const double cx = r.width / 2, cy = r.height / 2;
            int inside = 0;
            for (int y = 0; y < r.height; ++y)
                for (int x = 0; x < r.width; ++x)
                    inside += std::pow((x - cx) / cx, 2) + std::pow((y - cy) / cy, 2) <= 1.0;
            QVERIFY2(std::abs(item.area - inside) <= perimeter, qPrintable(QString("area %1 vs %2").arg(item.area).arg(inside)));
            QCOMPARE(item.area, float(cv::countNonZero(m.mask())));
            QVERIFY(std::abs(item.length - perimeter) < 1e-3 * perimeter);
            // Circularity divides by the closed outline of the two corners: twice the diagonal.
            QVERIFY(std::abs(item.circularity - 4 * M_PI * item.area / std::pow(closedPerimeter({a, b}), 2)) < 1e-5);
        }
        QVERIFY(std::abs(measureTwoPoint(m, TOOL_ELLIPSE, {300, 300}, {500, 500}).circularity - 1.23) < 0.02);

        const TSMeasurementItem whole = measureTwoPoint(m, TOOL_WHOLE_IMAGE, {0, 0}, {W, H});
        compareRegionFigures(whole, f, cv::Rect(0, 0, W, H));
        QVERIFY(whole.length == 0.0f && whole.area == 0.0f);

        // A drag without width is one pixel wide; a click without a drag is refused and changes nothing.
        QCOMPARE(measureTwoPoint(m, TOOL_RECTANGLE, {100, 100}, {100, 300}).roi, cv::Rect(100, 100, 1, 200));
        QTest::ignoreMessage(QtDebugMsg, "== error ROI Rect");
        QVERIFY(!m.setROIImage(cv::Point(40, 40), cv::Point(40, 40)));
        QCOMPARE(m.measure({}).roi, cv::Rect(100, 100, 1, 200));
        // Corners beyond the frame are clamped; along the far edges a region without extent is the
        // last column or row.
        compareRegionFigures(measureTwoPoint(m, TOOL_RECTANGLE, {1500, -20}, {1000, 300}), f, cv::Rect(1000, 0, 280, 300));
        compareRegionFigures(measureTwoPoint(m, TOOL_RECTANGLE, {1280, 10}, {1280, 50}), f, cv::Rect(W - 1, 10, 1, 40));
        compareRegionFigures(measureTwoPoint(m, TOOL_WHOLE_IMAGE, {2000, 5000}, {600, 1024}), f, cv::Rect(600, H - 1, 680, 1));
    }

    void polygon_data() { depths_data(); }
    void polygon()
    {
        const auto [f, m] = current();
        m.setCurrentMeasurementTool(TOOL_POLYGON);
        // An axis-aligned box drawn as a polygon covers both end pixels in each direction.
        std::vector<cv::Point> box = {{10, 10}, {50, 10}, {50, 30}, {10, 30}, {10, 10}};
        QVERIFY(m.setROIImage(box));
        TSMeasurementItem item = m.measure(box);
        QVERIFY(item.area == 41.0f * 21.0f && item.length == 120.0f);
        compareRegionFigures(item, f, cv::Rect(10, 10, 41, 21));

        // Triangles with the closing point repeated: length is the perimeter.
        std::mt19937 rng(99 + f.bits);
        std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1);
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<cv::Point> tri = {{px(rng), py(rng)}, {px(rng), py(rng)}, {px(rng), py(rng)}};
            const double perimeter = closedPerimeter(tri);
            const std::vector<cv::Point2f> contour(tri.begin(), tri.end());
            tri.push_back(tri.front());
            QVERIFY(m.setROIImage(tri));
            item = m.measure(tri);
            const cv::Rect r = cv::boundingRect(tri);
            compareRegionFigures(item, f, r);
            QVERIFY(std::abs(item.length - perimeter) < 1e-3);
            QVERIFY2(std::abs(item.area - pixelsInside(contour, r)) <= perimeter, qPrintable(QString::number(item.area)));
            QVERIFY(std::abs(item.circularity - 4 * M_PI * item.area / (perimeter * perimeter)) < 1e-5);
        }

        // Point lists reaching outside the frame are clipped.
        std::vector<cv::Point> outside = {{-50, -50}, {300, -10}, {300, 200}, {-40, 250}};
        QVERIFY(m.setROIImage(outside));
        compareRegionFigures(m.measure(outside), f, cv::Rect(0, 0, 301, 251));
        // A polygon of one repeated point has no perimeter: circularity 0, not a division by zero.
        std::vector<cv::Point> dot = {{400, 400}, {400, 400}};
        QVERIFY(m.setROIImage(dot));
        item = m.measure(dot);
        QVERIFY(item.circularity == 0.0f && item.area == 1.0f && item.length == 0.0f);

        m.setCurrentMeasurementTool(TOOL_SEGMENT_LINE);
        std::vector<cv::Point> beyond = {{1300, 10}, {1900, 700}}, none;
        QVERIFY(!m.setROIImage(beyond) && !m.setROIImage(none));
    }

    void lineProfile_data() { depths_data(); }
    void lineProfile()
    {
        const auto [f, m] = current();
        // Lines in every direction, against samples placed independently along the segment. The
        // measurer reaches a sample by adding up steps, so one exactly on a pixel border may land on
        // either side.
        const auto pixelsAt = [](double c, int size) {
            std::vector<int> pixels = {std::min(int(c), size - 1)};
            if (std::abs(c - std::round(c)) < 1e-6 && c >= 1 && c < size)
                pixels.push_back(int(std::round(c)) - 1);
            return pixels;
        };
        std::mt19937 rng(5 + f.bits);
        std::uniform_int_distribution<int> px(0, W), py(0, H);
        std::vector<std::pair<cv::Point, cv::Point>> lines = {{{10, 10}, {20, 10}}, {{1200, 1024}, {1280, 1024}}, {{1280, 0}, {1280, 1024}}};
        for (int trial = 0; trial < 12; ++trial)
            lines.push_back({{px(rng), py(rng)}, {px(rng), py(rng)}});
        for (const auto &[a, b] : lines) {
            if (a == b)
                continue;
            const TSMeasurementItem item = measureTwoPoint(m, TOOL_LINE, a, b);
            const double len = cv::norm(b - a);
            QVERIFY(std::abs(item.length - len) < 1e-3 && item.histogram.empty());
            const int n = int(std::nearbyint(float(len)));
            QCOMPARE(int(item.profile.size()), n + 1);
            double sum = 0;
            for (int i = 0; i <= n; ++i) {
                const double x = a.x + (b.x - a.x) * double(i) / n, y = a.y + (b.y - a.y) * double(i) / n;
                const int v = item.profile[i];
                bool found = false;
                for (int col : pixelsAt(x, W))
                    for (int row : pixelsAt(y, H))
                        found = found || f.values.at<int>(row, col) == v;
                QVERIFY2(found, qPrintable(QString("sample %1 of line %2,%3-%4,%5").arg(i).arg(a.x).arg(a.y).arg(b.x).arg(b.y)));
                sum += v;
            }
            const auto [lo, hi] = std::minmax_element(item.profile.begin(), item.profile.end());
            QVERIFY(item.minIntensity == *lo && item.maxIntensity == *hi);
            QVERIFY(std::abs(item.meanIntensity - sum / (n + 1)) < 1e-3 * sum / (n + 1) + 1e-3);
        }
    }

    void anglesPathsAndCounts()
    {
        ImMeasurer m;
        m.setCurrentMeasurementTool(TOOL_ANGLE);
        const auto angleOf = [&m](cv::Point a, cv::Point v, cv::Point b) { return m.measure({a, v, b}).angle; };
        QCOMPARE(angleOf({100, 0}, {0, 0}, {0, 100}), 90.0f);
        // Against the angle between the arms' directions.
        std::mt19937 rng(31);
        std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1);
        for (int trial = 0; trial < 100; ++trial) {
            const cv::Point a(px(rng), py(rng)), v(px(rng), py(rng)), b(px(rng), py(rng));
            const double diff = std::abs(std::remainder(std::atan2(b.y - v.y, b.x - v.x) - std::atan2(a.y - v.y, a.x - v.x), 2 * M_PI)) * 180.0 / M_PI;
            QVERIFY2(a == v || b == v || std::abs(angleOf(a, v, b) - diff) < 0.05, qPrintable(QString("%1 vs %2").arg(angleOf(a, v, b)).arg(diff)));
        }
        // Collinear arms, where rounding of the arm lengths takes the cosine just past +-1.
        for (int k = 1; k < 400; ++k) {
            const cv::Point v(k, 2 * k + 1), dir(3, 7);
            const float same = angleOf(v + dir * k, v, v + dir * (k + 3)), opposite = angleOf(v + dir * k, v, v - dir * (2 * k + 1));
            QVERIFY2(std::abs(same) < 0.1f && std::abs(opposite - 180.0f) < 0.1f, qPrintable(QString("%1 %2").arg(same).arg(opposite)));
        }
        // An arm without length gives 0, as does a point list of the wrong size.
        QVERIFY(angleOf({50, 50}, {50, 50}, {80, 90}) == 0.0f && angleOf({50, 50}, {80, 90}, {80, 90}) == 0.0f);
        QCOMPARE(m.measure({{1, 1}, {2, 2}}).angle, 0.0f);

        std::vector<cv::Point> path;
        double expected = 0;
        for (int i = 0; i < 50; ++i) {
            path.emplace_back(px(rng), py(rng));
            expected += i > 0 ? cv::norm(path[i] - path[i - 1]) : 0.0;
        }
        for (TMeasurementTool tool : {TOOL_SEGMENT_LINE, TOOL_FREE_HAND}) {
            m.setCurrentMeasurementTool(tool);
            QVERIFY(m.setROIImage(path));
            QVERIFY(std::abs(m.measure(path).length - expected) < 1e-6 * expected);
            QCOMPARE(m.measure(path).roi, cv::boundingRect(path));
        }
        for (TMeasurementTool tool : {TOOL_MULTI_COUNT, TOOL_CIRCLE_COUNT}) {
            m.setCurrentMeasurementTool(tool);
            QVERIFY(m.measure(path).count == 50 && m.measure({}).count == 0);
        }
    }

    // The whole focus figure computed by numpy from the raw frame: a 5 x 5 Gaussian blur (sigma 2,
    // reflected border) rounded to 8 bits, then 255 per pixel whose Laplacian exceeds 5.
    void focusValueAgreesWithNumpy()
    {
        QTemporaryDir dir;
        for (unsigned seed : {11u, 12u}) {
            const SyntheticFrame f = makeFrame(8, seed);
            const QString path = dir.filePath(QString("frame%1.raw").arg(seed));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(f.wire) == f.wire.size() && file.flush());
            const char *script = R"(
import sys, numpy as np
img = np.fromfile(sys.argv[1], dtype=np.uint8).reshape(1024, 1280).astype(np.float64)
x = np.arange(5) - 2
k = np.exp(-x * x / (2 * 2.0 ** 2)); k /= k.sum()
def blur(a, axis):
    p = np.pad(a, [(2, 2) if i == axis else (0, 0) for i in range(2)], mode='reflect')
    return sum(k[i] * np.take(p, np.arange(i, i + a.shape[axis]), axis=axis) for i in range(5))
b = np.floor(blur(blur(img, 1), 0) + 0.5)
p = np.pad(b, 1, mode='reflect')
lap = p[:-2, 1:-1] + p[2:, 1:-1] + p[1:-1, :-2] + p[1:-1, 2:] - 4 * b
print(int(np.count_nonzero(np.clip(lap, 0, 255) > 5)) * 255)
)";
            QProcess python;
            python.start("/usr/bin/python3", {"-c", script, path});
            QVERIFY(python.waitForFinished(60000));
            QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
            const double expected = python.readAllStandardOutput().trimmed().toDouble();
            QVERIFY(expected > 0);
            ImMeasurer m;
            m.setImageData(const_cast<char *>(f.wire.constData()), W, H, 8);
            const double focus = m.GetFocusValue(false);
            // The measurer blurs in fixed point: a handful of border-line pixels may differ.
            QVERIFY2(std::abs(focus - expected) <= 0.005 * expected, qPrintable(QString("%1 vs numpy %2").arg(focus).arg(expected)));
            // It keeps the blurred frame, and its region shows it.
            m.setCurrentMeasurementTool(TOOL_WHOLE_IMAGE);
            QVERIFY(m.setROIImage(cv::Point(0, 0), cv::Point(W, H)));
            QVERIFY(std::abs(m.measure({}).meanIntensity - m.GetAveIntensityValue()) < 1e-3);
        }
        // A flat frame has no edges; a 16-bit frame gives no figure and stays as it was.
        std::vector<uchar> flat(size_t(W) * H, 90);
        ImMeasurer m;
        m.setImageData(flat.data(), W, H, 8);
        QCOMPARE(m.GetFocusValue(true), 0.0);
        const SyntheticFrame wide = makeFrame(16, 4);
        m.setImageData(const_cast<char *>(wide.wire.constData()), W, H, 16);
        QCOMPARE(m.GetFocusValue(false), 0.0);
        QCOMPARE(m.intensity({640, 512}), wide.values.at<int>(512, 640));
    }
};

QTEST_GUILESS_MAIN(TestImMeasurer)
#include "tst_immeasurer.moc"
