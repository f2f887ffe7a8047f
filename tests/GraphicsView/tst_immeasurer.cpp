// ImMeasurer against independent computations (plain loops, OpenCV calls other than its own).
#include "ImMeasurer.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

using Points = std::vector<cv::Point>;
Q_DECLARE_METATYPE(cv::Rect)
Q_DECLARE_METATYPE(Points)

namespace {

constexpr int W = ImMeasurer::kFrameWidth;
constexpr int H = ImMeasurer::kFrameHeight;

struct SyntheticFrame { int bits = 8; cv::Mat values; QByteArray wire; };

// Blocks of random levels (edges for the focus figure, varied statistics for the regions) plus noise.
SyntheticFrame makeFrame(int bits, unsigned seed)
{
    cv::RNG rng(seed);
    const int top = bits == 8 ? 255 : 4095;
    cv::Mat coarse(32, 40, CV_32S), scene, noise(H, W, CV_32S);
    rng.fill(coarse, cv::RNG::UNIFORM, 0, top + 1);
    cv::resize(coarse, scene, {W, H}, 0, 0, cv::INTER_NEAREST);
    rng.fill(noise, cv::RNG::NORMAL, 0, top / 20.0);
    SyntheticFrame f{bits, cv::max(cv::min(scene + noise, top), 0), QByteArray()};
    // 16 bits: big-endian words, the value shifted left by four; the low nibble carries no data.
    QDataStream wire(&f.wire, QIODevice::WriteOnly);
    for (auto v = f.values.begin<int>(); v != f.values.end<int>(); ++v)
        bits == 8 ? wire << quint8(*v) : wire << quint16((*v << 4) | rng.uniform(0, 16));
    return f;
}

void compareRegionFigures(const TSMeasurementItem &item, const SyntheticFrame &f, cv::Rect r)
{
    const cv::Mat region = f.values(r);
    std::vector<int> histogram(f.bits == 8 ? 256 : 4096, 0);
    std::for_each(region.begin<int>(), region.end<int>(), [&](int v) { ++histogram[v]; });
    const auto [lo, hi] = std::minmax_element(region.begin<int>(), region.end<int>());
    cv::Scalar mean, stddev;
    cv::meanStdDev(region, mean, stddev);
    QCOMPARE(item.roi, r);
    QVERIFY(item.minIntensity == *lo && item.maxIntensity == *hi && item.histogram == histogram && item.histogramMaxCount == *std::max_element(histogram.begin(), histogram.end()));
    QVERIFY(std::abs(item.meanIntensity - mean[0]) <= 1e-4 * mean[0] + 1e-3 && std::abs(item.stdIntensity - stddev[0]) <= 1e-4 * stddev[0] + 1e-3);
}

} // namespace

class TestImMeasurer : public QObject
{
    Q_OBJECT

    // The frame of a depth and a measurer fed with it.
    std::pair<const SyntheticFrame &, ImMeasurer &> current(int bits) { return {m_Frames[bits / 16], m_Measurers[bits / 16]}; }

    SyntheticFrame m_Frames[2];
    ImMeasurer m_Measurers[2];

private slots:
    void initTestCase()
    {
        for (int i : {0, 1}) {
            m_Frames[i] = makeFrame(8 << i, 20248 + i);
            m_Measurers[i].setImageData(m_Frames[i].wire.data(), W, H, 8 << i);
        }
    }

    // Two corners: clamped, a drag without width is one pixel wide, without extent at a far edge the
    // last column or row. Point lists: clipped, the closing point repeated (length is the perimeter).
    void regions_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<Points>("points");
        QTest::addColumn<cv::Rect>("roi");
        const auto row = [](const char *name, TMeasurementTool tool, Points points, cv::Rect roi) { QTest::newRow(name) << int(tool) << points << roi; };
        row("rectangle", TOOL_RECTANGLE, {{900, 700}, {131, 40}}, {131, 40, 769, 660});
        row("ellipse", TOOL_ELLIPSE, {{900, 700}, {131, 40}}, {131, 40, 769, 660});
        row("flat ellipse", TOOL_ELLIPSE, {{0, 400}, {1280, 560}}, {0, 400, 1280, 160});
        row("small ellipse", TOOL_ELLIPSE, {{20, 1000}, {31, 993}}, {20, 993, 11, 7});
        row("whole image", TOOL_WHOLE_IMAGE, {{0, 0}, {W, H}}, {0, 0, W, H});
        row("no width", TOOL_RECTANGLE, {{100, 100}, {100, 300}}, {100, 100, 1, 200});
        row("clamped", TOOL_RECTANGLE, {{1500, -20}, {1000, 300}}, {1000, 0, 280, 300});
        row("last column", TOOL_RECTANGLE, {{1280, 10}, {1280, 50}}, {W - 1, 10, 1, 40});
        row("last row", TOOL_WHOLE_IMAGE, {{2000, 5000}, {600, 1024}}, {600, H - 1, 680, 1});
        row("triangle", TOOL_POLYGON, {{700, 90}, {1100, 900}, {120, 640}, {700, 90}}, {120, 90, 981, 811});
        row("outside", TOOL_POLYGON, {{-50, -50}, {300, -10}, {300, 200}, {-40, 250}, {-50, -50}}, {0, 0, 301, 251});
        row("dot", TOOL_POLYGON, {{400, 400}, {400, 400}}, {400, 400, 1, 1});
    }
    void regions()
    {
        QFETCH(int, tool);
        QFETCH(Points, points);
        QFETCH(cv::Rect, roi);
        TSMeasurementItem item;
        for (int bits : {8, 16}) {
            const auto [f, m] = current(bits);
            m.setCurrentMeasurementTool(TMeasurementTool(tool));
            QVERIFY(tool == TOOL_POLYGON ? m.setROIImage(points) : m.setROIImage(points[0], points[1]));
            compareRegionFigures(item = m.measure(points), f, roi);
            QVERIFY(m.intensity(roi.tl()) == f.values.at<int>(roi.tl()) && m.intensity(roi.br() - cv::Point(1, 1)) == f.values.at<int>(roi.br() - cv::Point(1, 1)));
            QVERIFY(roi.area() < W * H || std::abs(m.GetAveIntensityValue() - cv::mean(f.values)[0]) < 1e-6);
        }
        double closed = 0; // the closed outline of the points
        for (size_t i = 0; i < points.size(); ++i)
            closed += cv::norm(points[(i + 1) % points.size()] - points[i]);
        const double cx = roi.width / 2, cy = roi.height / 2, length = tool == TOOL_ELLIPSE ? M_PI * std::hypot(roi.width, roi.height) / std::sqrt(2.0) : closed;
        int inside = 0; // pixel centres inside the shape: those along the outline may go either way
        const std::vector<cv::Point2f> contour(points.begin(), points.end());
        for (int y = 0; y < roi.height; ++y)
            for (int x = 0; x < roi.width; ++x)
                inside += tool == TOOL_POLYGON ? cv::pointPolygonTest(contour, cv::Point2f(x + roi.x, y + roi.y), false) >= 0
                                               : std::pow((x - cx) / cx, 2) + std::pow((y - cy) / cy, 2) <= 1.0;
        QVERIFY(tool != TOOL_RECTANGLE || (item.area == float(roi.area()) && item.length == float(2 * (roi.width + roi.height)) && cv::countNonZero(current(16).second.mask()) == roi.area()));
        QVERIFY(tool != TOOL_WHOLE_IMAGE || (item.length == 0.0f && item.area == 0.0f));
        if (tool == TOOL_RECTANGLE || tool == TOOL_WHOLE_IMAGE)
            return;
        QVERIFY2(std::abs(item.area - inside) <= std::max(tool == TOOL_ELLIPSE ? 0.6 * length : length, 1.0) && item.area == cv::countNonZero(current(16).second.mask()), qPrintable(QString("area %1 vs %2").arg(item.area).arg(inside)));
        QVERIFY2(std::abs(item.length - length) < 1e-5 * length + 1e-4, qPrintable(QString("length %1 vs %2").arg(item.length).arg(length)));
        // Circularity divides by the closed outline of the points (for the ellipse, of its two corners).
        QVERIFY(std::abs(item.circularity - (closed > 0 ? 4 * M_PI * item.area / (closed * closed) : 0.0)) < 1e-5);
    }

    // Lines against samples placed independently: one exactly on a pixel border may go either way.
    void lineProfile()
    {
        for (int bits : {8, 16}) {
            const auto [f, m] = current(bits);
            cv::RNG rng(5 + bits);
            std::vector<std::pair<cv::Point, cv::Point>> lines = {{{10, 10}, {20, 10}}, {{1200, 1024}, {1280, 1024}}, {{1280, 0}, {1280, 1024}}};
            for (int trial = 0; trial < 12; ++trial)
                lines.push_back({{rng.uniform(0, W + 1), rng.uniform(0, H + 1)}, {rng.uniform(0, W + 1), rng.uniform(0, H + 1)}});
            m.setCurrentMeasurementTool(TOOL_LINE);
            for (const auto &[a, b] : lines) {
                if (a == b || !m.setROIImage(a, b))
                    continue;
                const TSMeasurementItem item = m.measure({a, b});
                const double len = cv::norm(b - a), n = std::nearbyint(float(len));
                QVERIFY(std::abs(item.length - len) < 1e-3 && item.histogram.empty() && int(item.profile.size()) == n + 1);
                for (int i = 0; i <= n; ++i) {
                    const double x = a.x + (b.x - a.x) * double(i) / n, y = a.y + (b.y - a.y) * double(i) / n;
                    bool found = false;
                    for (double e : {-1e-6, 1e-6})
                        for (double g : {-1e-6, 1e-6})
                            found = found || f.values.at<int>(std::clamp(int(y + g), 0, H - 1), std::clamp(int(x + e), 0, W - 1)) == item.profile[i];
                    QVERIFY2(found, qPrintable(QString("sample %1 of line %2,%3-%4,%5").arg(i).arg(a.x).arg(a.y).arg(b.x).arg(b.y)));
                }
                cv::Scalar mean, stddev;
                cv::meanStdDev(cv::Mat(item.profile), mean, stddev);
                const auto [lo, hi] = std::minmax_element(item.profile.begin(), item.profile.end());
                QVERIFY(item.minIntensity == *lo && item.maxIntensity == *hi && std::abs(item.meanIntensity - mean[0]) < 1e-3 * mean[0] && std::abs(item.stdIntensity - stddev[0]) < 1e-3 * stddev[0] + 1e-3);
            }
        }
    }

    void anglesPathsAndCounts()
    {
        // Angles against the arms' directions; collinear arms may take the cosine just past +-1.
        ImMeasurer m;
        m.setCurrentMeasurementTool(TOOL_ANGLE);
        const auto agrees = [&m](cv::Point a, cv::Point v, cv::Point b) {
            const double diff = std::abs(std::remainder(std::atan2(b.y - v.y, b.x - v.x) - std::atan2(a.y - v.y, a.x - v.x), 2 * M_PI)) * 180.0 / M_PI;
            return std::abs(m.measure({a, v, b}).angle - ((a == v || b == v) ? 0.0 : diff)) < 0.05;
        };
        cv::RNG rng(31);
        const auto random = [&rng] { return cv::Point(rng.uniform(0, W), rng.uniform(0, H)); };
        for (int k = 1; k < 400; ++k) {
            const cv::Point a = random(), v(k, 2 * k + 1), b = random(), dir(3, 7);
            QVERIFY2(agrees(a, v, b) && agrees(v + dir * k, v, v + dir * (k + 3)) && agrees(v + dir * k, v, v - dir * (2 * k + 1)), qPrintable(QString::number(k)));
        }
        QVERIFY(agrees({50, 50}, {50, 50}, {80, 90}) && agrees({50, 50}, {80, 90}, {80, 90}) && m.measure({{1, 1}, {2, 2}}).angle == 0.0f);

        Points path = {random()}, beyond = {{1300, 10}, {1900, 700}}, none;
        double expected = 0;
        path.reserve(50);
        for (int i = 1; i < 50; ++i)
            expected += cv::norm(path.emplace_back(random()) - path[i - 1]);
        for (TMeasurementTool tool : {TOOL_SEGMENT_LINE, TOOL_FREE_HAND, TOOL_MULTI_COUNT, TOOL_CIRCLE_COUNT}) {
            m.setCurrentMeasurementTool(tool);
            const bool counts = tool == TOOL_MULTI_COUNT || tool == TOOL_CIRCLE_COUNT;
            QVERIFY(counts || (m.setROIImage(path) && !m.setROIImage(beyond) && !m.setROIImage(none)));
            QVERIFY(counts ? m.measure(path).count == 50 && m.measure({}).count == 0 : std::abs(m.measure(path).length - expected) < 1e-6 * expected);
        }
    }

    // Against OpenCV's Laplacian of the blurred frame (5 x 5 Gaussian, sigma 2): 255 per pixel over 5.
    void focusValue()
    {
        SyntheticFrame f = makeFrame(8, 11);
        cv::Mat blurred, laplacian;
        cv::GaussianBlur(cv::Mat(H, W, CV_8U, f.wire.data()), blurred, {5, 5}, 2.0);
        cv::Laplacian(blurred, laplacian, CV_8U, 1);
        ImMeasurer m;
        m.setImageData(f.wire.data(), W, H, 8);
        QCOMPARE(m.GetFocusValue(false), 255.0 * cv::countNonZero(laplacian > 5));
        // 16 bits: no figure, frame kept. An unknown depth and points off the frame read as 0.
        const SyntheticFrame wide = makeFrame(16, 4);
        m.setImageData(const_cast<char *>(wide.wire.constData()), W, H, 16);
        m.setCurrentMeasurementTool(TOOL_RECTANGLE);
        QVERIFY(m.GetFocusValue(false) == 0.0 && m.intensity({640, 512}) == wide.values.at<int>(512, 640));
        m.setImageData(const_cast<char *>(wide.wire.constData()), W, H, 12);
        QVERIFY(m.intensity({5, 5}) == 0 && m.intensity({W, 0}) == 0 && m.intensity({0, -1}) == 0);
        QVERIFY(m.setROIImage(cv::Point(0, 0), cv::Point(10, 10)) && m.measure({}).histogram.empty());
    }
};

QTEST_GUILESS_MAIN(TestImMeasurer)
#include "tst_immeasurer.moc"
