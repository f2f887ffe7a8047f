#include "CameraAccess.h"
#include "CameraTables.h"
#include "CameraTestBench.h"
#include "DialogRunner.h"
#include "Globals.h"
#include "HotPixelCalibration.h"
#include "HotPixelCorrectionDialog.h"
#include "HotPixelCorrector.h"
#include "Paths.h"
#include "VideoWidget.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

std::vector<cv::Point> rasterOrder(std::vector<cv::Point> points)
{
    std::sort(points.begin(), points.end(),
              [](const cv::Point &a, const cv::Point &b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    return points;
}

QByteArray fileOf(const std::vector<cv::Point> &points)
{
    QByteArray text;
    for (const cv::Point &p : points)
        text += QByteArray::number(p.x) + ',' + QByteArray::number(p.y) + '\n';
    return text;
}

// The live video and a calibration as the main window runs it, with the panel's answers in panel.
struct Rig
{
    CameraTestBench bench;
    std::unique_ptr<VideoWidget> video;
    HotPixelCalibration::PanelState panel{1, 8, 5, 9};
    std::unique_ptr<HotPixelCalibration> calibration;

    explicit Rig(SimCameraFault fault = SimCameraFault::None) : bench(fault)
    {
        bench.setConfig("Camera", "HotPixelEx", "9"); // 100 ms dark frames keep the tests short
        bench.instrument.turnFilter(1, 0);            // a fluorescence cube, its LED off: dark
        video = bench.makeWidget();
        calibration = std::make_unique<HotPixelCalibration>(video.get(), [this] { return panel; });
    }

    // Runs the dialog and presses Start (or another button); the dialog's result.
    int runWithStart(const QString &button = QStringLiteral("BUTTON_OK"))
    {
        int result = -2;
        DialogRunner::pushScript([&result, button](QDialog *dialog) {
            result = DialogRunner::showAndRun(dialog, [button](QDialog *d) { DialogRunner::click(d, button); }, 60000);
            return result;
        });
        calibration->slotShowHotPixelCorrectionDlg();
        return result;
    }
};

const QString kComplete = QStringLiteral("<p><b>Hot Pixel Correction Complete.</b></p>");

// A list from an earlier calibration.
void writeOldList(const QByteArray &text)
{
    QFile old(HotPixelCorrector::listFile());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(text);
}

} // namespace

// The hot-pixel calibration on the simulated camera: dark frame, list, file, camera state, live
// video, refusals and failures.
class TestHotPixelCalibration : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        g_hotpixel_enabled = false;
    }

    void calibrationFindsThePlantedHotPixels()
    {
        Rig rig;
        QSignalSpy ended(rig.calibration.get(), &HotPixelCalibration::completedHotPixelCorrection);
        rig.bench.camera.clearControlLog();

        QCOMPARE(rig.runWithStart(), int(QDialog::Accepted));
        QCOMPARE(ended.count(), 1);

        const std::vector<cv::Point> planted = rasterOrder(rig.bench.camera.renderer().hotPixels());
        QCOMPARE(rig.video->hotPixelCorrector().pixels(), planted); // all of them, nothing else
        QCOMPARE(readFile(HotPixelCorrector::listFile()), fileOf(planted));
        QVERIFY(rig.bench.messages().contains(kComplete));

        // Dark frame at 18 dB and the HotPixelEx row, then the filter's own gain and exposure.
        const QStringList writes = rig.bench.registerWrites();
        const QStringList dark = {"203:28", QStringLiteral("%1:6").arg(ExposureLUT8[9][1]),
                                  QStringLiteral("%1:8").arg(ExposureLUT8[9][2])};
        const int at = writes.indexOf(dark[0]);
        QVERIFY2(at >= 0 && writes.mid(at, 3) == dark, qPrintable(writes.join(' ')));
        const QStringList restored = {QStringLiteral("%1:28").arg(GainLUT[5][1]), QStringLiteral("%1:30").arg(GainLUT[5][2]),
                                      "17:31", dark[1], dark[2]};
        QCOMPARE(writes.mid(at + 3, 5), restored);
        QCOMPARE(g_current_exposure_time.load(), ExposureLUT8[9][0] / 1000.0);

        // Live video was off and its widget hidden: both as before.
        QVERIFY(!rig.video->isRunning() && rig.video->isHidden());

        // Running and shown: it stays so.
        rig.video->show();
        rig.video->start();
        QCOMPARE(rig.runWithStart(), int(QDialog::Accepted));
        QVERIFY(rig.video->isRunning() && rig.video->isVisible());
        QCOMPARE(rig.video->hotPixelCorrector().pixels(), planted);
        rig.video->stop();
    }

    void correctionRemovesThemFromStills()
    {
        Rig rig;
        QCOMPARE(rig.runWithStart(), int(QDialog::Accepted));
        const std::vector<cv::Point> planted = rig.bench.camera.renderer().hotPixels();

        // The switch on: the list is read from the file again.
        rig.bench.setConfig("Camera", "HotPixelEnable", "1");
        auto video = rig.bench.makeWidget();
        QVERIFY(g_hotpixel_enabled);
        QCOMPARE(video->hotPixelCorrector().count(), int(planted.size()));
        rig.bench.instrument.setLed(1, true, 60);
        video->setCurrentFilterPosition(1);
        video->start();
        QVERIFY(video->isRunning());

        cv::Mat still;
        QObject::connect(video.get(), &VideoWidget::captured, [&still](uchar *frame, int bits) {
            still = cv::Mat(kFrameHeight, kFrameWidth, bits == 16 ? CV_16UC1 : CV_8UC1, frame).clone();
        });
        auto hotLeft = [&]() {
            int left = 0;
            for (const cv::Point &p : planted) {
                cv::Mat block = still(cv::Rect(p.x - 1, p.y - 1, 3, 3)).clone();
                block.at<uchar>(1, 1) = 0;
                double lo, hi;
                cv::minMaxLoc(block, &lo, &hi);
                if (still.at<uchar>(p) > hi)
                    ++left; // brighter than every neighbour: still hot
            }
            return left;
        };
        QVERIFY(video->capture());
        QCOMPARE(hotLeft(), 0);

        // Not corrected: the switch off, a suspension, the Trans position, 16-bit stills, grabs.
        video->slotChangeHotpixelEnabled(true);
        QVERIFY(video->capture());
        QCOMPARE(hotLeft(), int(planted.size()));
        video->slotChangeHotpixelEnabled(true); // suspended twice: the restore leaves it off
        video->slotChangeHotpixelEnabled(false);
        QVERIFY(!g_hotpixel_enabled);
        g_hotpixel_enabled = true;
        video->setCurrentFilterPosition(0);
        QVERIFY(video->capture());
        QCOMPARE(hotLeft(), int(planted.size()));
        video->setCurrentFilterPosition(1);
        QObject::connect(video.get(), &VideoWidget::grabbed, [&still](uchar *frame, int) {
            still = cv::Mat(kFrameHeight, kFrameWidth, CV_8UC1, frame).clone();
        });
        QVERIFY(video->slotGrabOne());
        QCOMPARE(hotLeft(), int(planted.size()));
        video->stop();
    }

    // Refusals and Cancel touch neither the camera nor the list.
    void refusalsTouchNothing_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        QTest::newRow("Trans") << 0 << 8 << "BUTTON_OK"
                               << "<p><b>Error!</b><br/><br/>Hot pixel correction cannot be done with the Trans filter "
                                  "cube.<br/>Select a fluorescence filter cube and try again.</p>";
        QTest::newRow("between positions") << -1 << 8 << "BUTTON_OK"
                                           << "<p><b>Error!</b><br/><br/>Check that the filter cube is in position.</p>";
        QTest::newRow("16 bit") << 2 << 16 << "BUTTON_OK" << "<p><b>Error!</b><br/><br/>Make sure the camera is in 8 bit mode.</p>";
        QTest::newRow("cancel") << 1 << 8 << "BUTTON_CANCEL" << QString();
    }

    void refusalsTouchNothing()
    {
        QFETCH(int, filter);
        QFETCH(int, mode);
        QFETCH(QString, button);
        QFETCH(QString, message);
        Rig rig;
        rig.panel.filterPosition = filter;
        rig.panel.cameraMode = mode;
        writeOldList("7,7\n");
        rig.bench.camera.clearControlLog();
        QSignalSpy ended(rig.calibration.get(), &HotPixelCalibration::completedHotPixelCorrection);

        QCOMPARE(rig.runWithStart(button), int(QDialog::Rejected));
        QCOMPARE(ended.count(), 1);
        QCOMPARE(rig.bench.messages(), message.isEmpty() ? QStringList() : QStringList{message});
        QVERIFY(rig.bench.camera.controlLog().empty());
        QCOMPARE(readFile(HotPixelCorrector::listFile()), QByteArray("7,7\n"));
        QVERIFY(!rig.video->isRunning());
    }

    // A dark frame that never comes leaves the old list and file as they were.
    void aCameraThatGivesUpKeepsTheOldList_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("stall") << int(SimCameraFault::Stall);
        QTest::newRow("invalid frames") << int(SimCameraFault::ZeroFirstByte);
        QTest::newRow("no camera") << int(SimCameraFault::NoDevice);
    }

    void aCameraThatGivesUpKeepsTheOldList()
    {
        QFETCH(int, fault);
        const bool absent = SimCameraFault(fault) == SimCameraFault::NoDevice;
        Rig rig(absent ? SimCameraFault::NoDevice : SimCameraFault::None);
        QCOMPARE(bool(g_no_camera), absent);
        if (!absent)
            rig.video->start();
        writeOldList("7,7\n8,9\n");
        rig.video->loadHotPixelMap();
        rig.bench.camera.setFault(SimCameraFault(fault));

        QCOMPARE(rig.runWithStart(), int(QDialog::Accepted));
        QVERIFY(rig.bench.messages().last().startsWith(QStringLiteral(
            "<p><b>Hot Pixel Correction Failed.</b><br/><br/>")));
        QCOMPARE(readFile(HotPixelCorrector::listFile()), QByteArray("7,7\n8,9\n"));
        QCOMPARE(rig.video->hotPixelCorrector().count(), 2);
        rig.bench.camera.setFault(SimCameraFault::None);
        rig.video->stop();
    }

    // An exposure row outside the table takes three seconds; serial logging gives the count in the
    // message and keeps the dark frame on the SSD.
    void outOfRangeExposureRowTakesThreeSeconds()
    {
        Rig rig;
        rig.bench.setConfig("Camera", "HotPixelEx", "70");
        rig.bench.root.makeDir("/media/VANTOR SSD");
        g_ExecMode = EXEC_SERIAL_LOG;
        rig.bench.camera.clearControlLog();
        QCOMPARE(rig.runWithStart(), int(QDialog::Accepted));
        g_ExecMode = EXEC_NORMAL;
        QVERIFY(rig.bench.registerWrites().join(' ').contains("203:28 38:6 1057:8"));
        const int count = int(rig.bench.camera.renderer().hotPixels().size());
        QVERIFY(rig.bench.messages().contains(
            QStringLiteral("<p><b>Hot Pixel Correction Complete.</b><br/><br/>Hot pixel number : %1</p>").arg(count)));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Paths::ssd() + "/HotPixel/_0002.tif"), 10000);
    }
};

QTEST_MAIN(TestHotPixelCalibration)
#include "tst_hotpixelcalibration.moc"
