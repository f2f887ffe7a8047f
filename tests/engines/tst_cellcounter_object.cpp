// The counting engine object: construction by mode, image routing, result pictures, thresholds and
// shading, results, focus measures and line profiles, and the refusals that write nothing.
#include "CellCounter.h"
#include "SampleRenderer.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

#include <cmath>
#include <limits>
#include <map>

using Quorvan::CellCounter;
using Quorvan::TObj;

namespace {

using MatMember = cv::Mat CellCounter::*;

// The engine with its members in reach.
struct Probe : CellCounter
{
    using CellCounter::CellCounter;
    using CellCounter::m_ClusterHistogram; using CellCounter::m_CircleThickness; using CellCounter::m_DeadColor;
    using CellCounter::m_DeadHistogram; using CellCounter::m_FocusValues; using CellCounter::m_FoundCells;
    using CellCounter::m_FoundGFP; using CellCounter::m_GFPHistogram; using CellCounter::m_Height;
    using CellCounter::m_LineProfile; using CellCounter::m_LiveColor; using CellCounter::m_LiveHistogram;
    using CellCounter::m_MicronsPerPixel; using CellCounter::m_Mode; using CellCounter::m_NegativeControlHistogram;
    using CellCounter::m_ShiftMatrix; using CellCounter::m_ShiftX2; using CellCounter::m_ShiftX3;
    using CellCounter::m_ShiftY2; using CellCounter::m_SizeGain; using CellCounter::m_SizeOffset;
    using CellCounter::m_ThirdColor; using CellCounter::m_Volume; using CellCounter::m_Width;

    static const std::map<QString, MatMember> &images()
    {
        static const std::map<QString, MatMember> all = {
            {"ColorSource", &Probe::m_ColorSource}, {"Image", &Probe::m_Image},
            {"Channel1", &Probe::m_Channel1}, {"Channel2", &Probe::m_Channel2}, {"Channel3", &Probe::m_Channel3},
            {"FlatField", &Probe::m_FlatField}, {"Corrected", &Probe::m_Corrected},
            {"Corrected1", &Probe::m_Corrected1}, {"Work1", &Probe::m_Work1}, {"Work2", &Probe::m_Work2},
            {"Shifted2", &Probe::m_Shifted2}, {"Shifted3", &Probe::m_Shifted3}, {"Work3", &Probe::m_Work3},
            {"ShiftedMask3", &Probe::m_ShiftedMask3}, {"Mask", &Probe::m_Mask}, {"Mask1", &Probe::m_Mask1},
            {"Mask2", &Probe::m_Mask2}, {"Mask3", &Probe::m_Mask3}, {"OverlayMask", &Probe::m_OverlayMask},
            {"Work4", &Probe::m_Work4}, {"ColorInput", &Probe::m_ColorInput}, {"Display640", &Probe::m_Display640},
            {"Display1280", &Probe::m_Display1280}, {"TagImage", &Probe::m_TagImage}, {"Work5", &Probe::m_Work5},
            {"Work6", &Probe::m_Work6}, {"GrayInput", &Probe::m_GrayInput}, {"Work7", &Probe::m_Work7}};
        return all;
    }
    cv::Mat &image(const QString &name) { return this->*images().at(name); }
    // Name of the member image at address m, or "" for none.
    QString nameOf(const cv::Mat *m)
    {
        for (const auto &[name, member] : images())
            if (&(this->*member) == m)
                return name;
        return {};
    }
    // Every image's pixels, to tell what an operation wrote.
    std::map<QString, cv::Mat> snapshot()
    {
        std::map<QString, cv::Mat> s;
        for (const auto &[name, member] : images())
            s[name] = (this->*member).clone();
        return s;
    }
    // Names of the images that differ from an earlier snapshot (content, size or buffer).
    QStringList changedSince(const std::map<QString, cv::Mat> &before)
    {
        QStringList changed;
        for (const auto &[name, member] : images()) {
            const cv::Mat &now = this->*member, &then = before.at(name);
            if (now.size() != then.size() || now.type() != then.type()
                || (!now.empty() && cv::norm(now.reshape(1), then.reshape(1), cv::NORM_INF) != 0))
                changed << name;
        }
        return changed;
    }
};

constexpr int H = 48, W = 64; // a small frame keeps the tables quick

// A 3-byte frame whose byte k of every pixel is (k + 1) x 10 plus the row, so planes and flips show.
std::vector<uchar> colourFrame(int rows = H, int cols = W)
{
    std::vector<uchar> f(size_t(rows) * cols * 3);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uchar((i % 3 + 1) * 10 + i / (size_t(cols) * 3));
    return f;
}

bool allEqual(const cv::Mat &m, int value)
{
    return !m.empty() && cv::countNonZero(m.reshape(1) != value) == 0;
}

cv::Vec3b pixelAt(const uchar *picture, int cols, int y, int x)
{
    const uchar *p = picture + (size_t(y) * cols + x) * 3;
    return {p[0], p[1], p[2]};
}

} // namespace

class TestCellCounterObject : public QObject
{
    Q_OBJECT
private slots:
    void construction_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("grey");
        QTest::addColumn<QStringList>("colour");
        const QStringList allButFive = {"Work1", "FlatField"}, allButFiveColour = {"TagImage", "ColorInput"};
        QTest::newRow("0") << 0 << QStringList{"Image", "Corrected", "Mask"} + allButFive << allButFiveColour;
        const QStringList channels = {"Channel1", "Channel2", "Channel3", "Corrected1", "Work2", "Shifted2", "Shifted3",
                                      "Work3", "ShiftedMask3", "Mask1", "Mask2", "Mask3", "OverlayMask"};
        QTest::newRow("1") << 1 << channels + allButFive << allButFiveColour;
        QTest::newRow("2") << 2 << channels + allButFive << allButFiveColour;
        QTest::newRow("3") << 3 << QStringList{"Image", "Corrected", "Mask"} + allButFive << allButFiveColour + QStringList{"ColorSource"};
        QTest::newRow("4") << 4 << QStringList{"Image", "Corrected", "Mask"} + allButFive << allButFiveColour + QStringList{"ColorSource"};
        QTest::newRow("5") << 5 << QStringList{"Image", "Mask", "GrayInput"} << QStringList{"Work7", "TagImage"};
        QTest::newRow("other") << 9 << allButFive << allButFiveColour;
    }
    void construction()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, grey);
        QFETCH(QStringList, colour);
        Probe e(mode, H, W, 0.001f, 10.0f, 3.63f);
        for (const auto &[name, member] : Probe::images()) {
            const cv::Mat &m = e.*member;
            const bool display = mode != 5 && name.startsWith("Display");
            const int type = grey.contains(name) ? CV_8UC1 : colour.contains(name) || display ? CV_8UC3 : -1;
            if (type < 0) {
                QVERIFY2(m.empty(), qPrintable(name));
                continue;
            }
            const cv::Size size = name == "Display640" ? cv::Size(640, 480) : name == "Display1280" ? cv::Size(1280, 960) : cv::Size(W, H);
            QVERIFY2(m.type() == type && m.size() == size, qPrintable(name));
            QVERIFY2(allEqual(m, 0), qPrintable(name));
        }
        QCOMPARE(e.m_ShiftMatrix.empty(), mode != 1 && mode != 2);
        QCOMPARE(e.m_MicronsPerPixel, 0.363f);
        QCOMPARE(e.m_CircleThickness, 1);
        QCOMPARE(e.m_SizeGain, 0.923f);
        QCOMPARE(e.m_SizeOffset, -3.0183f);
        QVERIFY(e.m_ShiftX2 == 0 && e.m_ShiftY2 == 0 && e.m_ShiftX3 == 0);
        QCOMPARE(e.m_LiveColor, cv::Scalar(0, 255, 0, 0));
        QCOMPARE(e.m_DeadColor, mode == 3 ? cv::Scalar(255, 0, 0, 0) : cv::Scalar(0, 0, 255, 0));
        QCOMPARE(e.m_ThirdColor, mode == 3 ? cv::Scalar(255, 127, 0, 0) : cv::Scalar(0, 127, 255, 0));
        int sum = 0;
        for (int i = 0; i < CellCounter::SizeClasses; ++i)
            sum += e.m_LiveHistogram[i] + e.m_DeadHistogram[i];
        for (int i = 0; i < CellCounter::FluorescenceClasses; ++i)
            sum += e.m_GFPHistogram[i] + e.m_NegativeControlHistogram[i];
        for (int i = 0; i < CellCounter::ClusterClasses; ++i)
            sum += e.m_ClusterHistogram[i];
        QCOMPARE(sum, 0);
        QVERIFY(e.m_FoundCells.empty() && e.m_FocusValues.empty());
    }

    void defaultsAndCalibration()
    {
        Probe d;
        QVERIFY(d.m_Mode == 0 && d.m_Height == 1944 && d.m_Width == 2592);
        QCOMPARE(d.m_Volume, 0.000495f);
        QCOMPARE(d.m_MicronsPerPixel, 0.99290782f);
        // Optics that are no number or not positive give no size at all, never an infinite one.
        const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        for (auto [mag, px] : {std::pair{0.0f, 3.63f}, {-10.0f, 3.63f}, {10.0f, 0.0f}, {nan, 3.63f}, {10.0f, inf}, {inf, 3.63f}})
            QCOMPARE(Probe(5, H, W, 0.001f, mag, px).m_MicronsPerPixel, 0.0f);
        // A frame size that cannot be allocated leaves an engine that refuses everything.
        Probe none(5, 0, W, 0.001f, 10, 3.63f);
        std::vector<uchar> f(16);
        none.setImageData(f.data(), 0, false);
        QVERIFY(!none.getImageData(0, false, 2) && !none.getTaggedImageAfterSizeGating(true, 0, 90, 2, 0, 0, 0));

        Probe e(0, H, W, 0.001f, 10, 3.63f), g(5, H, W, 0.001f, 10, 3.63f);
        e.setTagColor(1, 255, 0, 0);
        g.setTagColor(1, 255, 0, 0);
        QCOMPARE(e.m_DeadColor, cv::Scalar(0, 0, 255, 0));
        QCOMPARE(g.m_DeadColor, cv::Scalar(255, 0, 0, 0));
        e.setTagColor(2, 1, 2, 3);
        e.setTagColor(3, 4, 5, 6);
        e.setTagColor(0, 9, 9, 9);
        e.setTagColor(4, 9, 9, 9);
        QVERIFY(e.m_LiveColor == cv::Scalar(3, 2, 1, 0) && e.m_ThirdColor == cv::Scalar(6, 5, 4, 0));
        e.setSizeCalibration(1.0f, 0.0f);
        e.setCircleThickness(2);
        QVERIFY(e.m_SizeGain == 1.0f && e.m_SizeOffset == 0.0f && e.m_CircleThickness == 2);
        QCOMPARE(CellCounter::getImageSize(0), 921600);
        QCOMPARE(CellCounter::getImageSize(1), 3686400);
        QCOMPARE(CellCounter::getImageSize(2), 15116544);
        QVERIFY(CellCounter::getImageSize(-1) == 0 && CellCounter::getImageSize(3) == 0);
    }

    // getImage's image and what setImageData writes from which byte of the frame.
    void imageRouting_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("image");   // getImage
        QTest::addColumn<QString>("written"); // by setImageData besides the frame, "" none
        QTest::addColumn<int>("plane");
        const struct { int mode, index; const char *image, *written; int plane; } rows[] = {
            {0, 0, "Image", "Image", 1}, {0, 4, "Corrected", "Corrected", 1}, {0, 6, "FlatField", "FlatField", 1},
            {0, 19, "Image", "", 0}, {0, 1, "Image", "", 0},
            {1, 0, "Image", "", 0}, {1, 1, "Channel1", "Channel1", 1}, {1, 2, "Channel2", "Channel2", 1},
            {1, 3, "Channel3", "Channel3", 0}, {1, 4, "Image", "", 0}, {1, 5, "Corrected1", "Corrected1", 1},
            {2, 6, "FlatField", "FlatField", 1},
            {3, 19, "ColorSource", "ColorSource", -1}, {4, 4, "Corrected", "Corrected", 1}, {4, 2, "Image", "", 0},
            {5, 4, "Image", "Image", 0}, {5, 19, "Image", "Image", 0},
            {9, 0, "Image", "", 0}, {9, 6, "Image", "", 0}};
        for (const auto &r : rows)
            QTest::addRow("mode %d index %d", r.mode, r.index) << r.mode << r.index << r.image << r.written << r.plane;
    }
    void imageRouting()
    {
        QFETCH(int, mode);
        QFETCH(int, index);
        QFETCH(QString, image);
        QFETCH(QString, written);
        QFETCH(int, plane);
        Probe e(mode, H, W, 0.001f, 10, 3.63f);
        QCOMPARE(e.nameOf(&e.getImage(index)), image);
        std::vector<uchar> frame = colourFrame();
        const auto before = e.snapshot();
        e.setImageData(frame.data(), index, false);
        QStringList expected;
        if (mode == 5)
            expected = QStringList{"GrayInput", "Image"};
        else
            expected = QStringList{"ColorInput"} + (written.isEmpty() ? QStringList() : QStringList{written});
        QStringList changed = e.changedSince(before);
        changed.sort();
        expected.sort();
        QCOMPARE(changed, expected);
        if (mode == 5)
            QCOMPARE(e.image("Image").at<uchar>(1, 0), frame[W]);
        else if (plane >= 0 && !written.isEmpty())
            QCOMPARE(e.image(written).at<uchar>(2, 5), uchar((plane + 1) * 10 + 2));
        else if (!written.isEmpty())
            QVERIFY(cv::norm(e.image(written), e.image("ColorInput"), cv::NORM_INF) == 0);

        // A null frame writes nothing.
        const auto after = e.snapshot();
        e.setImageData(nullptr, index, false);
        QVERIFY(e.changedSince(after).isEmpty());
    }

    // The picture getImageData builds from each image, by mode and image number.
    void pictureRouting_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("imageId");
        QTest::addColumn<QString>("source"); // "" leaves the picture unchanged
        QTest::addColumn<int>("bytes");      // 7 grey, 2 byte 1 only, 4 byte 2 only, 0 a colour copy
        const struct { int mode, id; const char *source; int bytes; } rows[] = {
            {0, 0, "Image", 7}, {0, 4, "Corrected", 7}, {0, 7, "Mask", 7}, {0, 11, "TagImage", 0}, {0, 19, "", 0},
            {0, 1, "", 0}, {3, 19, "ColorSource", 0}, {4, 11, "TagImage", 0},
            {1, 1, "Channel1", 7}, {1, 2, "Channel2", 7}, {1, 3, "Channel3", 7}, {1, 5, "Corrected1", 7},
            {1, 8, "Mask1", 7}, {2, 9, "Mask2", 7}, {2, 10, "Mask3", 7}, {1, 12, "OverlayMask", 7},
            {1, 13, "Shifted2", 2}, {1, 14, "Shifted3", 4}, {2, 15, "Channel2", 2}, {2, 16, "Channel3", 4},
            {1, 0, "", 0}, {1, 11, "", 0}, {1, 17, "", 0}, {1, -1, "", 0},
            {5, 0, "Image", 7}, {5, 7, "Mask", 7}, {5, 11, "TagImage", 0}, {5, 19, "", 0}};
        for (const auto &r : rows)
            QTest::addRow("mode %d image %d", r.mode, r.id) << r.mode << r.id << r.source << r.bytes;
    }
    void pictureRouting()
    {
        QFETCH(int, mode);
        QFETCH(int, imageId);
        QFETCH(QString, source);
        QFETCH(int, bytes);
        Probe e(mode, H, W, 0.001f, 10, 3.63f);
        int value = 1;
        for (const auto &[name, member] : Probe::images())
            (e.*member).setTo(cv::Scalar::all(++value * 3)); // every image its own level
        const cv::Mat &picture = mode == 5 ? e.image("Work7") : e.image("ColorInput");
        const cv::Mat before = picture.clone();
        const uchar *pixels = e.getImageData(imageId, false, 2);
        QVERIFY(pixels == picture.data); // written into the existing buffer
        if (source.isEmpty()) {
            QCOMPARE(cv::norm(picture, before, cv::NORM_INF), 0.0);
            return;
        }
        const cv::Mat &src = e.image(source);
        const int v = src.at<uchar>(0, 0);
        const cv::Vec3b expected = bytes == 0 ? src.at<cv::Vec3b>(0, 0)
                                              : cv::Vec3b(bytes & 1 ? v : 0, bytes & 2 ? v : 0, bytes & 4 ? v : 0);
        QCOMPARE(pixelAt(pixels, W, H - 1, W - 1), expected);
    }

    void roundTrips()
    {
        // Mode 5: the frame comes back in grey, upright or flipped, always at full size.
        Probe g(5, H, W, 0.001f, 10, 3.63f);
        std::vector<uchar> grey(size_t(H) * W);
        for (size_t i = 0; i < grey.size(); ++i)
            grey[i] = uchar(i / W * 5);
        g.setImageData(grey.data(), 7, false);
        QCOMPARE(pixelAt(g.getImageData(0, false, 0), W, 3, 9), cv::Vec3b(15, 15, 15));
        QCOMPARE(pixelAt(g.getImageData(0, true, 1), W, 3, 9), cv::Vec3b((H - 4) * 5, (H - 4) * 5, (H - 4) * 5));
        g.setImageData(grey.data(), 0, true);
        QCOMPARE(g.image("GrayInput").at<uchar>(0, 0), uchar((H - 1) * 5));
        QCOMPARE(g.image("Image").at<uchar>(0, 0), uchar((H - 1) * 5));
        cv::circle(g.image("TagImage"), {20, 20}, 9, cv::Scalar(1, 2, 3), 2);
        const cv::Mat tag = g.image("TagImage").clone();
        const uchar *p = g.getImageData(11, false, 2);
        QVERIFY(std::equal(p, p + tag.total() * 3, tag.data));
        p = g.getImageData(19, false, 2);
        QVERIFY(std::equal(p, p + tag.total() * 3, tag.data));

        // Mode 0: scaled pictures, flipped after scaling.
        Probe c(0, H, W, 0.001f, 10, 3.63f);
        std::vector<uchar> frame = colourFrame();
        c.setImageData(frame.data(), 0, true);
        cv::Mat expected, grey3;
        cv::cvtColor(c.image("Image"), grey3, cv::COLOR_GRAY2BGR);
        for (int size : {0, 1}) {
            const cv::Size s = size == 0 ? cv::Size(640, 480) : cv::Size(1280, 960);
            cv::resize(grey3, expected, s, 0, 0, cv::INTER_LINEAR);
            cv::flip(expected, expected, 0);
            const cv::Mat &display = c.image(size == 0 ? "Display640" : "Display1280");
            const uchar *q = c.getImageData(0, true, size);
            QVERIFY(q == display.data && display.size() == s);
            QVERIFY(cv::norm(display, expected, cv::NORM_INF) <= 1);
        }
        QCOMPARE(c.image("Image").at<uchar>(0, 0), uchar(20 + H - 1)); // stored upside down

        // Size-gated tags in mode 0: window ends kept, fixed colours, no tags without drawTags.
        c.m_FoundCells = {{4, 10, 0, 1, 0, 10, 10, 0}, {4, 20, 0, 0.5f, 0, 30, 10, 0}, {4, 9.9f, 0, 1, 0, 50, 10, 0},
                          {4, std::nanf(""), 0, 1, 0, 10, 30, 0}, {std::nanf(""), 15, 0, 1, 0, 30, 30, 0}};
        const uchar *t = c.getTaggedImageAfterSizeGating(true, 10, 20, 2, false, false, false);
        QCOMPARE(pixelAt(t, W, 10, 19), cv::Vec3b(0, 255, 0));
        QCOMPARE(pixelAt(t, W, 10, 39), cv::Vec3b(0, 0, 255));
        cv::circle(grey3, {10, 10}, 9, cv::Scalar(0, 255, 0), 1); // the two circles in the window only
        cv::circle(grey3, {30, 10}, 9, cv::Scalar(0, 0, 255), 1);
        QCOMPARE(cv::norm(c.image("TagImage"), grey3, cv::NORM_INF), 0.0);
        cv::cvtColor(c.image("Image"), grey3, cv::COLOR_GRAY2BGR);
        c.getTaggedImageAfterSizeGating(false, 10, 20, 2, false, false, false);
        QCOMPARE(cv::norm(c.image("TagImage"), grey3, cv::NORM_INF), 0.0);
        QVERIFY(c.getTaggedImageAfterSizeGating(true, 0, 90, 0, false, false, false) == c.image("Display640").data);
        // Mode 5 leaves the tag picture as the finder drew it.
        QVERIFY(g.getTaggedImageAfterSizeGating(true, 0, 90, 2, true, false, false) == g.image("TagImage").data);
        QCOMPARE(cv::norm(g.image("TagImage"), tag, cv::NORM_INF), 0.0);
    }

    void overlay()
    {
        Probe e(1, H, W, 0.001f, 10, 3.63f);
        e.image("Channel1").setTo(100);
        e.image("Channel2").setTo(50);
        e.image("Shifted2").setTo(60);
        e.image("Channel3").setTo(200);
        e.image("TagImage").setTo(cv::Scalar(1, 2, 128));
        uchar *colour = e.image("ColorInput").data;
        auto first = [&](const uchar *p) { return pixelAt(p, W, 0, 0); };
        QCOMPARE(first(e.getOverlayImageData(false, 2, true, true, true, false, false, false, 0, 0, 0)), cv::Vec3b(100, 150, 255));
        QCOMPARE(first(e.getOverlayImageData(false, 2, false, true, false, false, true, false, 0, 10, 0)), cv::Vec3b(0, 70, 0));
        QCOMPARE(first(e.getOverlayImageData(false, 2, true, false, false, false, false, false, 300, 0, 0)), cv::Vec3b(255, 255, 255));
        QCOMPARE(first(e.getOverlayImageData(false, 2, true, true, true, false, false, false, -300, -300, -300)), cv::Vec3b(0, 0, 0));
        QVERIFY(allEqual(cv::Mat(H, W, CV_8UC3, e.getOverlayImageData(false, 2, false, false, false, false, false, false, 0, 0, 0)), 0));
        const uchar *tags = e.getOverlayImageData(true, 2, false, false, false, false, false, false, 0, 0, 0);
        QVERIFY(tags == colour && first(tags) == cv::Vec3b(1, 2, 128)); // into the existing buffer
        QCOMPARE(first(e.getOverlayImageData(true, 0, false, true, false, false, false, false, 0, 0, 0)), cv::Vec3b(1, 50, 128));
        // Outside modes 1 and 2 there is no overlay.
        for (int mode : {0, 3, 5})
            QVERIFY(!Probe(mode, H, W, 0.001f, 10, 3.63f).getOverlayImageData(true, 2, true, true, true, false, false, false, 0, 0, 0));
    }

    void thresholds_data()
    {
        QTest::addColumn<QVector<int>>("bands");  // levels of equal bands of rows
        QTest::addColumn<QVector<int>>("probes"); // levels of 3 x 3 blocks in the last band
        QTest::addColumn<int>("level");           // given level, 0 to find it
        QTest::addColumn<int>("index");
        QTest::addColumn<QVector<int>>("mask");   // mask of each band, then of each probe
        QTest::newRow("only 0 and 255") << QVector<int>{0, 255} << QVector<int>{} << 0 << 0 << QVector<int>{255, 0};
        // A single level finds 128: 128 is at or below it, 129 above.
        QTest::newRow("one level 128") << QVector<int>{0, 128, 255} << QVector<int>{} << 0 << 0 << QVector<int>{255, 255, 0};
        QTest::newRow("one level 129") << QVector<int>{129} << QVector<int>{} << 0 << 0 << QVector<int>{0};
        QTest::newRow("50 and 200 give 125") << QVector<int>{50, 200} << QVector<int>{125, 126} << 0 << 0 << QVector<int>{255, 0, 255, 0};
        QTest::newRow("level 95") << QVector<int>{95, 96} << QVector<int>{} << 95 << 0 << QVector<int>{255, 0};
        QTest::newRow("index 4") << QVector<int>{95, 96} << QVector<int>{} << 95 << 4 << QVector<int>{255, 0};
        QTest::newRow("channel 2 is bright") << QVector<int>{95, 96} << QVector<int>{} << 95 << 2 << QVector<int>{0, 255};
        QTest::newRow("channel 3 found") << QVector<int>{50, 200} << QVector<int>{125, 126} << 0 << 3 << QVector<int>{0, 255, 0, 255};
    }
    void thresholds()
    {
        QFETCH(QVector<int>, bands);
        QFETCH(QVector<int>, probes);
        QFETCH(int, level);
        QFETCH(int, index);
        QFETCH(QVector<int>, mask);
        Probe e(index == 2 || index == 3 ? 1 : 5, H, W, 0.001f, 10, 3.63f);
        cv::Mat &source = e.getImage(index);
        const int band = H / bands.size(), last = (bands.size() - 1) * band;
        for (int i = 0; i < bands.size(); ++i)
            source.rowRange(i * band, (i + 1) * band).setTo(bands[i]);
        for (int i = 0; i < probes.size(); ++i)
            source(cv::Rect(4 + 6 * i, last + 2, 3, 3)).setTo(probes[i]);
        e.autoThreshold(index, level);
        const cv::Mat &m = index == 2 ? e.image("Mask2") : index == 3 ? e.image("Mask3") : e.image("Mask");
        for (int i = 0; i < bands.size(); ++i)
            QCOMPARE(int(m.at<uchar>(i * band + band / 2, W - 5)), mask[i]);
        for (int i = 0; i < probes.size(); ++i)
            QCOMPARE(int(m.at<uchar>(last + 3, 5 + 6 * i)), mask[bands.size() + i]);
    }

    // A sparse stain on a noisy dark field: the found level lies between field and stain (the
    // scan settles inside the field's noise first, where half the field would pass).
    void foundLevelOnNoisyDarkField()
    {
        const int h = 240, w = 320;
        for (const int index : {2, 3}) {
            Probe e(1, h, w, 0.001f, 10, 3.63f);
            cv::Mat noise(h, w, CV_32F);
            cv::RNG(index).fill(noise, cv::RNG::NORMAL, 12.0, 3.0);
            cv::Mat &source = e.getImage(index);
            noise.convertTo(source, CV_8U);
            cv::Mat stain(h, w, CV_8UC1, cv::Scalar(0)); // half a percent of the field
            cv::circle(stain, {80, 120}, 8, cv::Scalar(255), cv::FILLED);
            cv::circle(stain, {240, 120}, 8, cv::Scalar(255), cv::FILLED);
            source.setTo(180, stain);
            e.autoThreshold(index, 0);
            const cv::Mat &m = e.image(index == 2 ? "Mask2" : "Mask3");
            cv::medianBlur(stain, stain, 3);
            QCOMPARE(cv::norm(m, stain, cv::NORM_INF), 0.0); // the stain and nothing else
        }
    }

    // The mask is exactly OpenCV's threshold followed by its 3 x 3 median, edges included, on
    // noise at every kind of level, for bright (channel 2) and dark (image 0) objects.
    void thresholdMedianAsOpenCV_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("frame") << QSize(W, H);
        QTest::newRow("1 x 1") << QSize(1, 1);
        QTest::newRow("one row") << QSize(9, 1);
        QTest::newRow("one column") << QSize(1, 9);
        QTest::newRow("2 x 2") << QSize(2, 2);
        QTest::newRow("7 x 5") << QSize(7, 5);
    }
    void thresholdMedianAsOpenCV()
    {
        QFETCH(QSize, size);
        cv::RNG rng(size.width() * 31 + size.height());
        for (const int index : {0, 2}) {
            Probe e(index == 2 ? 1 : 5, H, W, 0.001f, 10, 3.63f);
            cv::Mat source(size.height(), size.width(), CV_8UC1);
            rng.fill(source, cv::RNG::UNIFORM, 0, 256);
            if (size.width() > 8 && size.height() > 8)
                cv::GaussianBlur(source, source, cv::Size(5, 5), 1.5); // runs and islands of all sizes
            e.getImage(index) = source;
            for (const int level : {-3, 1, 100, 128, 254, 255, 300}) {
                cv::Mat ours, theirs;
                e._autoThreshold(index, ours, level);
                cv::threshold(source, theirs, level, 255, index == 2 ? cv::THRESH_BINARY : cv::THRESH_BINARY_INV);
                cv::medianBlur(theirs, theirs, 3);
                QVERIFY2(ours.size() == theirs.size() && cv::norm(ours, theirs, cv::NORM_INF) == 0.0,
                         qPrintable(QString("index %1 level %2").arg(index).arg(level)));
            }
        }
    }

    void shadingAndRefusals()
    {
        // Flat field: s x mean / f, 255 above range and where f is 0, 0 where both are 0.
        Probe e(0, H, W, 0.001f, 10, 3.63f);
        e.image("FlatField").setTo(100);
        e.image("FlatField").at<uchar>(0, 0) = 0;
        e.image("FlatField").at<uchar>(0, 1) = 0;
        e.image("FlatField").at<uchar>(0, 2) = 40;
        e.image("Image").setTo(77);
        e.image("Image").at<uchar>(0, 1) = 0;
        const double mean = cv::mean(e.image("FlatField"))[0];
        e.correctShading(0);
        const cv::Mat &c = e.image("Corrected");
        QVERIFY(c.at<uchar>(0, 0) == 255 && c.at<uchar>(0, 1) == 0);
        QCOMPARE(int(c.at<uchar>(0, 2)), int(77 * mean / 40));
        QCOMPARE(int(c.at<uchar>(5, 5)), int(77 * mean / 100));
        e.image("FlatField").setTo(50); // another flat field, another table
        e.correctShading(0);
        QVERIFY(c.at<uchar>(5, 5) == 77 && c.at<uchar>(0, 1) == 0);
        // Background blend: a flat image s gives 255 - (255 - s(255 - s)/255)(255 - s)/255.
        e.image("Image").setTo(100);
        e.correctShading(0, 5, 0, 0);
        QCOMPARE(int(c.at<uchar>(9, 9)), 255 - (255 - 100 * 155 / 255) * 155 / 255);

        // Channel shift: moved right and down, uncovered pixels 0; other channels untouched.
        Probe f(1, H, W, 0.001f, 10, 3.63f);
        f.image("Channel2").at<uchar>(10, 10) = 200;
        f.setPixelShiftOffset(2, 3, 2);
        QVERIFY(f.image("Shifted2").at<uchar>(12, 13) == 200 && f.m_ShiftX2 == 3 && f.m_ShiftY2 == 2);
        QCOMPARE(f.m_ShiftMatrix.at<float>(0, 2), 3.0f);
        float mean1 = -1, dev = -1;
        std::vector<uchar> frame = colourFrame(2, 2);
        f.getAvgStdDev(frame.data(), mean1, dev, 2, 2);
        QVERIFY(mean1 == 10.5f && dev == 0.5f);

        // Every refusal writes nothing, neither images nor values.
        const auto nothing = [](Probe &p, const std::function<void()> &op) {
            const auto before = p.snapshot();
            const cv::Mat matrix = p.m_ShiftMatrix.clone();
            const int sx = p.m_ShiftX2, sx3 = p.m_ShiftX3;
            op();
            return p.changedSince(before).isEmpty() && sx == p.m_ShiftX2 && sx3 == p.m_ShiftX3
                && (matrix.empty() || cv::norm(matrix, p.m_ShiftMatrix, cv::NORM_INF) == 0);
        };
        f.image("Channel1").setTo(80);
        f.image("FlatField").setTo(50);
        QVERIFY(nothing(f, [&] { f.correctShading(0); }));
        QVERIFY(nothing(f, [&] { f.correctShading(1, 5, 0, 0); }));
        QVERIFY(nothing(f, [&] { f.autoThreshold(4, 0); }));
        QVERIFY(nothing(f, [&] { f.setPixelShiftOffset(1, 5, 5); }));
        QVERIFY(nothing(f, [&] { f.setBlackBalance(1, 0.5f); }));
        QVERIFY(nothing(e, [&] { e.correctShading(1); }));
        QVERIFY(nothing(e, [&] { e.correctShading(0, 4, 0, 0); }));  // an even kernel is refused by the blur
        QVERIFY(nothing(e, [&] { e.setPixelShiftOffset(2, 1, 1); })); // mode 0 has no channel 2
        Probe g(5, H, W, 0.001f, 10, 3.63f), h(1, H, W, 0.001f, 10, 3.63f);
        g.image("Image").setTo(60);
        QVERIFY(nothing(g, [&] { g.correctShading(0, 5, 0, 0); }));
        QVERIFY(nothing(g, [&] { g.correctShading(0); }));
        QVERIFY(nothing(h, [&] { h.autoThreshold(0, 0); })); // mode 1 has no image 0
        QVERIFY(nothing(h, [&] { h._autoThreshold(0, h.image("Mask1"), 0); }));
        f.getAvgStdDev(nullptr, mean1, dev, 2, 2);
        f.getAvgStdDev(frame.data(), mean1, dev, 0, 2);
        QVERIFY(mean1 == 10.5f && dev == 0.5f);
    }

    void concentration_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<float>("factor");
        QTest::addColumn<float>("volume");
        QTest::addColumn<float>("mantissa");
        QTest::addColumn<int>("exponent");
        QTest::newRow("10") << 1 << 10.0f << 1.0f << 1.0f << 1;
        QTest::newRow("100") << 1 << 100.0f << 1.0f << 1.0f << 2;
        QTest::newRow("5.5") << 1 << 5.5f << 1.0f << 5.5f << 0;
        QTest::newRow("2345678") << 1 << 2345678.0f << 1.0f << 2.346f << 6;
        QTest::newRow("999.95") << 1 << 999.95f << 1.0f << 1.0f << 3;
        QTest::newRow("-5") << -5 << 1.0f << 1.0f << -1.0f << -1;
        QTest::newRow("0") << 0 << 1.0f << 1.0f << 0.0f << 0;
        QTest::newRow("1 or less") << 1 << 0.5f << 1.0f << 0.0f << 0;
        QTest::newRow("cells per mL") << 250 << 2.0f << 0.0001f << 5.0f << 6;
        QTest::newRow("no volume") << 10 << 1.0f << 0.0f << 0.0f << 0;
        QTest::newRow("negative volume") << 10 << -1.0f << -1.0f << 0.0f << 0;
        QTest::newRow("NaN factor") << 10 << std::nanf("") << 1.0f << 0.0f << 0;
        QTest::newRow("infinite") << 10 << std::numeric_limits<float>::max() << 1e-30f << 0.0f << 0;
        QTest::newRow("largest float") << 1 << std::numeric_limits<float>::max() << 1.0f << 3.403f << 38;
    }
    void concentration()
    {
        QFETCH(int, count);
        QFETCH(float, factor);
        QFETCH(float, volume);
        QFETCH(float, mantissa);
        QFETCH(int, exponent);
        CellCounter e(5, H, W, volume, 10, 3.63f);
        float m = 99;
        int x = 99;
        e.getConcentration(count, factor, m, x);
        QCOMPARE(m, mantissa);
        QCOMPARE(x, exponent);
    }

    void results()
    {
        Probe e(5, H, W, 0.001f, 10, 3.63f);
        float v = -1;
        e.getViability(0, 0, v);
        QCOMPARE(v, 0.0f);
        e.getViability(3, 1, v);
        QCOMPARE(v, 75.0f);
        QCOMPARE(e.getAvgCellSize(10, 20), 0.0f);
        for (float s : {9.9f, 10.0f, 20.0f, 20.1f, std::nanf("")})
            e.m_FoundCells.push_back({2, s, 90, 1, 0, 5, 6, 0});
        QCOMPARE(e.getAvgCellSize(10, 20), 15.0f);
        QCOMPARE(e.getFoundCells(), 5);
        std::vector<TObj> copy = e.getFoundCellInformation(), out(5);
        e.getFoundCellInformation(out.data());
        QVERIFY(std::memcmp(copy.data(), e.m_FoundCells.data(), 5 * sizeof(TObj)) == 0);
        QVERIFY(std::memcmp(out.data(), e.m_FoundCells.data(), 5 * sizeof(TObj)) == 0);
        e.m_FoundGFP = {{1, 2, 3, 4, 5, 6, 7, 8}};
        QVERIFY(e.getFoundGFP() == 1 && e.getFoundGFPInformation()[0].nGreenClass == 8 && e.getFoundNegativeControl() == 0);
        e.getFoundNegativeControlInformation(nullptr);
        QVERIFY(e.getHistogram(0) == e.m_LiveHistogram && e.getHistogram(1) == e.m_DeadHistogram);
        QVERIFY(e.getHistogram(2) == e.m_ClusterHistogram && !e.getHistogram(3) && !e.getHistogram(-1));

        QVERIFY(CellCounter::round(-2.5f) == -3 && CellCounter::round(2.5f) == 3 && CellCounter::round(2.49f) == 2);
        QVERIFY(CellCounter::round(1e20f) == std::numeric_limits<int>::max() && CellCounter::round(std::nanf("")) == 0);
        QCOMPARE(CellCounter::round3(123.456f), 123.5f);
        QCOMPARE(CellCounter::round3(99.94f), 99.9f);
        QCOMPARE(CellCounter::round3(99.89f), 99.89f);
        QCOMPARE(CellCounter::round3(-123.456f), -123.456f);
        std::vector<std::pair<float, cv::Point>> seeds = {{1, {}}, {3, {}}, {2, {}}};
        std::sort(seeds.begin(), seeds.end(), CellCounter::compare_func2);
        QVERIFY(seeds[0].first == 3 && seeds[2].first == 1);
        QVERIFY(CellCounter::compare_func1({200, {}}, {100, {}}) && !CellCounter::compare_func1({100, {}}, {100, {}}));
    }

    void focusMeasures()
    {
        Probe e(5, H, W, 0.001f, 10, 3.63f);
        // Window frames of 3-byte pixels whose plane 1 holds the given levels.
        auto frameOf = [](const std::vector<int> &levels, cv::Size size) {
            cv::Mat f(size, CV_8UC3, cv::Scalar::all(0));
            for (int i = 0; i < int(f.total()); ++i)
                f.at<cv::Vec3b>(i / size.width, i % size.width)[1] = uchar(levels[size_t(i) % levels.size()]);
            return f;
        };
        std::vector<int> all(255), band, halves = {0, 20};
        for (int i = 0; i < 255; ++i)
            all[size_t(i)] = i;
        for (int i = 10; i <= 250; ++i)
            band.push_back(i);
        const cv::Size s(34, 30);
        double value = -5;
        const struct { std::vector<int> levels; int method; double value; } cases[] = {
            {{77}, 0, 0}, {{77}, 1, 0}, {all, 0, 254}, {band, 0, 236}, {halves, 1, 50}};
        for (const auto &c : cases) {
            cv::Mat f = frameOf(c.levels, s);
            QVERIFY(e.find_best_focus(c.method, f.data, s, s, value) >= 0);
            QCOMPARE(value, c.value);
        }
        cv::Mat f = frameOf(halves, s);
        e.find_focus_variance(f.data, s, cv::Size(10, 10), value);
        QCOMPARE(value, 50.0);
        value = 7;
        QVERIFY(e.find_best_focus(2, f.data, s, s, value) >= 0 && value == 7);
        // Refused: a window larger than the frame, no pixels; the value stays.
        QCOMPARE(e.find_best_focus(0, f.data, s, cv::Size(36, 10), value), -1.0);
        QCOMPARE(e.find_best_focus(1, nullptr, s, s, value), -1.0);
        e.find_best_focus_hist_distance(f.data, s, cv::Size(10, 31), value);
        QCOMPARE(value, 7.0);

        // Dark edge: levels 5..35 count; the 640 x 480 window of a 1280 x 1024 frame starts at (320, 272).
        cv::Mat big(1024, 1280, CV_8UC3, cv::Scalar::all(100));
        big(cv::Rect(320, 272, 640, 480)).setTo(cv::Scalar(0, 5, 0));
        big.at<cv::Vec3b>(272, 320)[1] = 4;
        big.at<cv::Vec3b>(272, 321)[1] = 35;
        big.at<cv::Vec3b>(272, 322)[1] = 36;
        big.at<cv::Vec3b>(271, 320)[1] = 20; // outside the window
        QCOMPARE(e.find_fv_quorvan_dark_edge(big, 1, Quorvan::FOCUS_WINDOW_640X480), 640 * 480 - 2);
        QCOMPARE(e.find_fv_quorvan_dark_edge(big, 1, Quorvan::FOCUS_WINDOW_320X240), 320 * 240);
        QCOMPARE(e.find_fv_quorvan_dark_edge(big, 3, Quorvan::FOCUS_WINDOW_320X240), 0); // grey 3: too dark
        e.init_focus_value_vec();
        QVERIFY(e.find_focus_value(big.data, 1280, 1024, value, Quorvan::FOCUS_VALUE_DARK_EDGE, 1, Quorvan::FOCUS_WINDOW_640X480) >= 0);
        QCOMPARE(value, 640.0 * 480 - 2);
        // Refused or not computed: value and list stay.
        cv::Mat small(240, 320, CV_8UC3, cv::Scalar::all(20));
        QCOMPARE(e.find_fv_quorvan_dark_edge(small, 1, Quorvan::FOCUS_WINDOW_640X480), -1);
        QCOMPARE(e.find_fv_quorvan_dark_edge(small, 2, Quorvan::FOCUS_WINDOW_320X240), -1);
        QCOMPARE(e.find_fv_quorvan_dark_edge(small, 1, Quorvan::FOCUS_WINDOW_SIZE(2)), -1);
        QCOMPARE(e.find_fv_quorvan_dark_edge(small, 1, Quorvan::FOCUS_WINDOW_320X240), 320 * 240);
        value = 3;
        QCOMPARE(e.find_focus_value(small.data, 320, 240, value, Quorvan::FOCUS_VALUE_DARK_EDGE, 1, Quorvan::FOCUS_WINDOW_640X480), -1.0);
        QCOMPARE(e.find_focus_value(small.data, 320, 240, value, Quorvan::FOCUS_VALUE_DARK_EDGE, 0, Quorvan::FOCUS_WINDOW_320X240), -1.0);
        QCOMPARE(e.find_focus_value(nullptr, 320, 240, value, Quorvan::FOCUS_VALUE_DARK_EDGE, 1, Quorvan::FOCUS_WINDOW_320X240), -1.0);
        QVERIFY(e.find_focus_value(small.data, 320, 240, value, Quorvan::FOCUS_VALUE_CRITERIA(1), 1, Quorvan::FOCUS_WINDOW_320X240) >= 0);
        QVERIFY(value == 3 && e.get_focus_value_vec() == std::vector<double>{640.0 * 480 - 2});

        int index = 9;
        e.m_FocusValues = {3, 5, 5, 2};
        e.get_best_focus_index_with_value(index, value);
        QVERIFY(index == 1 && value == 5);
        e.init_focus_value_vec();
        QVERIFY(e.get_focus_value_vec().empty());
        e.get_best_focus_index_with_value(index, value);
        QVERIFY(index == -1 && value == -1);
    }

    void statisticsAndProfiles()
    {
        Probe grey(5, H, W, 0.001f, 10, 3.63f), colour(3, H, W, 0.001f, 10, 3.63f), none(1, H, W, 0.001f, 10, 3.63f);
        grey.image("Image").rowRange(0, H / 2).setTo(10);
        grey.image("Image").rowRange(H / 2, H).setTo(30);
        float a = -1, b = -1, c = -1;
        grey.avg(0, a, b, c);
        QVERIFY(a == 0 && b == 0 && c == 20);
        grey.std(0, a, b, c);
        QVERIFY(a == 0 && b == 0 && c == 10);
        colour.image("ColorSource").setTo(cv::Scalar(1, 2, 3));
        colour.avg(19, a, b, c);
        QVERIFY(a == 3 && b == 2 && c == 1);
        none.avg(0, a, b, c); // mode 1 has no image 0
        QVERIFY(a == 0 && b == 0 && c == 0);

        cv::Mat image(4, 6, CV_8UC3);
        for (int i = 0; i < 24; ++i)
            image.at<cv::Vec3b>(i / 6, i % 6) = cv::Vec3b(uchar(i), uchar(100 + i), 0);
        QCOMPARE(grey.getLineIntensity(image, 0, 0), (std::vector<int>{12, 13, 14, 15, 16, 17}));
        QCOMPARE(grey.getLineIntensity(image, 2, 1), (std::vector<int>{103, 109, 115, 121}));
        QVERIFY(grey.getLineIntensity(image, 1, 0).size() == 24 && grey.m_LineProfile.size() == 24);
        cv::Mat wrong(4, 6, CV_8UC1, cv::Scalar(1));
        for (auto [m, direction, channel] : {std::tuple{&image, 3, 0}, {&image, 4, 0}, {&image, -1, 0}, {&image, 0, 3},
                                             {&image, 0, -1}, {&wrong, 0, 0}}) {
            QVERIFY(grey.getLineIntensity(*m, direction, channel).empty());
            QVERIFY(grey.m_LineProfile.empty());
        }
        const cv::Mat before = image.clone();
        std::string name = "profile";
        grey.drawLineIntensity(name, image, 0, 1);
        QCOMPARE(grey.m_LineProfile, (std::vector<int>{112, 113, 114, 115, 116, 117}));
        QCOMPARE(cv::norm(image, before, cv::NORM_INF), 0.0);
    }

    // A focus scan of the simulated specimen (Trans, 10X) in 21 steps of 5 micrometres through
    // the true focus: each of the three measures peaks within a step of it.
    void focusCurveOverSimulatedSpecimen()
    {
        SampleRenderer renderer;

        SampleView view;
        view.filter = 0;
        view.objective = 2;
        view.exposureMs = 8.5; // rings and dead cells dark enough for the dark-edge levels
        view.light = 0.5;
        const double focus = renderer.trueFocusSteps(view.objective), step = 5 * SampleRenderer::StepsPerUm;
        Probe e(5, SampleRenderer::Height, SampleRenderer::Width, 0.0001f, 10, float(SampleRenderer::CameraPixelUm));
        cv::Mat frame12, frame8, frame;
        QStringList spread, variance, edges;
        std::vector<double> spreads, variances;
        for (int i = 0; i < 21; ++i) {
            view.stageSteps = focus + (i - 10) * step;
            renderer.render(view, frame12);
            frame12.convertTo(frame8, CV_8U, 1.0 / 16);
            cv::cvtColor(frame8, frame, cv::COLOR_GRAY2BGR);
            double hist = 0, var = 0, dark = 0;
            const cv::Size window(640, 480);
            QVERIFY(e.find_best_focus(0, frame.data, frame.size(), window, hist) >= 0);
            QVERIFY(e.find_best_focus(1, frame.data, frame.size(), window, var) >= 0);
            QVERIFY(e.find_focus_value(frame.data, frame.cols, frame.rows, dark, Quorvan::FOCUS_VALUE_DARK_EDGE, 1,
                                       Quorvan::FOCUS_WINDOW_640X480) >= 0);
            spreads.push_back(hist);
            variances.push_back(var);
            spread << QString::number(hist);
            variance << QString::number(var, 'f', 2);
            edges << QString::number(dark);
        }
        int best = -1;
        double value = -1;
        e.get_best_focus_index_with_value(best, value);
        qInfo("histogram spread: %s", qPrintable(spread.join(' ')));
        qInfo("variance: %s", qPrintable(variance.join(' ')));
        qInfo("dark edge: %s", qPrintable(edges.join(' ')));
        qInfo("best index %d (value %g), true focus at index 10", best, value);
        QVERIFY2(std::abs(best - 10) <= 1, qPrintable(QString::number(best)));
        for (const std::vector<double> *curve : {&spreads, &variances})
            QVERIFY(std::abs(std::max_element(curve->begin(), curve->end()) - curve->begin() - 10) <= 1);
    }
};

QTEST_GUILESS_MAIN(TestCellCounterObject)
#include "tst_cellcounter_object.moc"
