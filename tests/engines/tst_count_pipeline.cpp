// The own counter's pipeline on drawn frames, its peak and suppression rules against their
// literal statements, the tag step, the worker thread and the counting tool's exit statuses.
#include "CellCount_alg.h"
#include "CellCountDefaults.h"
#include "CountThread.h"
#include "HangBound.h"
#include "ImReaderWriter.h"

#include <QtTest>

#include <cstring>
#include <opencv2/imgproc.hpp>

using Record = _MainDeclusterCountInfo_NimboS;
using namespace CellCountDefaults;

namespace {

constexpr int kW = 320, kH = 256;
constexpr uchar kBackground = 150;

// Everything one call needs, with the page's fixed values and wide cell-size limits.
struct Count
{
    explicit Count(const cv::Mat &frame)
        : grey(frame.clone()), threshold(frame.size(), CV_8U, cv::Scalar(7)), tag(frame.size(), CV_8UC3, cv::Scalar(7)),
          labels(cv::Mat::zeros(frame.size(), CV_32S)), records(CellCount_alg::kLabelLimit + 1)
    {
        std::memset(static_cast<void *>(records.data()), 0, records.size() * sizeof(Record));
    }

    int run(CellCount_alg &engine)
    {
        return n = engine.CellCounting_NimboS(grey.data, threshold.data, tag.data, labels.ptr<int>(), grey.cols,
                                              grey.rows, records.data(), outsideMinSize, kOutsideMaxSize,
                                              kOutsideThresholdOffset, outsideKernelSize, gain, kInsideMinSize,
                                              kInsideMaxSize, kInsideThresholdOffset, mustDetect, kNrKernelSize,
                                              kPostMinIntensity, kPostMaxIntensity, roundness, minCellSize,
                                              maxCellSize, kDeclusterTolerance, kClusterDistance, kIntensityRatio,
                                              kCenterRange, kWholeRange, kLiveMinIntensity);
    }
    int run()
    {
        auto engine = std::make_unique<CellCount_alg>();
        return run(*engine);
    }
    // The valid cells of all records.
    int valid() const
    {
        int cells = 0;
        for (int i = 1; i <= n; ++i)
            for (int k = 1; k <= records[i].nCellNum; ++k)
                cells += records[i].bValid[k];
        return cells;
    }

    cv::Mat grey, threshold, tag, labels;
    std::vector<Record> records;
    int n = 0;
    int outsideMinSize = kOutsideMinSize, outsideKernelSize = kOutsideKernelSize, mustDetect = kMustDetectIntensity;
    int minCellSize = 1, maxCellSize = 1000;
    double gain = kOutsideGain;
    float roundness = kRoundness;
};

cv::Mat blank(int w = kW, int h = kH)
{
    return cv::Mat(h, w, CV_8U, cv::Scalar(kBackground));
}

// A dark cell: a ring of the given thickness round a centre of the given grey.
void cell(cv::Mat &frame, cv::Point c, int r, int thickness = 4, int centre = 60)
{
    cv::circle(frame, c, r, cv::Scalar(centre), cv::FILLED);
    cv::circle(frame, c, r - thickness / 2, cv::Scalar(50), thickness);
}

cv::Mat randomPeaks(cv::RNG &rng, int rows, int cols)
{
    cv::Mat d(rows, cols, CV_8U);
    rng.fill(d, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(d, d, cv::Size(5, 5), 2); // blobs of equal and near values, as a distance image has
    d.setTo(0, d < 110);
    return d;
}

// The peak rule as stated: p not 0, above the floor, and no neighbour in the window larger.
cv::Mat literalPeaks(const cv::Mat &d, int floor, int rx, int ry)
{
    cv::Mat m = cv::Mat::zeros(d.size(), CV_8U);
    for (int y = 0; y < d.rows; ++y)
        for (int x = 0; x < d.cols; ++x) {
            const int p = d.at<uchar>(y, x);
            bool peak = p != 0 && p > floor;
            for (int dy = -ry; peak && ry > 0 && dy <= ry - 1; ++dy)
                for (int dx = -rx; peak && dx <= rx; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    if ((dy || dx) && yy >= 0 && yy < d.rows && xx >= 0 && xx < d.cols && d.at<uchar>(yy, xx) > p)
                        peak = false;
                }
            m.at<uchar>(y, x) = peak ? 255 : 0;
        }
    return m;
}

// The suppression as stated: clear markers near any spot pixel, then scan clearing in place.
void literalSuppress(cv::Mat &m, const cv::Mat &x, int d)
{
    auto window = [&](const cv::Mat &img, int y, int xx, auto &&visit) {
        for (int yy = std::max(y - d, 0); yy <= std::min(y + d, img.rows - 1); ++yy)
            for (int xc = std::max(xx - d, 0); xc <= std::min(xx + d, img.cols - 1); ++xc)
                visit(yy, xc);
    };
    for (int y = 0; y < x.rows; ++y)
        for (int xx = 0; xx < x.cols; ++xx)
            if (x.at<uchar>(y, xx) == 255)
                window(m, y, xx, [&](int yy, int xc) { m.at<uchar>(yy, xc) = 0; });
    for (int y = 0; y < m.rows; ++y)
        for (int xx = 0; xx < m.cols; ++xx) {
            if (m.at<uchar>(y, xx) != 255)
                continue;
            bool other = false;
            window(m, y, xx, [&](int yy, int xc) { other |= (yy != y || xc != xx) && m.at<uchar>(yy, xc) == 255; });
            if (other)
                m.at<uchar>(y, xx) = 0;
        }
}

bool writeTiff(const QString &path, const void *data, int w, int h, int bits)
{
    ImReaderWriter image;
    return image.load(data, quint32(w), quint32(h), quint16(bits), 1, 1, 1, 1) && image.write(path.toUtf8(), {});
}

} // namespace

class TestCountPipeline : public QObject
{
    Q_OBJECT

private slots:
    void frameStage();
    void edgeAndNeighbour();
    void declustering();
    void peaksAndSuppressionMatchTheirRules();
    void gatesAtTheirLimits_data();
    void gatesAtTheirLimits();
    void tagImage();
    void refusedCalls();
    void threadGivesTheDirectRecords();
    void tool_data();
    void tool();
};

void TestCountPipeline::frameStage()
{
    // A uniform frame has nothing to count: threshold and tag written, labels and records not.
    Count uniform(blank());
    uniform.records[1].nCellNum = 7;
    QCOMPARE(uniform.run(), 0);
    QCOMPARE(cv::countNonZero(uniform.threshold), 0);
    std::vector<cv::Mat> channels;
    cv::split(uniform.tag, channels);
    for (const cv::Mat &c : channels)
        QCOMPARE(cv::norm(c, uniform.grey, cv::NORM_INF), 0.0);
    QCOMPARE(uniform.records[1].nCellNum, int16_t(7));

    // Blobs but no usable size limit: 0, with the threshold filled.
    cv::Mat frame = blank();
    cell(frame, {80, 80}, 12);
    cell(frame, {200, 150}, 10);
    Count noSizes(frame);
    noSizes.outsideMinSize = 0;
    QCOMPARE(noSizes.run(), 0);
    QVERIFY(cv::countNonZero(noSizes.threshold) > 300);
    QCOMPARE(cv::countNonZero(noSizes.labels), 0);

    // Two cells: two blobs, each with its box, one cell each, circled on the tag image.
    Count two(frame);
    QCOMPARE(two.run(), 2);
    QCOMPARE(two.valid(), 2);
    const Record &first = two.records[1];
    QVERIFY(std::abs(first.nBlobMinX - 68) <= 2 && std::abs(first.nBlobMaxY - 92) <= 2);
    QVERIFY(std::abs(first.nCenterX[1] - 80) <= 1 && std::abs(first.nCenterY[1] - 80) <= 1);
    QCOMPARE(two.labels.at<int>(80, 75), 1);
    QCOMPARE(two.labels.at<int>(150, 200), 2);
}

void TestCountPipeline::edgeAndNeighbour()
{
    // A ring cut open by the left frame edge is closed along it and filled: its cell covers the
    // half disc, not the half ring.
    cv::Mat frame = blank();
    cv::circle(frame, {0, 128}, 26, cv::Scalar(60), 6);
    Count edge(frame);
    QCOMPARE(edge.run(), 1);
    QCOMPARE(edge.records[1].nBlobMinX, int16_t(0));
    QVERIFY2(edge.records[1].nCellNum >= 1, "the cut ring gives no cell");
    int area = 0;
    for (int k = 1; k <= edge.records[1].nCellNum; ++k)
        area += edge.records[1].nCellArea[k];
    QVERIFY2(area > 0.85 * CV_PI * 29 * 29 / 2, qPrintable(QString::number(area)));

    // A neighbour inside a blob's box leaves the blob's record as it is without it.
    cv::Mat el = blank();
    cv::rectangle(el, {60, 60}, {70, 160}, cv::Scalar(50), cv::FILLED);
    cv::rectangle(el, {60, 150}, {160, 160}, cv::Scalar(50), cv::FILLED);
    Count alone(el);
    QCOMPARE(alone.run(), 1);
    cell(el, {120, 100}, 9);
    Count beside(el);
    QCOMPARE(beside.run(), 2);
    QCOMPARE(beside.records[1].nCellNum, alone.records[1].nCellNum);
    for (int k = 1; k <= alone.records[1].nCellNum; ++k) {
        QCOMPARE(beside.records[1].nCellArea[k], alone.records[1].nCellArea[k]);
        QCOMPARE(beside.records[1].fLongAxis[k], alone.records[1].fLongAxis[k]);
    }
}

void TestCountPipeline::declustering()
{
    // Two touching discs, peaks far apart: two markers, split by the watershed.
    cv::Mat frame = blank();
    cv::circle(frame, {100, 100}, 14, cv::Scalar(60), cv::FILLED);
    cv::circle(frame, {126, 100}, 14, cv::Scalar(60), cv::FILLED);
    Count pair(frame);
    QCOMPARE(pair.run(), 1);
    QCOMPARE(pair.records[1].bDeclustered, uint8_t(1));
    QCOMPARE(pair.records[1].nCellNum, int16_t(2));
    QCOMPARE(pair.valid(), 2);
    QVERIFY(pair.records[1].nCenterX[1] < 113 && pair.records[1].nCenterX[2] > 113);

    // One bright spot in a dark ring: one marker, the whole blob, the blob's box.
    cv::Mat spot = blank();
    cell(spot, {150, 120}, 14, 6, 150);
    cv::circle(spot, {150, 120}, 3, cv::Scalar(230), cv::FILLED);
    Count one(spot);
    QCOMPARE(one.run(), 1);
    const Record &r = one.records[1];
    QCOMPARE(r.bDeclustered, uint8_t(0));
    QCOMPARE(r.nCellNum, int16_t(1));
    QCOMPARE(r.bValid[1], uint8_t(1));
    QCOMPARE(r.bLive[1], uint8_t(1));
    QCOMPARE(QVector<int>({r.nCellMinX[1], r.nCellMinY[1], r.nCellMaxX[1], r.nCellMaxY[1]}),
             QVector<int>({r.nBlobMinX, r.nBlobMinY, r.nBlobMaxX, r.nBlobMaxY}));

    // About 60 bright dots in one blob: spots and markers stop at the record's 49 cells.
    cv::Mat dots = blank(200, 200);
    cv::circle(dots, {100, 100}, 55, cv::Scalar(60), cv::FILLED);
    int dotCount = 0;
    for (int y = -44; y <= 44; y += 11)
        for (int x = -44; x <= 44; x += 11)
            if (x * x + y * y <= 48 * 48 && ++dotCount)
                cv::circle(dots, {100 + x, 100 + y}, 1, cv::Scalar(250), cv::FILLED);
    QVERIFY(dotCount > 55);
    Count many(dots);
    many.outsideKernelSize = 151; // a background wider than the blob
    QCOMPARE(many.run(), 1);
    QVERIFY(many.records[1].nCellNum >= 40 && many.records[1].nCellNum <= Record::kMaxCells);
}

void TestCountPipeline::peaksAndSuppressionMatchTheirRules()
{
    cv::RNG rng(23);
    for (int round = 0; round < 40; ++round) {
        const int rows = rng.uniform(2, 70), cols = rng.uniform(2, 70);
        const cv::Mat d = randomPeaks(rng, rows, cols);
        const int floor = rng.uniform(0, 200), rx = cols / 4, ry = rows / 4;
        const cv::Mat peaks = CellCount_alg::DistancePeaks(d, floor, rx, ry);
        QCOMPARE(cv::norm(peaks, literalPeaks(d, floor, rx, ry), cv::NORM_INF), 0.0);

        cv::Mat spots = cv::Mat::zeros(d.size(), CV_8U);
        for (int s = rng.uniform(0, 3); s > 0; --s)
            spots.at<uchar>(rng.uniform(0, rows), rng.uniform(0, cols)) = 255;
        const int dist = rng.uniform(0, 12);
        cv::Mat fast = peaks.clone(), slow = peaks.clone();
        CellCount_alg::SuppressMarkers(fast, spots, dist);
        literalSuppress(slow, spots, dist);
        QCOMPARE(cv::norm(fast, dist > 0 ? slow : peaks, cv::NORM_INF), 0.0);
    }
    // Two peaks 5 pixels apart: the later one stays.
    cv::Mat m = cv::Mat::zeros(40, 40, CV_8U);
    m.at<uchar>(10, 10) = m.at<uchar>(13, 15) = 255;
    CellCount_alg::SuppressMarkers(m, cv::Mat::zeros(m.size(), CV_8U), 10);
    QCOMPARE(cv::countNonZero(m), 1);
    QCOMPARE(m.at<uchar>(13, 15), uchar(255));
}

void TestCountPipeline::gatesAtTheirLimits_data()
{
    // Which limit is set from the measured cell: "max" and "min" to the long axis rounded up or
    // down, "round" to the roundness itself or just above it.
    QTest::addColumn<QString>("limit");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("counted");
    QTest::newRow("max at ceiling") << "max" << 0 << true;
    QTest::newRow("max below") << "max" << -1 << false;
    QTest::newRow("min at floor") << "min" << 0 << true;
    QTest::newRow("min above") << "min" << 1 << false;
    QTest::newRow("roundness equal") << "round" << 0 << true;
    QTest::newRow("roundness above") << "round" << 1 << false;
}

void TestCountPipeline::gatesAtTheirLimits()
{
    QFETCH(QString, limit);
    QFETCH(int, step);
    QFETCH(bool, counted);
    cv::Mat frame = blank();
    cv::ellipse(frame, {150, 120}, {16, 10}, 30, 0, 360, cv::Scalar(60), cv::FILLED);
    Count measured(frame);
    QCOMPARE(measured.run(), 1);
    const float a = measured.records[1].fLongAxis[1], round = measured.records[1].fRoundness[1];
    QVERIFY(a != std::floor(a));

    Count gated(frame);
    if (limit == "max")
        gated.maxCellSize = int(std::ceil(a)) + step;
    else if (limit == "min")
        gated.minCellSize = int(std::floor(a)) + step;
    else
        gated.roundness = step ? std::nextafter(round, 200.0f) : round;
    QCOMPARE(gated.run(), 1);
    QCOMPARE(bool(gated.records[1].bValid[1]), counted);
    // Only the size gate takes the cell back; a round-gated cell keeps its measures.
    QCOMPARE(gated.records[1].nCellNum, int16_t(counted || limit == "round" ? 1 : 0));
}

void TestCountPipeline::tagImage()
{
    std::vector<Record> records(4);
    std::memset(static_cast<void *>(records.data()), 0, records.size() * sizeof(Record));
    auto place = [&](int i, int k, int x, int y, bool valid, bool live) {
        records[i].nCenterX[k] = int16_t(x);
        records[i].nCenterY[k] = int16_t(y);
        records[i].bValid[k] = valid;
        records[i].bLive[k] = live;
    };
    records[1].nCellNum = 3;
    place(1, 1, 40, 40, true, true);
    place(1, 2, 80, 40, false, true);
    place(1, 3, 120, 40, true, false);
    place(2, 1, 40, 100, true, true); // nCellNum 0: skipped
    records[3].nCellNum = 1;
    place(3, 1, 3, 100, true, true); // clipped by the border

    cv::Mat tag(160, 200, CV_8UC3, cv::Scalar(9, 9, 9)), expected = tag.clone();
    int total = -1, live = -1, dead = -1;
    CellCount_alg::ProcessTag_Filtering_NimboS(tag.data, records.data(), 200, 160, 3, &total, &live, &dead, true);
    QCOMPARE(QVector<int>({total, live, dead}), QVector<int>({3, 2, 1}));
    const cv::Scalar green(0, 200, 0), red(200, 0, 0), text(0, 200, 200);
    int number = 0;
    for (const auto &[x, y, colour] : {std::tuple{40, 40, green}, std::tuple{120, 40, red}, std::tuple{3, 100, green}}) {
        cv::circle(expected, {x, y}, 10, colour, 1, cv::LINE_8);
        cv::putText(expected, std::to_string(++number), {x - 6, y - 9}, cv::FONT_HERSHEY_SIMPLEX, 0.3, text, 1,
                    cv::LINE_8);
    }
    QCOMPARE(cv::norm(tag, expected, cv::NORM_INF), 0.0);
    QCOMPARE(tag.at<cv::Vec3b>(40, 90), cv::Vec3b(9, 9, 9)); // the invalid cell is not drawn

    CellCount_alg::ProcessTag_Filtering_NimboS(tag.data, records.data(), 200, 160, 0, &total, &live, &dead, false);
    QCOMPARE(QVector<int>({total, live, dead}), QVector<int>({0, 0, 0}));
    QCOMPARE(cv::norm(tag, expected, cv::NORM_INF), 0.0);
}

void TestCountPipeline::refusedCalls()
{
    // 10,000 blobs or more: -1, labels and records as they were.
    cv::Mat crowd = blank(1280, 1024);
    for (int y = 3; y < 1020; y += 10)
        for (int x = 3; x < 1276; x += 10)
            cv::rectangle(crowd, {x, y}, {x + 3, y + 3}, cv::Scalar(40), cv::FILLED);
    Count many(crowd);
    many.outsideMinSize = 1;
    QCOMPARE(many.run(), CellCount_alg::kTooManyBlobs);
    QCOMPARE(cv::countNonZero(many.labels), 0);
    QCOMPARE(many.records[1].nCellNum, int16_t(0));

    // Apertures OpenCV refuses and null buffers: -2 and every output untouched.
    cv::Mat frame = blank();
    cell(frame, {100, 100}, 12);
    for (int variant = 0; variant < 4; ++variant) {
        Count c(frame);
        if (variant == 0)
            c.outsideKernelSize = 52;
        else if (variant == 1)
            c.outsideKernelSize = -3;
        auto engine = std::make_unique<CellCount_alg>();
        int result;
        if (variant == 2)
            result = engine->CellCounting_NimboS(c.grey.data, c.threshold.data, nullptr, c.labels.ptr<int>(), kW, kH,
                                                 c.records.data(), 10, 9999, 30, 53, 4.0, 1, 80, 10, 165, 3, 10, 251,
                                                 10, 1, 100, 0.1, 10, 1.1f, 0.1f, 0.7f, 90);
        else if (variant == 3)
            result = engine->CellCounting_NimboS(c.grey.data, c.threshold.data, c.tag.data, c.labels.ptr<int>(),
                                                 40000, 1, c.records.data(), 10, 9999, 30, 53, 4.0, 1, 80, 10, 165,
                                                 3, 10, 251, 10, 1, 100, 0.1, 10, 1.1f, 0.1f, 0.7f, 90);
        else
            result = c.run(*engine);
        QCOMPARE(result, CellCount_alg::kRefused);
        QCOMPARE(cv::countNonZero(c.threshold != 7), 0);
        QCOMPARE(cv::countNonZero(c.labels), 0);
    }
}

void TestCountPipeline::threadGivesTheDirectRecords()
{
    cv::Mat frame = blank();
    cell(frame, {80, 80}, 12);
    cell(frame, {200, 150}, 10, 4, 170);
    cv::circle(frame, {150, 60}, 12, cv::Scalar(90), cv::FILLED);
    cv::circle(frame, {172, 60}, 12, cv::Scalar(90), cv::FILLED);
    cv::GaussianBlur(frame, frame, cv::Size(), 3); // soft edges, whose threshold follows the gain
    Count direct(frame), threaded(frame);
    direct.gain = threaded.gain = 4.5;
    const int n = direct.run();
    QVERIFY(n >= 3);
    int total = 0, live = 0, dead = 0;
    CellCount_alg::ProcessTag_Filtering_NimboS(direct.tag.data, direct.records.data(), kW, kH, n, &total, &live,
                                               &dead, false);

    CountThread idle;
    QSignalSpy idleSpy(&idle, &CountThread::NimboS_FinishCount);
    idle.start();
    QVERIFY(idle.wait(60000));
    QCOMPARE(idleSpy.count(), 0);

    CountThread thread;
    QSignalSpy spy(&thread, &CountThread::NimboS_FinishCount);
    Count &t = threaded;
    thread.Init_NimboS_Counting(t.grey.data, t.threshold.data, t.tag.data, t.labels.ptr<int>(), kW, kH,
                                t.records.data(), t.outsideMinSize, kOutsideMaxSize, kOutsideThresholdOffset,
                                t.outsideKernelSize, t.gain, kInsideMinSize, kInsideMaxSize, kInsideThresholdOffset,
                                t.mustDetect, kNrKernelSize, kPostMinIntensity, kPostMaxIntensity, t.roundness,
                                t.minCellSize, t.maxCellSize, kDeclusterTolerance, kClusterDistance, kIntensityRatio,
                                kCenterRange, kWholeRange, kLiveMinIntensity, false);
    thread.start();
    QVERIFY(spy.wait(60000) || spy.count() == 1);
    QVERIFY(thread.wait(60000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), QVariantList({n, total, live, dead}));
    QCOMPARE(std::memcmp(t.records.data(), direct.records.data(), sizeof(Record) * size_t(n + 1)), 0);
    QCOMPARE(cv::norm(t.tag, direct.tag, cv::NORM_INF), 0.0);

    // 4.5 is not 4: the whole-gain count differs on this frame.
    Count truncated(frame);
    truncated.gain = 4.0;
    truncated.run();
    QVERIFY(cv::norm(truncated.threshold, direct.threshold, cv::NORM_INF) > 0);
}

void TestCountPipeline::tool_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // a pattern of standard error
    const QString ok = "^total=(\\d+) live=(\\d+) dead=(\\d+) viability=\\d+\\.\\d concentration=\\d\\.\\d{3}e\\+\\d\\d\\n$";
    QTest::newRow("8-bit") << QStringList{"frame8.tif"} << 0 << ok;
    QTest::newRow("16-bit") << QStringList{"--engine", "pipeline", "frame16.tif"} << 0 << ok;
    QTest::newRow("protocol") << QStringList{"--protocol", "partial.ini", "--magnification", "10", "frame8.tif"} << 0 << ok;
    QTest::newRow("no image") << QStringList{} << 2 << "no image";
    QTest::newRow("unknown option") << QStringList{"--fast", "frame8.tif"} << 2 << "unknown option --fast";
    QTest::newRow("unknown engine") << QStringList{"--engine", "finder9", "frame8.tif"} << 2 << "unknown engine";
    QTest::newRow("magnification 0") << QStringList{"--magnification", "0", "frame8.tif"} << 2 << "magnification";
    QTest::newRow("missing protocol") << QStringList{"--protocol", "none.ini", "frame8.tif"} << 2 << "protocol file";
    QTest::newRow("not a tiff") << QStringList{"partial.ini"} << 2 << "cannot read";
    QTest::newRow("too small") << QStringList{"small.tif"} << 2 << "64 to 4096";
    QTest::newRow("too many objects") << QStringList{"crowd.tif"} << 2 << "too many objects";
}

void TestCountPipeline::tool()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    cv::Mat frame = blank();
    cell(frame, {80, 80}, 12, 4, 170);
    cell(frame, {200, 150}, 10);
    cell(frame, {260, 60}, 11);
    QVERIFY(writeTiff(dir.filePath("frame8.tif"), frame.data, kW, kH, 8));
    cv::Mat words;
    frame.convertTo(words, CV_16U, 16); // 12-bit values whose top 8 bits are the frame
    words += 9;
    for (auto it = words.begin<quint16>(); it != words.end<quint16>(); ++it)
        *it = quint16((*it >> 4) | ((*it & 15) << 12)); // as the camera stores them
    QVERIFY(writeTiff(dir.filePath("frame16.tif"), words.data, kW, kH, 16));
    QVERIFY(writeTiff(dir.filePath("small.tif"), frame.data, 32, 32, 8));
    cv::Mat crowd = blank(1280, 1024);
    for (int y = 3; y < 1020; y += 9)
        for (int x = 3; x < 1276; x += 9)
            cv::rectangle(crowd, {x, y}, {x + 3, y + 3}, cv::Scalar(40), cv::FILLED);
    QVERIFY(writeTiff(dir.filePath("crowd.tif"), crowd.data, 1280, 1024, 8));
    QFile ini(dir.filePath("partial.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Post_Filtering]\nRoundness=10.0\nmax_size=25\n[InSide_Detection]\nMustDetect_intensity=250\n");
    ini.close();

    QProcess tool;
    tool.setWorkingDirectory(dir.path());
    tool.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-count", arguments);
    QVERIFY(tool.waitForFinished(kHangBoundMs));
    const QString out = tool.readAllStandardOutput(), err = tool.readAllStandardError();
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), status);
    const QRegularExpressionMatch m = QRegularExpression(error).match(err);
    QVERIFY2(m.hasMatch(), qPrintable(err));
    if (status != 0) {
        QVERIFY(out.isEmpty());
        QCOMPARE(err.count('\n'), 1);
        return;
    }
    const QStringList rows = out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.value(0), QString("x,y,diameter_um,live"));
    // The cell of 2 x 12 px (about 13.3 um at 10X) is counted; max_size 25 um keeps all three.
    // Its size is the page's: the long axis less the 5 um cell-size offset.
    QCOMPARE(rows.size() - 1, 3);
    QCOMPARE(m.captured(1).toInt(), 3);
    QCOMPARE(m.captured(2).toInt() + m.captured(3).toInt(), 3);
    QVERIFY(rows.indexOf(QRegularExpression("^80,80,([7-9]|1[01])\\.\\d\\d,1$")) > 0);
}

QTEST_GUILESS_MAIN(TestCountPipeline)
#include "tst_count_pipeline.moc"
