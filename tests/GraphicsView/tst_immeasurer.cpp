// ImMeasurer checked against independent computations: plain loops, OpenCV calls other than the
// measurer's, and numpy on frames written out by the test. Frames come from seeded generators, in
// both depths.
#include "ImMeasurer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <numeric>
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
    std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1), radius(3, 60);
    std::uniform_real_distribution<double> level(0.0, top);
    for (int i = 0; i < 150; ++i)
        cv::circle(scene, {px(rng), py(rng)}, radius(rng), cv::Scalar(level(rng)), cv::FILLED);
    std::normal_distribution<double> noise(0.0, top / 40.0);
    SyntheticFrame f;
    f.bits = bits;
    f.values.create(H, W, CV_32S);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            f.values.at<int>(y, x) = int(std::clamp(std::lround(scene.at<double>(y, x) + noise(rng)), 0L, long(top)));

    std::uniform_int_distribution<int> nibble(0, 15);
    f.wire.resize(W * H * (bits == 8 ? 1 : 2));
    uchar *out = reinterpret_cast<uchar *>(f.wire.data());
    for (int i = 0; i < W * H; ++i) {
        const int v = f.values.at<int>(i / W, i % W);
        if (bits == 8) {
            out[i] = uchar(v);
        } else {
            // Big-endian word, value shifted left by four; the low nibble carries no data.
            const int word = (v << 4) | nibble(rng);
            out[2 * i] = uchar(word >> 8);
            out[2 * i + 1] = uchar(word & 0xFF);
        }
    }
    return f;
}

struct RegionStats
{
    double min = 0, max = 0, mean = 0, stddev = 0;
    std::vector<int> histogram;
};

RegionStats regionStats(const SyntheticFrame &f, cv::Rect r)
{
    RegionStats s;
    s.min = 1e9;
    s.max = -1;
    s.histogram.assign(f.bits == 8 ? 256 : 4096, 0);
    double sum = 0, squares = 0;
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) {
            const int v = f.values.at<int>(y, x);
            s.min = std::min(s.min, double(v));
            s.max = std::max(s.max, double(v));
            sum += v;
            squares += double(v) * v;
            ++s.histogram[v];
        }
    const double n = double(r.area());
    s.mean = sum / n;
    s.stddev = std::sqrt(std::max(0.0, squares / n - s.mean * s.mean));
    return s;
}

double closedPerimeter(const std::vector<cv::Point> &pts)
{
    double p = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        const cv::Point d = pts[(i + 1) % pts.size()] - pts[i];
        p += std::sqrt(double(d.x) * d.x + double(d.y) * d.y);
    }
    return p;
}

void compareRegionFigures(const TSMeasurementItem &item, const SyntheticFrame &f, cv::Rect r)
{
    const RegionStats s = regionStats(f, r);
    QCOMPARE(item.roi, r);
    QCOMPARE(item.minIntensity, s.min);
    QCOMPARE(item.maxIntensity, s.max);
    QVERIFY2(std::abs(item.meanIntensity - s.mean) <= 1e-4 * s.mean + 1e-3,
             qPrintable(QString("mean %1 vs %2").arg(item.meanIntensity).arg(s.mean)));
    QVERIFY2(std::abs(item.stdIntensity - s.stddev) <= 1e-4 * s.stddev + 1e-3,
             qPrintable(QString("std %1 vs %2").arg(item.stdIntensity).arg(s.stddev)));
    QVERIFY(item.histogram == s.histogram);
    QCOMPARE(item.histogramMaxCount, *std::max_element(s.histogram.begin(), s.histogram.end()));
    QCOMPARE(item.histogramMinCount, *std::min_element(s.histogram.begin(), s.histogram.end()));
}

// The mask of the current region: 8-bit, only 0 and 255, of the region's size.
void checkMaskLayout(const ImMeasurer &m, cv::Rect r)
{
    const cv::Mat &mask = m.mask();
    QCOMPARE(mask.type(), CV_8UC1);
    QCOMPARE(mask.cols, r.width);
    QCOMPARE(mask.rows, r.height);
    QCOMPARE(cv::countNonZero(mask) + cv::countNonZero(mask == 0), r.area());
    QCOMPARE(cv::countNonZero(mask == 255) + cv::countNonZero(mask == 0), r.area());
}

// The pixel index holding coordinate c, kept on the frame. The measurer reaches a sample by
// adding up steps, so a sample that lies exactly on a pixel border may land on either side.
std::vector<int> pixelsAt(double c, int size)
{
    std::vector<int> pixels = {std::min(int(c), size - 1)};
    if (std::abs(c - std::round(c)) < 1e-6 && c >= 1 && c < size)
        pixels.push_back(int(std::round(c)) - 1);
    return pixels;
}

// A python3 that has numpy: the system's, else the first on the path.
QString pythonWithNumpy()
{
    for (const QString &candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess probe;
        probe.start(candidate, {"-c", "import numpy"});
        if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return candidate;
    }
    return {};
}

TSMeasurementItem measureTwoPoint(ImMeasurer &m, TMeasurementTool tool, cv::Point a, cv::Point b)
{
    m.setCurrentMeasurementTool(tool);
    if (!m.setROIImage(a, b))
        return {};
    return m.measure({a, b});
}

} // namespace

class TestImMeasurer : public QObject
{
    Q_OBJECT

private slots:
    void depths_data();
    void frameIntake_data() { depths_data(); }
    void frameIntake();
    void rectangleAndWholeImage_data() { depths_data(); }
    void rectangleAndWholeImage();
    void ellipse_data() { depths_data(); }
    void ellipse();
    void polygon_data() { depths_data(); }
    void polygon();
    void regionsStayInsideTheFrame_data() { depths_data(); }
    void regionsStayInsideTheFrame();
    void lineProfile_data() { depths_data(); }
    void lineProfile();
    void angles();
    void pathsAndCounts();
    void focusValue();
    void focusValueAgreesWithNumpy();

private:
    struct Current
    {
        int bits;
        const SyntheticFrame &frame;
        ImMeasurer &measurer;
    };
    // The depth of the current data row, its frame and its measurer.
    Current current();
    // One measurer per depth, fed once: the frames are large and the measurer keeps no
    // state between measurements beyond the current region.
    ImMeasurer &measurerFor(int bits);
    const SyntheticFrame &frameFor(int bits);

    SyntheticFrame m_Frames[2];
    ImMeasurer m_Measurers[2];
    bool m_Fed[2] = {false, false};
};

void TestImMeasurer::depths_data()
{
    QTest::addColumn<int>("bits");
    QTest::newRow("8-bit") << 8;
    QTest::newRow("16-bit") << 16;
}

const SyntheticFrame &TestImMeasurer::frameFor(int bits)
{
    const int i = bits == 8 ? 0 : 1;
    if (m_Frames[i].values.empty())
        m_Frames[i] = makeFrame(bits, 20240 + bits);
    return m_Frames[i];
}

ImMeasurer &TestImMeasurer::measurerFor(int bits)
{
    const int i = bits == 8 ? 0 : 1;
    if (!m_Fed[i]) {
        const SyntheticFrame &f = frameFor(bits);
        m_Measurers[i].setImageData(const_cast<char *>(f.wire.constData()), W, H, bits);
        m_Fed[i] = true;
    }
    return m_Measurers[i];
}

TestImMeasurer::Current TestImMeasurer::current()
{
    QFETCH(int, bits);
    return {bits, frameFor(bits), measurerFor(bits)};
}

void TestImMeasurer::frameIntake()
{
    const auto [bits, f, m] = current();
    int mismatches = 0;
    long double sum = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int v = f.values.at<int>(y, x);
            mismatches += m.intensity({x, y}) != v;
            sum += v;
        }
    QCOMPARE(mismatches, 0);
    QVERIFY(std::abs(m.GetAveIntensityValue() - double(sum / (W * H))) < 1e-6);
    // Outside the frame there is nothing to read.
    QCOMPARE(m.intensity({W, 0}), 0);
    QCOMPARE(m.intensity({0, -1}), 0);
    // A depth the measurer does not know reads as 0 and gives no histogram.
    ImMeasurer other;
    std::vector<uchar> bytes(size_t(W) * H * 2, 0x7F);
    other.setImageData(bytes.data(), W, H, 12);
    QCOMPARE(other.intensity({5, 5}), 0);
    QVERIFY(measureTwoPoint(other, TOOL_RECTANGLE, {0, 0}, {10, 10}).histogram.empty());
}

void TestImMeasurer::rectangleAndWholeImage()
{
    const auto [bits, f, m] = current();
    std::mt19937 rng(7 + bits);
    for (int trial = 0; trial < 12; ++trial) {
        std::uniform_int_distribution<int> px(0, W), py(0, H);
        cv::Point a(px(rng), py(rng)), b(px(rng), py(rng));
        if (a.x == b.x || a.y == b.y)
            continue;
        const TSMeasurementItem item = measureTwoPoint(m, TOOL_RECTANGLE, a, b);
        const cv::Rect r(cv::Point(std::min(a.x, b.x), std::min(a.y, b.y)),
                         cv::Point(std::max(a.x, b.x), std::max(a.y, b.y)));
        QCOMPARE(item.tool, TOOL_RECTANGLE);
        QCOMPARE(item.key, 0u);
        QCOMPARE(item.area, float(r.area()));
        QCOMPARE(item.length, float(2 * (r.width + r.height)));
        QCOMPARE(item.circularity, 0.0f);
        QCOMPARE(item.points, std::vector<cv::Point>({a, b}));
        compareRegionFigures(item, f, r);
        checkMaskLayout(m, r);
        QCOMPARE(cv::countNonZero(m.mask()), r.area());
    }

    const TSMeasurementItem whole = measureTwoPoint(m, TOOL_WHOLE_IMAGE, {0, 0}, {W, H});
    compareRegionFigures(whole, f, cv::Rect(0, 0, W, H));
    QCOMPARE(int(whole.histogram.size()), bits == 8 ? 256 : 4096);
    QCOMPARE(std::accumulate(whole.histogram.begin(), whole.histogram.end(), 0), W * H);
    QCOMPARE(whole.length, 0.0f);
    QCOMPARE(whole.area, 0.0f);
}

void TestImMeasurer::ellipse()
{
    const auto [bits, f, m] = current();
    const struct { cv::Point a, b; } cases[] = {
        {{100, 100}, {200, 200}}, {{700, 900}, {300, 640}}, {{1000, 10}, {1280, 1024}}, {{5, 5}, {45, 25}}};
    for (const auto &c : cases) {
        const TSMeasurementItem item = measureTwoPoint(m, TOOL_ELLIPSE, c.a, c.b);
        const cv::Rect r(cv::Point(std::min(c.a.x, c.b.x), std::min(c.a.y, c.b.y)),
                         cv::Point(std::max(c.a.x, c.b.x), std::max(c.a.y, c.b.y)));
        compareRegionFigures(item, f, r);
        checkMaskLayout(m, r);

        const double perimeter = 2 * M_PI * std::sqrt((std::pow(r.width / 2.0, 2) + std::pow(r.height / 2.0, 2)) / 2);
        // Pixels inside the analytic ellipse inscribed in the region.
        const double cx = r.width / 2, cy = r.height / 2, ax = r.width / 2, ay = r.height / 2;
        int inside = 0;
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x)
                inside += std::pow((x - cx) / ax, 2) + std::pow((y - cy) / ay, 2) <= 1.0;
        // Pixels the outline passes through may go either way.
        QVERIFY2(std::abs(item.area - inside) <= perimeter,
                 qPrintable(QString("area %1 vs %2").arg(item.area).arg(inside)));
        QCOMPARE(item.area, float(cv::countNonZero(m.mask())));
        QVERIFY(std::abs(item.length - perimeter) < 1e-3 * perimeter);
        // Circularity divides by the closed outline of the two corners: twice the diagonal.
        const double twoDiagonals = closedPerimeter({c.a, c.b});
        QVERIFY(std::abs(item.circularity - 4 * M_PI * item.area / (twoDiagonals * twoDiagonals)) < 1e-5);
    }
    // A circle measures about 1.23.
    const TSMeasurementItem circle = measureTwoPoint(m, TOOL_ELLIPSE, {300, 300}, {500, 500});
    QVERIFY(std::abs(circle.circularity - 1.23) < 0.02);
}

void TestImMeasurer::polygon()
{
    const auto [bits, f, m] = current();
    m.setCurrentMeasurementTool(TOOL_POLYGON);

    // An axis-aligned box drawn as a polygon covers both end pixels in each direction.
    std::vector<cv::Point> box = {{10, 10}, {50, 10}, {50, 30}, {10, 30}, {10, 10}};
    QVERIFY(m.setROIImage(box));
    TSMeasurementItem item = m.measure(box);
    QCOMPARE(item.area, 41.0f * 21.0f);
    QCOMPARE(item.length, 120.0f);
    compareRegionFigures(item, f, cv::Rect(10, 10, 41, 21));

    // Triangles with the closing point repeated: length is the perimeter; area against a point
    // test of every pixel centre (boundary pixels may go either way).
    std::mt19937 rng(99 + bits);
    std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1);
    for (int trial = 0; trial < 8; ++trial) {
        std::vector<cv::Point> tri = {{px(rng), py(rng)}, {px(rng), py(rng)}, {px(rng), py(rng)}};
        const double perimeter = closedPerimeter(tri);
        tri.push_back(tri.front());
        QVERIFY(m.setROIImage(tri));
        item = m.measure(tri);
        const cv::Rect r = cv::boundingRect(tri);
        compareRegionFigures(item, f, r);
        checkMaskLayout(m, r);
        QVERIFY(std::abs(item.length - perimeter) < 1e-3);

        std::vector<cv::Point2f> contour(tri.begin(), tri.end() - 1);
        int inside = 0;
        for (int y = r.y; y < r.y + r.height; ++y)
            for (int x = r.x; x < r.x + r.width; ++x)
                inside += cv::pointPolygonTest(contour, cv::Point2f(float(x), float(y)), false) >= 0;
        QVERIFY2(std::abs(item.area - inside) <= perimeter,
                 qPrintable(QString("area %1 vs %2").arg(item.area).arg(inside)));
        QVERIFY(std::abs(item.circularity - 4 * M_PI * item.area / (perimeter * perimeter)) < 1e-5);
    }

    // A polygon of one repeated point has no perimeter: circularity 0, not a division by zero.
    std::vector<cv::Point> dot = {{400, 400}, {400, 400}};
    QVERIFY(m.setROIImage(dot));
    item = m.measure(dot);
    QCOMPARE(item.circularity, 0.0f);
    QCOMPARE(item.area, 1.0f);
    QCOMPARE(item.length, 0.0f);
}

void TestImMeasurer::regionsStayInsideTheFrame()
{
    const auto [bits, f, m] = current();

    // A drag without width is one pixel wide; a click without a drag is refused.
    TSMeasurementItem item = measureTwoPoint(m, TOOL_RECTANGLE, {100, 100}, {100, 300});
    QCOMPARE(item.roi, cv::Rect(100, 100, 1, 200));
    m.setCurrentMeasurementTool(TOOL_RECTANGLE);
    QTest::ignoreMessage(QtDebugMsg, "== error ROI Rect");
    QVERIFY(!m.setROIImage(cv::Point(40, 40), cv::Point(40, 40)));
    QCOMPARE(m.measure({}).roi, cv::Rect(100, 100, 1, 200)); // the refused region changed nothing

    // Corners beyond the frame are clamped.
    item = measureTwoPoint(m, TOOL_RECTANGLE, {1500, -20}, {1000, 300});
    QCOMPARE(item.roi, cv::Rect(1000, 0, 280, 300));
    compareRegionFigures(item, f, item.roi);

    // Along the far edges a region without extent is the last column or row.
    item = measureTwoPoint(m, TOOL_RECTANGLE, {1280, 10}, {1280, 50});
    compareRegionFigures(item, f, cv::Rect(W - 1, 10, 1, 40));
    item = measureTwoPoint(m, TOOL_WHOLE_IMAGE, {2000, 5000}, {600, 1024});
    compareRegionFigures(item, f, cv::Rect(600, H - 1, 680, 1));
    checkMaskLayout(m, item.roi);

    // Point lists reaching outside the frame are clipped; the mask keeps the inside part.
    m.setCurrentMeasurementTool(TOOL_POLYGON);
    std::vector<cv::Point> outside = {{-50, -50}, {300, -10}, {300, 200}, {-40, 250}};
    QVERIFY(m.setROIImage(outside));
    item = m.measure(outside);
    QCOMPARE(item.roi, cv::Rect(0, 0, 301, 251));
    compareRegionFigures(item, f, item.roi);
    checkMaskLayout(m, item.roi);
    QVERIFY(item.area > 0.8f * 300 * 200 && item.area <= 301.0f * 251);
    QVERIFY(item.length > 0 && item.circularity > 0 && std::isfinite(item.circularity));

    m.setCurrentMeasurementTool(TOOL_SEGMENT_LINE);
    std::vector<cv::Point> beyond = {{1300, 10}, {1900, 700}};
    QVERIFY(!m.setROIImage(beyond));
    std::vector<cv::Point> none;
    QVERIFY(!m.setROIImage(none));
}

void TestImMeasurer::lineProfile()
{
    const auto [bits, f, m] = current();

    // Horizontal: 11 samples, the pixels (10..20, 10).
    TSMeasurementItem item = measureTwoPoint(m, TOOL_LINE, {10, 10}, {20, 10});
    QCOMPARE(item.length, 10.0f);
    QCOMPARE(int(item.profile.size()), 11);
    for (int i = 0; i <= 10; ++i)
        QCOMPARE(item.profile[i], f.values.at<int>(10, 10 + i));
    QVERIFY(item.histogram.empty());
    QCOMPARE(item.profileMin, 100000);
    QCOMPARE(item.profileMax, -1);

    // Lines in every direction, against samples placed independently along the segment.
    std::mt19937 rng(5 + bits);
    std::uniform_int_distribution<int> px(0, W), py(0, H);
    for (int trial = 0; trial < 20; ++trial) {
        const cv::Point a(px(rng), py(rng)), b(px(rng), py(rng));
        item = measureTwoPoint(m, TOOL_LINE, a, b);
        if (a == b)
            continue;
        const double len = std::hypot(double(b.x - a.x), double(b.y - a.y));
        QVERIFY(std::abs(item.length - len) < 1e-3);
        const int n = int(std::nearbyint(float(len)));
        QCOMPARE(int(item.profile.size()), n + 1);
        double sum = 0, squares = 0, lo = 1e9, hi = -1;
        for (int i = 0; i <= n; ++i) {
            const double x = a.x + (b.x - a.x) * double(i) / n, y = a.y + (b.y - a.y) * double(i) / n;
            const int v = item.profile[i];
            bool found = false;
            for (int col : pixelsAt(x, W))
                for (int row : pixelsAt(y, H))
                    found = found || f.values.at<int>(row, col) == v;
            QVERIFY2(found, qPrintable(QString("sample %1 of line %2,%3-%4,%5").arg(i).arg(a.x).arg(a.y).arg(b.x).arg(b.y)));
            sum += v;
            squares += double(v) * v;
            lo = std::min(lo, double(v));
            hi = std::max(hi, double(v));
        }
        const double mean = sum / (n + 1);
        QCOMPARE(item.minIntensity, lo);
        QCOMPARE(item.maxIntensity, hi);
        QVERIFY(std::abs(item.meanIntensity - mean) < 1e-3 * mean + 1e-3);
        QVERIFY(std::abs(item.stdIntensity - std::sqrt(squares / (n + 1) - mean * mean)) < 1e-2 + 1e-3 * mean);
    }

    // Along the last row and column the corners sit one past the frame: samples stay on it.
    item = measureTwoPoint(m, TOOL_LINE, {1200, 1024}, {1280, 1024});
    QCOMPARE(int(item.profile.size()), 81);
    for (int i = 0; i <= 80; ++i)
        QCOMPARE(item.profile[i], f.values.at<int>(H - 1, std::min(1200 + i, W - 1)));
    item = measureTwoPoint(m, TOOL_LINE, {1280, 0}, {1280, 1024});
    QCOMPARE(int(item.profile.size()), 1025);
    for (int i = 0; i <= 1024; ++i)
        QCOMPARE(item.profile[i], f.values.at<int>(std::min(i, H - 1), W - 1));
}

void TestImMeasurer::angles()
{
    ImMeasurer m;
    m.setCurrentMeasurementTool(TOOL_ANGLE);
    auto angleOf = [&m](cv::Point a, cv::Point v, cv::Point b) {
        const TSMeasurementItem item = m.measure({a, v, b});
        return item;
    };
    TSMeasurementItem item = angleOf({100, 0}, {0, 0}, {0, 100});
    QCOMPARE(item.angle, 90.0f);
    QCOMPARE(item.minIntensity, 0.0);
    QCOMPARE(item.maxIntensity, 0.0);
    QCOMPARE(angleOf({0, 5}, {10, 5}, {20, 5}).angle, 180.0f);

    // Against the angle between the arms' directions.
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1);
    for (int trial = 0; trial < 200; ++trial) {
        const cv::Point a(px(rng), py(rng)), v(px(rng), py(rng)), b(px(rng), py(rng));
        if (a == v || b == v)
            continue;
        double diff = std::atan2(b.y - v.y, b.x - v.x) - std::atan2(a.y - v.y, a.x - v.x);
        diff = std::abs(std::remainder(diff, 2 * M_PI)) * 180.0 / M_PI;
        QVERIFY2(std::abs(angleOf(a, v, b).angle - diff) < 0.05,
                 qPrintable(QString("%1 vs %2").arg(angleOf(a, v, b).angle).arg(diff)));
    }

    // Collinear arms, where rounding of the arm lengths takes the cosine just past +-1.
    for (int k = 1; k < 400; ++k) {
        const cv::Point v(k, 2 * k + 1), dir(3, 7);
        const float same = angleOf(v + dir * k, v, v + dir * (k + 3)).angle;
        const float opposite = angleOf(v + dir * k, v, v - dir * (2 * k + 1)).angle;
        QVERIFY2(std::isfinite(same) && std::abs(same) < 0.1f, qPrintable(QString::number(same)));
        QVERIFY2(std::isfinite(opposite) && std::abs(opposite - 180.0f) < 0.1f, qPrintable(QString::number(opposite)));
    }

    // An arm without length gives 0, as does a point list of the wrong size.
    QCOMPARE(angleOf({50, 50}, {50, 50}, {80, 90}).angle, 0.0f);
    QCOMPARE(angleOf({50, 50}, {80, 90}, {80, 90}).angle, 0.0f);
    QCOMPARE(m.measure({{1, 1}, {2, 2}}).angle, 0.0f);
}

void TestImMeasurer::pathsAndCounts()
{
    ImMeasurer m;
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1);
    std::vector<cv::Point> path;
    double expected = 0;
    for (int i = 0; i < 50; ++i) {
        path.emplace_back(px(rng), py(rng));
        if (i > 0)
            expected += std::hypot(double(path[i].x - path[i - 1].x), double(path[i].y - path[i - 1].y));
    }
    for (TMeasurementTool tool : {TOOL_SEGMENT_LINE, TOOL_FREE_HAND}) {
        m.setCurrentMeasurementTool(tool);
        QVERIFY(m.setROIImage(path));
        const TSMeasurementItem item = m.measure(path);
        QVERIFY(std::abs(item.length - expected) < 1e-6 * expected);
        QCOMPARE(item.minIntensity, 0.0);
        QCOMPARE(item.maxIntensity, 0.0);
        QCOMPARE(item.roi, cv::boundingRect(path));
        QCOMPARE(cv::countNonZero(m.mask()), 0); // only polygons fill their mask
        QCOMPARE(item.area, 0.0f);
        QCOMPARE(m.measure({path[0]}).length, 0.0f);
    }
    for (TMeasurementTool tool : {TOOL_MULTI_COUNT, TOOL_CIRCLE_COUNT}) {
        m.setCurrentMeasurementTool(tool);
        const TSMeasurementItem item = m.measure(path);
        QCOMPARE(item.count, 50);
        QCOMPARE(item.length, 0.0f);
        QCOMPARE(item.minIntensity, 0.0);
        QCOMPARE(m.measure({}).count, 0);
    }
    // Tools without figures keep every start value.
    for (TMeasurementTool tool : {TOOL_NONE, TOOL_TEXT, TOOL_DELETE}) {
        m.setCurrentMeasurementTool(tool);
        const TSMeasurementItem item = m.measure(path);
        QCOMPARE(item.tool, tool);
        QCOMPARE(item.minIntensity, 1000000.0);
        QCOMPARE(item.maxIntensity, -1.0);
        QCOMPARE(item.histogramMinCount, 1310721);
        QCOMPARE(item.histogramMaxCount, -1);
        QCOMPARE(item.count, 0);
        QCOMPARE(item.points.size(), path.size());
    }
}

// Laplacian (4-neighbour, reflected border) of an 8-bit frame saturated to 0..255, above 5.
static int strongEdgePixels(const cv::Mat &img)
{
    auto at = [&img](int y, int x) {
        y = y < 0 ? -y : (y >= img.rows ? 2 * img.rows - 2 - y : y);
        x = x < 0 ? -x : (x >= img.cols ? 2 * img.cols - 2 - x : x);
        return int(img.at<uchar>(y, x));
    };
    int count = 0;
    for (int y = 0; y < img.rows; ++y)
        for (int x = 0; x < img.cols; ++x) {
            const int lap = at(y - 1, x) + at(y + 1, x) + at(y, x - 1) + at(y, x + 1) - 4 * at(y, x);
            count += std::clamp(lap, 0, 255) > 5;
        }
    return count;
}

void TestImMeasurer::focusValue()
{
    for (unsigned seed : {1u, 2u, 3u}) {
        const SyntheticFrame f = makeFrame(8, seed);
        ImMeasurer m;
        m.setImageData(const_cast<char *>(f.wire.constData()), W, H, 8);
        m.setCurrentMeasurementTool(TOOL_WHOLE_IMAGE);
        QVERIFY(m.setROIImage(cv::Point(0, 0), cv::Point(W, H)));
        const double focus = m.GetFocusValue(false);
        QVERIFY(focus > 0);

        // The measurer keeps the blurred frame, and its region shows it.
        cv::Mat blurred(H, W, CV_8U);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                blurred.at<uchar>(y, x) = uchar(m.intensity({x, y}));
        QVERIFY(std::abs(m.measure({}).meanIntensity - cv::mean(blurred)[0]) < 1e-3);
        // The figure is the edge count of that frame, by hand and by the library's own
        // Laplacian and threshold.
        QCOMPARE(focus, 255.0 * strongEdgePixels(blurred));
        cv::Mat lap;
        cv::Laplacian(blurred, lap, CV_8U, 1);
        QCOMPARE(focus, 255.0 * cv::countNonZero(lap > 5));

        // The blur itself against a floating-point separable Gaussian.
        cv::Mat source, reference;
        f.values.convertTo(source, CV_64F);
        const cv::Mat kernel = cv::getGaussianKernel(5, 2.0, CV_64F);
        cv::sepFilter2D(source, reference, CV_64F, kernel, kernel, {-1, -1}, 0, cv::BORDER_REFLECT_101);
        cv::Mat blurred64, diff;
        blurred.convertTo(blurred64, CV_64F);
        cv::absdiff(reference, blurred64, diff);
        double worst = 0;
        cv::minMaxLoc(diff, nullptr, &worst);
        QVERIFY2(worst < 1.0, qPrintable(QString::number(worst)));
    }

    // A flat frame has no edges; a 16-bit frame gives no figure.
    std::vector<uchar> flat(size_t(W) * H, 90);
    ImMeasurer m;
    m.setImageData(flat.data(), W, H, 8);
    QCOMPARE(m.GetFocusValue(true), 0.0);
    const SyntheticFrame wide = makeFrame(16, 4);
    m.setImageData(const_cast<char *>(wide.wire.constData()), W, H, 16);
    QCOMPARE(m.GetFocusValue(false), 0.0);
    QCOMPARE(m.intensity({640, 512}), wide.values.at<int>(512, 640)); // 16-bit frame untouched
}

// The whole figure computed by numpy from the raw frame.
void TestImMeasurer::focusValueAgreesWithNumpy()
{
    const QString interpreter = pythonWithNumpy();
    QVERIFY2(!interpreter.isEmpty(), "python3 with numpy is needed (python3-numpy)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (unsigned seed : {11u, 12u}) {
        const SyntheticFrame f = makeFrame(8, seed);
        const QString path = dir.filePath(QString("frame%1.raw").arg(seed));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(f.wire), qint64(f.wire.size()));
        QVERIFY(file.flush());
        file.close();
        QCOMPARE(file.error(), QFileDevice::NoError);

        const char *script = R"(
import sys, numpy as np
img = np.fromfile(sys.argv[1], dtype=np.uint8).reshape(1024, 1280).astype(np.float64)
x = np.arange(5) - 2
k = np.exp(-x * x / (2 * 2.0 ** 2)); k /= k.sum()
def blur(a, axis):
    p = np.pad(a, [(2, 2) if i == axis else (0, 0) for i in range(2)], mode='reflect')
    n = a.shape[axis]
    return sum(k[i] * np.take(p, np.arange(i, i + n), axis=axis) for i in range(5))
b = np.floor(blur(blur(img, 1), 0) + 0.5)
p = np.pad(b, 1, mode='reflect')
lap = p[:-2, 1:-1] + p[2:, 1:-1] + p[1:-1, :-2] + p[1:-1, 2:] - 4 * b
print(int(np.count_nonzero(np.clip(lap, 0, 255) > 5)) * 255)
)";
        QProcess python;
        python.start(interpreter, {"-c", script, path});
        QVERIFY(python.waitForFinished(60000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        bool ok = false;
        const double expected = python.readAllStandardOutput().trimmed().toDouble(&ok);
        QVERIFY(ok && expected > 0);

        ImMeasurer m;
        m.setImageData(const_cast<char *>(f.wire.constData()), W, H, 8);
        const double focus = m.GetFocusValue(false);
        // The measurer blurs in fixed point: a handful of border-line pixels may differ.
        QVERIFY2(std::abs(focus - expected) <= 0.005 * expected,
                 qPrintable(QString("%1 vs numpy %2").arg(focus).arg(expected)));
    }
}

QTEST_GUILESS_MAIN(TestImMeasurer)
#include "tst_immeasurer.moc"
