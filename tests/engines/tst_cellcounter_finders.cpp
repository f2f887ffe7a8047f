// The engine's object finders and their seeds: the classification of drawn objects, the tally and
// the refusals of the brightfield finders and their sister variants; distance-map seeds and local
// maxima at their half-open windows, tolerances and refusals, and the grid thinning against the
// plain pairwise rule on seeded random maps.
#include "CellCounter.h"
#include "HangBound.h"
#include "ImReaderWriter.h"

#include <opencv2/imgproc.hpp>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>
#include <memory>
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


// Drawn brightfield frames: dark objects (grey 40) on a field of 180.
constexpr int kW = 320, kH = 240;
constexpr int kField = 180, kDark = 40;

cv::Mat field()
{
    return cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kField));
}

void disc(cv::Mat &m, cv::Point c, int r, int grey = kDark)
{
    cv::circle(m, c, r, cv::Scalar(grey), cv::FILLED, cv::LINE_8);
}

// A dark square of side 2 x half: convex, every object pixel exactly kDark.
void square(cv::Mat &m, cv::Point c, int half, int grey = kDark)
{
    cv::rectangle(m, cv::Rect(c.x - half, c.y - half, 2 * half, 2 * half), cv::Scalar(grey), cv::FILLED);
}

// An open dark ring (gap to the right) around bright spots above the bright threshold.
cv::Mat openRing(const std::vector<cv::Point> &spots)
{
    cv::Mat m = field();
    cv::ellipse(m, {100, 100}, {25, 25}, 0, 40, 320, cv::Scalar(kDark), 8);
    for (const cv::Point &p : spots)
        disc(m, p, 5, 230);
    return m;
}

// Small dark decoys of grey 90 in the right part: they lower the mean radius, and a mean limit
// below 90 drops them.
void decoys(cv::Mat &m)
{
    for (int x : {230, 280})
        for (int y : {30, 75, 120, 165, 210})
            disc(m, {x, y}, 6, 90);
}

cv::Mat threeHoles()
{
    cv::Mat m = field();
    disc(m, {100, 100}, 30);
    for (cv::Point p : {cv::Point(88, 90), cv::Point(112, 90), cv::Point(100, 113)})
        disc(m, p, 5, kField);
    return m;
}

// Nine dark discs of radius 10 on a 30-pixel grid joined by thin bars into a comb (no hole), and
// the decoys.
cv::Mat nineDiscClump()
{
    cv::Mat m = field();
    cv::rectangle(m, cv::Rect(58, 60, 4, 60), cv::Scalar(kDark), cv::FILLED);
    for (int i = 0; i < 3; ++i) {
        cv::rectangle(m, cv::Rect(60, 58 + 30 * i, 60, 4), cv::Scalar(kDark), cv::FILLED);
        for (int j = 0; j < 3; ++j)
            disc(m, {60 + 30 * i, 60 + 30 * j}, 10);
    }
    decoys(m);
    return m;
}

// The finder's values, as a test row changes them.
struct Finder
{
    int minSize = 0, maxSize = 90, minRoundness = 0;
    float clusterFactor = 1.5f;
    int maxMean = 150, bright = 200;
    float concaveLimit = 50.0f, tolerance = 30.0f, centreFactor = 0.5f, ratio = 2.0f;
    bool split = false, merge = false;
    float sizeGain = 1.0f, sizeOffset = 0.0f;
};

struct Outputs
{
    double result = 0;
    int live = -7, dead = -7;
    float avgSize = -7.0f, meanIntensity = -7.0f;
};

enum class Variant { Four, Three, Two, TwoChannel4 };

Outputs find(CellCounter &e, const Finder &f, Variant v = Variant::Four)
{
    Outputs o;
    e.setSizeCalibration(f.sizeGain, f.sizeOffset);
    if (v == Variant::Four || v == Variant::Three)
        o.result = std::invoke(v == Variant::Four ? &CellCounter::findObjects4 : &CellCounter::findObjects3,
            e, f.minSize, f.maxSize, f.minRoundness, f.clusterFactor, f.maxMean, f.bright, f.concaveLimit,
            f.tolerance, 6, f.centreFactor, f.ratio, o.live, o.dead, o.avgSize, o.meanIntensity, f.split, f.merge, 0);
    else
        o.result = e.findObjects2(f.minSize, f.maxSize, f.minRoundness, f.clusterFactor, f.maxMean, f.bright,
                                  f.concaveLimit, f.tolerance, 6, o.live, o.dead, o.avgSize, o.meanIntensity, f.split,
                                  f.merge, v == Variant::TwoChannel4, 0);
    return o;
}

// A mode-5 engine of the frame's size at 1 micrometre per pixel, the frame stored.
std::unique_ptr<CellCounter> brightfield(const cv::Mat &frame)
{
    auto e = std::make_unique<CellCounter>(5, frame.rows, frame.cols, 0.001f, 1.0f, 1.0f);
    e->setImageData(frame.data, 0, false);
    return e;
}

// Records as "Ls" / "Dr": live or dead, score -1 (s) or a roundness score (r).
QString marks(const std::vector<Quorvan::TObj> &records)
{
    QStringList parts;
    for (const auto &o : records)
        parts << QString("%1%2").arg(o.fGreen == 1.0f && o.fRed == 0.0f   ? 'L'
                                     : o.fRed == 1.0f && o.fGreen == 0.0f ? 'D'
                                                                         : '?')
                     .arg(o.nRoundness == -1 ? 's' : 'r');
    return parts.join(' ');
}

QString bins(const int *histogram, int n)
{
    QStringList parts;
    for (int i = 0; i < n; ++i)
        parts << QString::number(histogram[i]);
    return parts.join(',');
}

cv::Mat tagImage(CellCounter &e, const cv::Mat &frame)
{
    return cv::Mat(frame.size(), CV_8UC3, e.getImageData(11, false, 2)).clone();
}

// The per-object box and mask steps, opened for the test.
struct BoxProbe : CellCounter
{
    using CellCounter::CellCounter;
    using CellCounter::objectBox;
    using CellCounter::objectMask;
};

} // namespace

Q_DECLARE_METATYPE(Finder)
Q_DECLARE_METATYPE(cv::Rect)
Q_DECLARE_METATYPE(cv::Point)
Q_DECLARE_METATYPE(Variant)
Q_DECLARE_METATYPE(cv::Mat)
Q_DECLARE_METATYPE(Points)

class TestCellCounterFinders : public QObject
{
    Q_OBJECT

    CellCounter engine;

private slots:
    // Each row of the classification on one drawn object: its records (marks and scores), the
    // cluster histogram, the record centres (any order, within a pixel) and radii.
    void classification_data()
    {
        QTest::addColumn<cv::Mat>("frame");
        QTest::addColumn<Finder>("finder");
        QTest::addColumn<QString>("records");
        QTest::addColumn<QString>("cluster");
        QTest::addColumn<Points>("centres");
        QTest::addColumn<float>("radius");
        const Finder plain;
        cv::Mat ring = field(), sq = field(), grey90 = field(), big = field();
        disc(ring, {100, 100}, 30);
        disc(ring, {100, 100}, 12, kField);
        square(sq, {100, 100}, 20);
        square(grey90, {100, 100}, 20, 90);
        disc(big, {100, 100}, 30);
        decoys(big);
        Finder f;
        QTest::newRow("three holes") << threeHoles() << plain << "Ls Ls Ls" << "0,0,0,1,0,0,0,0,0"
                                     << Points{{88, 90}, {112, 90}, {100, 113}} << 10.1f;
        QTest::newRow("one hole") << ring << plain << "Lr" << "0,1,0,0,0,0,0,0,0" << Points{{100, 100}} << 30.2f;
        QTest::newRow("one bright centre") << openRing({{100, 100}}) << plain << "Lr" << "0,1,0,0,0,0,0,0,0"
                                           << Points{{100, 100}} << -1.0f;
        QTest::newRow("two bright centres") << openRing({{91, 100}, {109, 100}}) << plain << "Ls Ls"
                                            << "0,0,1,0,0,0,0,0,0" << Points{{91, 100}, {109, 100}} << -1.0f;
        // A convex square: concave area 0, every object pixel and the centre disc exactly 40.
        f = plain, f.concaveLimit = -0.5f;
        QTest::newRow("concave area above limit") << sq << f << "Ls" << "0,1,0,0,0,0,0,0,0" << Points{{100, 100}}
                                                  << -1.0f;
        f = plain, f.concaveLimit = 0.0f, f.ratio = 1.0f;
        QTest::newRow("concave area at limit, centre at ratio") << sq << f << "Ds" << "0,1,0,0,0,0,0,0,0"
                                                                << Points{{100, 100}} << -1.0f;
        f.ratio = 0.99f;
        QTest::newRow("centre above ratio") << sq << f << "Ls" << "0,1,0,0,0,0,0,0,0" << Points{} << -1.0f;
        // One object: the mean radius is its own, so a factor of 1 puts it exactly at the limit.
        f = plain, f.clusterFactor = 1.0f, f.ratio = 1.0f;
        QTest::newRow("large at the limit") << sq << f << "Dr" << "0,1,0,0,0,0,0,0,0" << Points{} << -1.0f;
        f.clusterFactor = 1.001f;
        QTest::newRow("small below the limit") << sq << f << "Ds" << "0,1,0,0,0,0,0,0,0" << Points{} << -1.0f;
        f = plain, f.split = true, f.maxMean = 80;
        Points grid;
        for (int y : {60, 90, 120})
            for (int x : {60, 90, 120})
                grid.emplace_back(x, y);
        QTest::newRow("nine seeds") << nineDiscClump() << f << "Ds Ds Ds Ds Ds Ds Ds Ds Ds" << "0,0,0,0,0,0,0,0,1"
                                    << grid << -1.0f;
        QTest::newRow("one seed") << big << f << "Dr" << "0,1,0,0,0,0,0,0,0" << Points{{100, 100}} << 30.2f;
        f.tolerance = 0.0f;
        QTest::newRow("no seed") << big << f << "" << "1,0,0,0,0,0,0,0,0" << Points{} << -1.0f;
        f = plain, f.sizeOffset = -1000.0f;
        QTest::newRow("negative size, whole") << sq << f << "" << "0,0,0,0,0,0,0,0,0" << Points{} << -1.0f;
        QTest::newRow("negative size, hole split") << threeHoles() << f << "" << "0,0,0,1,0,0,0,0,0" << Points{}
                                                   << -1.0f;
        f = plain, f.maxMean = 89;
        QTest::newRow("mean above limit") << grey90 << f << "" << "0,0,0,0,0,0,0,0,0" << Points{} << -1.0f;
    }

    void classification()
    {
        QFETCH(cv::Mat, frame);
        QFETCH(Finder, finder);
        QFETCH(QString, records);
        QFETCH(QString, cluster);
        QFETCH(Points, centres);
        QFETCH(float, radius);
        auto e = brightfield(frame);
        const Outputs out = find(*e, finder);
        QVERIFY(out.result >= 0.0);
        const auto found = e->getFoundCellInformation();
        QCOMPARE(marks(found), records);
        QCOMPARE(bins(e->getHistogram(2), CellCounter::ClusterClasses), cluster);
        if (!centres.empty()) {
            for (const cv::Point &c : centres)
                QVERIFY2(std::any_of(found.begin(), found.end(),
                                     [&](const auto &o) {
                                         return std::abs(o.nX - c.x) <= 1 && std::abs(o.nY - c.y) <= 1;
                                     }),
                         qPrintable(QString("no record at (%1,%2)").arg(c.x).arg(c.y)));
        }
        for (const auto &o : found) {
            if (radius > 0)
                QVERIFY2(std::abs(o.fRadius - radius) <= 0.6f, qPrintable(QString::number(double(o.fRadius))));
            QCOMPARE(o.fSize, 2.0f * o.fRadius * finder.sizeGain + finder.sizeOffset);
            QCOMPARE(o.nGreenClass, 0);
        }
        // Every object is counted (window 0..90, roundness 0): the counts are the records'.
        QCOMPARE(out.live + out.dead, int(found.size()));
        QCOMPARE(out.live, int(records.count('L')));
    }

    // The tally's gate at its limits: rounded size (half to even) within the window, score -1 or
    // at least the limit, and a mark unless the states are merged.
    void tallyGate_data()
    {
        QTest::addColumn<float>("size");
        QTest::addColumn<int>("score");
        QTest::addColumn<float>("green");
        QTest::addColumn<float>("red");
        QTest::addColumn<bool>("merge");
        QTest::addColumn<bool>("counted");
        QTest::newRow("at min") << 5.0f << 50 << 1.0f << 0.0f << false << true;
        QTest::newRow("4.5 rounds to 4") << 4.5f << 50 << 1.0f << 0.0f << false << false;
        QTest::newRow("5.5 rounds to 6") << 5.5f << 50 << 1.0f << 0.0f << false << true;
        QTest::newRow("at max") << 20.4f << 50 << 0.0f << 1.0f << false << true;
        QTest::newRow("20.5 rounds to 20") << 20.5f << 50 << 0.0f << 1.0f << false << true;
        QTest::newRow("above max") << 20.6f << 50 << 0.0f << 1.0f << false << false;
        QTest::newRow("score at limit") << 10.0f << 40 << 1.0f << 0.0f << false << true;
        QTest::newRow("score below") << 10.0f << 39 << 1.0f << 0.0f << false << false;
        QTest::newRow("score -1 exempt") << 10.0f << -1 << 1.0f << 0.0f << false << true;
        QTest::newRow("score -2") << 10.0f << -2 << 1.0f << 0.0f << false << false;
        QTest::newRow("no mark") << 10.0f << 50 << 0.5f << 0.0f << false << false;
        QTest::newRow("no mark, merged") << 10.0f << 50 << 0.0f << 0.0f << true << true;
        QTest::newRow("NaN size") << std::nanf("") << 50 << 1.0f << 0.0f << false << false;
    }

    void tallyGate()
    {
        QFETCH(float, size);
        QFETCH(int, score);
        QFETCH(float, green);
        QFETCH(float, red);
        QFETCH(bool, merge);
        QFETCH(bool, counted);
        Quorvan::TObj o;
        o.fSize = size;
        o.nRoundness = score;
        o.fGreen = green;
        o.fRed = red;
        QCOMPARE(CellCounter::isTallied(o, 5, 20, 40, merge), counted);
    }

    // The tally on a frame: windows, merged states, sizes beyond the histograms, empty counts.
    void tally()
    {
        cv::Mat frame = field();
        square(frame, {60, 60}, 10);  // small; dead by its centre
        disc(frame, {160, 60}, 20);   // one hole: live
        disc(frame, {160, 60}, 8, kField);
        square(frame, {60, 160}, 12); // small; dead
        auto e = brightfield(frame);
        Finder f;
        Outputs out = find(*e, f);
        const auto found = e->getFoundCellInformation();
        QCOMPARE(marks(found).count('D'), 2);
        QCOMPARE(std::make_pair(out.live, out.dead), std::make_pair(1, 2));
        float sum = 0;
        for (const auto &o : found)
            sum += o.fSize;
        QCOMPARE(out.avgSize, sum / 3.0f);
        QCOMPARE(out.meanIntensity, float(kDark)); // every object pixel is 40
        int live = 0, dead = 0;
        for (int i = 0; i < CellCounter::SizeClasses; ++i)
            live += e->getHistogram(0)[i], dead += e->getHistogram(1)[i];
        QCOMPARE(std::make_pair(live, dead), std::make_pair(1, 2));
        // The live cell's circle: radius + 5 to its right, in the live colour (blue-green-red).
        const cv::Mat tag = tagImage(*e, frame);
        const auto &ring = *std::find_if(found.begin(), found.end(), [](const auto &o) { return o.fGreen == 1.0f; });
        QCOMPARE(tag.at<cv::Vec3b>(ring.nY, ring.nX + int(ring.fRadius) + 5), cv::Vec3b(0, 255, 0));

        // Drawn into a caller's array: the same picture, the engine's own image back afterwards,
        // and the caller's array left alone by later finds.
        std::vector<uchar> target(frame.total() * 3, 7);
        e->setTagImageTarget(target.data());
        QCOMPARE(find(*e, f).live, 1);
        e->setTagImageTarget(nullptr);
        QCOMPARE(cv::norm(cv::Mat(frame.size(), CV_8UC3, target.data()), tag, cv::NORM_INF), 0.0);
        QVERIFY(e->tagImage().data != target.data());
        const std::vector<uchar> kept = target;
        f.merge = true;
        find(*e, f);
        QVERIFY(target == kept);
        f.merge = false;

        f.merge = true;
        out = find(*e, f);
        QCOMPARE(std::make_pair(out.live, out.dead), std::make_pair(3, 0));
        QCOMPARE(bins(e->getHistogram(1), CellCounter::SizeClasses), bins(std::vector<int>(91).data(), 91));
        QCOMPARE(tagImage(*e, frame).at<cv::Vec3b>(ring.nY, ring.nX + int(ring.fRadius) + 5), cv::Vec3b(0, 127, 255));

        // Sizes beyond the histograms: counted, not binned.
        f = Finder(), f.sizeGain = 10.0f, f.maxSize = 100000;
        out = find(*e, f);
        QCOMPARE(out.live + out.dead, 3);
        QCOMPARE(bins(e->getHistogram(0), 91) + bins(e->getHistogram(1), 91),
                 bins(std::vector<int>(91).data(), 91) + bins(std::vector<int>(91).data(), 91));
        // Nothing in the window: zero counts and sizes, no division by zero.
        f = Finder(), f.minSize = 89;
        out = find(*e, f);
        QCOMPARE(std::make_tuple(out.live, out.dead, out.avgSize), std::make_tuple(0, 0, 0.0f));
        // No record at all: the mean intensity is 0.
        f = Finder(), f.maxMean = 10;
        out = find(*e, f);
        QCOMPARE(std::make_tuple(e->getFoundCells(), out.avgSize, out.meanIntensity), std::make_tuple(0, 0.0f, 0.0f));
    }

    // The -1.0 road: nothing to count, or an engine that cannot count, leaves the outputs.
    void refusals_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<float>("magnification");
        QTest::addColumn<Variant>("variant");
        QTest::addColumn<bool>("blank");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("no object") << 5 << 1.0f << Variant::Four << true << true;
        QTest::newRow("no object, colour tag") << 4 << 1.0f << Variant::Three << true << true;
        QTest::newRow("mode 1") << 1 << 1.0f << Variant::Four << false << false;
        QTest::newRow("mode 2, without circles") << 2 << 1.0f << Variant::Two << false << false;
        QTest::newRow("no scale") << 5 << 0.0f << Variant::Four << false << false;
        QTest::newRow("channel 4 in mode 5") << 5 << 1.0f << Variant::TwoChannel4 << false << false;
    }

    void refusals()
    {
        QFETCH(int, mode);
        QFETCH(float, magnification);
        QFETCH(Variant, variant);
        QFETCH(bool, blank);
        QFETCH(bool, cleared);
        // A first count on the drawn frame leaves records and histograms behind.
        const cv::Mat drawn = threeHoles();
        cv::Mat frame = blank ? field() : drawn;
        CellCounter e(mode, kH, kW, 0.001f, magnification, 1.0f);
        cv::Mat bgr;
        cv::cvtColor(drawn, bgr, cv::COLOR_GRAY2BGR);
        e.setImageData(mode == 5 ? drawn.data : bgr.data, 0, false);
        if (magnification > 0 && (mode == 5 || mode == 4))
            QVERIFY(find(e, Finder()).result >= 0.0);
        const int recordsBefore = e.getFoundCells();
        if (blank) {
            cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
            if (mode == 5)
                e.setImageData(frame.data, 0, false);
            else
                for (int channel : {0, 19})
                    e.setImageData(bgr.data, channel, false);
        }
        const Outputs out = find(e, Finder(), variant);
        QCOMPARE(out.result, -1.0);
        QCOMPARE(std::make_tuple(out.live, out.dead, out.avgSize, out.meanIntensity),
                 std::make_tuple(-7, -7, -7.0f, -7.0f));
        QCOMPARE(e.getFoundCells(), cleared ? 0 : recordsBefore);
        if (cleared) {
            QCOMPARE(bins(e.getHistogram(2), 9), QString("0,0,0,0,0,0,0,0,0"));
            cv::Mat expected;
            cv::cvtColor(frame, expected, cv::COLOR_GRAY2BGR);
            QCOMPARE(cv::norm(tagImage(e, frame), expected, cv::NORM_INF), 0.0);
        }
    }

    // The sister finders: the same records as findObjects4 where they agree, the colour frame
    // under the circles in mode 4, and dead marks where the centre disc would decide.
    void sisterFinders()
    {
        cv::Mat frame = nineDiscClump();
        disc(frame, {200, 200}, 20); // one hole: live without the centre disc
        disc(frame, {200, 200}, 7, kField);
        Finder f;
        f.split = true, f.ratio = 0.5f; // every centre-disc object is live
        auto four = brightfield(frame), three = brightfield(frame), two = brightfield(frame);
        const Outputs o4 = find(*four, f), o3 = find(*three, f, Variant::Three), o2 = find(*two, f, Variant::Two);
        const auto r4 = four->getFoundCellInformation(), r3 = three->getFoundCellInformation(),
                   r2 = two->getFoundCellInformation();
        QCOMPARE(std::make_tuple(o3.live, o3.dead, o3.avgSize, o3.meanIntensity),
                 std::make_tuple(o4.live, o4.dead, o4.avgSize, o4.meanIntensity));
        QVERIFY(r3.size() == r4.size() && std::memcmp(r3.data(), r4.data(), r4.size() * sizeof(r4[0])) == 0);
        QCOMPARE(cv::norm(tagImage(*three, frame), tagImage(*four, frame), cv::NORM_INF), 0.0);
        for (int h = 0; h < 3; ++h)
            QCOMPARE(bins(three->getHistogram(h), h == 2 ? 9 : 91), bins(four->getHistogram(h), h == 2 ? 9 : 91));
        // findObjects2: the decoys (small, live by the centre disc) turn dead; the split cells are
        // dead and the ring cell live in both.
        QCOMPARE(r2.size(), r4.size());
        int turned = 0;
        for (size_t i = 0; i < r4.size(); ++i) {
            QCOMPARE(std::make_tuple(r2[i].nX, r2[i].nY, r2[i].fSize, r2[i].nRoundness),
                     std::make_tuple(r4[i].nX, r4[i].nY, r4[i].fSize, r4[i].nRoundness));
            QCOMPARE(r2[i].fRed, r2[i].fGreen == 1.0f ? 0.0f : 1.0f);
            turned += r4[i].fGreen == 1.0f && r2[i].fRed == 1.0f;
        }
        QCOMPARE(turned, 10);
        QCOMPARE(std::make_pair(o2.live, o2.dead), std::make_pair(1, 19));

        // Mode 4: the grey frame in byte 1 of the colour frame, other bytes distinct.
        cv::Mat planes[3] = {255 - frame, frame, cv::Mat(frame.size(), CV_8UC1, cv::Scalar(7))}, colour;
        cv::merge(planes, 3, colour);
        CellCounter c4(4, kH, kW, 0.001f, 1.0f, 1.0f), c3(4, kH, kW, 0.001f, 1.0f, 1.0f),
            c2(4, kH, kW, 0.001f, 1.0f, 1.0f);
        for (CellCounter *e : {&c4, &c3, &c2})
            for (int channel : {0, 19})
                e->setImageData(colour.data, channel, false);
        find(c4, f);
        find(c3, f, Variant::Three);
        const auto m4 = c4.getFoundCellInformation(), m3 = c3.getFoundCellInformation();
        QVERIFY(m3.size() == r4.size() && std::memcmp(m3.data(), r4.data(), r4.size() * sizeof(r4[0])) == 0);
        QVERIFY(m4.size() == r4.size() && std::memcmp(m4.data(), r4.data(), r4.size() * sizeof(r4[0])) == 0);
        const cv::Mat tag3 = tagImage(c3, frame), tag4 = tagImage(c4, frame);
        cv::Mat grey3;
        cv::cvtColor(frame, grey3, cv::COLOR_GRAY2BGR);
        // Away from the circles (the bottom-left corner) each shows its own background.
        const cv::Rect corner(0, 200, 40, 40);
        QCOMPARE(cv::norm(tag3(corner), colour(corner), cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(tag4(corner), grey3(corner), cv::NORM_INF), 0.0);
        // The circles are the same: where findObjects4 drew over the grey, findObjects3 drew too.
        cv::Mat drawn4, drawn3;
        cv::compare(tag4.reshape(1), grey3.reshape(1), drawn4, cv::CMP_NE);
        cv::compare(tag3.reshape(1), colour.reshape(1), drawn3, cv::CMP_NE);
        QCOMPARE(cv::countNonZero(drawn4 & ~drawn3), 0);
        // Channel 4 in mode 4 counts the frame stored there: the same frame gives the same records.
        c2.setImageData(colour.data, 4, false);
        find(c2, f, Variant::TwoChannel4);
        const auto m2 = c2.getFoundCellInformation();
        QVERIFY(m2.size() == r2.size() && std::memcmp(m2.data(), r2.data(), r2.size() * sizeof(r2[0])) == 0);
        QCOMPARE(cv::norm(tagImage(c2, frame)(corner), colour(corner), cv::NORM_INF), 0.0);
    }

    // The counting tool's finders: the tallied records as rows, counts on standard error, and no
    // rows with zero counts when the engine finds nothing.
    void tool_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<bool>("blank");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QString>("protocol"); // the protocol file's text, or none
        // At 10X (0.554 um a pixel) the ring is 13 um, live by its hole; the square is dead by its
        // dark centre; the long bar fails the roundness limit of 60.
        const QString counted = "x,y,diameter_um,live|200,100,14.13,0|100,100,12.97,1";
        const QString two = "^total=2 live=1 dead=1 viability=50.0 concentration=\\d\\.\\d{3}e\\+0\\d\\n$";
        QTest::newRow("finder4") << "finder4" << false << counted << two << QString();
        QTest::newRow("finder3") << "finder3" << false << counted << two << QString();
        QTest::newRow("finder2") << "finder2" << false << counted << two << QString();
        QTest::newRow("nothing found") << "finder4" << true << "x,y,diameter_um,live"
                                       << "^total=0 live=0 dead=0 viability=0.0 concentration=0.000e\\+00\\n$"
                                       << QString();
        // The protocol's levels reach the finder: a 13 um size limit leaves the 14 um square out.
        QTest::newRow("protocol levels") << "finder4" << false << "x,y,diameter_um,live|100,100,12.97,1"
                                         << "^total=1 live=1 dead=0 viability=100.0 concentration=\\d\\.\\d{3}e\\+0\\d\\n$"
                                         << "[Max Cell Size]\nSize=13\n";
    }

    void tool()
    {
        QFETCH(QString, engine);
        QFETCH(bool, blank);
        QFETCH(QString, rows);
        QFETCH(QString, counts);
        QFETCH(QString, protocol);
        cv::Mat frame = field();
        if (!blank) {
            disc(frame, {100, 100}, 12);
            disc(frame, {100, 100}, 5, kField);
            square(frame, {200, 100}, 10);
            cv::rectangle(frame, cv::Rect(40, 180, 60, 12), cv::Scalar(kDark), cv::FILLED);
        }
        QTemporaryDir dir;
        ImReaderWriter tiff;
        QVERIFY(tiff.load(frame.data, kW, kH, 8, 1, 1, 1, 1) && tiff.write(dir.filePath("f.tif").toUtf8(), {}));
        QStringList arguments{"--engine", engine, dir.filePath("f.tif")};
        if (!protocol.isEmpty()) {
            QFile file(dir.filePath("Protocol_Small_BF.ini"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(protocol.toUtf8()) == protocol.toUtf8().size());
            file.close();
            arguments << "--protocol" << file.fileName();
        }
        QProcess tool;
        tool.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-count", arguments);
        QVERIFY(tool.waitForFinished(kHangBoundMs));
        QCOMPARE(tool.exitCode(), 0);
        const QString out = tool.readAllStandardOutput();
        QCOMPARE(out.split('\n', Qt::SkipEmptyParts).join('|'), rows);
        const QString err = tool.readAllStandardError();
        QVERIFY2(QRegularExpression(counts).match(err).hasMatch(), qPrintable(err));
    }

    // The object box: an origin outside moves in keeping the size, the far side is cut, and a
    // box left empty is passed over.
    void objectBox_data()
    {
        QTest::addColumn<cv::Point>("centre");
        QTest::addColumn<cv::Rect>("box");
        QTest::newRow("inside") << cv::Point(100, 100) << cv::Rect(90, 95, 21, 11);
        QTest::newRow("left edge") << cv::Point(5, 100) << cv::Rect(0, 95, 21, 11);
        QTest::newRow("right edge") << cv::Point(315, 100) << cv::Rect(305, 95, 15, 11);
        QTest::newRow("bottom edge") << cv::Point(100, 235) << cv::Rect(90, 230, 21, 10);
        QTest::newRow("beyond") << cv::Point(400, 100) << cv::Rect();
    }

    void objectBox()
    {
        QFETCH(cv::Point, centre);
        QFETCH(cv::Rect, box);
        const BoxProbe e(5, kH, kW, 0.001f, 1.0f, 1.0f);
        QCOMPARE(e.objectBox(cv::RotatedRect(centre, cv::Size2f(20, 10), 0)), box);
    }

    // Frames of countless tiny objects (seeded noise, a 1-pixel checkerboard): each object's mask
    // is the object as drawn from the frame's whole contour list, every pixel.
    void objectMaskOfTinyObjects_data()
    {
        QTest::addColumn<cv::Mat>("mask");
        cv::Mat noise(kH / 2, kW / 2, CV_8UC1);
        cv::RNG rng(52);
        rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
        cv::threshold(noise, noise, 95, 255, cv::THRESH_BINARY_INV);
        cv::medianBlur(noise, noise, 3);
        QTest::newRow("noise") << noise;
        cv::Mat board(kH / 5, kW / 5, CV_8UC1);
        for (int y = 0; y < board.rows; ++y)
            for (int x = 0; x < board.cols; ++x)
                board.at<uchar>(y, x) = (x + y) % 2 ? 0 : 255;
        QTest::newRow("checkerboard") << board;
    }

    void objectMaskOfTinyObjects()
    {
        QFETCH(cv::Mat, mask);
        const BoxProbe e(5, mask.rows, mask.cols, 0.001f, 1.0f, 1.0f);
        std::vector<Points> contours;
        std::vector<cv::Vec4i> hierarchy;
        cv::findContours(mask, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
        QVERIFY(contours.size() > 100);
        for (size_t i = 0; i < contours.size(); ++i) {
            const cv::Rect box = e.objectBox(cv::minAreaRect(contours[i]));
            if (box.empty())
                continue;
            cv::Mat reference = cv::Mat::zeros(box.size(), CV_8UC1);
            cv::drawContours(reference, contours, int(i), cv::Scalar(255), cv::FILLED, cv::LINE_8, cv::noArray(), 0,
                             -box.tl());
            QCOMPARE(cv::norm(BoxProbe::objectMask(contours[i], box), reference, cv::NORM_INF), 0.0);
        }
    }

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
