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

cv::Mat rendered(SampleRenderer &r, const SampleView &v)
{
    cv::Mat f;
    r.render(v, f);
    return f;
}

// Pixels above level (12-bit) of a focused 20X frame through filter.
cv::Mat above(SampleRenderer &r, int filter, int objective, double level)
{
    cv::Mat mask;
    cv::compare(rendered(r, focused(r, filter, objective, 200)), SampleRenderer::BlackLevel + level, mask, cv::CMP_GT);
    return mask;
}

// A cell of the given kind in the middle of the 20X field with no neighbour near it.
const SampleObject *loneObject(const SampleScene &scene, SampleObject::Kind kind)
{
    for (const SampleObject &o : scene.objects()) {
        bool alone = std::abs(o.centre.x) < 250 && std::abs(o.centre.y) < 200 && o.kind == kind;
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
            curve << sharpness(rendered(r, v));
        }
        for (int k = 0; k < 4; ++k) {
            QVERIFY2(curve[k] < curve[k + 1], qPrintable(QString("rising at %1").arg(k)));
            QVERIFY2(curve[8 - k] < curve[7 - k], qPrintable(QString("falling at %1").arg(k)));
        }
        QVERIFY(curve[4] > 2 * curve[0] && curve[4] > 2 * curve[8]);
    }

    void opticsOfTheObjectives()
    {
        SampleRenderer r;
        // A slightly tilted focal plane; objectives that are not parfocal.
        QVERIFY(r.trueFocusSteps(1, 500, 0) != r.trueFocusSteps(1, -500, 0));
        QVERIFY(qAbs(r.trueFocusSteps(1, 500, 0) - r.trueFocusSteps(1)) < 200);
        QCOMPARE(r.trueFocusSteps(4) - r.trueFocusSteps(2), SampleRenderer::parfocalSteps(4) - SampleRenderer::parfocalSteps(2));
        QVERIFY(r.trueFocusSteps(2) != r.trueFocusSteps(4));
        QCOMPARE(r.trueFocusStepsAtPixel(2, 639.5, 511.5), r.trueFocusSteps(2));
        r.setFocusBase(100000);
        QCOMPARE(r.trueFocusSteps(1), 100000.0);
        // Twice the magnification: half the field.
        QVERIFY(qAbs(SampleRenderer::micrometresPerPixel(2) / SampleRenderer::micrometresPerPixel(3) - 2) < 1e-9);
        QCOMPARE(SampleRenderer::magnification(9), 60.0); // clamped
        r.setNoise(false);
        cv::Mat labels;
        const int at10 = cv::connectedComponents(above(r, 1, 2, 300), labels) - 1;
        const int at20 = cv::connectedComponents(above(r, 1, 3, 300), labels) - 1; // a quarter of the nuclei
        QVERIFY2(at10 > 2.5 * at20 && at10 < 6 * at20, qPrintable(QString("%1 %2").arg(at10).arg(at20)));
    }

    void brightnessAndNoiseFollowTheSettings()
    {
        SampleRenderer r;
        const SampleView base = focused(r, 0, 2, 5);
        const double black = SampleRenderer::BlackLevel;
        auto signal = [&](const SampleView &v) { return cv::mean(rendered(r, v))[0] - black; };
        const double m0 = signal(base);
        SampleView v = base;
        for (double SampleView::*setting : {&SampleView::exposureMs, &SampleView::gain, &SampleView::light}) {
            v = base;
            v.*setting *= 2;
            QVERIFY(qAbs(signal(v) / m0 - 2) < 0.1);
        }
        v.exposureMs = 2000; // saturates
        double lo, hi;
        cv::minMaxLoc(rendered(r, v), &lo, &hi);
        QCOMPARE(hi, double(SampleRenderer::MaxValue));

        auto noise = [&](const SampleView &at) {
            cv::Mat d;
            cv::subtract(rendered(r, at), rendered(r, at), d, cv::noArray(), CV_32F);
            cv::Scalar mean, dev;
            cv::meanStdDev(d, mean, dev);
            return dev[0];
        };
        v = base;
        v.light = 0;
        QVERIFY(qAbs(signal(v)) < 2);
        const double dark = noise(v);
        QVERIFY(dark > 2 && dark < 8);   // read noise
        QVERIFY(noise(base) > 2 * dark); // plus shot noise
        r.setNoise(false);
        QCOMPARE(noise(base), 0.0);
    }

    void transShowsLiveAndDeadCells()
    {
        SampleRenderer r;
        r.setNoise(false);
        const SampleObject *live = loneObject(r.scene(), SampleObject::LiveCell);
        const SampleObject *dead = loneObject(r.scene(), SampleObject::DeadCell);
        QVERIFY(live && dead);
        const cv::Mat f = rendered(r, focused(r, 0, 3));
        const double s = SampleRenderer::micrometresPerPixel(3);
        auto at = [&](cv::Point2f um) {
            return int(f.at<uint16_t>(int(std::lround((SampleRenderer::Height - 1) / 2.0 + um.y / s)),
                                      int(std::lround((SampleRenderer::Width - 1) / 2.0 + um.x / s))));
        };
        const int background = at(live->centre + cv::Point2f(3 * live->radius, 0));
        QVERIFY(at(live->centre + live->nucleusOffset) > background * 1.15); // bright centre
        int rim = background;
        for (int a = 0; a < 360; a += 15) {
            const float rad = float(a * M_PI / 180);
            rim = std::min(rim, at(live->centre + cv::Point2f(std::cos(rad), std::sin(rad)) * (live->radius * 0.93f * live->aspect)));
        }
        QVERIFY(rim < background * 0.8);              // dark ring
        QVERIFY(at(dead->centre) < background * 0.5); // dark disc
    }

    void sceneHasClumpsDebrisAndStainedPopulations()
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
        QVERIFY(SampleScene(8).objects().size() != scene.objects().size() || SampleScene(8).objects()[0].centre != scene.objects()[0].centre);

        // Each cube shows its own population: nuclei, cytoplasm dark over them, a tagged subset.
        SampleRenderer r;
        r.setNoise(false);
        const cv::Mat nuclei = above(r, 1, 3, 1400), cytoplasm = above(r, 2, 3, 1400), subset = above(r, 3, 3, 1400);
        const int n = cv::countNonZero(nuclei), c = cv::countNonZero(cytoplasm), s = cv::countNonZero(subset);
        QVERIFY(n > 1000 && c > 1000 && s > 1000 && s < c);
        cv::Mat both;
        cv::bitwise_and(nuclei, cytoplasm, both);
        QVERIFY(cv::countNonZero(both) < n / 2);
        cv::bitwise_and(nuclei, subset, both);
        QVERIFY(cv::countNonZero(both) < n);
    }
};

QTEST_GUILESS_MAIN(TestSampleRenderer)
#include "tst_samplerenderer.moc"
