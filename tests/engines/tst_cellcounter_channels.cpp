// The engine's three-channel work on image sets drawn here: overlay masks, the two-colour and
// fluorescence finders with their classes, bins and refusals, the quick count's size limits, the
// transfection efficiency and control class, manual cell states, the object list file as Python's
// csv reads it, and the channel shift against OpenCV's phase correlation.
#include "CellCounter.h"
#include "HangBound.h"

#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>
#include <numeric>
#include <random>

using Quorvan::CellCounter;
using Quorvan::TObj;

namespace {

constexpr int kW = 320, kH = 240;
constexpr int kField = 180, kDark = 40, kStain = 200;

// A three-channel engine whose sizes are diameters in pixels (1 micrometre a pixel, no offset).
std::unique_ptr<CellCounter> engine(int mode = 1, int w = kW, int h = kH, float pixelSize = 1.0f)
{
    auto e = std::make_unique<CellCounter>(mode, h, w, 0.001f, 1.0f, pixelSize);
    e->setSizeCalibration(1.0f, 0.0f);
    return e;
}

// Hands a grey image to the engine as image index (each byte of the 3-byte pixels the same).
void setChannel(CellCounter &e, int index, const cv::Mat &grey)
{
    cv::Mat bgr;
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    e.setImageData(bgr.data, index, false);
}

// One engine image as handed out (first byte of each pixel).
cv::Mat picture(CellCounter &e, int id)
{
    unsigned char *data = e.getImageData(id, false, 2);
    if (!data)
        return {};
    cv::Mat plane;
    const cv::Mat &frame = e.getImage(2);
    cv::extractChannel(cv::Mat(frame.rows, frame.cols, CV_8UC3, data), plane, 0);
    return plane.clone();
}

cv::Mat translation(int dx, int dy)
{
    return (cv::Mat_<float>(2, 3) << 1, 0, float(dx), 0, 1, float(dy));
}

struct Cell
{
    cv::Point at;
    int radius;
    int green, red; // stain values; both 0 for an unstained cell
};

// The set: brightfield (channels 1 and 5) dark discs on a bright field, green and red stains
// bright discs on black.
void draw(CellCounter &e, const std::vector<Cell> &cells, cv::Size size = {kW, kH})
{
    cv::Mat bright(size, CV_8UC1, cv::Scalar(kField)), green(size, CV_8UC1, cv::Scalar(0)),
        red(size, CV_8UC1, cv::Scalar(0));
    for (const Cell &c : cells) {
        cv::circle(bright, c.at, c.radius, cv::Scalar(kDark), cv::FILLED);
        if (c.green)
            cv::circle(green, c.at, c.radius, cv::Scalar(c.green), cv::FILLED);
        if (c.red)
            cv::circle(red, c.at, c.radius, cv::Scalar(c.red), cv::FILLED);
    }
    setChannel(e, 1, bright);
    setChannel(e, 5, bright);
    setChannel(e, 2, green);
    setChannel(e, 3, red);
}

int sum(const int *bins, int n)
{
    return std::accumulate(bins, bins + n, 0);
}

// Four live cells, two dead ones, one dim green one (below the live threshold), and a clump of
// two touching live cells.
std::vector<Cell> liveDeadSet()
{
    return {{{40, 40}, 8, kStain, 0},  {{100, 40}, 8, kStain, 0}, {{160, 40}, 8, kStain, 0},
            {{220, 40}, 8, kStain, 0}, {{40, 120}, 8, 0, kStain},  {{100, 120}, 8, 0, kStain},
            {{160, 120}, 8, 15, 0},    {{100, 190}, 8, kStain, 0}, {{116, 190}, 8, kStain, 0}};
}

struct LiveDead
{
    double result = 0;
    int live = -7, dead = -7;
    float size = -7, green = -7, red = -7, liveGreen = -7, deadRed = -7;
};

LiveDead countLiveDead(CellCounter &e, int maxSize = 60, bool list = false, int noSplit = 0)
{
    LiveDead r;
    r.result = e.findObjects(3, maxSize, 1.5f, 20, 20, 50.0f, 0, r.live, r.dead, r.size, r.green, r.red, r.liveGreen,
                             r.deadRed, list, noSplit);
    return r;
}

} // namespace

class TestCellCounterChannels : public QObject
{
    Q_OBJECT

private slots:
    void overlayMask_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("no shift") << 0 << 0;
        QTest::newRow("shift 7, -4") << 7 << -4;
    }

    void overlayMask()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        auto e = engine();
        draw(*e, {{{60, 60}, 10, kStain, 0}, {{150, 100}, 12, 0, kStain}, {{250, 180}, 9, kStain, kStain}});
        e->makeOverlayMaskImageData(100, 100, 0, 0, dx, dy);
        const cv::Mat green = picture(*e, 9), red = picture(*e, 10), overlay = picture(*e, 12);
        cv::Mat moved, expected;
        cv::warpAffine(red, moved, translation(dx, dy), red.size());
        cv::bitwise_or(green, moved, expected);
        QCOMPARE(cv::countNonZero(green != 0), cv::countNonZero(green == 255));
        QVERIFY(cv::countNonZero(expected) > 0);
        QCOMPARE(cv::countNonZero(overlay != expected), 0);
    }

    void liveDeadCount()
    {
        auto e = engine();
        draw(*e, liveDeadSet());
        e->makeOverlayMaskImageData(10, 10, 0, 0, 0, 0);
        const LiveDead r = countLiveDead(*e);
        QVERIFY(r.result >= 0.0);
        QCOMPARE(r.live, 6); // four singles and the clump's two cells
        QCOMPARE(r.dead, 2);
        QCOMPARE(e->getFoundCells(), 9); // the dim green cell is kept, not counted
        QCOMPARE(sum(e->getHistogram(0), CellCounter::SizeClasses), 6);
        QCOMPARE(sum(e->getHistogram(1), CellCounter::SizeClasses), 2);
        const int *clusters = e->getHistogram(2);
        QCOMPARE(clusters[1], 7);
        QCOMPARE(clusters[2], 1);
        QVERIFY(std::abs(r.deadRed - kStain) < 1.0f);
        QVERIFY(r.size > 14.0f && r.size < 22.0f);
        for (const TObj &o : e->getFoundCellInformation())
            QCOMPARE(o.nGreenClass, int(std::lrint(std::log10(o.fGreen + 1.0f) * 10.0f)));

        // Without the distance split the clump is dropped.
        const LiveDead whole = countLiveDead(*e, 60, false, 1);
        QCOMPARE(whole.live, 4);
        QCOMPARE(e->getHistogram(2)[2], 0);

        // A window reaching past the histograms counts without binning.
        e->setSizeCalibration(0.0f, 120.0f);
        const LiveDead large = countLiveDead(*e, 200);
        QCOMPARE(large.live + large.dead, 8);
        QCOMPARE(sum(e->getHistogram(0), CellCounter::SizeClasses) + sum(e->getHistogram(1), 91), 0);
    }

    void greenRedUnstained()
    {
        auto e = engine();
        std::vector<Cell> cells = liveDeadSet();
        cells.push_back({{260, 190}, 8, 0, 0}); // unstained
        cells.push_back({{220, 120}, 8, 90, 90}); // equal means: red
        draw(*e, cells);
        e->makeOverlayMaskImageData(10, 10, 0, 0, 0, 0);
        int green = -7, red = -7, unstained = -7;
        float size = -7;
        QVERIFY(e->findObjects(3, 60, 0, 255, 1.5f, 50.0f, 5, green, red, unstained, size, false, 0) >= 0.0);
        QCOMPARE(green, 7);
        QCOMPARE(red, 3);
        QCOMPARE(unstained, 1);
        QCOMPARE(sum(e->getHistogram(0), CellCounter::SizeClasses), 10); // green and red
        QCOMPARE(sum(e->getHistogram(1), CellCounter::SizeClasses), 1);  // unstained
    }

    // The failure exits leave every output as it was.
    void refusals()
    {
        auto noCells = engine();
        cv::Mat green(kH, kW, CV_8UC1, cv::Scalar(0));
        cv::circle(green, {50, 50}, 8, cv::Scalar(kStain), cv::FILLED);
        setChannel(*noCells, 2, green); // stained, but no brightfield object under it
        setChannel(*noCells, 5, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kField)));
        noCells->makeOverlayMaskImageData(10, 10, 0, 0, 0, 0);
        auto grey = engine(0);
        for (CellCounter *e : {noCells.get(), grey.get()}) {
            const LiveDead r = countLiveDead(*e);
            QCOMPARE(r.result, -1.0);
            QCOMPARE(r.live, -7);
            QCOMPARE(r.liveGreen, -7.0f);
            int g = -7, rd = -7, u = -7, count = -7;
            float size = -7, radius = -7, intensity = -7;
            QCOMPARE(e->findObjects(3, 60, 0, 255, 1.5f, 50.0f, 5, g, rd, u, size, false, 0), -1.0);
            QCOMPARE(g + rd + u, -21);
            QCOMPARE(e->getFoundCells(), 0);
            if (e == grey.get()) {
                QCOMPARE(e->findObjects(count), -1.0);
                QCOMPARE(count, -7);
            }
            int histogram[71];
            std::fill(std::begin(histogram), std::end(histogram), 3);
            QCOMPARE(e->findObjects(1, 0, 60, 0, 255, 1.5f, 50.0f, 0, radius, histogram, intensity, 0), -1.0);
            QCOMPARE(histogram[5], e == grey.get() ? 3 : 0); // the refused mode writes nothing
        }
        float red = 5;
        int n = 5;
        grey->getAvgRedIntensity(0, 0, red, n);
        QCOMPARE(red, -1.0f);
        QCOMPARE(n, 0);
    }

    // Log classes of summed green values 0, 9 and 999, and a sum beyond class 70.
    void fluorescenceClasses()
    {
        auto e = engine();
        cv::Mat bright(kH, kW, CV_8UC1, cv::Scalar(kField)), green(kH, kW, CV_8UC1, cv::Scalar(0));
        for (cv::Point p : {cv::Point(50, 50), cv::Point(150, 50), cv::Point(250, 50)})
            cv::circle(bright, p, 8, cv::Scalar(kDark), cv::FILLED);
        green.at<uchar>(50, 150) = 9;
        for (int i = 0; i < 3; ++i)
            green.at<uchar>(50, 248 + i) = 255;
        green.at<uchar>(51, 250) = 234; // 999
        setChannel(*e, 5, bright);
        setChannel(*e, 2, green);
        int histogram[71];
        float radius = 0, intensity = 0;
        QVERIFY(e->findObjects(1, 3, 60, 0, 255, 1.5f, 50.0f, 0, radius, histogram, intensity, 0) >= 0.0);
        QCOMPARE(e->getFoundGFP(), 3);
        std::vector<int> classes;
        for (const TObj &o : e->getFoundGFPInformation())
            classes.push_back(o.nGreenClass);
        std::sort(classes.begin(), classes.end());
        QCOMPARE(classes, (std::vector<int>{0, 10, 30}));
        QCOMPARE(histogram[0] + histogram[10] + histogram[30], 3);
        QCOMPARE(intensity, (1.0f + 10.0f + 1000.0f) / 3.0f);
        QVERIFY(radius > 7.5f && radius < 9.5f);

        // Sample type 2 files nothing: the GFP list and histogram stay.
        int untouched[71];
        std::fill(std::begin(untouched), std::end(untouched), 4);
        QVERIFY(e->findObjects(2, 3, 60, 0, 255, 1.5f, 50.0f, 0, radius, untouched, intensity, 0) >= 0.0);
        QCOMPARE(untouched[0], 4);
        QCOMPARE(e->getFoundGFP(), 3);
        QCOMPARE(e->getFoundCells(), 3);

        // About 12.5 million: class 71, kept in the record, in no bin.
        auto big = engine(1, 300, 300, 0.1f);
        cv::Mat bright2(300, 300, CV_8UC1, cv::Scalar(kField)), green2(300, 300, CV_8UC1, cv::Scalar(0));
        cv::circle(bright2, {150, 150}, 125, cv::Scalar(kDark), cv::FILLED);
        cv::circle(green2, {150, 150}, 125, cv::Scalar(255), cv::FILLED);
        setChannel(*big, 5, bright2);
        setChannel(*big, 2, green2);
        QVERIFY(big->findObjects(1, 3, 60, 0, 255, 1.5f, 50.0f, 0, radius, histogram, intensity, 0) >= 0.0);
        QCOMPARE(big->getFoundGFP(), 1);
        QCOMPARE(big->getFoundGFPInformation()[0].nGreenClass, 71);
        QCOMPARE(sum(histogram, 71), 0);
    }

    // The sample finder's roads for one object among six single cells of radius 8: holes give
    // one cell each at their centres (two or more in a cell, any number in a clump), a clump
    // without holes is split at its distance peaks unless splitting is off, a cell with one hole
    // counts once when round enough.
    void sampleFinderBranches_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<int>("minRoundness");
        QTest::addColumn<int>("noSplit");
        QTest::addColumn<QVector<QPoint>>("cells"); // cells found for the object, by x
        QTest::addColumn<bool>("ownRadius");        // measured by its own circle, not the mean radius
        QTest::newRow("round, one hole") << "hole1" << 60 << 0 << QVector<QPoint>{{160, 160}} << true;
        QTest::newRow("two holes") << "hole2" << 0 << 0 << QVector<QPoint>{{154, 160}, {166, 160}} << false;
        QTest::newRow("clump with holes") << "clumpHoles" << 0 << 0 << QVector<QPoint>{{146, 156}, {154, 164}, {170, 160}} << false;
        QTest::newRow("clump split") << "clump" << 0 << 0 << QVector<QPoint>{{150, 160}, {166, 160}} << false;
        QTest::newRow("clump not split") << "clump" << 0 << 1 << QVector<QPoint>{} << false;
        QTest::newRow("elongated, roundness 60") << "ellipse" << 60 << 0 << QVector<QPoint>{} << true;
        QTest::newRow("elongated, roundness 0") << "ellipse" << 0 << 0 << QVector<QPoint>{{160, 160}} << true;
    }
    void sampleFinderBranches()
    {
        QFETCH(QString, shape);
        QFETCH(int, minRoundness);
        QFETCH(int, noSplit);
        QFETCH(QVector<QPoint>, cells);
        QFETCH(bool, ownRadius);
        auto e = engine();
        cv::Mat bright(kH, kW, CV_8UC1, cv::Scalar(kField));
        for (int x = 30; x <= 280; x += 50)
            cv::circle(bright, {x, 40}, 8, cv::Scalar(kDark), cv::FILLED);
        const cv::Scalar dark(kDark), field(kField);
        if (shape == "hole1") {
            cv::circle(bright, {160, 160}, 10, dark, cv::FILLED);
            cv::circle(bright, {160, 160}, 3, field, cv::FILLED);
        } else if (shape == "hole2") {
            cv::circle(bright, {160, 160}, 11, dark, cv::FILLED);
            cv::circle(bright, {154, 160}, 3, field, cv::FILLED);
            cv::circle(bright, {166, 160}, 3, field, cv::FILLED);
        } else if (shape == "clumpHoles") {
            cv::circle(bright, {150, 160}, 12, dark, cv::FILLED);
            cv::circle(bright, {170, 160}, 12, dark, cv::FILLED);
            for (cv::Point hole : {cv::Point(146, 156), cv::Point(154, 164), cv::Point(170, 160)})
                cv::circle(bright, hole, 3, field, cv::FILLED); // three cells, not two distance peaks
        } else if (shape == "clump") {
            cv::circle(bright, {150, 160}, 10, dark, cv::FILLED);
            cv::circle(bright, {166, 160}, 10, dark, cv::FILLED);
        } else {
            cv::ellipse(bright, {160, 160}, {11, 4}, 0, 0, 360, dark, cv::FILLED);
        }
        setChannel(*e, 5, bright);
        setChannel(*e, 2, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(30)));
        float radius = 0, intensity = 0;
        QVERIFY(e->findObjects(2, 3, 60, minRoundness, 255, 1.5f, 50.0f, 0, radius, nullptr, intensity, noSplit) >= 0.0);
        std::vector<QPoint> found;
        for (const TObj &o : e->getFoundCellInformation())
            if (o.nY > 100) {
                found.push_back(QPoint(o.nX, o.nY));
                QVERIFY2(ownRadius ? o.fRadius > 9.5f : o.fRadius == radius, qPrintable(QString::number(o.fRadius)));
            }
        std::sort(found.begin(), found.end(), [](QPoint a, QPoint b) { return a.x() < b.x(); });
        QCOMPARE(e->getFoundCells(), 6 + cells.size());
        QCOMPARE(int(found.size()), cells.size());
        for (int i = 0; i < cells.size(); ++i)
            QVERIFY2((found[size_t(i)] - cells[i]).manhattanLength() <= 3,
                     qPrintable(QString("%1,%2").arg(found[size_t(i)].x()).arg(found[size_t(i)].y())));
    }

    void efficiencyAndControl()
    {
        auto e = engine();
        int histogram[71] = {};
        histogram[5] = 6;
        histogram[30] = 3;
        histogram[70] = 1;
        std::vector<TObj> objects(3);
        objects[0].nGreenClass = 5, objects[0].fSize = 10, objects[0].fGreen = 100;
        objects[1].nGreenClass = 30, objects[1].fSize = 12, objects[1].fGreen = 1000, objects[1].nX = 40;
        objects[2].nGreenClass = 70, objects[2].fSize = 14, objects[2].fGreen = 3000, objects[2].nX = 80;
        e->setFoundGFPInformation(objects, histogram);
        int total = 0, positive = 0;
        float efficiency = 0, size = 0, green = 0;
        QVERIFY(e->findGFPTransfectionEfficiency(20, total, positive, efficiency, size, green) >= 0.0);
        QCOMPARE(total, 10);
        QCOMPARE(positive, 4);
        QCOMPARE(efficiency, 40.0f);
        QCOMPARE(size, 13.0f);
        QCOMPARE(green, 2000.0f);

        // Nothing: zeros everywhere; null pointers refuse the setter.
        int empty[71] = {};
        e->setFoundGFPInformation(nullptr, 0, empty);
        QCOMPARE(e->getFoundGFP(), 0);
        e->setFoundGFPInformation(nullptr, 2, histogram);
        e->setFoundGFPInformation(objects.data(), 3, nullptr);
        QCOMPARE(e->getFoundGFP(), 0);
        QVERIFY(e->findGFPTransfectionEfficiency(20, total, positive, efficiency, size, green) >= 0.0);
        QCOMPARE(total + positive, 0);
        QCOMPARE(efficiency + size + green, 0.0f);

        const std::vector<std::pair<std::vector<int>, int>> control = {
            {{20, 21, 22, 40}, 23}, {{1, 2, 3}, 4}, {{0, 1, 2}, 0}, {{68, 69, 70}, 71}, {{}, 0}};
        for (const auto &[occupied, expected] : control) {
            int h[71] = {};
            for (int c : occupied)
                h[c] = 2;
            QCOMPARE(e->findControlIntensity(h), expected);
        }
        QCOMPARE(e->findControlIntensity(nullptr), 0);
    }

    // Every object has the calibrated size of the offset (no gain): the limits are inclusive.
    void quickCountLimits_data()
    {
        QTest::addColumn<float>("size");
        QTest::addColumn<int>("count");
        QTest::newRow("2.99") << 2.99f << 0;
        QTest::newRow("3.0") << 3.0f << 5;
        QTest::newRow("60.0") << 60.0f << 5;
        QTest::newRow("60.01") << 60.01f << 0;
    }

    void quickCountLimits()
    {
        QFETCH(float, size);
        QFETCH(int, count);
        auto e = engine(1, 1280, 1024);
        cv::Mat green(1024, 1280, CV_8UC1, cv::Scalar(10));
        for (int i = 0; i < 5; ++i)
            cv::circle(green, {100 + 200 * i, 500}, 10, cv::Scalar(kStain), cv::FILLED);
        setChannel(*e, 2, green);
        e->setSizeCalibration(0.0f, size);
        int n = -7;
        QVERIFY(e->findObjects(n) >= 0.0);
        QCOMPARE(n, count);

        // A uniform frame has nothing above its level.
        setChannel(*e, 2, cv::Mat(1024, 1280, CV_8UC1, cv::Scalar(77)));
        n = -7;
        QCOMPARE(e->findObjects(n), -1.0);
        QCOMPARE(n, -7);
    }

    void cellState_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("redByte");
        QTest::newRow("mode 3, red-green-blue") << 3 << 0;
        QTest::newRow("mode 4, blue-green-red") << 4 << 2;
    }

    void cellState()
    {
        QFETCH(int, mode);
        QFETCH(int, redByte);
        auto e = engine(mode, 100, 80);
        int live = -7, dead = -7;
        float size = -7;
        // A live object at x 3, radius 5: its box is 0..9.
        e->setCellState(0, 3, 40, 2, 5, 0, 90, 50, live, dead, size, false);
        QCOMPARE(live, 1);
        QCOMPARE(size, 10.0f);
        e->setCellState(0, 9, 40, 1, 5, 0, 90, 50, live, dead, size, false);
        QCOMPARE(e->getFoundCells(), 1);
        QCOMPARE(live, 0);
        QCOMPARE(dead, 1);
        QCOMPARE(e->getHistogram(1)[10], 1);
        // The tag image keeps three channels: the dead circle at radius 10 in the mode's red.
        const cv::Mat tag(80, 100, CV_8UC3, e->getImageData(11, false, 2));
        const cv::Vec3b red = tag.at<cv::Vec3b>(40, 13);
        QCOMPARE(int(red[redByte]), 255);
        QCOMPARE(int(red[1]) + int(red[2 - redByte]), 0);
        // Just outside the box: a new object; state 0 adds an unmarked one, which no count takes.
        e->setCellState(0, 10, 40, 2, 4, 0, 90, 50, live, dead, size, false);
        e->setCellState(0, 60, 40, 0, 4, 0, 90, 50, live, dead, size, false);
        QCOMPARE(e->getFoundCells(), 3);
        QCOMPARE(live, 1);
        QCOMPARE(dead, 1);
        QCOMPARE(size, 9.0f);
        // Merged: live and dead all count live.
        e->setCellState(0, 90, 70, 7, 4, 0, 90, 50, live, dead, size, true);
        QCOMPARE(live, 2);
        QCOMPARE(dead, 0);
        QCOMPARE(sum(e->getHistogram(0), 91), 2);
        // A size window past the histograms counts without binning; none counted gives 0.0.
        e->setCellState(0, 3, 40, 9, 5, -10, 500, 0, live, dead, size, false);
        QCOMPARE(live + dead, 2);
        e->setCellState(0, 3, 40, 9, 5, 50, 60, 0, live, dead, size, false);
        QCOMPARE(size, 0.0f);

        auto other = engine(1, 100, 80);
        live = -7;
        other->setCellState(0, 3, 40, 2, 5, 0, 90, 50, live, dead, size, false);
        QCOMPARE(live, -7);
        QCOMPARE(other->getFoundCells(), 0);
    }

    // The object list file as Python's csv module reads it.
    void objectList_data()
    {
        QTest::addColumn<float>("offset");
        QTest::addColumn<QString>("written");
        QTest::newRow("2.5 million") << 2.5e6f << "2.5e+06";
        QTest::newRow("a hundred-thousandth") << 1e-5f << "1e-05";
    }

    void objectList()
    {
        QFETCH(float, offset);
        QFETCH(QString, written);
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        auto e = engine();
        draw(*e, liveDeadSet());
        e->makeOverlayMaskImageData(10, 10, 0, 0, 0, 0);
        e->setSizeCalibration(0.0f, offset);
        const LiveDead r = countLiveDead(*e, 3000000, true);
        QDir::setCurrent(before);
        QVERIFY(r.result >= 0.0);
        const QString file = dir.filePath(CellCounter::kObjectListFile);
        QVERIFY(QFile::exists(file));
        QProcess python;
        python.start("/usr/bin/python3",
                     {"-c", "import csv,sys\n"
                            "rows=list(csv.reader(open(sys.argv[1],newline='')))\n"
                            "assert rows[0]==['cell size',' green intensity',' red intensity',' x',' y',"
                            "' radius',' log10 green intensity'], rows[0]\n"
                            "assert all(len(r)==7 for r in rows)\n"
                            "[int(r[3]) + int(r[4]) + int(r[6]) + float(r[5]) for r in rows[1:]]\n"
                            "assert open(sys.argv[1],'rb').read().count(b'\\r')==0\n"
                            "print(len(rows)-1, rows[1][0])\n",
                      file});
        QVERIFY(python.waitForFinished(kHangBoundMs));
        QCOMPARE(python.exitCode(), 0);
        QCOMPARE(QString(python.readAllStandardOutput()).trimmed(),
                 QString("%1 %2").arg(e->getFoundCells()).arg(written));
    }

    // The estimate against OpenCV's phase correlation of the same masks; with 9 pairs, or with
    // collinear centres, dx and dy stay.
    void channelShift_data()
    {
        QTest::addColumn<int>("cells");
        QTest::addColumn<bool>("collinear");
        QTest::addColumn<int>("sx");
        QTest::addColumn<int>("sy");
        QTest::addColumn<bool>("estimated");
        QTest::newRow("4, -3") << 16 << false << 4 << -3 << true;
        QTest::newRow("none") << 16 << false << 0 << 0 << true;
        QTest::newRow("-6, 7") << 16 << false << -6 << 7 << true;
        QTest::newRow("10 pairs") << 10 << false << 2 << 1 << true;
        QTest::newRow("9 pairs") << 9 << false << 2 << 1 << false;
        QTest::newRow("collinear") << 14 << true << 2 << 0 << false;
        QTest::newRow("too far") << 16 << false << 10 << 0 << false;
    }

    void channelShift()
    {
        QFETCH(int, cells);
        QFETCH(bool, collinear);
        QFETCH(int, sx);
        QFETCH(int, sy);
        QFETCH(bool, estimated);
        auto e = engine(1, 400, 300);
        cv::Mat reference(300, 400, CV_8UC1, cv::Scalar(0));
        std::mt19937 random(11);
        for (int i = 0; i < cells; ++i) {
            const cv::Point at = collinear ? cv::Point(30 + 25 * i, 150)
                                           : cv::Point(40 + 80 * (i % 4) + int(random() % 20),
                                                       40 + 60 * (i / 4) + int(random() % 20));
            cv::circle(reference, at, 5 + i % 3, cv::Scalar(kStain), cv::FILLED);
        }
        cv::Mat moving;
        cv::warpAffine(reference, moving, translation(sx, sy), reference.size());
        setChannel(*e, 2, reference);
        setChannel(*e, 3, moving);
        int dx = 99, dy = 99;
        e->getPixelShiftOffset(2, 100, 3, 100, dx, dy);
        if (!estimated) {
            QCOMPARE(dx, 99);
            QCOMPARE(dy, 99);
            return;
        }
        cv::Mat a, b;
        reference.convertTo(a, CV_32F);
        moving.convertTo(b, CV_32F);
        const cv::Point2d phase = cv::phaseCorrelate(a, b);
        // The offset carries the moving channel back onto the reference.
        QVERIFY2(std::abs(dx + phase.x) <= 1.0 && std::abs(dy + phase.y) <= 1.0,
                 qPrintable(QString("%1,%2 against %3,%4").arg(dx).arg(dy).arg(phase.x).arg(phase.y)));
    }

    void redIntensity()
    {
        auto e = engine();
        cv::Mat bright(kH, kW, CV_8UC1, cv::Scalar(kField)), red(kH, kW, CV_8UC1, cv::Scalar(0));
        for (cv::Point p : {cv::Point(50, 50), cv::Point(150, 50), cv::Point(250, 50)})
            cv::circle(bright, p, 8, cv::Scalar(kDark), cv::FILLED);
        cv::rectangle(red, {46, 48, 3, 3}, cv::Scalar(10), cv::FILLED); // 90 inside the first cell
        setChannel(*e, 1, bright);
        setChannel(*e, 6, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(100)));
        setChannel(*e, 3, red);
        float intensity = 0;
        int n = 0;
        // Moved 2 right: still inside the first cell.
        e->getAvgRedIntensity(2, 0, intensity, n);
        QCOMPARE(n, 3);
        QCOMPARE(intensity, 30.0f);
        // The entry value is added before the division.
        intensity = 30;
        e->getAvgRedIntensity(2, 0, intensity, n);
        QCOMPARE(intensity, 40.0f);
        // No cell: -1.0 and 0.
        setChannel(*e, 1, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kField)));
        e->getAvgRedIntensity(0, 0, intensity, n);
        QCOMPARE(intensity, -1.0f);
        QCOMPARE(n, 0);
    }
};

QTEST_GUILESS_MAIN(TestCellCounterChannels)
#include "tst_cellcounter_channels.moc"
