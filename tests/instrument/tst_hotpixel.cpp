#include "HotPixelCorrectionDialog.h"
#include "HotPixelCorrector.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"

#include <QFile>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <opencv2/imgproc.hpp>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

// The hot-pixel list, its file and the correction of stills; the calibration dialog.
class TestHotPixel : public QObject
{
    Q_OBJECT

private slots:
    void darkFramePixelsAboveTheThresholdAreListedInRasterOrder()
    {
        TestRoot root;
        root.makeDir("/root/Microscope/NIMBO");
        cv::Mat dark(1024, 1280, CV_8UC1, cv::Scalar(4));
        dark.at<uchar>(1, 2) = 200;   // row 1, column 2
        dark.at<uchar>(0, 5) = 61;    // row 0, column 5: comes first
        dark.at<uchar>(7, 9) = 60;    // at the threshold: not hot
        dark.at<uchar>(1023, 1279) = 255;

        HotPixelCorrector corrector;
        QVERIFY(corrector.findAndSave(dark)); // "Threshold" missing: 60
        const QString file = HotPixelCorrector::listFile();
        QCOMPARE(file, Paths::path("/root/Microscope/NIMBO/hot_pixels.csv"));
        QCOMPARE(readFile(file), QByteArray("5,0\n2,1\n1279,1023\n"));

        WritePrivateProfileString("Camera", "Threshold", "100", Paths::configFile().toStdString());
        QVERIFY(corrector.findAndSave(dark));
        QCOMPARE(readFile(file), QByteArray("2,1\n1279,1023\n"));

        // Nothing above the threshold: an empty file.
        WritePrivateProfileString("Camera", "Threshold", "255", Paths::configFile().toStdString());
        QVERIFY(corrector.findAndSave(dark));
        QCOMPARE(readFile(file), QByteArray());
    }

    void anUnwritableFileKeepsTheNewListInMemory()
    {
        TestRoot root;
        root.makeDir("/root/Microscope/NIMBO/hot_pixels.csv"); // a folder where the file should be
        cv::Mat dark(1024, 1280, CV_8UC1, cv::Scalar(0));
        dark.at<uchar>(3, 4) = 90;
        HotPixelCorrector corrector;
        QVERIFY(!corrector.findAndSave(dark));
        QCOMPARE(corrector.count(), 1);
        QCOMPARE(corrector.pixels()[0], cv::Point(4, 3));
        QVERIFY(QFileInfo(HotPixelCorrector::listFile()).isDir());
    }

    void listFileLinesAreRead()
    {
        TestRoot root;
        const QString file = root.writeFile("/list.csv", "12,34\n12,34\r\n\n -3,+4\n,,7,8\nabc,5\n9\n9,\n,,,\n1279,1023");
        HotPixelCorrector corrector;
        corrector.load(file);
        const std::vector<cv::Point> expected = {{12, 34}, {12, 34}, {-3, 4}, {7, 8}, {0, 5}, {1279, 1023}};
        QCOMPARE(corrector.pixels(), expected);

        // A missing file gives an empty list.
        corrector.load(file + ".none");
        QCOMPARE(corrector.count(), 0);

        // What save writes, load reads back.
        corrector.setPixels({{1, 2}, {300, 400}, {5, 6}});
        QVERIFY(corrector.save(file));
        HotPixelCorrector again;
        again.load(file);
        QCOMPARE(again.pixels(), corrector.pixels());
    }

    void aHotPixelBecomesTheMedianOfItsBlockAndBordersStay()
    {
        cv::Mat frame(1024, 1280, CV_8UC1);
        cv::randu(frame, 0, 256);
        const uchar block[3][3] = {{10, 10, 12}, {10, 255, 12}, {10, 12, 12}};
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 3; ++dx)
                frame.at<uchar>(99 + dy, 199 + dx) = block[dy][dx];
        const cv::Mat before = frame.clone();
        HotPixelCorrector corrector;
        corrector.setPixels({{200, 100}, {0, 500}, {500, 0}, {1279, 500}, {500, 1023}, {0, 0}, {1279, 1023},
                             {-1, 5}, {5, -1}, {1280, 5}, {5, 1024}, {100000, 100000}});
        corrector.correct(frame);
        QCOMPARE(int(frame.at<uchar>(100, 200)), 12);
        cv::Mat changed;
        cv::compare(frame, before, changed, cv::CMP_NE);
        QCOMPARE(cv::countNonZero(changed), 1); // neighbours, borders and outside pixels keep their values
    }

    void correctionAgreesWithAMedianFilterInListOrder()
    {
        // Widely spaced pixels do not see each other's corrections: each must equal OpenCV's
        // 3 x 3 median of the original frame.
        cv::Mat frame(1024, 1280, CV_8UC1);
        cv::randu(frame, 0, 256);
        frame.at<uchar>(1022, 1278) = 255; // hot in the last column and row with a whole block
        cv::Mat reference;
        cv::medianBlur(frame, reference, 3);
        std::vector<cv::Point> pixels;
        for (int y = 1; y < 1023; y += 3)
            for (int x = 1; x < 1279; x += 3)
                pixels.emplace_back(x, y);
        pixels.emplace_back(1278, 1022);
        HotPixelCorrector corrector;
        corrector.setPixels(pixels);
        corrector.correct(frame);
        for (const cv::Point &p : pixels)
            QCOMPARE(frame.at<uchar>(p), reference.at<uchar>(p));

        // Neighbours do: (11, 10) alone keeps five 250s in its block and stays, but after
        // (10, 10) has become 20 only four remain.
        cv::Mat bright(1024, 1280, CV_8UC1, cv::Scalar(20));
        for (const cv::Point &p : {cv::Point(10, 10), cv::Point(11, 10), cv::Point(11, 9), cv::Point(11, 11), cv::Point(12, 10)})
            bright.at<uchar>(p) = 250;
        cv::Mat alone = bright.clone();
        corrector.setPixels({{11, 10}});
        corrector.correct(alone);
        QCOMPARE(int(alone.at<uchar>(10, 11)), 250);
        corrector.setPixels({{10, 10}, {11, 10}});
        corrector.correct(bright);
        QCOMPARE(int(bright.at<uchar>(10, 11)), 20);
    }

    void dialogRunsItsProgressUntilDone()
    {
        HotPixelCorrectionDialog dialog;
        QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
        QSignalSpy started(&dialog, &HotPixelCorrectionDialog::signalDoHotPixelCorrection);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.show();
        auto *ok = dialog.findChild<QPushButton *>("BUTTON_OK");
        auto *cancel = dialog.findChild<QPushButton *>("BUTTON_CANCEL");
        auto *bar = dialog.findChild<QProgressBar *>("PROGRESSBAR_HOT_PIXEL_CORRECTION");
        QVERIFY(!bar->isVisible());
        ok->click();
        QCOMPARE(started.count(), 1);
        QVERIFY(!ok->isEnabled() && !cancel->isEnabled());
        QVERIFY(bar->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 10000);
        const int half = bar->value(); // the first tick shows half, however late it is seen
        QVERIFY2(half >= 50 && half < 55, qPrintable(QString::number(half)));
        QTRY_VERIFY_WITH_TIMEOUT(bar->value() > half, 10000); // then one per tick
        bar->setValue(88);
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 89, 10000);
        QTest::qWait(350);
        QCOMPARE(bar->value(), 89); // short of the end
        // No key closes it.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        QVERIFY(dialog.isVisible());
        dialog.slotDoneHotPixelCorrection();
        QCOMPARE(bar->value(), 100);
        QCOMPARE(accepted.count(), 1);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestHotPixel)
#include "tst_hotpixel.moc"
