#include "SampleRenderer.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {

// A focused 20X frame through filter.
cv::Mat focused(SampleRenderer &r, int filter, double exposureMs)
{
    SampleView v;
    v.filter = filter;
    v.objective = 3;
    v.stageSteps = r.trueFocusSteps(3);
    v.exposureMs = exposureMs;
    v.light = 0.5;
    cv::Mat f;
    r.render(v, f);
    return f;
}

// Pixels above level (12-bit) of a focused 20X frame through filter.
cv::Mat above(SampleRenderer &r, int filter, double level)
{
    cv::Mat mask;
    cv::compare(focused(r, filter, 200), SampleRenderer::BlackLevel + level, mask, cv::CMP_GT);
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
    void transShowsLiveAndDeadCells()
    {
        SampleRenderer r;
        r.setNoise(false);
        const SampleObject *live = loneObject(r.scene(), SampleObject::LiveCell);
        const SampleObject *dead = loneObject(r.scene(), SampleObject::DeadCell);
        QVERIFY(live && dead);
        const cv::Mat f = focused(r, 0, 10);
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

    // At 4X a live cell's dark rim is as wide as the objective resolves. Measured in the sharp
    // field the renderer blurs, on lone cells whose nucleus lies inside the body: the rim's area
    // (the darkness summed over the cell) gives its width along the long axis.
    void rimIsNeverNarrowerThanTheObjectiveResolves()
    {
        const SampleRenderer r;
        const double umPerPixel = SampleRenderer::micrometresPerPixel(1), resolution = SampleRenderer::resolutionUm(1);
        const cv::Mat sharp = r.scene().draw(0, umPerPixel, cv::Size(SampleRenderer::Width, SampleRenderer::Height), resolution);
        const cv::Point2d origin((SampleRenderer::Width - 1) / 2.0, (SampleRenderer::Height - 1) / 2.0);
        int measured = 0;
        for (const SampleObject &o : r.scene().objects()) {
            bool alone = o.kind == SampleObject::LiveCell && std::abs(o.centre.x) < 800 && std::abs(o.centre.y) < 600
                         && cv::norm(o.nucleusOffset) + o.nucleusRadius < o.radius - resolution;
            for (const SampleObject &n : r.scene().objects())
                alone = alone && (&n == &o || cv::norm(n.centre - o.centre) > 1.5 * (o.radius + n.radius) + 2 * umPerPixel);
            if (!alone)
                continue;
            const cv::Point2d centre = origin + cv::Point2d(o.centre) / umPerPixel;
            const double reach = o.radius / umPerPixel + 2;
            const cv::Rect box = cv::Rect(cv::Point(int(centre.x - reach), int(centre.y - reach)),
                                          cv::Point(int(centre.x + reach) + 2, int(centre.y + reach) + 2));
            const cv::Mat cell = sharp(box);
            double darkest = 0;
            cv::minMaxLoc(cell, &darkest);
            const float background = sharp.at<float>(cv::Point(centre + cv::Point2d(2 * reach, 0)));
            double area = 0; // um^2 of full darkness
            for (int y = 0; y < cell.rows; ++y)
                for (int x = 0; x < cell.cols; ++x)
                    area += std::max(0.0, double(background - cell.at<float>(y, x))) / (background - darkest);
            area *= umPerPixel * umPerPixel;
            // The band between the outline and the body, an ellipse of the same shape.
            const double width = o.radius - std::sqrt(std::max(0.0, double(o.radius * o.radius) - area / (M_PI * o.aspect)));
            QVERIFY2(width > resolution - umPerPixel / 4, // the drawing's anti-aliasing
                     qPrintable(QString("rim %1 um of the cell at %2, %3 um").arg(width).arg(o.centre.x).arg(o.centre.y)));
            ++measured;
        }
        QVERIFY2(measured > 10, qPrintable(QString::number(measured)));
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
        const cv::Mat nuclei = above(r, 1, 1400), cytoplasm = above(r, 2, 1400), subset = above(r, 3, 1400);
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
