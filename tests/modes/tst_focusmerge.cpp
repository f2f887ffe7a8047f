// The extended-focus merge engine and its worker thread, against a plain reference written
// from the merge's steps (window maximum by direct search, every focus map kept, direct sums).
#include "DeconvFocus_alg.h"
#include "FullFocusThread.h"
#include "HangBound.h"

#include <QSignalSpy>
#include <QtTest>

#include <opencv2/imgproc.hpp>

namespace {

struct Params
{
    int matching = 3, median = 3, mean = 3, sobel = 3;
    bool sr = false;
    float scale = 0.25f;
    int patch = 1, moving = 1;
    double weight = 2.5;
};

bool runEngine(DeconvFocus_alg& engine, const Params& p)
{
    return engine.run(p.matching, p.median, p.mean, p.sobel, p.sr, p.scale, p.patch, p.moving,
                      p.weight);
}

void load(DeconvFocus_alg& engine, std::vector<cv::Mat>& slices)
{
    for (cv::Mat& s : slices)
        engine.set_load_image(s.data, s.cols, s.rows);
}

cv::Mat resultOf(const DeconvFocus_alg& engine, cv::Size size)
{
    cv::Mat out(size, CV_8UC1, cv::Scalar(77));
    if (!engine.get_result_image(out.data))
        return cv::Mat();
    return out;
}

// Textured scene, each slice blurred by its own amount per region, seeded.
std::vector<cv::Mat> seededStack(int n, cv::Size size, unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat scene(size, CV_8UC1);
    rng.fill(scene, cv::RNG::UNIFORM, 0, 256);
    std::vector<cv::Mat> slices;
    for (int i = 0; i < n; ++i) {
        cv::Mat s = scene.clone();
        const int half = size.width / 2;
        cv::Mat left = s.colRange(0, half), right = s.colRange(half, size.width);
        if (i % 2)
            cv::GaussianBlur(left.clone(), left, cv::Size(5, 5), 0.5 + i);
        else
            cv::GaussianBlur(right.clone(), right, cv::Size(5, 5), 0.5 + i);
        cv::Mat noise(size, CV_8UC1);
        rng.fill(noise, cv::RNG::UNIFORM, 0, 8);
        s += noise;
        slices.push_back(s);
    }
    return slices;
}

cv::Mat referenceFocus(const cv::Mat& slice, const Params& p)
{
    const int r = p.matching / 2;
    cv::Mat img, gx, gy, mag;
    cv::copyMakeBorder(slice, img, r, r, r, r, cv::BORDER_REPLICATE);
    img.convertTo(img, CV_32F);
    cv::medianBlur(img, img, p.median);
    cv::blur(img, img, cv::Size(p.mean, p.mean));
    cv::Sobel(img, gx, CV_32F, 1, 0, p.sobel);
    cv::Sobel(img, gy, CV_32F, 0, 1, p.sobel);
    cv::magnitude(gx, gy, mag);
    cv::Mat focus(slice.size(), CV_32F, cv::Scalar(0));
    for (int y = 0; y < slice.rows; ++y)
        for (int x = 0; x < slice.cols; ++x) {
            float best = mag.at<float>(y, x);
            for (int j = 0; j < p.matching; ++j)
                for (int i = 0; i < p.matching; ++i)
                    best = std::max(best, mag.at<float>(y + j, x + i));
            focus.at<float>(y, x) = best;
        }
    return focus;
}

cv::Mat referenceMerge(const std::vector<cv::Mat>& slices, const Params& p)
{
    std::vector<cv::Mat> maps;
    double brightness = 0;
    for (const cv::Mat& s : slices) {
        maps.push_back(referenceFocus(s, p));
        brightness += cv::mean(s)[0];
    }
    cv::Mat composite = slices[0].clone(), best = maps[0].clone();
    for (size_t i = 1; i < slices.size(); ++i)
        for (int y = 0; y < composite.rows; ++y)
            for (int x = 0; x < composite.cols; ++x)
                if (best.at<float>(y, x) < maps[i].at<float>(y, x)) {
                    best.at<float>(y, x) = maps[i].at<float>(y, x);
                    composite.at<uchar>(y, x) = slices[i].at<uchar>(y, x);
                }
    if (!p.sr)
        return composite;

    const int W = composite.cols, H = composite.rows, P = p.patch, M = p.moving, B = 2 * P + 1;
    cv::Mat up, blurred, detail;
    cv::resize(composite, up, cv::Size(int(float(W) * p.scale), int(float(H) * p.scale)), 0, 0,
               cv::INTER_LINEAR);
    cv::GaussianBlur(up, blurred, cv::Size(3, 3), 1.5, 1.5);
    cv::subtract(up, blurred, detail, cv::noArray(), CV_32S);
    cv::Mat pc, pu, pd;
    cv::copyMakeBorder(composite, pc, P, P, P, P, cv::BORDER_REPLICATE);
    cv::copyMakeBorder(up, pu, P, P, P, P, cv::BORDER_REPLICATE);
    cv::copyMakeBorder(detail, pd, P, P, P, P, cv::BORDER_REPLICATE);
    cv::Mat acc = cv::Mat::zeros(pc.size(), CV_32S), cnt = cv::Mat::zeros(pc.size(), CV_32S);
    for (int y = P; y < pc.rows - P; ++y)
        for (int x = P; x < pc.cols - P; ++x) {
            const double b = cv::sum(pc(cv::Rect(x - P, y - P, B, B)))[0];
            if (b == 0)
                continue;
            int cx = int(float(x) * p.scale), cy = int(float(y) * p.scale);
            cx = std::max(P, std::min(cx, pu.cols - P));
            cy = std::max(P, std::min(cy, pu.rows - P));
            int bu = cx, bv = cy;
            double smallest = 1000000.0;
            bool stop = false;
            for (int v = cy - P - M; v <= cy - P + M && !stop; ++v)
                for (int u = cx - P - M; u <= cx - P + M && !stop; ++u) {
                    if (u < 0 || v < 0 || u >= pu.cols - B || v >= pu.rows - B)
                        continue;
                    const double d = std::fabs(b - cv::sum(pu(cv::Rect(u, v, B, B)))[0]);
                    if (d < smallest) {
                        smallest = d;
                        bu = u;
                        bv = v;
                    }
                    stop = smallest <= 10.0;
                }
            if (bu + B > pd.cols || bv + B > pd.rows)
                continue;
            cv::Mat a = acc(cv::Rect(x - P, y - P, B, B));
            a += pd(cv::Rect(bu, bv, B, B));
            cnt(cv::Rect(x - P, y - P, B, B)) += 1;
        }
    cv::Mat a = acc(cv::Rect(P, P, W, H)), c = cnt(cv::Rect(P, P, W, H));
    const double mean = cv::mean(composite)[0];
    const double ratio = mean > 0 ? brightness / slices.size() / mean : 1.0;
    cv::Mat out(H, W, CV_8UC1);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int n = c.at<int>(y, x);
            const double q = n ? double(a.at<int>(y, x)) / n : 0.0;
            out.at<uchar>(y, x) =
                cv::saturate_cast<uchar>(ratio * composite.at<uchar>(y, x) + p.weight * q);
        }
    return out;
}

bool equalImages(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && cv::countNonZero(a != b) == 0;
}

} // namespace

class TestFocusMerge : public QObject
{
    Q_OBJECT
private slots:
    void matchesReference_data();
    void matchesReference();
    void equalFocusKeepsFirstSlice();
    void singleSliceUnchanged();
    void badParametersKeepOldResult_data();
    void badParametersKeepOldResult();
    void unequalSlicesRefused();
    void weightZeroIsBrightnessScaled();
    void blackCompositeGetsNoDetail();
    void resultAfterFree();
    void interruptionStopsMerge();
    void destroyedWhileMerging();
    void threadReports();
};

void TestFocusMerge::matchesReference_data()
{
    QTest::addColumn<int>("slices");
    QTest::addColumn<int>("matching");
    QTest::addColumn<bool>("sr");
    QTest::addColumn<float>("scale");
    QTest::addColumn<int>("patch");
    QTest::addColumn<int>("moving");
    QTest::newRow("select 3") << 4 << 3 << false << 0.25f << 1 << 1;
    QTest::newRow("select 7") << 5 << 7 << false << 0.25f << 1 << 1;
    QTest::newRow("sr defaults") << 4 << 5 << true << 0.25f << 1 << 1;
    QTest::newRow("sr scale 1 fixed") << 3 << 3 << true << 1.0f << 1 << 0;
    QTest::newRow("sr up 1.5 wide") << 3 << 3 << true << 1.5f << 2 << 2;
    QTest::newRow("sr scale 0.5 no patch") << 3 << 3 << true << 0.5f << 0 << 1;
}

void TestFocusMerge::matchesReference()
{
    QFETCH(int, slices);
    QFETCH(int, matching);
    QFETCH(bool, sr);
    QFETCH(float, scale);
    QFETCH(int, patch);
    QFETCH(int, moving);
    Params p;
    p.matching = matching;
    p.sr = sr;
    p.scale = scale;
    p.patch = patch;
    p.moving = moving;
    const cv::Size size(37, 29);
    std::vector<cv::Mat> stack = seededStack(slices, size, 1234u + unsigned(slices * matching));
    DeconvFocus_alg engine;
    load(engine, stack);
    QVERIFY(runEngine(engine, p));
    QVERIFY(equalImages(resultOf(engine, size), referenceMerge(stack, p)));
}

void TestFocusMerge::equalFocusKeepsFirstSlice()
{
    // Flat slices: focus 0 everywhere in both, so every pixel stays with slice 0.
    std::vector<cv::Mat> stack = {cv::Mat(16, 20, CV_8UC1, cv::Scalar(50)),
                                  cv::Mat(16, 20, CV_8UC1, cv::Scalar(120))};
    DeconvFocus_alg engine;
    load(engine, stack);
    QVERIFY(runEngine(engine, Params()));
    QVERIFY(equalImages(resultOf(engine, stack[0].size()), stack[0]));
}

void TestFocusMerge::singleSliceUnchanged()
{
    std::vector<cv::Mat> stack = seededStack(1, cv::Size(24, 18), 3u);
    DeconvFocus_alg engine;
    load(engine, stack);
    QVERIFY(runEngine(engine, Params()));
    QVERIFY(equalImages(resultOf(engine, stack[0].size()), stack[0]));
}

void TestFocusMerge::badParametersKeepOldResult_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("value");
    QTest::newRow("matching 1") << 0 << 1;
    QTest::newRow("matching 2") << 0 << 2;
    QTest::newRow("matching even") << 0 << 6;
    QTest::newRow("median even") << 1 << 4;
    QTest::newRow("median 7 on float") << 1 << 7;
    QTest::newRow("mean even") << 2 << 2;
    QTest::newRow("mean negative") << 2 << -3;
    QTest::newRow("sobel even") << 3 << 4;
    QTest::newRow("sobel 9") << 3 << 9;
    QTest::newRow("patch negative") << 4 << -1;
    QTest::newRow("moving negative") << 5 << -1;
    QTest::newRow("scale too small") << 6 << 0;
}

void TestFocusMerge::badParametersKeepOldResult()
{
    QFETCH(int, field);
    QFETCH(int, value);
    std::vector<cv::Mat> stack = seededStack(3, cv::Size(20, 16), 11u);
    DeconvFocus_alg engine;
    load(engine, stack);
    Params good;
    QVERIFY(runEngine(engine, good));
    const cv::Mat before = resultOf(engine, stack[0].size());
    Params bad = good;
    bad.sr = true;
    int* fields[] = {&bad.matching, &bad.median, &bad.mean, &bad.sobel, &bad.patch, &bad.moving};
    if (field < 6)
        *fields[field] = value;
    else
        bad.scale = 0.05f; // 20 x 16 scales to 1 x 0
    QVERIFY(!runEngine(engine, bad));
    QVERIFY(equalImages(resultOf(engine, stack[0].size()), before));
}

void TestFocusMerge::unequalSlicesRefused()
{
    std::vector<cv::Mat> stack = seededStack(2, cv::Size(20, 16), 5u);
    stack.push_back(seededStack(1, cv::Size(30, 20), 6u)[0]);
    DeconvFocus_alg engine;
    load(engine, stack);
    QVERIFY(!runEngine(engine, Params()));
    cv::Mat out(20, 30, CV_8UC1);
    QVERIFY(!engine.get_result_image(out.data));
}

void TestFocusMerge::weightZeroIsBrightnessScaled()
{
    std::vector<cv::Mat> stack = seededStack(3, cv::Size(20, 16), 9u);
    Params plain, sr;
    sr.sr = true;
    sr.weight = 0;
    DeconvFocus_alg engine;
    load(engine, stack);
    QVERIFY(runEngine(engine, plain));
    const cv::Mat composite = resultOf(engine, stack[0].size());
    QVERIFY(runEngine(engine, sr));
    double brightness = 0;
    for (const cv::Mat& s : stack)
        brightness += cv::mean(s)[0];
    cv::Mat expected;
    composite.convertTo(expected, CV_8U, brightness / 3 / cv::mean(composite)[0]);
    QVERIFY(equalImages(resultOf(engine, stack[0].size()), expected));
}

void TestFocusMerge::blackCompositeGetsNoDetail()
{
    // Left half black in every slice: those pixels keep 0 (ratio applied to 0, no detail);
    // an all-black stack merges to black with ratio 1.
    std::vector<cv::Mat> stack = seededStack(3, cv::Size(24, 16), 13u);
    for (cv::Mat& s : stack)
        s.colRange(0, 10).setTo(0);
    Params p;
    p.sr = true;
    p.scale = 1.0f;
    DeconvFocus_alg engine;
    load(engine, stack);
    QVERIFY(runEngine(engine, p));
    const cv::Mat out = resultOf(engine, stack[0].size());
    QCOMPARE(cv::countNonZero(out.colRange(0, 8)), 0);
    QVERIFY(equalImages(out, referenceMerge(stack, p)));

    std::vector<cv::Mat> black(2, cv::Mat::zeros(16, 24, CV_8UC1));
    DeconvFocus_alg dark;
    load(dark, black);
    QVERIFY(runEngine(dark, p));
    QCOMPARE(cv::countNonZero(resultOf(dark, black[0].size())), 0);
}

void TestFocusMerge::resultAfterFree()
{
    DeconvFocus_alg engine;
    cv::Mat out(16, 20, CV_8UC1);
    QVERIFY(!engine.get_result_image(out.data));
    std::vector<cv::Mat> stack = seededStack(2, cv::Size(20, 16), 21u);
    load(engine, stack);
    QVERIFY(runEngine(engine, Params()));
    QVERIFY(engine.get_result_image(out.data));
    engine.free_load_image();
    QVERIFY(!engine.get_result_image(out.data));
    QVERIFY(!runEngine(engine, Params()));
}

void TestFocusMerge::interruptionStopsMerge()
{
    std::vector<cv::Mat> stack = seededStack(3, cv::Size(20, 16), 17u);
    for (bool sr : {false, true}) {
        DeconvFocus_alg engine;
        load(engine, stack);
        Params p;
        p.sr = sr;
        bool ok = true;
        QScopedPointer<QThread> worker(QThread::create([&] {
            QThread::currentThread()->requestInterruption();
            ok = runEngine(engine, p);
        }));
        worker->start();
        QVERIFY(worker->wait(60000));
        QVERIFY(!ok);
        cv::Mat out(16, 20, CV_8UC1);
        QVERIFY(!engine.get_result_image(out.data));
    }
}

void TestFocusMerge::threadReports()
{
    // No slices: false at once; a result is never there before a run.
    {
        FullFocusThread thread;
        QSignalSpy spy(&thread, &FullFocusThread::FinishFullCocus);
        unsigned char byte = 0;
        QVERIFY(!thread.get_result_image(&byte));
        thread.start();
        QVERIFY(thread.wait(kHangBoundMs));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), false);
    }
    // Defaults (SR on) give the engine's default merge; a refused kernel reports false and
    // leaves the thread alive. The report comes from the thread's run, so it is there once the
    // thread ended (a wait for the signal would miss one sent before it began).
    std::vector<cv::Mat> stack = seededStack(3, cv::Size(40, 32), 31u);
    FullFocusThread thread;
    for (cv::Mat& s : stack)
        thread.set_load_image(s.data, s.cols, s.rows);
    QSignalSpy spy(&thread, &FullFocusThread::FinishFullCocus);
    thread.start();
    QVERIFY(thread.wait(kHangBoundMs));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    cv::Mat out(32, 40, CV_8UC1);
    QVERIFY(thread.get_result_image(out.data));
    Params defaults;
    defaults.sr = true;
    QVERIFY(equalImages(out, referenceMerge(stack, defaults)));

    thread.set_param(3, 9, 3, 3, false, 0.25f, 1, 1, 2.5);
    thread.start();
    QVERIFY(thread.wait(kHangBoundMs));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
}

void TestFocusMerge::destroyedWhileMerging()
{
    // Deleted while it merges (its owner going): the merge stops and the thread ends first.
    std::vector<cv::Mat> stack = seededStack(40, cv::Size(640, 512), 53u);
    auto* thread = new FullFocusThread;
    for (cv::Mat& s : stack)
        thread->set_load_image(s.data, s.cols, s.rows);
    std::atomic<int> outcome {-1};
    connect(thread, &FullFocusThread::FinishFullCocus, this, [&outcome](bool ok) { outcome = ok; },
            Qt::DirectConnection);
    thread->start();
    QVERIFY(QTest::qWaitFor([thread] { return thread->isRunning(); }, 30000));
    delete thread;
    QCOMPARE(int(outcome), 0);
}

QTEST_GUILESS_MAIN(TestFocusMerge)
#include "tst_focusmerge.moc"
