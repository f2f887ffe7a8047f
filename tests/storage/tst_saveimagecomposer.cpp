#include "SaveImageComposer.h"
#include "SaveNaming.h"
#include "TestRoot.h"

#include <QRandomGenerator>
#include <QtTest>
#include <cstring>
#include <vector>

namespace {

constexpr int W = SaveImageComposer::Width;
constexpr int H = SaveImageComposer::Height;
constexpr QPointF kBarPoint(200, 900);
constexpr float kBarLength = 180.5f;

// A seeded frame whose samples never equal a mark (255 on grey frames), so every mark shows.
std::vector<quint8> frameBytes(int bits, bool colour)
{
    std::vector<quint8> bytes(size_t(SaveImageComposer::frameBytes(bits, colour)));
    QRandomGenerator random(11);
    if (bits == 8) {
        for (quint8 &b : bytes)
            b = quint8(random.bounded(255));
    } else {
        auto *words = reinterpret_cast<quint16 *>(bytes.data());
        for (size_t i = 0; i < bytes.size() / 2; ++i)
            words[i] = quint16(0x1000 + random.bounded(0xE000)); // camera words, none of them 255
    }
    return bytes;
}

// The sample values of one pixel, as numbers.
QVector<int> pixel(const std::vector<quint8> &frame, int bits, bool colour, int x, int y)
{
    QVector<int> out;
    const int samples = colour ? 3 : 1;
    for (int k = 0; k < samples; ++k) {
        const size_t at = size_t((y * W + x) * samples + k);
        out << (bits == 16 ? reinterpret_cast<const quint16 *>(frame.data())[at] : frame[at]);
    }
    return out;
}

SaveImageComposer barComposer()
{
    SaveImageComposer composer;
    composer.barAllowed = true;
    composer.scaleBar.show = true;
    composer.scaleBar.lengthUm = 100;
    composer.scaleBar.lengthPixels = kBarLength;
    composer.scaleBar.lineWidth = 4;
    composer.scaleBar.fontSize = 10;
    composer.scaleBar.color = Qt::yellow;
    composer.scaleBarPoint = kBarPoint;
    composer.annotation.x = 600;
    composer.annotation.y = 300;
    composer.annotation.color = Qt::cyan;
    return composer;
}

} // namespace

class TestSaveImageComposer : public QObject
{
    Q_OBJECT
private slots:
    // Which marks reach the frame, and in which values: grey frames 255 (the native word 255 at
    // 16 bits), colour frames the bar or text colour, black as rgb(0, 0, 2). A frame without marks
    // is a byte-for-byte copy.
    void burnIn_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("colour");
        QTest::addColumn<QString>("change"); // what differs from barComposer()
        QTest::addColumn<QString>("marks");  // bar, label, text: which areas hold marks
        QTest::addColumn<QVector<int>>("barValue");
        const QVector<int> grey{255}, yellow{255, 255, 0}, dark{0, 0, 2};
        QTest::newRow("8-bit grey") << 8 << false << "" << "bar label" << grey;
        QTest::newRow("16-bit grey") << 16 << false << "" << "bar label" << grey;
        QTest::newRow("24-bit") << 8 << true << "" << "bar label" << yellow;
        QTest::newRow("48-bit") << 16 << true << "" << "bar label" << yellow;
        QTest::newRow("black bar, colour") << 8 << true << "black" << "bar label" << dark;
        QTest::newRow("black bar, grey") << 8 << false << "black" << "bar label" << grey;
        QTest::newRow("font size 0") << 8 << false << "font0" << "bar" << grey;
        QTest::newRow("with text") << 8 << true << "text" << "bar label text" << yellow;
        QTest::newRow("not this option") << 8 << false << "option" << "" << grey;
        QTest::newRow("not shown") << 16 << false << "hidden" << "" << grey;
        QTest::newRow("no objective") << 8 << true << "noObjective" << "" << yellow;
        QTest::newRow("zero length") << 8 << false << "length0" << "" << grey;
        QTest::newRow("text alone") << 8 << true << "hidden text" << "text" << yellow;
        QTest::newRow("visible, no line") << 8 << false << "hidden visible" << "" << grey;
    }
    void burnIn()
    {
        QFETCH(int, bits);
        QFETCH(bool, colour);
        QFETCH(QString, change);
        QFETCH(QString, marks);
        QFETCH(QVector<int>, barValue);
        SaveImageComposer composer = barComposer();
        if (change.contains("black"))
            composer.scaleBar.color = Qt::black;
        if (change.contains("font0"))
            composer.scaleBar.fontSize = 0;
        if (change.contains("option"))
            composer.barAllowed = false;
        if (change.contains("hidden"))
            composer.scaleBar.show = false;
        if (change.contains("noObjective"))
            composer.scaleBar.noObjective = true;
        if (change.contains("length0"))
            composer.scaleBar.lengthPixels = 0;
        if (change.contains("text") || change.contains("visible"))
            composer.annotation.visible = true;
        if (change.contains("text"))
            composer.annotationLine = "Well A1 - 24 h";

        const std::vector<quint8> source = frameBytes(bits, colour);
        std::vector<quint8> out(source.size(), 0xAA);
        composer.drawScaleBar(source.data(), colour, int(source.size()), out.data());

        // Where the marks may lie: around the bar with its ticks, its label and the text line.
        const QRect barArea(190, 885, 200, 22), labelArea(250, 905, 120, 30), textArea(595, 275, 200, 35);
        QSet<QString> found;
        const QVector<int> textValue = colour ? QVector<int>{0, 255, 255} : QVector<int>{255};
        const size_t rowBytes = source.size() / H;
        for (int y = 0; y < H; ++y) {
            if (std::memcmp(source.data() + y * rowBytes, out.data() + y * rowBytes, rowBytes) == 0)
                continue;
            for (int x = 0; x < W; ++x) {
                const QVector<int> now = pixel(out, bits, colour, x, y);
                if (now == pixel(source, bits, colour, x, y))
                    continue;
                const QPoint p(x, y);
                const QString where = barArea.contains(p) ? "bar" : labelArea.contains(p) ? "label"
                                      : textArea.contains(p) ? "text" : "elsewhere";
                QVERIFY2(where != "elsewhere", qPrintable(QString("mark at %1, %2").arg(x).arg(y)));
                QVERIFY2(now == (where == "text" ? textValue : barValue) || (where == "text" && now == barValue),
                         qPrintable(QString("%1 mark at %2, %3").arg(where).arg(x).arg(y)));
                found << where;
            }
        }
        QStringList areas = found.values();
        areas.sort();
        QStringList expected = marks.split(' ', Qt::SkipEmptyParts);
        expected.sort();
        QCOMPARE(areas, expected);
        if (!marks.contains("bar"))
            return;
        // The bar itself: every pixel of its line, and the middle tick above it.
        for (int x = 203; x < 378; ++x)
            for (int y = 899; y <= 901; ++y)
                QCOMPARE(pixel(out, bits, colour, x, y), barValue);
        QCOMPARE(pixel(out, bits, colour, 290, 893), barValue);
    }

    // A bar that runs off the frame is cut at its edge; nothing outside the frame is touched.
    void barAtTheEdge()
    {
        SaveImageComposer composer = barComposer();
        composer.scaleBarPoint = QPointF(1200, 1020);
        const std::vector<quint8> source = frameBytes(8, false);
        std::vector<quint8> out(source.size() + 16, 0xAA);
        composer.drawScaleBar(source.data(), false, int(source.size()), out.data());
        QCOMPARE(out[size_t(1020 * W + 1250)], quint8(255));
        QCOMPARE(std::count(out.end() - 16, out.end(), 0xAA), 16L);
    }

    void pseudoColor_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("colorImage");
        QTest::addColumn<QVector<int>>("rgb"); // of the grey value g = 1
        QTest::newRow("red") << 0 << false << QVector<int>{1, 0, 0};
        QTest::newRow("green") << 1 << false << QVector<int>{0, 1, 0};
        QTest::newRow("blue") << 2 << false << QVector<int>{0, 0, 1};
        QTest::newRow("yellow") << 3 << false << QVector<int>{1, 1, 0};
        QTest::newRow("cyan") << 4 << false << QVector<int>{0, 1, 1};
        QTest::newRow("gray") << 7 << false << QVector<int>{1, 1, 1};
        QTest::newRow("yellow, colour image") << 3 << true << QVector<int>{1, 1, 1};
        QTest::newRow("black: gray") << 5 << false << QVector<int>{1, 1, 1};
        QTest::newRow("white: gray") << 6 << false << QVector<int>{1, 1, 1};
        QTest::newRow("9: gray") << 9 << false << QVector<int>{1, 1, 1};
        QTest::newRow("-1: gray") << -1 << false << QVector<int>{1, 1, 1};
    }
    // The grey value 200 (and, at 16 bits, a camera word kept as it is) in each colour.
    void pseudoColor()
    {
        QFETCH(int, index);
        QFETCH(bool, colorImage);
        QFETCH(QVector<int>, rgb);
        SaveImageComposer composer;
        composer.pseudoColorIndex = index;
        composer.colorImage = colorImage;
        for (int bits : {8, 16}) {
            const int g = bits == 8 ? 200 : 0xC80C;
            std::vector<quint8> grey(size_t(SaveImageComposer::frameBytes(bits, false)));
            for (int i = 0; i < SaveImageComposer::Pixels; ++i) {
                if (bits == 8)
                    grey[size_t(i)] = quint8(i == 7 ? 3 : g);
                else
                    reinterpret_cast<quint16 *>(grey.data())[i] = quint16(i == 7 ? 3 : g);
            }
            std::vector<quint8> out(size_t(SaveImageComposer::frameBytes(bits, true)), 0xAA);
            composer.makePseudoColorImage(grey.data(), int(out.size()), out.data());
            QCOMPARE(pixel(out, bits, true, 5, 1000), (QVector<int>{rgb[0] * g, rgb[1] * g, rgb[2] * g}));
            QCOMPARE(pixel(out, bits, true, 7, 0), (QVector<int>{rgb[0] * 3, rgb[1] * 3, rgb[2] * 3}));
            QCOMPARE(pixel(out, bits, true, W - 1, H - 1), (QVector<int>{rgb[0] * g, rgb[1] * g, rgb[2] * g}));
        }
    }

    // Numbered names from the formatter: four digits up to 9999, the plain number from 10000.
    void names_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1") << 1 << "" << "/m/Run/Run_0001.tif";
        QTest::newRow("9999") << 9999 << "" << "/m/Run/Run_9999.tif";
        QTest::newRow("10000") << 10000 << "" << "/m/Run/Run_10000.tif";
        QTest::newRow("count") << 2 << "_count" << "/m/Run/Run_0002_count.tif";
        QTest::newRow("12345 segmentation") << 12345 << "_segmentation" << "/m/Run/Run_12345_segmentation.tif";
    }
    void names()
    {
        QFETCH(int, number);
        QFETCH(QString, suffix);
        QTEST(SaveNaming::numberedPath("/m/Run/Run", number, "tif", suffix), "expected");
    }

    void fileNames()
    {
        QCOMPARE(SaveNaming::fileNameOf("G/FP: \"a\"*?<b>|c\\d\x01\t\u00B5"), QString("G_FP_ _a____b__c_d__\u00B5"));
        QCOMPARE(SaveNaming::fileNameOf("DAPI"), QString("DAPI"));
        const QString name250(250, 'n');
        QVERIFY(SaveNaming::nameFits("/media/USB1/" + name250 + "/" + name250 + ".tif"));
        QVERIFY(!SaveNaming::nameFits(SaveNaming::numberedPath("/media/USB1/" + name250, 1, "tif")));
        QVERIFY(!SaveNaming::nameFits("/x/" + QString(126, QChar(0x00B5)) + ".tif")); // 2 bytes each
    }

    // Plain 16-bit intensities back to the camera layout: the writer's left rotation undoes it.
    void cameraLayout()
    {
        quint16 words[4] = {0, 1, 0x0FFF, 0x0ABC};
        SaveImageComposer::toCameraLayout(words, 4);
        QCOMPARE(QVector<quint16>(words, words + 4), (QVector<quint16>{0, 0x1000, 0xF0FF, 0xC0AB}));
    }
};

QTEST_MAIN(TestSaveImageComposer)
#include "tst_saveimagecomposer.moc"
