#include "CameraAccess.h"
#include "CameraTables.h"
#include "CameraTestBench.h"
#include "Controller.h"
#include "ControllerTestSupport.h"
#include "DialogRunner.h"
#include "FineAF.h"
#include "FineAFSequence.h"
#include "Globals.h"
#include "ImMeasurer.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SampleRenderer.h"
#include "VideoWidget.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <opencv2/imgproc.hpp>
#include <functional>
#include <random>

namespace {

// An 8-bit still as the camera delivers it for a physical stage height, upright.
cv::Mat stillAt(SampleRenderer &renderer, int objective, double stageSteps)
{
    SampleView view;
    view.filter = 0;
    view.objective = objective;
    view.stageSteps = stageSteps;
    cv::Mat frame12;
    renderer.render(view, frame12);
    cv::Mat wire(SampleRenderer::Height, SampleRenderer::Width, CV_8UC1);
    SimulatedCamera::packFrame(frame12, 8, wire.data);
    cv::Mat upright;
    cv::flip(wire, upright, -1);
    return upright;
}

QString magnificationText(int objective)
{
    return QStringLiteral("%1X").arg(int(SampleRenderer::magnification(objective)));
}

void setConfig(const char *section, const char *key, const char *value)
{
    WritePrivateProfileString(section, key, value, Paths::configFile().toStdString());
}

// The simulated instrument with its board on a pseudo-terminal, the camera behind the transport,
// live video and an autofocus wired as the control panel wires it.
struct Rig
{
    CameraTestBench bench;
    BoardSimulator board;
    Controller controller;
    std::unique_ptr<VideoWidget> video;
    std::unique_ptr<FineAFSequence> af;
    int objective = 2;

    explicit Rig(const QString &firmware = QStringLiteral("3.1"))
        : board(bench.instrument, profileNamed(firmware))
    {
        g_CurrentMenu = MENU_MULTICOLOR;
        setConfig("LensNA", "2", "0.25");
        bench.instrument.setLed(0, true, 50);
        bench.instrument.turnObjective(objective, 0);
    }

    bool start()
    {
        if (!board.start() || !openController(controller, board.devicePath()))
            return false;
        video = bench.makeWidget();
        video->slotSetCurrentExposure(ExposureLUT8[0][0], ExposureLUT8[0][1], ExposureLUT8[0][2]);
        video->setCurrentGain(GainLUT[0][1], GainLUT[0][2]);
        video->start();
        // As the application does: each still learns where the turrets stand.
        video->setSceneCheck([this] { return controller.refreshTurretPositions(); });
        af = std::make_unique<FineAFSequence>(&controller);
        QObject::connect(af.get(), &FineAFSequence::capture, video.get(), &VideoWidget::capture);
        QObject::connect(video.get(), &VideoWidget::captured, af.get(), &FineAFSequence::captureCompleted);
        QObject::connect(video.get(), &VideoWidget::stillRefused, af.get(), &FineAFSequence::stillRefused);
        QObject::connect(&controller, &Controller::signalMotorPositioningCompleted, af.get(),
                         &FineAFSequence::slotMotorPositioningCompleted, Qt::QueuedConnection);
        return video->isRunning();
    }

    FineAFSequence::Setup setup() const
    {
        FineAFSequence::Setup s;
        s.magnification = magnificationText(objective);
        s.lensName = QStringLiteral("Plan 10X");
        s.objectivePosition = objective;
        s.cameraBits = g_camera_mode;
        s.focusSpeed = 100;
        return s;
    }

    // One run of the kind a caller makes: "interactive", "background", "timelapse" or "cellcount".
    void run(const QString &kind)
    {
        if (kind == "interactive")
            af->runInteractive(setup());
        else if (kind == "background")
            af->runBackground(setup());
        else if (kind == "timelapse")
            af->runTimeLapse(setup());
        else
            af->runCellCount(setup());
    }

    double trueFocus() { return bench.camera.renderer().trueFocusSteps(objective); }
    int stage() { return bench.instrument.state().stagePhysical(); }
};

// Plays the user on the interactive "Focusing" box: waits for its Close button and records the
// final text.
void pushCloseWhenDone(QString *finalText)
{
    DialogRunner::pushScript([](QDialog *) { return 0; }); // "Initializing" box: closed at once
    DialogRunner::pushScript([finalText](QDialog *dialog) {
        return DialogRunner::showAndRun(
            dialog,
            [finalText](QDialog *d) {
                auto *ok = d->findChild<QPushButton *>("BUTTON_OK");
                pumpUntil([ok] { return ok && ok->isVisible(); }, 60000);
                if (auto *label = d->findChild<QLabel *>("message_label"))
                    *finalText = label->text();
                if (ok)
                    ok->click();
            },
            70000);
    });
}

} // namespace

class TestFineAF : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        DialogRunner::clearScripts();
        g_ExecMode = EXEC_NORMAL;
        g_CurrentMenu = MENU_MULTICOLOR;
    }

    void planFollowsTheDepthOfField()
    {
        TestRoot root;
        FineAF af;
        af.setFineAFParameter(" 10X", "  Plan 10X ", 70000, 0.25f, 3.63f);
        QCOMPARE(af.canStart(16, 5), FINEAF_NO_ERROR);
        QVERIFY(qAbs(af.depthOfField() - 10.305f) < 0.001f);
        QCOMPARE(af.step(), 264);
        QCOMPARE(af.imageNumber(), 11);
        QCOMPARE(af.startPos(), 70000 - 1320);
        QCOMPARE(af.endPos(), 70000 + 1320);

        // The factor from the configuration.
        setConfig("Focus", "DOF_Factor", "1");
        af.setFineAFParameter("10X", "", 0, 0.25f, 3.63f);
        QCOMPARE(af.canStart(8, 5), FINEAF_NO_ERROR);
        QCOMPARE(af.interval(), 528);
        // A factor no dialog offers reads as the default 0.5.
        setConfig("Focus", "DOF_Factor", "-0.5");
        af.setFineAFParameter("10X", "", 0, 0.25f, 3.63f);
        QCOMPARE(af.canStart(8, 5), FINEAF_NO_ERROR);
        QCOMPARE(af.interval(), 264);
    }

    void unusablePlansAreRefused_data()
    {
        QTest::addColumn<QString>("magnification");
        QTest::addColumn<float>("na");
        QTest::addColumn<int>("range");
        QTest::addColumn<QString>("factor");
        QTest::addColumn<bool>("planKept"); // the previous plan stays as it was
        QTest::newRow("NA 0.001") << "10X" << 0.001f << 5 << "0.5" << true;
        QTest::newRow("NA not a number") << "10X" << std::numeric_limits<float>::quiet_NaN() << 5 << "0.5" << true;
        QTest::newRow("magnification text") << "Plan" << 0.25f << 5 << "0.5" << true;
        QTest::newRow("range 0") << "10X" << 0.25f << 0 << "0.5" << false;
        QTest::newRow("factor negative") << "10X" << 0.001f << 5 << "-0.5" << true; // the factor reads as 0.5
    }

    void unusablePlansAreRefused()
    {
        QFETCH(QString, magnification);
        QFETCH(float, na);
        QFETCH(int, range);
        QFETCH(QString, factor);
        QFETCH(bool, planKept);
        TestRoot root;
        FineAF af;
        af.setFineAFParameter("20X", "", 5000, 0.4f, 3.63f);
        QCOMPARE(af.canStart(8, 2), FINEAF_NO_ERROR);
        const int interval = af.interval(), start = af.startPos();

        setConfig("Focus", "DOF_Factor", qPrintable(factor));
        af.setFineAFParameter(magnification, "", 9000, na, 3.63f);
        QCOMPARE(af.canStart(8, range), FINEAF_ERR_DOF);
        if (planKept) {
            QCOMPARE(af.interval(), interval);
            QCOMPARE(af.startPos(), start);
        }
    }

    void bestPointIsTheFirstOfTheHighest()
    {
        FineAF af;
        cv::Mat flat(FineAF::kFrameHeight, FineAF::kFrameWidth, CV_8UC1, cv::Scalar(100));
        cv::Mat edges = flat.clone();
        cv::rectangle(edges, cv::Rect(100, 100, 300, 300), cv::Scalar(250), cv::FILLED);
        cv::Mat more = edges.clone();
        cv::rectangle(more, cv::Rect(600, 500, 300, 300), cv::Scalar(0), cv::FILLED);

        int position = -7, index = -7;
        double value = -7;
        af.setFineAFParameter("10X", "", 0, 0.25f, 3.63f);
        QVERIFY(!af.GetAFMotorPosion2(position, index, value));
        af.setFocusValueAtMotorPosition(edges.data, 8, 100, false);
        QVERIFY(!af.GetAFMotorPosion2(position, index, value));
        QCOMPARE(position, -7); // fewer than two points: outputs untouched

        af.setFocusValueAtMotorPosition(more.data, 8, 200, false);
        af.setFocusValueAtMotorPosition(edges.data, 8, 300, false);
        af.setFocusValueAtMotorPosition(more.data, 8, 400, false);
        QVERIFY(af.GetAFMotorPosion2(position, index, value));
        QCOMPARE(position, 200); // ties: the first scanned
        QCOMPARE(index, 2);
        QVERIFY(value == af.focusCurve()[1].focusValue && value > af.focusCurve()[0].focusValue);

        // A flat curve fails but names its first point.
        af.setFineAFParameter("10X", "", 0, 0.25f, 3.63f);
        QVERIFY(af.focusCurve().empty());
        for (int p : {10, 20, 30})
            af.setFocusValueAtMotorPosition(flat.data, 8, p, true);
        QVERIFY(!af.GetAFMotorPosion2(position, index, value));
        QCOMPARE(position, 10);
        QCOMPARE(index, 1);
        QCOMPARE(value, 0.0);
    }

    // The count's best height between the scan's steps, on curves of known peak. Positions are
    // eleven heights 1000 steps apart unless a row gives them; expected: position, index, result.
    void peakBetweenSteps_data()
    {
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<QVector<int>>("positions");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("ok");
        auto sampled = [](const std::function<double(double)> &f, const QVector<int> &at) {
            QVector<double> v;
            for (int x : at)
                v << f(x);
            return v;
        };
        QVector<int> grid;
        for (int i = 0; i < 11; ++i)
            grid << i * 1000;
        const QVector<int> uneven{0, 900, 2100, 3000, 4200, 5000};
        auto parabola = [](double peak) { return [peak](double x) { return 1e9 - (x - peak) * (x - peak); }; };
        auto gauss = [](double peak, double width) {
            return [=](double x) { return 5e6 * std::exp(-(x - peak) * (x - peak) / (2 * width * width)); };
        };
        QTest::newRow("parabola, peak between steps") << sampled(parabola(3300), grid) << grid << 3300 << 0 << 4 << true;
        QTest::newRow("parabola, peak on a step") << sampled(parabola(7000), grid) << grid << 7000 << 0 << 8 << true;
        QTest::newRow("parabola, uneven steps") << sampled(parabola(1800), uneven) << uneven << 1800 << 0 << 3 << true;
        QTest::newRow("bell as wide as two steps") << sampled(gauss(4420, 2000), grid) << grid << 4420 << 15 << 5 << true;
        QTest::newRow("bell wider than three steps") << sampled(gauss(6150, 3000), grid) << grid << 6150 << 15 << 7 << true;
        QTest::newRow("peak past the first height") << sampled(parabola(-700), grid) << grid << 0 << 0 << 1 << true;
        QTest::newRow("peak past the last height") << sampled(parabola(12500), grid) << grid << 10000 << 0 << 11 << true;
        QTest::newRow("two best heights: between them") << QVector<double>{1, 5, 9, 9, 5, 1} << grid.mid(0, 6) << 2500 << 0 << 3 << true;
        QTest::newRow("lopsided peak leans to the higher side") << QVector<double>{0, 0, 0, 100, 90, 0} << grid.mid(0, 6) << 3409
                                                                << 1 << 4 << true;
        QTest::newRow("flat curve fails") << QVector<double>{4, 4, 4} << grid.mid(0, 3) << 0 << 0 << 1 << false;
    }

    void peakBetweenSteps()
    {
        QFETCH(QVector<double>, values);
        QFETCH(QVector<int>, positions);
        QFETCH(int, position);
        QFETCH(int, tolerance);
        QFETCH(int, index);
        QFETCH(bool, ok);
        std::vector<FocusResult> curve;
        for (int i = 0; i < values.size(); ++i)
            curve.push_back(FocusResult{values[i], positions[i]});
        int found = -1, foundIndex = -1;
        double value = -1;
        QCOMPARE(FineAF::bestPointBetweenSteps(curve, found, foundIndex, value), ok);
        QVERIFY2(std::abs(found - position) <= tolerance, qPrintable(QString::number(found)));
        QCOMPARE(foundIndex, index);
        QCOMPARE(value, values[index - 1]);
        // The other runs keep the sample itself.
        int sample = -1;
        QCOMPARE(FineAF::bestPoint(curve, sample, foundIndex, value), ok);
        QCOMPARE(sample, positions[index - 1]);
    }

    void sixteenBitFramesAreScoredOnTheirUpperByte()
    {
        SampleRenderer renderer;
        const cv::Mat eight = stillAt(renderer, 3, renderer.trueFocusSteps(3));
        // Camera words: upper byte first, then a lower byte that must not matter.
        cv::Mat wide(eight.rows, eight.cols, CV_8UC2);
        std::mt19937 rng(5);
        for (int y = 0; y < eight.rows; ++y)
            for (int x = 0; x < eight.cols; ++x)
                wide.at<cv::Vec2b>(y, x) = cv::Vec2b(eight.at<uchar>(y, x), uchar(rng()));

        FineAF af;
        af.setFineAFParameter("20X", "", 0, 0.4f, 3.63f);
        af.setFocusValueAtMotorPosition(wide.data, 16, 1, false);
        af.setFocusValueAtMotorPosition(const_cast<uchar *>(eight.data), 8, 2, false);
        ImMeasurer measurer;
        measurer.setImageData(const_cast<uchar *>(eight.data), eight.cols, eight.rows, 8);
        const double expected = measurer.GetFocusValue(false);
        QVERIFY(expected > 0);
        QCOMPARE(af.focusCurve()[0].focusValue, expected);
        QCOMPARE(af.focusCurve()[1].focusValue, expected);
    }

    // Each road of a run on the simulated instrument, from planning to its end. Settings are
    // "section/key=value"; at: where the stage ends (focus, first height, unchanged).
    void runsOnTheInstrument_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("at");
        const QString completed = "Fine AF Completed.", failed = "Fine AF Failed.";
        auto row = [](const char *name, const char *firmware, const char *kind, const QStringList &settings, const char *fault,
                      int frames, bool ok, int error, const QString &shown, const char *at) {
            QTest::newRow(name) << firmware << kind << settings << fault << frames << ok << error << shown << at;
        };
        row("interactive", "3.1", "interactive", {}, "", 11, true, 0, completed, "focus");
        row("blank field", "3.1", "background", {}, "blank", 11, false, 0, "", "first");
        // Ranges that no list offers read as the default 5: eleven images.
        row("time-lapse range 2", "3.1", "timelapse", {"Setting_Timelapse/ScanRange=2", "Focus/FineAFRange=7"}, "", 11, true, 0, "", "focus");
        row("cell count: 11 images", "3.1", "cellcount", {"Focus/FineAFRange=1"}, "", 11, true, 0, "", "focus");
        // Frames reach the program long after their exposure: each still is still scored where it was taken.
        row("frames arrive late", "3.1", "cellcount", {}, "late", 11, true, 0, "", "focus");
        row("range 0", "3.1", "interactive", {"Focus/FineAFRange=0"}, "", 11, true, 0, completed, "focus");
        row("time-lapse range -1", "3.1", "timelapse", {"Setting_Timelapse/ScanRange=-1"}, "", 11, true, 0, "", "focus");
        row("old dialect", "old", "interactive", {}, "", 0, false, 2, MessageDlg::presetText(MSG_FINEAF_NOT_SUPPORTED), "unchanged");
        row("old dialect, cell count", "old", "cellcount", {}, "", 0, false, 2, "", "unchanged");
        row("camera stalls", "3.1", "interactive", {}, "stall", 0, false, 0, failed, "");
        row("no stage position", "3.1", "interactive", {}, "position", 0, false, 0, failed, "unchanged");
    }

    void runsOnTheInstrument()
    {
        QFETCH(QString, firmware);
        QFETCH(QString, kind);
        QFETCH(QStringList, settings);
        QFETCH(QString, fault);
        QFETCH(int, frames);
        QFETCH(bool, ok);
        QFETCH(int, error);
        QFETCH(QString, shown);
        QFETCH(QString, at);
        Rig rig(firmware);
        QVERIFY(rig.start());
        for (const QString &setting : settings)
            setConfig(qPrintable(setting.section('/', 0, 0)), qPrintable(setting.section('/', 1).section('=', 0, 0)),
                      qPrintable(setting.section('=', 1)));
        rig.bench.camera.renderer().setBlankField(fault == "blank");
        if (fault == "stall")
            rig.bench.camera.setFault(SimCameraFault::Stall);
        if (fault == "late")
            rig.bench.camera.setTransferDelayMs(400);
        if (fault == "position")
            rig.board.injectFault(BoardFault(BoardFault::Silence, -1, "STAGE POS"));
        rig.bench.instrument.setStagePosition(int(rig.trueFocus()) - 200);
        const int before = rig.stage();
        QString finalText;
        if (kind == "interactive" && error == 0)
            pushCloseWhenDone(&finalText);
        QSignalSpy hot(rig.af.get(), &FineAFSequence::changeHotpixelEnabled);
        QSignalSpy afData(rig.af.get(), &FineAFSequence::sendAFData);
        QSignalSpy timeLapse(rig.af.get(), &FineAFSequence::completeTimeLapseAF);
        QSignalSpy cellCount(rig.af.get(), &FineAFSequence::completeCellCountAF);
        rig.run(kind);
        rig.bench.camera.setFault(SimCameraFault::None);

        QVERIFY(!rig.af->isRunning());
        QCOMPARE(rig.af->framesScored(), frames);
        QCOMPARE(rig.af->succeeded(), ok);
        QCOMPARE(int(rig.af->errorCode()), error);
        if (!shown.isEmpty()) // the box's last text, or a message
            QVERIFY2(finalText == shown || rig.bench.messages().contains(shown), qPrintable(finalText));
        if (at == "focus") {
            // The count's height lies between the steps: a grid 200 steps off the focus must not
            // leave it a step's fraction away.
            const double off = std::abs(rig.stage() - rig.trueFocus());
            QVERIFY2(off <= (kind == "cellcount" ? rig.af->fineAF().interval() / 8 : rig.af->fineAF().interval()),
                     qPrintable(QString("%1 steps from the focus").arg(off)));
        }
        if (at == "first")
            QCOMPARE(rig.stage(), before - 5 * 264);
        if (at == "unchanged")
            QCOMPARE(rig.stage(), before);
        if (ok && kind != "timelapse")
            QCOMPARE(rig.stage(), rig.af->bestPosition());
        QCOMPARE(g_CurrentMenu, MENU_MULTICOLOR);
        // A time-lapse page restores polling and hot-pixel correction itself.
        QCOMPARE(rig.controller.isPulling(), kind != "timelapse" || error != 0);
        if (frames > 0)
            QCOMPARE(hot.count(), kind == "timelapse" ? 1 : 2);
        if (kind == "timelapse") { // the best image, 1-based in scan order; 0, 0, 0 after a planning error
            const int index = afData[0][0].toInt();
            QCOMPARE(index == 0, error != 0);
            if (ok) {
                QCOMPARE(afData[0][1].toInt(), rig.af->fineAF().focusCurve()[size_t(index - 1)].motorPosition);
                QCOMPARE(timeLapse[0][0].toInt(), rig.stage());
            }
            QCOMPARE(timeLapse[0][1].toBool(), ok);
            QCOMPARE(int(timeLapse[0][2].value<TFineAFErrTable>()), error);
        }
        if (kind == "cellcount")
            QCOMPARE(int(cellCount[0][1].value<TFineAFErrTable>()), error);
    }

    // A turret turned by hand during the scan, learnt from the still it spoils or, between two
    // stills, before the next one is taken. Turned away, the search ends once its pauses are
    // spent, the stage back where it began, with no point of the other cube scored; turned back
    // within a pause, the scan starts over from its first height and finds the focus on its own
    // cube alone. Every caller sees the same.
    void aTurnDuringTheScan_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("back");
        QTest::addColumn<bool>("between");
        QTest::newRow("count, turned away") << "cellcount" << false << false;
        QTest::newRow("Fine AF, turned away between stills") << "interactive" << false << true;
        QTest::newRow("drift correction, turned and back") << "timelapse" << true << false;
    }
    void aTurnDuringTheScan()
    {
        QFETCH(QString, kind);
        QFETCH(bool, back);
        QFETCH(bool, between);
        Rig rig;
        QVERIFY(rig.start());
        rig.bench.instrument.setStagePosition(int(rig.trueFocus()) - 200);
        const int before = rig.stage();
        int stills = 0;
        QObject::connect(rig.video.get(), &VideoWidget::captured, [&] {
            if (++stills != 3)
                return;
            rig.bench.instrument.turnFilter(1, 0); // GFP, standing at once
            if (between)
                rig.controller.refreshTurretPositions();
        });
        if (back) // turned back as soon as the program learns of the turn
            QObject::connect(&rig.controller, &Controller::changeFilterPosition, [&](int position) {
                if (position == 1)
                    rig.bench.instrument.turnFilter(0, 0);
            });
        QString finalText;
        if (kind == "interactive")
            pushCloseWhenDone(&finalText);
        QSignalSpy timeLapse(rig.af.get(), &FineAFSequence::completeTimeLapseAF);
        QSignalSpy cellCount(rig.af.get(), &FineAFSequence::completeCellCountAF);
        rig.run(kind);

        QVERIFY(!rig.af->isRunning());
        QCOMPARE(rig.af->succeeded(), back);
        QCOMPARE(rig.af->endedByTurretMove(), !back);
        QCOMPARE(rig.af->restarts(), back ? 1 : 0);
        QCOMPARE(g_CurrentMenu, MENU_MULTICOLOR);
        // One pass from the first height up, on one cube.
        const std::vector<FocusResult> &curve = rig.af->fineAF().focusCurve();
        for (size_t i = 0; i < curve.size(); ++i)
            QCOMPARE(curve[i].motorPosition, rig.af->fineAF().startPos() + int(i) * rig.af->fineAF().step());
        if (back) {
            QCOMPARE(rig.af->framesScored(), rig.af->fineAF().imageNumber());
            QVERIFY(std::abs(rig.stage() - rig.trueFocus()) <= rig.af->fineAF().interval());
        } else {
            QCOMPARE(rig.stage(), before);
            QCOMPARE(rig.af->framesScored(), 3); // the stills before the turn
        }
        if (kind == "interactive")
            QCOMPARE(finalText, QString("Fine AF Failed."));
        if (kind == "timelapse")
            QCOMPARE(timeLapse[0][1].toBool(), back);
        if (kind == "cellcount")
            QCOMPARE(cellCount[0][0].toBool(), back);
    }
};

QTEST_MAIN(TestFineAF)
#include "tst_fineaf.moc"
