// The engine's object finders and their seeds: distance-map seeds and local maxima at their
// half-open windows, tolerances and refusals, and the grid thinning against the plain pairwise
// rule on seeded random maps.
#include "CellCounter.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

#include <algorithm>
#include <random>

using Quorvan::CellCounter;

namespace {

using Seeds = std::vector<std::pair<float, cv::Point>>;
using Points = std::vector<cv::Point>;

Points pointsOf(const Seeds &seeds)
{
    Points points;
    for (const auto &s : seeds)
        points.push_back(s.second);
    return points;
}

QString text(const Points &points)
{
    QStringList parts;
    for (const cv::Point &p : points)
        parts << QString("(%1,%2)").arg(p.x).arg(p.y);
    return parts.join(' ');
}

// A 32-bit float map of the given size, 0 everywhere but the listed (point, value) pairs.
cv::Mat map(cv::Size size, const std::vector<std::pair<cv::Point, float>> &values)
{
    cv::Mat m(size, CV_32FC1, cv::Scalar(0));
    for (const auto &[p, v] : values)
        m.at<float>(p) = v;
    return m;
}

// Keeps the candidates (already in order) that no earlier kept one covers: kept q covers p when
// q - p lies in [-r, r) per axis (lowerIncluded) or in (-r, r].
Points pairwise(const Points &candidates, int r, bool lowerIncluded)
{
    Points kept;
    for (const cv::Point &p : candidates) {
        const bool covered = std::any_of(kept.begin(), kept.end(), [&](const cv::Point &q) {
            const int dx = q.x - p.x, dy = q.y - p.y;
            return lowerIncluded ? (dx >= -r && dx < r && dy >= -r && dy < r)
                                 : (dx > -r && dx <= r && dy > -r && dy <= r);
        });
        if (!covered)
            kept.push_back(p);
    }
    return kept;
}

} // namespace

Q_DECLARE_METATYPE(cv::Mat)
Q_DECLARE_METATYPE(Points)

class TestCellCounterFinders : public QObject
{
    Q_OBJECT

    CellCounter engine;

private slots:
    void distanceMapSeeds_data()
    {
        QTest::addColumn<cv::Mat>("distance");
        QTest::addColumn<float>("tolerance");
        QTest::addColumn<int>("radius");
        QTest::addColumn<Points>("expected");
        const cv::Size s(12, 9);
        QTest::newRow("one peak") << map(s, {{{3, 2}, 255}, {{7, 7}, 205}}) << 50.0f << 3 << Points{{3, 2}};
        QTest::newRow("difference equal to tolerance") << map(s, {{{3, 2}, 255}, {{7, 7}, 205}}) << 50.001f << 3
                                                       << Points{{3, 2}, {7, 7}};
        // Equal maxima: the left (upper) one comes first.
        QTest::newRow("equal, right at radius") << map(s, {{{2, 4}, 255}, {{5, 4}, 255}}) << 1.0f << 3
                                                << Points{{2, 4}};
        QTest::newRow("equal, right past radius") << map(s, {{{2, 4}, 255}, {{6, 4}, 255}}) << 1.0f << 3
                                                  << Points{{2, 4}, {6, 4}};
        QTest::newRow("equal, below at radius") << map(s, {{{2, 1}, 255}, {{2, 4}, 255}}) << 1.0f << 3
                                                << Points{{2, 1}};
        // A weaker point left of (above) a stronger one.
        QTest::newRow("weaker, left at radius") << map(s, {{{5, 4}, 255}, {{2, 4}, 250}}) << 10.0f << 3
                                                << Points{{5, 4}, {2, 4}};
        QTest::newRow("weaker, left inside") << map(s, {{{5, 4}, 255}, {{3, 4}, 250}}) << 10.0f << 3
                                             << Points{{5, 4}};
        QTest::newRow("weaker, above at radius") << map(s, {{{5, 4}, 255}, {{5, 1}, 250}}) << 10.0f << 3
                                                 << Points{{5, 4}, {5, 1}};
        QTest::newRow("weaker, diagonal inside") << map(s, {{{5, 4}, 255}, {{7, 2}, 250}}) << 10.0f << 3
                                                 << Points{{5, 4}};
        QTest::newRow("radius 0 keeps all") << map(s, {{{2, 4}, 255}, {{3, 4}, 255}}) << 1.0f << 0
                                            << Points{{2, 4}, {3, 4}};
        QTest::newRow("negative radius keeps all") << map(s, {{{2, 4}, 255}, {{3, 4}, 255}}) << 1.0f << -4
                                                   << Points{{2, 4}, {3, 4}};
        QTest::newRow("tolerance 0") << map(s, {{{2, 4}, 255}}) << 0.0f << 3 << Points{};
        QTest::newRow("negative tolerance") << map(s, {{{2, 4}, 255}}) << -1.0f << 3 << Points{};
        // A flat map: every pixel a candidate, row-major; a kept point covers radius to its right.
        QTest::newRow("flat map, row-major") << map({7, 5}, {}) << 1.0f << 2
                                             << Points{{0, 0}, {3, 0}, {6, 0}, {0, 3}, {3, 3}, {6, 3}};
        QTest::newRow("huge radius") << map(s, {{{2, 4}, 255}, {{11, 8}, 255}}) << 1.0f << INT_MAX
                                     << Points{{2, 4}};
        QTest::newRow("8-bit map") << cv::Mat(s, CV_8UC1, cv::Scalar(1)) << 1.0f << 3 << Points{};
        QTest::newRow("two channels") << cv::Mat(s, CV_32FC2, cv::Scalar(1)) << 1.0f << 3 << Points{};
        QTest::newRow("empty") << cv::Mat() << 1.0f << 3 << Points{};
    }

    void distanceMapSeeds()
    {
        QFETCH(cv::Mat, distance);
        QFETCH(float, tolerance);
        QFETCH(int, radius);
        QFETCH(Points, expected);
        const cv::Mat before = distance.clone();
        const Seeds seeds = engine.getDistanceMap(distance, tolerance, radius);
        QCOMPARE(text(pointsOf(seeds)), text(expected));
        for (const auto &[value, p] : seeds)
            QCOMPARE(value, distance.at<float>(p));
        if (!distance.empty())
            QCOMPARE(cv::norm(before, distance, cv::NORM_INF), 0.0);
    }

    // A clump's normalised distance map, as the finders make it: one seed per disc.
    void distanceMapOfTwoDiscs()
    {
        cv::Mat mask(40, 70, CV_8UC1, cv::Scalar(0)), distance;
        cv::circle(mask, {20, 20}, 14, 255, cv::FILLED);
        cv::circle(mask, {46, 20}, 14, 255, cv::FILLED);
        cv::distanceTransform(mask, distance, cv::DIST_L2, 3);
        cv::normalize(distance, distance, 0, 255, cv::NORM_MINMAX);
        const Seeds seeds = engine.getDistanceMap(distance, 30.0f, 10);
        QCOMPARE(int(seeds.size()), 2);
        QCOMPARE(seeds[0].first, 255.0f);
        const int left = seeds[0].second.x < seeds[1].second.x ? 0 : 1;
        QVERIFY(cv::norm(seeds[left].second - cv::Point(20, 20)) <= 2);
        QVERIFY(cv::norm(seeds[1 - left].second - cv::Point(46, 20)) <= 2);
    }

    // Seeded maps with many ties: the grid keeps exactly what the pairwise rule keeps, in order.
    void distanceMapAgainstPairwiseRule()
    {
        std::mt19937 rng(2511);
        for (int trial = 0; trial < 500; ++trial) {
            const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 40), levels = 1 + int(rng() % 6);
            const int radius = int(rng() % 10) - 1;
            const float tolerance = float(rng() % (levels + 1)) + 0.5f;
            cv::Mat m(h, w, CV_32FC1);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    m.at<float>(y, x) = float(rng() % unsigned(levels));
            double max = 0;
            cv::minMaxLoc(m, nullptr, &max);
            Points candidates;
            for (int v = levels - 1; v >= 0; --v)
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        if (m.at<float>(y, x) == float(v) && max - v < tolerance)
                            candidates.emplace_back(x, y);
            QCOMPARE(text(pointsOf(engine.getDistanceMap(m, tolerance, radius))),
                     text(pairwise(candidates, radius, true)));
        }
    }

    void localMaximaWindows_data()
    {
        QTest::addColumn<int>("radius");
        QTest::addColumn<Points>("expected");
        // A uniform 7 x 2 image: every pixel a candidate of key 0, in row-major order; the
        // window of a kept point reaches radius - 1 to the right and radius down.
        QTest::newRow("radius 0") << 0 << Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0},
                                                 {0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}};
        QTest::newRow("radius 1") << 1 << Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0},
                                                 {0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}};
        QTest::newRow("radius 3") << 3 << Points{{0, 0}, {3, 0}, {6, 0}};
        QTest::newRow("radius 2") << 2 << Points{{0, 0}, {2, 0}, {4, 0}, {6, 0}};
    }

    void localMaximaWindows()
    {
        QFETCH(int, radius);
        QFETCH(Points, expected);
        cv::Mat image(2, 7, CV_8UC1, cv::Scalar(10)), mask(2, 7, CV_8UC1, cv::Scalar(255));
        const Seeds maxima = engine.getVorelLocalMaxima(image, mask, 0, 20.0f, radius, 0.0f, 1, {});
        QCOMPARE(text(pointsOf(maxima)), text(expected));
        for (const auto &m : maxima)
            QCOMPARE(m.first, 255.0f);
    }

    // Step order: smoothing, the peak gate, the tolerance against the smoothed maximum, the mean
    // test over the clipped window; and the refusals that leave the image untouched.
    void localMaximaGates_data()
    {
        QTest::addColumn<cv::Mat>("image");
        QTest::addColumn<cv::Mat>("mask");
        QTest::addColumn<int>("minPeak");
        QTest::addColumn<float>("tolerance");
        QTest::addColumn<float>("minMean");
        QTest::addColumn<int>("meanHalfSize");
        QTest::addColumn<int>("found");
        QTest::addColumn<bool>("smoothed");
        const cv::Mat flat(10, 10, CV_8UC1, cv::Scalar(100)), all(10, 10, CV_8UC1, cv::Scalar(255));
        cv::Mat left = cv::Mat::zeros(10, 10, CV_8UC1);
        left.colRange(0, 2).setTo(255);
        cv::Mat spot = cv::Mat::zeros(10, 10, CV_8UC1);
        spot.at<uchar>(5, 5) = 255;
        // flat: maximum 100 and every key 0, so a candidate needs a tolerance above 100.
        QTest::newRow("peak above maximum") << flat.clone() << all << 101 << 200.0f << 0.0f << 1 << 0 << true;
        QTest::newRow("peak at maximum") << flat.clone() << all << 100 << 200.0f << 0.0f << 1 << 1 << true;
        QTest::newRow("tolerance at maximum") << flat.clone() << all << 0 << 100.0f << 0.0f << 1 << 0 << true;
        QTest::newRow("tolerance above maximum") << flat.clone() << all << 0 << 100.5f << 0.0f << 1 << 1 << true;
        // The first candidate (0, 0) with half size 2: the clipped window is the masked 2 x 2 corner.
        QTest::newRow("clipped mean at limit") << flat.clone() << left << 0 << 101.0f << 100.0f << 2 << 1 << true;
        QTest::newRow("clipped mean below") << flat.clone() << left << 0 << 101.0f << 100.5f << 2 << 0 << true;
        QTest::newRow("half size 0, mean 0") << flat.clone() << all << 0 << 101.0f << 0.0f << 0 << 1 << true;
        QTest::newRow("half size 0, above 0") << flat.clone() << all << 0 << 101.0f << 0.01f << 0 << 0 << true;
        QTest::newRow("bright spot") << spot.clone() << all << 0 << 1.0f << 0.0f << 1 << 1 << true;
        QTest::newRow("three channels") << cv::Mat(10, 10, CV_8UC3, cv::Scalar::all(100)) << all << 0 << 101.0f
                                        << 0.0f << 1 << 0 << false;
        QTest::newRow("mask of other size") << flat.clone() << cv::Mat(9, 10, CV_8UC1, cv::Scalar(255)) << 0
                                            << 101.0f << 0.0f << 1 << 0 << false;
        QTest::newRow("mask of other type") << flat.clone() << cv::Mat(10, 10, CV_16UC1, cv::Scalar(255)) << 0
                                            << 101.0f << 0.0f << 1 << 0 << false;
        QTest::newRow("negative half size") << flat.clone() << all << 0 << 101.0f << 0.0f << -1 << 0 << false;
    }

    void localMaximaGates()
    {
        QFETCH(cv::Mat, image);
        QFETCH(cv::Mat, mask);
        QFETCH(int, minPeak);
        QFETCH(float, tolerance);
        QFETCH(float, minMean);
        QFETCH(int, meanHalfSize);
        QFETCH(int, found);
        QFETCH(bool, smoothed);
        cv::Mat expected = image.clone();
        if (smoothed)
            cv::GaussianBlur(expected, expected, {3, 3}, 3.0, 0.0);
        const Seeds maxima = engine.getVorelLocalMaxima(image, mask, minPeak, tolerance, 100, minMean,
                                                        meanHalfSize, {});
        QCOMPARE(int(maxima.size()), found);
        QCOMPARE(cv::norm(image, expected, cv::NORM_INF), 0.0);
    }

    // Seeded images: the grid suppression keeps exactly what the pairwise rule keeps, in order.
    void localMaximaAgainstPairwiseRule()
    {
        std::mt19937 rng(2509);
        for (int trial = 0; trial < 500; ++trial) {
            const int w = 1 + int(rng() % 30), h = 1 + int(rng() % 30), radius = int(rng() % 8) - 1;
            cv::Mat image(h, w, CV_8UC1);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    image.at<uchar>(y, x) = uchar((rng() % 4) * 85);
            const cv::Mat mask(h, w, CV_8UC1, cv::Scalar(255));
            const float tolerance = float(rng() % 200) + 0.5f;
            cv::Mat smoothed, normalised;
            cv::GaussianBlur(image, smoothed, {3, 3}, 3.0, 0.0);
            double max = 0;
            cv::minMaxLoc(smoothed, nullptr, &max);
            cv::normalize(smoothed, normalised, 0.0, 255.0, cv::NORM_MINMAX, CV_32F);
            Points candidates;
            for (int key = 255; key >= 0; --key)
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const float v = normalised.at<float>(y, x);
                        if (int(v) == key && max - double(v) < tolerance)
                            candidates.emplace_back(x, y);
                    }
            QCOMPARE(text(pointsOf(engine.getVorelLocalMaxima(image, mask, 0, tolerance, radius, 0.0f, 1, {}))),
                     text(pairwise(candidates, radius, false)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCellCounterFinders)
#include "tst_cellcounter_finders.moc"
