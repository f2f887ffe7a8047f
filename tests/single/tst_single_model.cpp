// The Single page's model: display copies against OpenCV's own grey conversion and plane merge
// for every colour index and both depths, buffers zeroed from the start, refused depths, unit
// conversions and the measurement table.
#include "CSVReaderWriter.h"
#include "SingleModel.h"

#include <QtTest>
#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

constexpr int W = SingleModel::kWidth;
constexpr int H = SingleModel::kHeight;

// A seeded frame: 8-bit values, or 16-bit camera words (12 bits shifted left by four).
std::vector<uchar> frame(int bits, int seed)
{
    std::vector<uchar> f(size_t(W) * H * size_t(bits / 8));
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uchar((i * 131 + size_t(seed) * 17) ^ (i >> 9));
    if (bits == 16)
        for (size_t i = 1; i < f.size(); i += 2)
            f[i] &= 0xF0;
    return f;
}

// The display copy as the colour rule gives it with OpenCV's own steps: grey to BGR, or the
// colour's planes in B, G, R order merged and turned to R, G, B.
cv::Mat reference(const std::vector<uchar> &data, int bits, bool pseudo, int colorIndex)
{
    const cv::Mat image(H, W, bits == 8 ? CV_8UC1 : CV_16UC1, const_cast<uchar *>(data.data()));
    const cv::Mat z = cv::Mat::zeros(image.size(), image.type());
    cv::Mat out;
    if (!pseudo || colorIndex < 0 || colorIndex > 4) {
        cv::cvtColor(image, out, cv::COLOR_GRAY2BGR);
        return out;
    }
    const std::vector<std::vector<cv::Mat>> bgr{{z, z, image}, {z, image, z}, {image, z, z}, {z, image, image},
                                                {image, image, z}};
    cv::merge(bgr[size_t(colorIndex)], out);
    cv::cvtColor(out, out, cv::COLOR_BGR2RGB);
    return out;
}

bool allZero(const uchar *data, size_t bytes)
{
    return std::all_of(data, data + bytes, [](uchar b) { return b == 0; });
}

const int kDepths[] = {8, 16, 24, 48};
const size_t kBytes[] = {size_t(W) * H, size_t(W) * H * 2, size_t(W) * H * 3, size_t(W) * H * 6};

} // namespace

class TestSingleModel : public QObject
{
    Q_OBJECT
private slots:
    void zeroedAtConstruction()
    {
        SingleModel model;
        for (int i = 0; i < 4; ++i)
            QVERIFY2(allZero(model.imageData(kDepths[i]), kBytes[i]), qPrintable(QString::number(kDepths[i])));
        QVERIFY(allZero(model.annotatedImageData(), kBytes[2]));
        QVERIFY(!model.imageData(32));
        QVERIFY(!model.imageData(0));
        QCOMPARE(model.csvReaderWriter().rowCount(), 1);
    }

    void displayCopy_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<int>("colorIndex");
        for (int bits : {8, 16}) {
            for (int index = -1; index <= 8; ++index)
                QTest::addRow("%d-bit colour %d", bits, index) << bits << true << index;
            QTest::addRow("%d-bit grey", bits) << bits << false << 2;
        }
    }
    // The stored frame is the data as given; the copy of its depth is OpenCV's; the arrays of the
    // other depth stay as they were (zero).
    void displayCopy()
    {
        QFETCH(int, bits);
        QFETCH(bool, pseudo);
        QFETCH(int, colorIndex);
        SingleModel model;
        const std::vector<uchar> data = frame(bits, colorIndex + 3);
        model.setImageData(pseudo ? 1 : 0, data.data(), colorIndex, bits);
        QVERIFY(std::memcmp(model.imageData(bits), data.data(), data.size()) == 0);
        const cv::Mat expected = reference(data, bits, pseudo, colorIndex);
        QCOMPARE(size_t(expected.total() * expected.elemSize()), kBytes[bits == 8 ? 2 : 3]);
        QVERIFY(std::memcmp(model.imageData(bits * 3), expected.data, kBytes[bits == 8 ? 2 : 3]) == 0);
        const int other = bits == 8 ? 16 : 8;
        QVERIFY(allZero(model.imageData(other), kBytes[other == 8 ? 0 : 1]));
        QVERIFY(allZero(model.imageData(other * 3), kBytes[other == 8 ? 2 : 3]));
    }

    // Depth 12 and a null frame change no array.
    void refusedFrames()
    {
        SingleModel model;
        const std::vector<uchar> data = frame(16, 5);
        model.setImageData(1, data.data(), 1, 12);
        model.setImageData(1, nullptr, 1, 8);
        for (int i = 0; i < 4; ++i)
            QVERIFY(allZero(model.imageData(kDepths[i]), kBytes[i]));
    }

    void conversions_data()
    {
        QTest::addColumn<bool>("isArea");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("unit");
        QTest::addColumn<float>("pixelSize");
        QTest::addColumn<float>("expected");
        QTest::newRow("length um") << false << 10.f << 0 << 0.5f << 5.f;
        QTest::newRow("length mm") << false << 10.f << 1 << 0.5f << 0.005f;
        QTest::newRow("length pixel") << false << 10.f << 2 << 0.5f << 10.f;
        QTest::newRow("length unit 3") << false << 10.f << 3 << 0.5f << 0.f;
        QTest::newRow("length unit -1") << false << 10.f << -1 << 0.5f << 0.f;
        QTest::newRow("area um2") << true << 100.f << 0 << 0.5f << 25.f;
        QTest::newRow("area mm2") << true << 100.f << 1 << 0.5f << 0.000025f;
        QTest::newRow("area pixel2") << true << 100.f << 2 << 0.5f << 100.f;
        QTest::newRow("area unit 5") << true << 100.f << 5 << 0.5f << 0.f;
    }
    void conversions()
    {
        QFETCH(bool, isArea);
        QFETCH(float, value);
        QFETCH(int, unit);
        QFETCH(float, pixelSize);
        QFETCH(float, expected);
        const float got = isArea ? SingleModel::area(value, unit, pixelSize) : SingleModel::length(value, unit, pixelSize);
        QVERIFY2(std::fabs(got - expected) <= 1e-6f * std::max(1.f, expected), qPrintable(QString::number(got)));
    }

    // Rows through the CSV writer: units, the angle in place of the area, unknown figures as
    // "N/A"; clearing keeps the header and the same table.
    void measurementTable()
    {
        SingleModel model;
        CSVReaderWriter &table = model.csvReaderWriter();
        TSMeasurementItem line;
        line.tool = TOOL_LINE;
        line.length = 12.25f;
        line.minIntensity = 3.7;
        line.maxIntensity = 200;
        line.meanIntensity = 50.04f;
        line.stdIntensity = 7.26f;
        model.setMeasurementResult(line, 1, 2);
        TSMeasurementItem angle;
        angle.tool = TOOL_ANGLE;
        angle.angle = 45.3f;
        angle.minIntensity = angle.maxIntensity = 0;
        model.setMeasurementResult(angle, 0, 0);
        TSMeasurementItem rect;
        rect.tool = TOOL_RECTANGLE;
        rect.length = std::nanf("");
        rect.area = std::nanf("");
        rect.minIntensity = 1;
        rect.maxIntensity = 9;
        model.setMeasurementResult(rect, 0, 0);
        QCOMPARE(table.rowCount(), 4);
        QCOMPARE(table.row(1), QByteArray("Line,12.2 mm,0.0 pixel^2,3,200,50.0,7.3"));
        QCOMPARE(table.row(2), QByteArray("Angle,0.0 um,45.3,0,0,0.0,0.0"));
        QCOMPARE(table.row(3), QByteArray("Rectangle,N/A,N/A,1,9,0.0,0.0"));
        model.clearMeasurementResult();
        QCOMPARE(&model.csvReaderWriter(), &table);
        QCOMPARE(table.rowCount(), 1);
        QCOMPARE(table.row(0), CSVReaderWriter::defaultHeader);
    }
};

QTEST_GUILESS_MAIN(TestSingleModel)
#include "tst_single_model.moc"
