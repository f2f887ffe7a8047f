// The own counter's building blocks, each against an independent answer: worked numbers, OpenCV's
// own labelling, the threshold rule computed literally, drawn shapes of known axes, padded images.
#include "CellCount_alg.h"

#include <QtTest>

#include <cmath>
#include <numeric>
#include <opencv2/imgproc.hpp>

using Record = _MainDeclusterCountInfo_NimboS;

namespace {

// One blob record with cells of (size, valid, live).
Record blob(std::initializer_list<std::tuple<float, bool, bool>> cells, int cellNum = INT_MIN)
{
    Record r{};
    r.nCellNum = int16_t(cellNum != INT_MIN ? cellNum : int(cells.size()));
    int k = 1;
    for (const auto &[size, valid, live] : cells) {
        r.fLongAxis[k] = size;
        r.bValid[k] = valid;
        r.bLive[k++] = live;
    }
    return r;
}

// The threshold rule as the counter documents it: natural logarithms of ratios, summed bin by bin.
int literalMaxEntropy(const cv::Mat &img, int offset)
{
    double p[256] = {}, total[256] = {}, P = 0.0;
    const double n = double(img.total());
    for (auto it = img.begin<uchar>(); it != img.end<uchar>(); ++it)
        p[*it] += 1.0;
    for (double &v : p)
        v /= n;
    for (int t = 0; t < 255; ++t) {
        P += p[t];
        double hb = 0.0, hw = 0.0;
        for (int i = 0; i <= t && P > 0; ++i)
            hb -= p[i] > 0 ? p[i] / P * std::log(p[i] / P) : 0.0;
        for (int i = t + 1; i < 256 && 1.0 - P > 0; ++i)
            hw -= p[i] > 0 ? p[i] / (1.0 - P) * std::log(p[i] / (1.0 - P)) : 0.0;
        total[t] = hb + hw;
    }
    const int T = int(std::max_element(total, total + 256) - total); // first of the largest
    const int floor = int(cv::sum(img)[0]) / int(n) + offset;
    return std::clamp(std::max(T, floor), 0, 255);
}

struct Tables
{
    explicit Tables(int entries) : left(entries, 9999), top(entries, 9999), right(entries), bottom(entries), area(entries) {}
    std::vector<short> left, top, right, bottom;
    std::vector<int> area;
};

cv::Mat randomMask(cv::RNG &rng)
{
    cv::Mat noise(rng.uniform(8, 120), rng.uniform(8, 160), CV_8U), mask;
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    if (rng.uniform(0, 2)) // blobs as well as speckle
        cv::GaussianBlur(noise, noise, {5, 5}, 1.5);
    const double level = rng.uniform(0.25, 0.7);
    cv::threshold(noise, mask, level * 255.0, 255, cv::THRESH_BINARY);
    return mask;
}

// A filled ellipse or rectangle of known full axes: the pixels whose centres lie inside it.
cv::Mat shapeMask(bool ellipse, float longSide, float shortSide, float degrees)
{
    cv::Mat m = cv::Mat::zeros(80, 90, CV_8U);
    const double angle = degrees * CV_PI / 180.0, a = longSide / 2.0, b = shortSide / 2.0;
    for (int y = 0; y < m.rows; ++y)
        for (int x = 0; x < m.cols; ++x) {
            const double dx = x - 45.3, dy = y - 40.6;
            const double u = (dx * std::cos(angle) + dy * std::sin(angle)) / a, v = (dy * std::cos(angle) - dx * std::sin(angle)) / b;
            m.at<uchar>(y, x) = (ellipse ? u * u + v * v <= 1.0 : std::abs(u) <= 1.0 && std::abs(v) <= 1.0) ? 255 : 0;
        }
    return m;
}

} // namespace

class TestCountBlocks : public QObject
{
    Q_OBJECT
private slots:
    void statistics()
    {
        QCOMPARE(CellCount_alg::getConcentration(100, 2.0f, 0.0f), 0.0f);
        QCOMPARE(CellCount_alg::getConcentration(0, 2.0f, 0.001f), 0.0f);
        QCOMPARE(CellCount_alg::getConcentration(100, 2.0f, 0.001f), 100 / 0.001f * 2.0f);
        for (float bad : {-0.001f, NAN, INFINITY})
            QCOMPARE(CellCount_alg::getConcentration(100, 2.0f, bad), 0.0f);
        QCOMPARE(CellCount_alg::getViability(0, 0), 0.0f);
        QCOMPARE(CellCount_alg::getViability(3, 1), 75.0f);

        // Record 0 is never read; sizes add their integer parts; invalid cells and empty blobs count nowhere.
        std::vector<Record> r{blob({{500.0f, true, true}}), blob({{10.9f, true, true}, {11.9f, true, false}}),
                              blob({{30.0f, false, true}}), blob({{40.0f, true, true}}, 0),
                              blob({{50.0f, true, true}}, -3),
                              blob({{12.5f, false, false}, {15.2f, true, false}, {5.0f, false, false}, {5.0f, false, false},
                                    {5.0f, false, false}, {5.0f, false, false}, {20.0f, true, true}}),
                              blob({{7.0f, true, true}, {99.0f, true, false}})};
        QCOMPARE(CellCount_alg::getAvgCellSize(2, r.data()), 10.5f);
        QCOMPARE(CellCount_alg::getAvgCellSize(0, r.data()), 0.0f);
        QCOMPARE(CellCount_alg::getAvgCellSize(4, r.data()), 10.5f);
        for (int bins : {6, 101}) {
            std::vector<int> live(bins, 0), dead(bins, 0), cluster(bins, 0);
            CellCount_alg::getHistogram(0, r.data(), live.data(), dead.data(), cluster.data(), bins);
            QVERIFY(std::count(live.begin(), live.end(), 0) == bins && std::count(cluster.begin(), cluster.end(), 0) == bins);
            CellCount_alg::getHistogram(int(r.size()) - 1, r.data(), live.data(), dead.data(), cluster.data(), bins);
            // The size 99 cell fits only 101 bins; it is never counted past the array.
            QCOMPARE(std::accumulate(live.begin(), live.end(), 0), bins == 6 ? 0 : 3);
            QCOMPARE(std::accumulate(dead.begin(), dead.end(), 0), bins == 6 ? 0 : 3);
            QCOMPARE(cluster[bins == 6 ? 5 : 7], 1);
            QCOMPARE(cluster[2], 2);
            QCOMPARE(std::accumulate(cluster.begin(), cluster.end(), 0), 3);
            if (bins == 101)
                QVERIFY(live[10] == 1 && dead[11] == 1 && dead[15] == 1 && live[20] == 1 && live[7] == 1 && dead[99] == 1);
        }
    }

    void threshold()
    {
        CellCount_alg alg;
        cv::Mat one(30, 40, CV_8U, cv::Scalar(77));
        QCOMPARE(alg.Get_MaxEntropy_Threshold(one.data, 40, 30, 0), 77);
        QCOMPARE(alg.Get_MaxEntropy_Threshold(one.data, 40, 30, 300), 255);
        QCOMPARE(alg.Get_MaxEntropy_Threshold(one.data, 40, 30, -100), 0);
        cv::Mat halves(30, 40, CV_8U, cv::Scalar(50));
        halves.colRange(20, 40).setTo(200);
        QCOMPARE(alg.Get_MaxEntropy_Threshold(halves.data, 40, 30, 0), 125); // ties keep t = 0; the mean wins
        QCOMPARE(alg.Get_MaxEntropy_Threshold(halves.data, 40, 30, -200), 0);
        QCOMPARE(alg.Get_MaxEntropy_Threshold(halves.data, 0, 30, 0), 0);
        cv::RNG rng(7);
        for (int i = 0; i < 30; ++i) {
            cv::Mat img(rng.uniform(1, 60), rng.uniform(1, 60), CV_8U);
            rng.fill(img, cv::RNG::NORMAL, rng.uniform(20, 230), rng.uniform(1, 60));
            const int offset = rng.uniform(-120, 40);
            QCOMPARE(alg.Get_MaxEntropy_Threshold(img.data, img.cols, img.rows, offset), literalMaxEntropy(img, offset));
        }

        cv::Mat src(6, 5, CV_8U, cv::Scalar(0)), dst(6, 5, CV_8U, cv::Scalar(7));
        src.at<uchar>(0, 0) = src.at<uchar>(1, 1) = src.at<uchar>(2, 2) = 255; // 3 foreground pixels
        QCOMPARE(alg.ProcessBinary(src.data, dst.data, 5, 6, 5, 300), 2);
        QCOMPARE(cv::countNonZero(dst), 3);
        src.at<uchar>(3, 3) = 255;
        QCOMPARE(alg.ProcessBinary(src.data, dst.data, 5, 6, 5, 255), 0);
        QCOMPARE(alg.ProcessBinary(src.data, dst.data, 5, 6, 5, 1), 0);
        src.setTo(200);
        QCOMPARE(alg.ProcessBinary(src.data, dst.data, 5, 6, 5, 200), 1);
        QCOMPARE(alg.ProcessBinary(src.data, dst.data, 5, 6, 5, 0), 2);
        cv::Mat wide(4, 8, CV_8U, cv::Scalar(9)), out(4, 8, CV_8U, cv::Scalar(9));
        wide.colRange(0, 4).setTo(100); // only the first 3 columns of each 8-byte row are pixels
        QCOMPARE(alg.ProcessBinary(wide.data, out.data, 3, 4, 8, 50), 1);
        QVERIFY(cv::countNonZero(out.colRange(0, 3) != 255) == 0 && cv::countNonZero(out.colRange(3, 8) != 9) == 0);

        QCOMPARE(CustomRound(1.25, 1), 1.3);
        QCOMPARE(CustomRound(123.0, -1), 120.0);
        QCOMPARE(CustomRound(-2.5, 0), -2.0);
        QVERIFY(ImageWidthArrange(1281, true) == 1284 && ImageWidthArrange(1281, false) == 3844 && ImageWidthArrange(1280, true) == 1280);
    }

    // Components, boxes and areas as OpenCV finds them, numbered by their first pixel, gated by area.
    void labellingAgainstOpenCV()
    {
        CellCount_alg alg;
        cv::RNG rng(2024);
        for (int m = 0; m < 200; ++m) {
            const cv::Mat mask = randomMask(rng);
            const bool eight = m % 4 != 3;
            const int minArea = rng.uniform(1, 4), maxArea = rng.uniform(0, 2) ? 1 << 30 : rng.uniform(5, 60);
            cv::Mat cc, stats, centroids;
            const int n = cv::connectedComponentsWithStats(mask, cc, stats, centroids, eight ? 8 : 4, CV_32S);
            std::vector<int> first(n, INT_MAX), order;
            for (int i = 0; i < int(mask.total()); ++i)
                first[cc.at<int>(i)] = std::min(first[cc.at<int>(i)], i);
            for (int k = 1; k < n; ++k)
                order.push_back(k);
            std::sort(order.begin(), order.end(), [&](int a, int b) { return first[a] < first[b]; });

            Tables t(n + 1);
            cv::Mat labels = cv::Mat::zeros(mask.size(), CV_32S);
            bool tooMany = true;
            const int got = eight ? alg.NormalLabeling_ver_2(mask.data, labels.ptr<int>(), mask.cols, mask.rows, minArea, maxArea,
                                                             t.left.data(), t.top.data(), t.right.data(), t.bottom.data(), t.area.data(), &tooMany)
                                  : alg.NormalLabeling_ver_2(mask.data, labels.ptr<int>(), mask.cols, mask.rows, minArea, maxArea, n + 1,
                                                             t.left.data(), t.top.data(), t.right.data(), t.bottom.data(), t.area.data(), false, &tooMany);
            QVERIFY(!tooMany);
            std::vector<int> expect(n, -1); // OpenCV label -> ours
            int next = 0;
            for (int k : order)
                if (stats.at<int>(k, cv::CC_STAT_AREA) >= minArea && stats.at<int>(k, cv::CC_STAT_AREA) <= maxArea)
                    expect[k] = ++next;
            QCOMPARE(got, next);
            for (int i = 0; i < int(mask.total()); ++i)
                QCOMPARE(labels.at<int>(i), cc.at<int>(i) == 0 ? 0 : expect[cc.at<int>(i)]);
            for (int k = 1; k < n; ++k) {
                const int l = expect[k];
                if (l < 0)
                    continue;
                const int *s = stats.ptr<int>(k);
                QVERIFY(t.left[l] == s[cv::CC_STAT_LEFT] && t.top[l] == s[cv::CC_STAT_TOP] && t.area[l] == s[cv::CC_STAT_AREA]);
                QVERIFY(t.right[l] == s[cv::CC_STAT_LEFT] + s[cv::CC_STAT_WIDTH] - 1 && t.bottom[l] == s[cv::CC_STAT_TOP] + s[cv::CC_STAT_HEIGHT] - 1);
            }
            for (int l = next + 1; l <= n; ++l) // dropped numbers are reset
                QVERIFY(t.left[l] == 9999 && t.top[l] == 9999 && t.right[l] == 0 && t.bottom[l] == 0 && t.area[l] == 0);
        }
    }

    void labellingLimits()
    {
        CellCount_alg alg;
        // A lattice of single pixels: 100 x 100 components.
        cv::Mat dots = cv::Mat::zeros(200, 200, CV_8U);
        for (int y = 0; y < 200; y += 2)
            for (int x = 0; x < 200; x += 2)
                dots.at<uchar>(y, x) = 255;
        cv::Mat labels = cv::Mat::zeros(dots.size(), CV_32S);
        Tables t(CellCount_alg::kLabelLimit + 1);
        bool tooMany = false;
        QCOMPARE(alg.NormalLabeling_ver_2(dots.data, labels.ptr<int>(), 200, 200, 1, 10, t.left.data(), t.top.data(),
                                          t.right.data(), t.bottom.data(), t.area.data(), &tooMany), 0);
        QVERIFY(tooMany);
        QCOMPARE(labels.at<int>(0, 0), 1); // labels were written up to the limit
        dots.rowRange(198, 200).setTo(0); // 9,900 components stay below the limit
        labels.setTo(0);
        QCOMPARE(alg.NormalLabeling_ver_2(dots.data, labels.ptr<int>(), 200, 200, 1, 10, t.left.data(), t.top.data(),
                                          t.right.data(), t.bottom.data(), t.area.data(), &tooMany), 9900);
        QVERIFY(!tooMany);
        // Limit of the general form, reached exactly.
        Tables small(11);
        labels.setTo(0);
        QCOMPARE(alg.NormalLabeling_ver_2(dots.data, labels.ptr<int>(), 20, 2, 1, 5, 10, small.left.data(), small.top.data(),
                                          small.right.data(), small.bottom.data(), small.area.data(), true, &tooMany), 0);
        QVERIFY(tooMany);

        // A blob's cells: 60 dots in 50-entry tables stop at 49 labels, a dropped one not counted.
        cv::Mat blob = cv::Mat::zeros(20, 60, CV_8U);
        for (int i = 0; i < 60; ++i)
            blob.at<uchar>(3 * (i / 20), 3 * (i % 20)) = 255;
        blob.at<uchar>(0, 1) = 255; // the first component has area 2 and is dropped by maxArea 1
        Tables cells(Record::kCellSlots);
        labels = cv::Mat::zeros(blob.size(), CV_32S);
        QCOMPARE(alg.NormalLabeling_ver_2(blob.data, labels.ptr<int>(), 60, 20, 1, 1, cells.left.data(), cells.top.data(),
                                          cells.right.data(), cells.bottom.data(), cells.area.data(), &tooMany, Record::kMaxCells), 49);
        QVERIFY(!tooMany && labels.at<int>(0, 0) == -1 && labels.at<int>(0, 3) == 1 && labels.at<int>(6, 27) == 49);
        QVERIFY(labels.at<int>(6, 30) == 0 && cells.left[1] == 3 && cells.left[49] == 27 && cells.top[49] == 6);

        // Bad limits write nothing.
        labels.setTo(0);
        for (auto [lo, hi] : std::initializer_list<std::pair<int, int>>{{0, 5}, {3, 0}, {6, 5}})
            QCOMPARE(alg.NormalLabeling_ver_2(blob.data, labels.ptr<int>(), 60, 20, lo, hi, cells.left.data(), cells.top.data(),
                                              cells.right.data(), cells.bottom.data(), cells.area.data()), 0);
        QCOMPARE(cv::countNonZero(labels), 0);
    }

    void axes()
    {
        CellCount_alg alg;
        for (bool ellipse : {true, false})
            for (float angle : {0.0f, 20.0f, 45.0f, 70.0f, 90.0f, 135.0f})
                for (auto [a, b] : std::initializer_list<std::pair<float, float>>{{40.0f, 20.0f}, {24.0f, 22.0f}, {30.0f, 9.0f}}) {
                    float longAxis = 0, shortAxis = 0;
                    int l = -5, t = -5, r = -5, btm = -5;
                    const cv::Mat shape = shapeMask(ellipse, a, b, angle);
                    const cv::Rect bb = cv::boundingRect(shape);
                    alg.NimboS_Declustering_Partial_LongShort(shape, &longAxis, &shortAxis, &l, &t, &r, &btm, ellipse);
                    const QByteArray what = QByteArray::number(a) + "x" + QByteArray::number(b) + " at " + QByteArray::number(angle)
                                            + (ellipse ? " ellipse: " : " rectangle: ") + QByteArray::number(longAxis) + "x" + QByteArray::number(shortAxis);
                    // The outline runs through pixel centres, which span about a side less one;
                    // the routine adds the one back.
                    QVERIFY2(std::abs(longAxis - a) <= 1.0f && std::abs(shortAxis - b) <= 1.0f, what);
                    QVERIFY2(l >= 0 && t >= 0 && l <= bb.x + 1 && t <= bb.y + 1 && r >= bb.br().x - 2 && btm >= bb.br().y - 2 && r < 90 && btm < 80, what);
                }

        float longAxis = 5, shortAxis = 5;
        int box[4] = {-7, -7, -7, -7};
        cv::Mat m = cv::Mat::zeros(30, 30, CV_8U);
        alg.NimboS_Declustering_Partial_LongShort(m, &longAxis, &shortAxis, &box[0], &box[1], &box[2], &box[3]);
        QVERIFY(longAxis == 0 && shortAxis == 0 && box[0] == -7 && box[3] == -7);
        m.at<uchar>(4, 6) = 255;
        alg.NimboS_Declustering_Partial_LongShort(m, &longAxis, &shortAxis, &box[0], &box[1], &box[2], &box[3]);
        QVERIFY(longAxis == 1.0f && shortAxis == 1.0f && box[0] == 6 && box[1] == 4 && box[2] == 6 && box[3] == 4);
        m.setTo(0);
        m(cv::Rect(3, 5, 10, 4)).setTo(255);
        alg.NimboS_Declustering_Partial_LongShort(m, &longAxis, &shortAxis, &box[0], &box[1], &box[2], &box[3]);
        QVERIFY(longAxis == 10.0f && shortAxis == 4.0f && box[0] == 3 && box[1] == 5 && box[2] == 12 && box[3] == 8);
        // Collinear outline points: the ellipse fit gives a side of 0 (a bar with two bumps) or of
        // almost 0 (a line of slope 1/2); the minimum-area rectangle stands in.
        m.setTo(0);
        m(cv::Rect(2, 5, 18, 1)).setTo(255);
        m.at<uchar>(4, 6) = m.at<uchar>(4, 12) = 255;
        alg.NimboS_Declustering_Partial_LongShort(m, &longAxis, &shortAxis, &box[0], &box[1], &box[2], &box[3]);
        QVERIFY2(longAxis == 18.0f && shortAxis == 2.0f, QByteArray::number(longAxis) + " " + QByteArray::number(shortAxis));
        m.setTo(0);
        cv::line(m, {2, 2}, {20, 11}, 255);
        alg.NimboS_Declustering_Partial_LongShort(m, &longAxis, &shortAxis, &box[0], &box[1], &box[2], &box[3]);
        QVERIFY2(std::abs(longAxis - (std::hypot(18.0f, 9.0f) + 1)) < 0.5f && shortAxis < 2.0f, QByteArray::number(longAxis));
        // A fitted ellipse larger than the mask is clipped to it.
        m.setTo(255);
        alg.NimboS_Declustering_Partial_LongShort(m(cv::Rect(0, 0, 30, 30)), &longAxis, &shortAxis, &box[0], &box[1], &box[2], &box[3]);
        QVERIFY(box[0] == 0 && box[1] == 0 && box[2] == 29 && box[3] == 29);
        // Masks OpenCV refuses.
        for (const cv::Mat &bad : {cv::Mat(), cv::Mat(cv::Mat::ones(10, 10, CV_32F))}) {
            longAxis = shortAxis = 5;
            alg.NimboS_Declustering_Partial_LongShort(bad, &longAxis, &shortAxis, &box[0], &box[1], &box[2], &box[3]);
            QVERIFY(longAxis == 0 && shortAxis == 0);
        }
    }

    void liveDead_data()
    {
        QTest::addColumn<int>("whole");   // grey of the whole box outside the centre
        QTest::addColumn<int>("center");  // grey of the central box
        QTest::addColumn<bool>("centerInMask");
        QTest::addColumn<int>("result");
        QTest::newRow("s = 251 accepted") << 229 << 229 << true << 0;
        QTest::newRow("s = 253 rejected") << 230 << 230 << true << -1;
        QTest::newRow("centre 90, s 90: live") << 82 << 90 << true << 1;
        QTest::newRow("centre 89 below the live minimum") << 46 << 89 << true << 0;
        QTest::newRow("centre outside the mask: dead") << 150 << 250 << false << 0;
        QTest::newRow("no mask pixel: rejected") << -1 << -1 << false << -1;
    }
    void liveDead()
    {
        QFETCH(int, whole);
        QFETCH(int, center);
        QFETCH(bool, centerInMask);
        QFETCH(int, result);
        // A cell box 40 wide: whole box +-14 (whole range 0.7), central box +-2 (0.1) round (50, 50).
        cv::Mat grey(100, 100, CV_8U, cv::Scalar(std::max(whole, 0))), mask(100, 100, CV_8U, cv::Scalar(whole >= 0 ? 255 : 0));
        grey(cv::Rect(48, 48, 5, 5)).setTo(center >= 0 ? center : 0);
        if (!centerInMask)
            mask(cv::Rect(48, 48, 5, 5)).setTo(0);
        CellCount_alg alg;
        // The centre box is 25 of the 29 x 29 whole box: the whole mean is what makes s.
        const int wholeMean = whole < 0 ? 0 : centerInMask ? (whole * (841 - 25) + center * 25) / 841 : whole;
        QCOMPARE(alg.NimboS_Decluster_is_Live(grey, mask, 30, 70, 30, 70, 50, 50, 10, 251, 90, 1.1f, 0.1f, 0.7f),
                 whole < 0 || wholeMean * 1.1f > 251.999f ? -1 : result);
    }

    // Boxes reaching outside the images read only what is there: the same verdict as on a copy
    // padded with unmasked pixels. Under ASan, a read outside the images stops the test.
    void liveDeadAtTheEdge()
    {
        CellCount_alg alg;
        cv::RNG rng(11);
        cv::Mat grey(60, 70, CV_8U), mask(60, 70, CV_8U);
        for (int i = 0; i < 300; ++i) {
            rng.fill(grey, cv::RNG::UNIFORM, 40, 220);
            rng.fill(mask, cv::RNG::UNIFORM, 0, 2);
            mask *= 255;
            const int cx = rng.uniform(-5, 75), cy = rng.uniform(-5, 65), w = rng.uniform(1, 120), h = rng.uniform(1, 120);
            const int liveMin = rng.uniform(40, 200);
            cv::Mat g2, m2;
            cv::copyMakeBorder(grey, g2, 70, 70, 70, 70, cv::BORDER_CONSTANT, 0);
            cv::copyMakeBorder(mask, m2, 70, 70, 70, 70, cv::BORDER_CONSTANT, 0);
            QCOMPARE(alg.NimboS_Decluster_is_Live(grey, mask, 0, w, 0, h, cx, cy, 10, 251, liveMin, 1.1f, 0.3f, 0.9f),
                     alg.NimboS_Decluster_is_Live(g2, m2, 0, w, 0, h, cx + 70, cy + 70, 10, 251, liveMin, 1.1f, 0.3f, 0.9f));
        }
        QCOMPARE(alg.NimboS_Decluster_is_Live(grey, cv::Mat(), 0, 10, 0, 10, 5, 5, 10, 251, 90, 1.1f, 0.1f, 0.7f), -1);
    }
};

QTEST_APPLESS_MAIN(TestCountBlocks)
#include "tst_count_blocks.moc"
