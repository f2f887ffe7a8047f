#include "SampleRenderer.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {

// Sharpness as an autofocus measures it: the variance of the Laplacian over the middle of the
// field, after a light smoothing that keeps the pixel noise out.
double sharpness(const cv::Mat &frame12)
{
    cv::Mat smooth, lap;
    cv::GaussianBlur(frame12(cv::Rect(320, 256, 640, 512)), smooth, cv::Size(), 2);
    cv::Laplacian(smooth, lap, CV_64F);
    cv::Scalar mean, dev;
    cv::meanStdDev(lap, mean, dev);
    return dev[0] * dev[0];
}

SampleView focused(const SampleRenderer &r, int filter, int objective, double exposureMs = 10)
{
    SampleView v;
    v.filter = filter;
    v.objective = objective;
    v.stageSteps = r.trueFocusSteps(objective);
    v.exposureMs = exposureMs;
    v.light = 0.5;
    return v;
}

double meanOf(SampleRenderer &r, const SampleView &v)
{
    cv::Mat f;
    r.render(v, f);
    return cv::mean(f)[0];
}

// Brightly stained pixels (a third of full scale and more).
cv::Mat stained(SampleRenderer &r, int filter)
{
    cv::Mat f, mask;
    r.render(focused(r, filter, 3, 200), f);
    cv::compare(f, SampleRenderer::BlackLevel + 1400, mask, cv::CMP_GT);
    return mask;
}

cv::Point pixelOf(cv::Point2f um, int objective)
{
    const double s = SampleRenderer::micrometresPerPixel(objective);
    return cv::Point(int(std::lround((SampleRenderer::Width - 1) / 2.0 + um.x / s)),
                     int(std::lround((SampleRenderer::Height - 1) / 2.0 + um.y / s)));
}

// A cell of the given kind in the middle of the 20X field with no neighbour near it.
const SampleObject *loneObject(const SampleScene &scene, SampleObject::Kind kind)
{
    for (const SampleObject &o : scene.objects()) {
        if (o.kind != kind || std::abs(o.centre.x) > 250 || std::abs(o.centre.y) > 200)
            continue;
        bool alone = true;
        for (const SampleObject &n : scene.objects())
            alone = alone && (&n == &o || cv::norm(n.centre - o.centre) > 3 * (o.radius + n.radius));
        if (alone)
            return &o;
    }
    return nullptr;
}

} // namespace

class TestSampleRenderer : public QObject
{
    Q_OBJECT
private slots:
    void sharpnessPeaksAtTheTrueFocus_data()
    {
        QTest::addColumn<int>("objective");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("filter");
        QTest::newRow("10X trans") << 2 << 250 << 0;
        QTest::newRow("20X nuclei") << 3 << 120 << 1;
        QTest::newRow("40X trans") << 4 << 40 << 0;
    }
    void sharpnessPeaksAtTheTrueFocus()
    {
        QFETCH(int, objective);
        QFETCH(int, step);
        QFETCH(int, filter);
        SampleRenderer r;
        SampleView v = focused(r, filter, objective, filter ? 300 : 10);
        const double focus = v.stageSteps;
        QList<double> curve;
        for (int k = -4; k <= 4; ++k) {
            v.stageSteps = focus + k * step;
            cv::Mat f;
            r.render(v, f);
            curve << sharpness(f);
        }
        for (int k = 0; k < 4; ++k) {
            QVERIFY2(curve[k] < curve[k + 1], qPrintable(QString("rising at %1").arg(k)));
            QVERIFY2(curve[8 - k] < curve[7 - k], qPrintable(QString("falling at %1").arg(k)));
        }
        QVERIFY(curve[4] > 2 * curve[0] && curve[4] > 2 * curve[8]);
    }

    void focalPlaneIsTiltedAndObjectivesAreNotParfocal()
    {
        SampleRenderer r;
        QVERIFY(r.trueFocusSteps(1, 500, 0) != r.trueFocusSteps(1, -500, 0));
        QVERIFY(qAbs(r.trueFocusSteps(1, 500, 0) - r.trueFocusSteps(1)) < 200); // slightly
        QVERIFY(r.trueFocusSteps(2) != r.trueFocusSteps(4));
        QCOMPARE(r.trueFocusStepsAtPixel(2, 639.5, 511.5), r.trueFocusSteps(2));
        r.setFocusBase(100000);
        QCOMPARE(r.trueFocusSteps(1), 100000.0);
    }

    void brightnessFollowsExposureGainAndLight()
    {
        SampleRenderer r;
        const SampleView base = focused(r, 0, 2, 5);
        const double black = SampleRenderer::BlackLevel;
        const double m0 = meanOf(r, base) - black;
        SampleView v = base;
        v.exposureMs *= 2;
        QVERIFY(qAbs((meanOf(r, v) - black) / m0 - 2) < 0.1);
        v = base;
        v.gain *= 2;
        QVERIFY(qAbs((meanOf(r, v) - black) / m0 - 2) < 0.1);
        v = base;
        v.light /= 2;
        QVERIFY(qAbs((meanOf(r, v) - black) / m0 - 0.5) < 0.05);
        v.light = 0;
        QVERIFY(qAbs(meanOf(r, v) - black) < 2);
        v = base;
        v.exposureMs = 2000; // saturates
        cv::Mat f;
        r.render(v, f);
        double lo, hi;
        cv::minMaxLoc(f, &lo, &hi);
        QCOMPARE(hi, double(SampleRenderer::MaxValue));
    }

    void noiseGrowsWithTheSignal()
    {
        SampleRenderer r;
        SampleView v = focused(r, 0, 2);
        cv::Mat a, b, d;
        auto noise = [&] {
            r.render(v, a);
            r.render(v, b);
            cv::subtract(a, b, d, cv::noArray(), CV_32F);
            cv::Scalar mean, dev;
            cv::meanStdDev(d, mean, dev);
            return dev[0];
        };
        v.light = 0;
        const double dark = noise();
        v.light = 0.5;
        const double bright = noise();
        QVERIFY(dark > 2 && dark < 8);       // read noise
        QVERIFY(bright > 2 * dark);          // plus shot noise
        r.setNoise(false);
        QCOMPARE(noise(), 0.0);
    }

    void transShowsLiveAndDeadCells()
    {
        SampleRenderer r;
        r.setNoise(false);
        const SampleObject *live = loneObject(r.scene(), SampleObject::LiveCell);
        const SampleObject *dead = loneObject(r.scene(), SampleObject::DeadCell);
        QVERIFY(live && dead);
        cv::Mat f;
        r.render(focused(r, 0, 3), f);
        auto at = [&](cv::Point2f um) { return int(f.at<uint16_t>(pixelOf(um, 3))); };
        const int background = at(live->centre + cv::Point2f(3 * live->radius, 0));
        QVERIFY(at(live->centre + live->nucleusOffset) > background * 1.15); // bright centre
        int rim = background;
        for (int a = 0; a < 360; a += 15) {
            const float rad = float(a * M_PI / 180);
            rim = std::min(rim, at(live->centre + cv::Point2f(std::cos(rad), std::sin(rad)) * (live->radius * 0.93f * live->aspect)));
        }
        QVERIFY(rim < background * 0.8);                                 // dark ring
        QVERIFY(at(dead->centre) < background * 0.5);                     // dark disc
    }

    void sceneHasClumpsDebrisAndATaggedSubset()
    {
        SampleScene scene(7);
        int live = 0, dead = 0, debris = 0, tagged = 0, touching = 0;
        for (const SampleObject &o : scene.objects()) {
            live += o.kind == SampleObject::LiveCell;
            dead += o.kind == SampleObject::DeadCell;
            debris += o.kind == SampleObject::Debris;
            tagged += o.tagged;
        }
        for (size_t i = 1; i < scene.objects().size(); ++i) {
            const SampleObject &a = scene.objects()[i - 1], &b = scene.objects()[i];
            touching += a.kind != SampleObject::Debris && b.kind != SampleObject::Debris
                && cv::norm(a.centre - b.centre) < 2 * (a.radius + b.radius);
        }
        QVERIFY(live > 500 && dead > 50 && debris > 100 && touching > 30);
        QVERIFY(tagged > live / 5 && tagged < live / 2);
        QCOMPARE(SampleScene(7).objects().size(), scene.objects().size()); // seeded
    }

    void eachCubeShowsItsOwnPopulation()
    {
        SampleRenderer r;
        r.setNoise(false);
        const cv::Mat nuclei = stained(r, 1), cytoplasm = stained(r, 2), subset = stained(r, 3);
        const int n = cv::countNonZero(nuclei), c = cv::countNonZero(cytoplasm), s = cv::countNonZero(subset);
        QVERIFY(n > 1000 && c > 1000 && s > 1000);
        QVERIFY(s < c);                                       // a subset of the cells
        cv::Mat both;
        cv::bitwise_and(nuclei, cytoplasm, both);
        QVERIFY(cv::countNonZero(both) < n / 2);              // cytoplasm is dark over the nuclei
        cv::bitwise_and(nuclei, subset, both);
        QVERIFY(cv::countNonZero(both) < n);                  // and the subset misses some nuclei
    }

    void objectiveChangesTheFieldOfView()
    {
        QVERIFY(qAbs(SampleRenderer::micrometresPerPixel(2) / SampleRenderer::micrometresPerPixel(3) - 2) < 1e-9);
        QCOMPARE(SampleRenderer::magnification(5), 60.0);
        QCOMPARE(SampleRenderer::magnification(9), 60.0); // clamped
        SampleRenderer r;
        r.setNoise(false);
        auto nuclei = [&](int objective) {
            cv::Mat f, mask, labels;
            r.render(focused(r, 1, objective, 200), f);
            cv::compare(f, SampleRenderer::BlackLevel + 300, mask, cv::CMP_GT);
            return cv::connectedComponents(mask, labels) - 1;
        };
        const int at10 = nuclei(2), at20 = nuclei(3);
        QVERIFY2(at10 > 2.5 * at20 && at10 < 6 * at20, qPrintable(QString("%1 %2").arg(at10).arg(at20)));
    }

    void hotPixelsStandOutInTheDark()
    {
        SampleRenderer r;
        QVERIFY(r.hotPixels().size() >= 5);
        SampleView v = focused(r, 1, 2, 100);
        v.light = 0;
        cv::Mat f, mask;
        r.render(v, f);
        cv::compare(f, SampleRenderer::BlackLevel + 400, mask, cv::CMP_GT);
        QCOMPARE(cv::countNonZero(mask), int(r.hotPixels().size()));
        for (const cv::Point &p : r.hotPixels())
            QVERIFY(mask.at<uint8_t>(p));
        // Fixed: the same pixels for the same seed.
        QVERIFY(SampleRenderer().hotPixels() == r.hotPixels());
    }

    void sameSeedSameSpecimen()
    {
        SampleRenderer a, b, c(99);
        for (SampleRenderer *r : {&a, &b, &c})
            r->setNoise(false);
        cv::Mat fa, fb, fc;
        a.render(focused(a, 0, 2), fa);
        b.render(focused(b, 0, 2), fb);
        c.render(focused(c, 0, 2), fc);
        QCOMPARE(cv::norm(fa, fb, cv::NORM_INF), 0.0);
        QVERIFY(cv::norm(fa, fc, cv::NORM_INF) > 100);
    }
};

QTEST_GUILESS_MAIN(TestSampleRenderer)
#include "tst_samplerenderer.moc"
