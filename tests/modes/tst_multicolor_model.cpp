// The Multicolor channel store against references written in the test with the plain OpenCV
// calls: camera-word decoding, the pseudo-colour rendering of every colour index, brightness
// and contrast chains, the overlay weights for every set of included channels, both depths.
#include "MultiColorModel.h"

#include <QtTest>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

namespace {

constexpr int W = MultiColorModel::kWidth;
constexpr int H = MultiColorModel::kHeight;

// A seeded frame: 8-bit values, or 12-bit values (test side) with their camera words.
struct Frame
{
    cv::Mat values;            // CV_8UC1 or CV_16UC1
    std::vector<uchar> camera; // what the camera delivers
};

Frame makeFrame(int bits, unsigned seed, int top = -1)
{
    Frame f;
    cv::RNG rng(seed);
    f.values.create(H, W, bits == 8 ? CV_8UC1 : CV_16UC1);
    rng.fill(f.values, cv::RNG::UNIFORM, 0, (top < 0 ? (bits == 8 ? 255 : 4095) : top) + 1);
    if (bits == 8) {
        f.camera.assign(f.values.data, f.values.data + W * H);
        return f;
    }
    f.camera.resize(size_t(W) * H * 2);
    const ushort *v = f.values.ptr<ushort>();
    for (size_t i = 0; i < size_t(W) * H; ++i) {
        f.camera[2 * i] = uchar(v[i] >> 4);
        f.camera[2 * i + 1] = uchar((v[i] << 4) & 0xF0);
    }
    return f;
}

cv::Mat wrap(uchar *data, int type)
{
    return cv::Mat(H, W, type, data);
}

// The colour rendering as the plain OpenCV calls make it: a merge of the image and zero planes
// chosen by the index (B, G, R order), then BGR to RGB; grey for channel 0.
cv::Mat referencePseudo(const cv::Mat &image, int channel, int colorIndex)
{
    cv::Mat out;
    if (channel == 0 || colorIndex < 0 || colorIndex > 4) {
        cv::cvtColor(image, out, cv::COLOR_GRAY2BGR);
        return out;
    }
    const cv::Mat z = cv::Mat::zeros(H, W, image.type());
    const std::vector<std::vector<cv::Mat>> planes = {
        {z, z, image}, {z, image, z}, {image, z, z}, {z, image, image}, {image, image, z}};
    cv::merge(planes[size_t(colorIndex)], out);
    cv::cvtColor(out, out, cv::COLOR_BGR2RGB);
    return out;
}

cv::Mat referenceBrightness(const cv::Mat &src, int v)
{
    if (src.depth() == CV_8U)
        return src + cv::Scalar(double(v));
    cv::Mat dst(src.size(), src.type());
    const ushort *s = src.ptr<ushort>();
    ushort *d = dst.ptr<ushort>();
    for (size_t i = 0; i < src.total(); ++i)
        d[i] = ushort(std::clamp(int(s[i]) + v, 0, 65535));
    return dst;
}

cv::Mat referenceContrast(const cv::Mat &src, int v)
{
    const float alpha = float(v) / 10.0f;
    const float mean = float(cv::mean(src)[0]);
    if (src.depth() == CV_8U)
        return (src - cv::Scalar(double(mean))) * double(alpha) + cv::Scalar(double(mean));
    cv::Mat dst(src.size(), src.type());
    const ushort *s = src.ptr<ushort>();
    ushort *d = dst.ptr<ushort>();
    for (size_t i = 0; i < src.total(); ++i) {
        const float product = (float(s[i]) - mean) * alpha;
        d[i] = ushort(std::clamp(std::lrint(mean + product), 0L, 65535L));
    }
    return dst;
}

// The overlay by the plain OpenCV steps.
cv::Mat referenceOverlay(const std::array<cv::Mat, 4> &images, const std::array<bool, 4> &included,
                         const std::array<int, 4> &colors, int bits)
{
    const int depth = bits == 16 ? CV_16U : CV_8U;
    const cv::Mat zero = cv::Mat::zeros(H, W, depth);
    cv::Mat sum = cv::Mat::zeros(H, W, CV_MAKETYPE(depth, 3));
    cv::Mat background;
    int k = 0;
    if (included[0]) {
        cv::cvtColor(images[0], background, cv::COLOR_GRAY2BGR);
        k = 1;
    } else {
        cv::cvtColor(zero, background, cv::COLOR_GRAY2BGR);
    }
    std::array<cv::Mat, 4> colour;
    for (int c : {1, 3, 2}) {
        std::vector<cv::Mat> planes{zero, zero, zero};
        if (included[size_t(c)]) {
            k += 2;
            const cv::Mat &m = images[size_t(c)];
            switch (colors[size_t(c)]) {
            case 0: planes = {zero, zero, m}; break;
            case 1: planes = {zero, m, zero}; break;
            case 2: planes = {m, zero, zero}; break;
            case 3: planes = {zero, m, m}; break;
            case 4: planes = {m, m, zero}; break;
            default: break;
            }
        }
        cv::merge(planes, colour[size_t(c)]);
    }
    sum = (colour[1] + colour[3]) + colour[2];
    const double alpha = k == 1 ? 1.0 : (k > 1 && k % 2) ? 0.5 : 0.0;
    const double beta = k == 0 || k == 1 ? 0.0 : (k % 2) ? 0.5 : 1.0;
    cv::Mat out;
    cv::addWeighted(background, alpha, sum, beta, 0.0, out, -1);
    cv::cvtColor(out, out, cv::COLOR_BGR2RGB);
    return out;
}

bool same(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

} // namespace

class TestMultiColorModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<MultiColorModel> m_model;

    cv::Mat grey(int channel, int bits) { return wrap(m_model->imageData(channel, bits), bits == 16 ? CV_16UC1 : CV_8UC1); }
    cv::Mat rgb(int channel, int bits)
    {
        return wrap(m_model->imageData(channel, bits == 16 ? 48 : 24), bits == 16 ? CV_16UC3 : CV_8UC3);
    }

private slots:
    // One store for every case (its buffers are large): each case starts from an emptied store,
    // as the page's Clear leaves it.
    void initTestCase() { m_model = std::make_unique<MultiColorModel>(); }
    void init() { m_model->clear(); }
    void cleanupTestCase() { m_model.reset(); }

    void startsZeroedAndEmpty()
    {
        MultiColorModel fresh;
        for (int c = 0; c < 4; ++c)
            for (int bits : {8, 16, 24, 48})
                QCOMPARE(cv::countNonZero(wrap(fresh.imageData(c, bits), CV_8UC1).reshape(1, 1).colRange(0, W)), 0);
        QCOMPARE(fresh.numberOfCapturedImage(), 0);
        QCOMPARE(cv::countNonZero(wrap(fresh.overlayImageData(16), CV_16UC3).reshape(1)), 0);
    }

    void cameraWordsDecodeAndComeBack()
    {
        std::vector<uchar> frame(size_t(W) * H * 2, 0);
        frame[0] = 0xFF;
        frame[1] = 0xF0;
        frame[2] = 0x12;
        frame[3] = 0x30;
        frame[4] = 0x12; // a word beyond 12 bits, which no camera sends: 0xF123 saturated
        frame[5] = 0x3F;
        QCOMPARE(m_model->setImageData(1, frame.data(), 0, 16), 1);
        const auto *values = reinterpret_cast<const ushort *>(m_model->imageData(1, 16));
        QCOMPARE(int(values[0]), 4095);
        QCOMPARE(int(values[1]), 0x123);
        QCOMPARE(int(values[2]), 4095);
        const uchar *shifted = m_model->imageShiftedData(1, 16);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(shifted), 4), QByteArray("\xFF\xF0\x12\x30", 4));
        QVERIFY(!m_model->imageData(1, 12));
        QVERIFY(!m_model->imageShiftedData(1, 24));
        QCOMPARE(m_model->imageShiftedData(1, 8), m_model->imageData(1, 8));
    }

    // An auto-save shares the captured image: the next capture of the channel leaves the held
    // one as it was; with no holder a capture reuses the memory.
    void heldCaptureOutlivesTheNext_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("depth");
        for (int depth : {8, 24, 16, 48})
            QTest::addRow("%d", depth) << (depth == 8 || depth == 24 ? 8 : 16) << depth;
    }
    void heldCaptureOutlivesTheNext()
    {
        QFETCH(int, bits);
        QFETCH(int, depth);
        const int bytes = W * H * depth / 8;
        const auto shown = [&] { return QByteArray(reinterpret_cast<const char *>(m_model->imageData(3, depth)), bytes); };
        const Frame first = makeFrame(bits, 1), second = makeFrame(bits, 2);
        QCOMPARE(m_model->setImageData(3, first.camera.data(), 2, bits), 1);
        std::shared_ptr<const uchar> held = m_model->capturedImage(3, depth);
        const QByteArray captured = shown();
        QVERIFY(QByteArray(reinterpret_cast<const char *>(held.get()), bytes) == captured);
        QCOMPARE(m_model->setImageData(3, second.camera.data(), 2, bits), 1);
        QVERIFY(QByteArray(reinterpret_cast<const char *>(held.get()), bytes) == captured);
        const uchar *memory = m_model->capturedImage(3, depth).get();
        QVERIFY(memory != held.get());
        QVERIFY(QByteArray(reinterpret_cast<const char *>(memory), bytes) == shown());
        m_model->setBrightness(3, 40, false);
        m_model->reset(3); // back to the second capture, from its new memory
        QVERIFY(QByteArray(reinterpret_cast<const char *>(memory), bytes) == shown());
        held.reset();
        QCOMPARE(m_model->setImageData(3, first.camera.data(), 2, bits), 1);
        QCOMPARE(m_model->capturedImage(3, depth).get(), memory);
        QVERIFY(!m_model->capturedImage(3, 12) && !m_model->capturedImage(4, depth));
    }

    // A brightened 16-bit value above 4095 leaves the camera layout at 4095, never garbled.
    void shiftedCopiesSaturate()
    {
        Frame f = makeFrame(16, 3);
        f.camera[0] = 0x7D; // 2000
        f.camera[1] = 0x00;
        QCOMPARE(m_model->setImageData(2, f.camera.data(), 0, 16), 1);
        m_model->setBrightness(2, 4000, false);
        QCOMPARE(int(reinterpret_cast<const ushort *>(m_model->imageData(2, 16))[0]), 6000);
        const uchar *shifted = m_model->imageShiftedData(2, 16);
        QCOMPARE(int(shifted[0]), 0xFF);
        QCOMPARE(int(shifted[1]), 0xF0);
        const uchar *rgbShifted = m_model->imageShiftedData(2, 48);
        QCOMPARE(int(rgbShifted[0]), 0xFF); // red channel: R = 6000 -> 4095
        QCOMPARE(int(rgbShifted[2]), 0x00);
        m_model->makeOverlayImage(16);
        const uchar *overlay = m_model->overlayImageShiftedData(16);
        QCOMPARE(int(overlay[0]), 0xFF);
        QCOMPARE(int(overlay[1]), 0xF0);
        QVERIFY(!m_model->overlayImageShiftedData(8));
    }

    void storesEveryColourIndex_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("color");
        for (int bits : {8, 16})
            for (int channel = 0; channel < 4; ++channel)
                for (int color = 0; color < 8; ++color)
                    QTest::addRow("%d-bit ch%d colour %d", bits, channel, color) << bits << channel << color;
    }
    void storesEveryColourIndex()
    {
        QFETCH(int, bits);
        QFETCH(int, channel);
        QFETCH(int, color);
        const Frame f = makeFrame(bits, unsigned(channel * 10 + color));
        QCOMPARE(m_model->setImageData(channel, f.camera.data(), color, bits), 1);
        QVERIFY(same(grey(channel, bits), f.values));
        QVERIFY(same(rgb(channel, bits), referencePseudo(f.values, channel, color)));
        QVERIFY(m_model->isImageCaptured(channel) && m_model->isSelectedImage(channel));
        QCOMPARE(m_model->bits(channel), bits);
    }

    // Each step: 'B' brightness or 'C' contrast, its value, and whether it starts from the
    // captured image. The test keeps the chain itself and compares after every step.
    void adjustmentChains_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("steps");
        for (int bits : {8, 16}) {
            const int big = bits == 8 ? 255 : 4094;
            QTest::addRow("%d unchanged", bits) << bits << "B0 C10";
            QTest::addRow("%d extremes", bits) << bits << QString("B%1 B-%1").arg(big);
            QTest::addRow("%d no accumulation", bits) << bits << "B50 B50";
            QTest::addRow("%d contrast after brightness", bits) << bits << "B40 C20 C1";
            QTest::addRow("%d brightness after contrast", bits) << bits << "C30 B-60 B25";
            QTest::addRow("%d forced captured", bits) << bits << "B70 C25 C25! B-10!";
        }
    }
    void adjustmentChains()
    {
        QFETCH(int, bits);
        QFETCH(QString, steps);
        const Frame f = makeFrame(bits, 77);
        QCOMPARE(m_model->setImageData(3, f.camera.data(), 4, bits), 1);
        cv::Mat brightness, contrast;
        bool bApplied = false, cApplied = false;
        for (const QString &step : steps.split(' ')) {
            const bool forced = step.endsWith('!');
            const int value = step.mid(1, step.size() - 1 - (forced ? 1 : 0)).toInt();
            cv::Mat expected;
            if (step[0] == 'B') {
                brightness = referenceBrightness(cApplied && !forced ? contrast : f.values, value);
                expected = brightness;
                bApplied = true;
                m_model->setBrightness(3, value, forced);
            } else {
                contrast = referenceContrast(bApplied && !forced ? brightness : f.values, value);
                expected = contrast;
                cApplied = true;
                m_model->setContrast(3, value, forced);
            }
            QVERIFY2(same(grey(3, bits), expected), qPrintable(step));
            QVERIFY2(same(rgb(3, bits), referencePseudo(expected, 3, 4)), qPrintable(step));
        }
        m_model->reset(3);
        QVERIFY(same(grey(3, bits), f.values));
        QVERIFY(same(rgb(3, bits), referencePseudo(f.values, 3, 4)));
    }

    // The 16-bit contrast rounds half to even as lrint does, also at .5 exactly.
    void contrast16RoundsHalfToEven()
    {
        cv::Mat src(1, 4, CV_16UC1), dst(1, 4, CV_16UC1);
        src.at<ushort>(0) = 1; // 0 + 1 x 0.5 = 0.5 -> 0
        src.at<ushort>(1) = 3; // 1.5 -> 2
        src.at<ushort>(2) = 5; // 2.5 -> 2
        src.at<ushort>(3) = 60000;
        MultiColorModel::contrast16(src, 0.5f, 0.0f, dst);
        QCOMPARE(int(dst.at<ushort>(0)), 0);
        QCOMPARE(int(dst.at<ushort>(1)), 2);
        QCOMPARE(int(dst.at<ushort>(2)), 2);
        QCOMPARE(int(dst.at<ushort>(3)), 30000);
        MultiColorModel::contrast16(src, 3.0f, 100.0f, dst);
        QCOMPARE(int(dst.at<ushort>(0)), 0);     // 100 - 297 saturates at 0
        QCOMPARE(int(dst.at<ushort>(3)), 65535); // saturates at the word, not at 4095
    }

    void adjustingAnEmptyChannelOnlyFlagsIt()
    {
        const cv::Mat before = grey(1, 8).clone(), before16 = grey(1, 16).clone();
        m_model->setBrightness(1, 100, false);
        m_model->setContrast(1, 20, false);
        QVERIFY(same(grey(1, 8), before));
        QVERIFY(same(grey(1, 16), before16));
        QCOMPARE(m_model->numberOfCapturedImage(), 0);
    }

    // Every set of included channels (captured, or captured and deselected), with one channel
    // of a colour index that has no composition.
    void overlayWeights_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("deselect");
        for (int bits : {8, 16})
            for (int mask = 0; mask < 16; ++mask)
                for (bool deselect : {false, true})
                    QTest::addRow("%d-bit set %d%s", bits, mask, deselect ? " deselected" : "")
                        << bits << mask << deselect;
    }
    void overlayWeights()
    {
        QFETCH(int, bits);
        QFETCH(int, mask);
        QFETCH(bool, deselect);
        const std::array<int, 4> colors{7, 3, deselect ? 6 : 0, 1};
        std::array<cv::Mat, 4> images;
        std::array<bool, 4> included{};
        for (int c = 0; c < 4; ++c) {
            const Frame f = makeFrame(bits, unsigned(100 + c), bits == 8 ? 255 : 4095);
            images[size_t(c)] = f.values;
            if (!(mask & (1 << c)))
                continue;
            QCOMPARE(m_model->setImageData(c, f.camera.data(), colors[size_t(c)], bits), 1);
            included[size_t(c)] = true;
        }
        if (deselect && included[3]) {
            m_model->setSelectedImage(3, false);
            included[3] = false;
        }
        m_model->makeOverlayImage(bits);
        const cv::Mat got = wrap(m_model->overlayImageData(bits), bits == 16 ? CV_16UC3 : CV_8UC3);
        QVERIFY(same(got, referenceOverlay(images, included, colors, bits)));
    }

    // Brightened 16-bit channels add beyond 4095 and clip at the word: red 3000 + yellow 3000.
    void overlayFollowsAdjustmentsAndLeavesTheOtherDepth()
    {
        std::vector<uchar> frame(size_t(W) * H * 2);
        for (size_t i = 0; i < frame.size(); i += 2) {
            frame[i] = 0xBB; // 3000 << 4 = 0xBB80
            frame[i + 1] = 0x80;
        }
        m_model->setImageData(2, frame.data(), 0, 16);
        m_model->setImageData(1, frame.data(), 3, 16);
        m_model->makeOverlayImage(16);
        const auto *o = reinterpret_cast<const ushort *>(m_model->overlayImageData(16));
        QCOMPARE(int(o[0]), 6000);
        QCOMPARE(int(o[1]), 3000);
        QCOMPARE(int(o[2]), 0);
        m_model->setBrightness(1, 62000, false);
        m_model->makeOverlayImage(16);
        QCOMPARE(int(o[0]), 65535);
        const cv::Mat before = wrap(m_model->overlayImageData(8), CV_8UC3).clone();
        m_model->makeOverlayImage(12);
        QVERIFY(same(wrap(m_model->overlayImageData(8), CV_8UC3), before));
        QCOMPARE(int(o[0]), 65535);
    }

    void depthsNeverMix()
    {
        const Frame f8 = makeFrame(8, 1), f16 = makeFrame(16, 2);
        QCOMPARE(m_model->setImageData(0, f8.camera.data(), 7, 8), 1);
        QCOMPARE(m_model->setImageData(2, f16.camera.data(), 0, 16), 0);
        QVERIFY(!m_model->isImageCaptured(2));
        QCOMPARE(m_model->bits(2), 0);
        // The only held channel may change its own depth.
        QCOMPARE(m_model->setImageData(0, f16.camera.data(), 7, 16), 1);
        QVERIFY(same(grey(0, 16), f16.values));
        QCOMPARE(m_model->setImageData(0, nullptr, 7, 12), 0);
        m_model->clear();
        QCOMPARE(m_model->numberOfCapturedImage(), 0);
        QCOMPARE(m_model->setImageData(2, f8.camera.data(), 0, 8), 1);
        QCOMPARE(m_model->numberOfCapturedImage(), 1);
    }

    void channelsOutsideTheStoreAreRefused()
    {
        const Frame f = makeFrame(8, 5);
        for (int channel : {-1, 4}) {
            QCOMPARE(m_model->setImageData(channel, f.camera.data(), 0, 8), 0);
            QVERIFY(!m_model->imageData(channel, 8));
            QVERIFY(!m_model->imageShiftedData(channel, 16));
            QVERIFY(!m_model->isImageCaptured(channel));
            m_model->reset(channel);
            m_model->setBrightness(channel, 10, false);
        }
        QCOMPARE(m_model->numberOfCapturedImage(), 0);
    }

    // A null frame re-renders the held image in a new colour at its own depth.
    void recolourWithoutAFrame()
    {
        const Frame f = makeFrame(16, 9);
        m_model->setImageData(1, f.camera.data(), 0, 16);
        QCOMPARE(m_model->setImageData(1, nullptr, 4, 0), 1);
        QVERIFY(same(grey(1, 16), f.values));
        QVERIFY(same(rgb(1, 16), referencePseudo(f.values, 1, 4)));
    }

    void measurementRows()
    {
        QCOMPARE(MultiColorModel::length(10, 0, 0.5f), 5.0f);
        QCOMPARE(MultiColorModel::length(10, 1, 0.5f), 0.005f);
        QCOMPARE(MultiColorModel::length(10, 2, 0.5f), 10.0f);
        QCOMPARE(MultiColorModel::length(10, 3, 0.5f), 0.0f);
        QCOMPARE(MultiColorModel::area(100, 0, 0.5f), 25.0f);
        QCOMPARE(MultiColorModel::area(100, 1, 0.5f), 0.000025f);
        QCOMPARE(MultiColorModel::area(100, 5, 0.5f), 0.0f);
        TSMeasurementItem items[4];
        items[1].tool = TOOL_LINE;
        items[1].length = 12.0f;
        m_model->setOverlayMeasurementResult(-1, items, 2, 2, 1);
        QCOMPARE(m_model->csvReaderWriter().rowCount(), 2);
        QVERIFY(m_model->csvReaderWriter().row(1).startsWith("Line,12.0 pixel"));
        items[1].tool = TOOL_MULTI_COUNT;
        m_model->setOverlayMeasurementResult(-1, items, 2, 2, 1);
        QCOMPARE(m_model->csvReaderWriter().rowCount(), 2);
        m_model->clearMeasurementResult();
        QCOMPARE(m_model->csvReaderWriter().rowCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestMultiColorModel)
#include "tst_multicolor_model.moc"
