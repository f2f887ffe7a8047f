// The growth monitor's model and its confluency analysis: labelling, the analysis roads on small
// drawn images, 16-bit sources, failed writes, the start check, result paths and result rows.
#include "ConfluencyAnalysis.h"
#include "GrowthMonitor.h"
#include "HangBound.h"
#include "ImageFileReader.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "TestRoot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

Q_DECLARE_METATYPE(GrowthMonitorParameter)

namespace {

constexpr int kBackground = 200;
constexpr int kCell = 50;

cv::Mat canvas(int width, int height, int value = kBackground)
{
    return cv::Mat(height, width, CV_8U, cv::Scalar(value));
}

// The drawn images of the analysis table, by name.
cv::Mat sample(const QString &name)
{
    cv::Mat g = canvas(64, 48);
    if (name == "empty") {
    } else if (name == "disc") {
        cv::circle(g, {30, 24}, 8, cv::Scalar(kCell), cv::FILLED);
    } else if (name == "three levels") {
        g(cv::Rect(10, 10, 10, 10)).setTo(kCell);
        g(cv::Rect(30, 10, 10, 10)).setTo(120);
    } else if (name == "99 and 100") {
        g(cv::Rect(10, 10, 10, 10)).setTo(99);
        g(cv::Rect(30, 10, 10, 10)).setTo(100);
    } else if (name == "99 and 100 on dark") {
        g.setTo(kCell);
        g(cv::Rect(10, 10, 10, 10)).setTo(99);
        g(cv::Rect(30, 10, 10, 10)).setTo(100);
    } else if (name == "square") {
        g(cv::Rect(20, 20, 10, 10)).setTo(kCell);
    } else if (name == "30 and 29 pixels") {
        g(cv::Rect(10, 10, 5, 6)).setTo(kCell);
        g(cv::Rect(30, 10, 5, 6)).setTo(kCell);
        g.at<uchar>(10, 30) = kBackground;
    } else if (name == "1 and 4 pixels") {
        g.at<uchar>(10, 10) = kCell;
        g(cv::Rect(30, 10, 2, 2)).setTo(kCell);
    } else if (name == "probe in a seed") {
        g(cv::Rect(0, 0, 20, 20)).setTo(kCell);
        g(cv::Rect(35, 20, 20, 20)).setTo(kCell);
    } else if (name == "probe in the band") {
        g(cv::Rect(3, 3, 20, 20)).setTo(kCell);
        g(cv::Rect(35, 20, 20, 20)).setTo(kCell);
    } else if (name == "probe on a line") {
        g(cv::Rect(0, 5, 25, 25)).setTo(kCell);
        g(cv::Rect(2, 1, 28, 1)).setTo(kCell);
    } else if (name == "300 seeds") {
        g = canvas(20 * 12 + 6, 15 * 12 + 6);
        for (int row = 0; row < 15; ++row)
            for (int column = 0; column < 20; ++column)
                g(cv::Rect(6 + column * 12, 6 + row * 12, 6, 6)).setTo(kCell);
    }
    return g;
}

struct Outcome
{
    bool ok = false;
    float confluency = -1;
    int count = -1;
    int threshold = -1;
    cv::Mat countImage, segmentation;
};

Outcome analyse(const QString &source, const QString &base, const GrowthMonitorParameter &parameter)
{
    GrowthMonitor model;
    model.setGrowthMonitorParameter(parameter);
    Outcome out;
    out.ok = model.getConfluencyValue(source.toStdString(), base, out.confluency, out.count, out.threshold);
    out.countImage = ImageFileReader::read(QFile::encodeName(GrowthMonitor::getResultFilePath(base, IMAGE_COUNT, "")), nullptr);
    out.segmentation =
        ImageFileReader::read(QFile::encodeName(GrowthMonitor::getResultFilePath(base, IMAGE_SEGMENTATION, "")), nullptr);
    return out;
}

GrowthMonitorParameter parameter(int type, int value, int background, int dilate, int minArea, double watershed)
{
    GrowthMonitorParameter p;
    p.thresholdType = type;
    p.thresholdValue = value;
    p.background = background;
    p.dilate = dilate;
    p.minArea = minArea;
    p.watershed = watershed;
    return p;
}

// The labels of connectedComponents over the pixels from row 1 and column 1.
int reference(const cv::Mat &object, cv::Mat &labels)
{
    cv::Mat visited = object.clone();
    visited.row(0).setTo(0);
    visited.col(0).setTo(0);
    return cv::connectedComponents(visited, labels, 4, CV_32S) - 1;
}

} // namespace

class TestGrowthAnalysis : public QObject
{
    Q_OBJECT
private slots:
    // Random masks of every density, shape and pixel type label as connectedComponents does.
    void labelingMatchesConnectedComponents()
    {
        cv::RNG rng(11);
        const QList<QSize> sizes = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {37, 23}, {200, 150}, {640, 3}};
        for (const QSize &size : sizes) {
            for (double density : {0.1, 0.45, 0.6, 0.9}) {
                cv::Mat noise(size.height(), size.width(), CV_32F);
                rng.fill(noise, cv::RNG::UNIFORM, 0.0, 1.0);
                cv::Mat object = noise < density;
                cv::Mat expected, labels, asFloat;
                const int n = reference(object, expected);
                int stored = -1;
                QCOMPARE(GrowthMonitor::_labeling(object, 50, labels, &stored), n);
                QCOMPARE(stored, n);
                QCOMPARE(cv::countNonZero(labels != expected), 0);
                object.convertTo(asFloat, CV_32F);
                QCOMPARE(GrowthMonitor::_labeling(asFloat, 50, labels), n);
                QCOMPARE(cv::countNonZero(labels != expected), 0);
            }
        }
        // Three channels count by their sum: 20 + 20 + 20 is above 50.
        cv::Mat colour(4, 4, CV_8UC3, cv::Scalar(20, 20, 20)), labels;
        QCOMPARE(GrowthMonitor::_labeling(colour, 50, labels), 1);
        QCOMPARE(GrowthMonitor::_labeling(colour, 60, labels), 0);
    }

    // Branches opened as labels 1, 2 and 3 where 2 and 3 join first and 1 joins them further down
    // are one region; so is a region that first shows in row 1.
    void labelingJoinsBranches()
    {
        cv::Mat object = cv::Mat::zeros(12, 12, CV_8U);
        for (int x : {2, 5, 8})
            object(cv::Rect(x, 2, 1, 8)).setTo(255);
        object(cv::Rect(5, 5, 4, 1)).setTo(255); // 2 and 3
        object(cv::Rect(2, 9, 7, 1)).setTo(255); // 1 with them, lower
        object(cv::Rect(10, 1, 1, 6)).setTo(255); // from row 1
        object.at<uchar>(1, 1) = 255;            // a single pixel in row 1
        cv::Mat labels;
        QCOMPARE(GrowthMonitor::_labeling(object, 50, labels), 3);
        QCOMPARE(labels.at<int>(1, 1), 1);
        QCOMPARE(labels.at<int>(1, 10), 2);
        QCOMPARE(labels.at<int>(2, 8), 3);
        QCOMPARE(labels.at<int>(9, 2), 3);
    }

    void analysis_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<GrowthMonitorParameter>("p");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("covered");   // -1: not checked
        QTest::addColumn<int>("threshold");
        const int square = 100, disc = cv::countNonZero(sample("disc") == kCell);
        QTest::newRow("no object") << "empty" << parameter(1, 100, 1, 0, 0, 0) << 0 << 0 << 100;
        QTest::newRow("one disc") << "disc" << parameter(0, 0, 1, 0, 0, 0) << 1 << disc << kCell;
        QTest::newRow("automatic: the threshold is an object") << "three levels" << parameter(0, 0, 1, 0, 0, 0) << 2
                                                                << 2 * square << 120;
        QTest::newRow("manual white: the threshold is background") << "99 and 100" << parameter(1, 100, 1, 0, 0, 0)
                                                                   << 1 << square << 100;
        QTest::newRow("manual dark: the threshold is an object") << "99 and 100 on dark" << parameter(1, 100, 0, 0, 0, 0)
                                                                 << 1 << square << 100;
        QTest::newRow("dilate 1") << "square" << parameter(1, 100, 1, 1, 0, 0) << 1 << square + 40 << 100;
        QTest::newRow("dilate 2 is none") << "square" << parameter(1, 100, 1, 2, 0, 0) << 1 << square << 100;
        QTest::newRow("min area keeps 30, drops 29") << "30 and 29 pixels" << parameter(1, 100, 1, 0, 30, 0) << 1 << 30 << 100;
        QTest::newRow("min area 1 keeps all") << "1 and 4 pixels" << parameter(1, 100, 1, 0, 1, 0) << 2 << 5 << 100;
        QTest::newRow("min area 0") << "1 and 4 pixels" << parameter(1, 100, 1, 0, 0, 0) << 2 << 5 << 100;
        QTest::newRow("watershed 1.0: no seeds") << "disc" << parameter(0, 0, 1, 0, 0, 1.0) << 0 << 0 << kCell;
        QTest::newRow("probe in a seed") << "probe in a seed" << parameter(1, 100, 1, 0, 0, 0.2) << 1 << -1 << 100;
        QTest::newRow("probe in the band") << "probe in the band" << parameter(1, 100, 1, 0, 0, 0.2) << 2 << -1 << 100;
        QTest::newRow("probe on a line") << "probe on a line" << parameter(1, 100, 1, 0, 0, 0.01) << 2 << -1 << 100;
        QTest::newRow("300 seeds") << "300 seeds" << parameter(1, 100, 1, 0, 0, 0.2) << 300 << -1 << 100;
    }

    // Every road of the analysis. The segmentation image holds the grey source on the counted
    // pixels only (so without dilation no background or band pixel counts); the count image is
    // the source elsewhere; confluency is the covered share.
    void analysis()
    {
        QFETCH(QString, image);
        QFETCH(GrowthMonitorParameter, p);
        QFETCH(int, count);
        QFETCH(int, covered);
        QFETCH(int, threshold);
        TestRoot root;
        const cv::Mat grey = sample(image);
        const QString source = root.path() + "/source.tif";
        QVERIFY(cv::imwrite(source.toStdString(), grey));
        const Outcome out = analyse(source, root.path() + "/work/source.tif", p);
        QVERIFY(!out.ok); // no work folder yet
        root.makeDir("/work");
        const Outcome result = analyse(source, root.path() + "/work/source.tif", p);
        QVERIFY(result.ok);
        QCOMPARE(result.count, count);
        QCOMPARE(result.threshold, threshold);
        QCOMPARE(result.segmentation.type(), CV_8UC1);
        QCOMPARE(result.countImage.type(), CV_8UC3);
        const int n = cv::countNonZero(result.segmentation);
        if (covered >= 0)
            QCOMPARE(n, covered);
        QCOMPARE(result.confluency, float(n) / float(grey.total()) * 100.0f);
        cv::Mat painted, objects = result.segmentation != 0, colourSource;
        QCOMPARE(cv::countNonZero((result.segmentation != 0) & (result.segmentation != grey)), 0);
        double highest = 0;
        cv::minMaxLoc(result.segmentation, nullptr, &highest);
        QVERIFY(highest <= 120 || p.dilate == 1); // dilation covers background pixels

        cv::cvtColor(grey, colourSource, cv::COLOR_GRAY2BGR);
        cv::Mat same;
        cv::compare(result.countImage, colourSource, same, cv::CMP_EQ);
        cv::cvtColor(same, same, cv::COLOR_BGR2GRAY);
        QCOMPARE(cv::countNonZero((same != 255) & ~objects), 0);
        if (count == 1 && image == "disc") {
            // One object, one colour.
            std::vector<cv::Mat> channels;
            cv::split(result.countImage, channels);
            for (const cv::Mat &c : channels) {
                double low, high;
                cv::minMaxLoc(c, &low, &high, nullptr, nullptr, objects);
                QCOMPARE(low, high);
            }
        }
    }

    // 16-bit samples are camera values: v x 255 / 4094 rounded, so a 12-bit frame uses the whole
    // 8-bit range and measures like its 8-bit twin.
    void sixteenBitSources()
    {
        cv::Mat words(1, 8, CV_16U), grey, colour;
        const ushort values[8] = {0, 8, 9, 2047, 2048, 4094, 4095, 65535};
        std::copy(values, values + 8, words.ptr<ushort>(0));
        QVERIFY(ConfluencyAnalysis::toAnalysisImages(words, grey, colour));
        const uchar expected[8] = {0, 0, 1, 128, 128, 255, 255, 255};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(int(grey.at<uchar>(0, i)), int(expected[i]));
        QCOMPARE(colour.type(), CV_8UC3);

        TestRoot root;
        const cv::Mat eight = sample("three levels");
        cv::Mat camera;
        eight.convertTo(camera, CV_16U, 4094.0 / 255.0);
        const QString source8 = root.path() + "/eight.tif", source16 = root.path() + "/sixteen.tif";
        QVERIFY(cv::imwrite(source8.toStdString(), eight));
        QVERIFY(cv::imwrite(source16.toStdString(), camera));
        const GrowthMonitorParameter p = parameter(0, 0, 1, 0, 0, 0);
        const Outcome a = analyse(source8, root.path() + "/a.tif", p), b = analyse(source16, root.path() + "/b.tif", p);
        QVERIFY(a.ok && b.ok);
        QCOMPARE(b.count, a.count);
        QCOMPARE(b.threshold, a.threshold);
        QCOMPARE(b.confluency, a.confluency);
        QCOMPARE(cv::countNonZero(b.segmentation != a.segmentation), 0);
    }

    // A result that cannot be written fails the call and leaves neither result file; so does an
    // unreadable source.
    void failuresLeaveNothing()
    {
        TestRoot root;
        const QString source = root.path() + "/source.tif";
        QVERIFY(cv::imwrite(source.toStdString(), sample("disc")));
        root.writeFile("/broken.tif", "II*\0garbage");
        root.makeDir("/blocked_result.png"); // the segmentation image's path is a folder
        const GrowthMonitorParameter p = parameter(0, 0, 1, 0, 0, 0);
        struct Case { QString source, base; };
        const QList<Case> cases = {{source, root.path() + "/blocked.png"}, {source, root.path() + "/noextension"},
                                   {source, root.path() + "/missing/a.tif"}, {root.path() + "/broken.tif", root.path() + "/b.tif"},
                                   {root.path() + "/none.tif", root.path() + "/c.tif"}};
        for (const Case &c : cases) {
            GrowthMonitor model;
            model.setGrowthMonitorParameter(p);
            float confluency = 5;
            int count = 5, threshold = -7;
            QVERIFY2(!model.getConfluencyValue(c.source.toStdString(), c.base, confluency, count, threshold),
                     qPrintable(c.base));
            QVERIFY(!model.errorString().isEmpty());
            QCOMPARE(confluency, 0.0f);
            QCOMPARE(count, 0);
            QCOMPARE(threshold, -7);
            QVERIFY(!QFile::exists(GrowthMonitor::getResultFilePath(c.base, IMAGE_COUNT, "")));
            QVERIFY(!QFileInfo(GrowthMonitor::getResultFilePath(c.base, IMAGE_SEGMENTATION, "")).isFile());
        }
    }

    void canStart_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("images");
        QTest::addColumn<quint64>("freeMB");
        QTest::addColumn<int>("result");
        QTest::newRow("8 bits, 10 images, 74 MB") << 8 << 10 << quint64(74) << 1;
        QTest::newRow("8 bits, 10 images, 75 MB") << 8 << 10 << quint64(75) << 0;
        QTest::newRow("16 bits, 10 images, 149 MB") << 16 << 10 << quint64(149) << 1;
        QTest::newRow("no images, drive unreadable") << 16 << 0 << quint64(0) << 0;
    }

    // The free-space rule, through the storage monitor's query: twice the room of three 1.25 MB
    // images per image and byte of depth. A refusal touches nothing.
    void canStart()
    {
        QFETCH(int, bits);
        QFETCH(int, images);
        QFETCH(quint64, freeMB);
        QFETCH(int, result);
        TestRoot root;
        const QString kept = root.writeFile("/media/VANTOR SSD/.GrowthMonitor/a.tif", "x");
        QString asked;
        MediaMonitor::setSpaceQuery([&](const QString &path, quint64 *fragment, quint64 *blocks) {
            asked = path;
            *fragment = 1000;
            *blocks = freeMB * 1000;
            return freeMB > 0;
        });
        GrowthMonitor model;
        GrowthMonitorParameter p;
        p.imageCount = images;
        model.setGrowthMonitorParameter(p);
        QCOMPARE(model.canStart(bits, false), result);
        QCOMPARE(asked, Paths::ssd());
        QVERIFY(QFile::exists(kept));
        ThumbnailInfo info;
        model.pushThumbnail(info);
        model.setConfluencyResult(info);
        QCOMPARE(model.canStart(bits, true), result);
        QCOMPARE(QFile::exists(kept), result != 0);
        QCOMPARE(model.thumbnails().size(), size_t(result != 0 ? 1 : 0));
        QCOMPARE(model.csvReaderWriter().rowCount(), result != 0 ? 2 : 1);
        QVERIFY(QFileInfo(GrowthMonitor::rawFolder()).isDir());
        MediaMonitor::setSpaceQuery({});
    }

    // Without the SSD the work folder cannot be made again: -1, and the start check says 3; the
    // records are cleared all the same.
    void deleteRawDataWithoutSsd()
    {
        TestRoot root;
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *fragment, quint64 *blocks) {
            *fragment = 1000000;
            *blocks = 1000;
            return true;
        });
        GrowthMonitor model;
        ThumbnailInfo info;
        model.pushThumbnail(info);
        QCOMPARE(model.deleteRawData(), -1);
        QVERIFY(model.thumbnails().empty());
        QCOMPARE(model.canStart(8, true), 3);
        root.makeDir("/media/VANTOR SSD");
        QCOMPARE(model.deleteRawData(), 1);
        QCOMPARE(model.canStart(8, true), 0);
        MediaMonitor::setSpaceQuery({});
    }

    void resultFilePaths_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QStringList>("expected"); // segmentation, count, raw with suffix "_x"
        QTest::newRow("tif") << "/media/VANTOR SSD/.GrowthMonitor/day1.tif"
                             << QStringList{"/media/VANTOR SSD/.GrowthMonitor/day1_result.tif",
                                            "/media/VANTOR SSD/.GrowthMonitor/day1_count.tif",
                                            "/media/VANTOR SSD/.GrowthMonitor/day1_x.tif"};
        QTest::newRow("dot in a folder") << "a.b/c" << QStringList{"a.b/c_result", "a.b/c_count", "a.b/c_x"};
        QTest::newRow("no dot") << "frame" << QStringList{"frame_result", "frame_count", "frame_x"};
        QTest::newRow("two dots") << "/x/a.b.png" << QStringList{"/x/a.b_result.png", "/x/a.b_count.png", "/x/a.b_x.png"};
    }

    void resultFilePaths()
    {
        QFETCH(QString, base);
        QFETCH(QStringList, expected);
        QCOMPARE(GrowthMonitor::getResultFilePath(base, IMAGE_SEGMENTATION, "_x"), expected[0]);
        QCOMPARE(GrowthMonitor::getResultFilePath(base, IMAGE_COUNT, "_x"), expected[1]);
        QCOMPARE(GrowthMonitor::getResultFilePath(base, IMAGE_RAW, "_x"), expected[2]);
        QCOMPARE(GrowthMonitor::getResultFilePath(base, IMAGE_RAW, ""), base);
    }

    // Rows as Python's csv reads them: the fixed path without its leading "/media", quoted
    // where it holds a comma, quote or line break.
    void resultRowsReadByPythonCsv()
    {
        TestRoot root;
        GrowthMonitor model;
        QCOMPARE(model.csvReaderWriter().rowCount(), 1);
        const QStringList sources = {"/media/VANTOR SSD/scan/a.tif", "/media/USB/a,b.tif", "/media/USB/say \"hi\".tif",
                                     "/media/X/media/y.tif", "/media/USB/two\nlines.tif"};
        float value = 43.5f;
        for (const QString &source : sources) {
            ThumbnailInfo info;
            info.sourcePath = Paths::path(source);
            info.value = value;
            info.count = 120;
            info.threshold = 97;
            model.setConfluencyResult(info);
            value += 1.005f;
        }
        QCOMPARE(model.csvReaderWriter().row(1), QByteArray("/VANTOR SSD/scan/a.tif,43.50,120,97"));
        const QString path = root.path() + "/table.csv";
        QVERIFY(model.csvReaderWriter().write(path.toUtf8().constData()));
        QProcess python;
        python.start("/usr/bin/python3", {"-c", "import csv,sys,json\n"
                                                "print(json.dumps(list(csv.reader(open(sys.argv[1],newline='')))))",
                                          path});
        QVERIFY(python.waitForFinished(kHangBoundMs));
        const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), 1 + sources.size());
        QCOMPARE(rows[0].toArray().size(), 4);
        QCOMPARE(rows[0].toArray()[1].toString(), QString("ConConfluency"));
        for (int i = 0; i < sources.size(); ++i) {
            const QJsonArray row = rows[i + 1].toArray();
            QCOMPARE(row.size(), 4);
            QCOMPARE(row[0].toString(), sources[i].mid(6));
            QCOMPARE(row[2].toString(), QString("120"));
        }
        model.clearThumbnails();
        QCOMPARE(model.csvReaderWriter().rowCount(), 1);
    }
};

QTEST_MAIN(TestGrowthAnalysis)
#include "tst_growth_analysis.moc"
