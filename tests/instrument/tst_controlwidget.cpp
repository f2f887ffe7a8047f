#include "CameraAccess.h"
#include "CameraTables.h"
#include "ControlWidget.h"
#include "ControllerTestSupport.h"
#include "DirectoryDialog.h"
#include "FrameRing.h"
#include "Globals.h"
#include "HangBound.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "MonotonicClock.h"
#include "PanelBench.h"
#include "SimSandbox.h"
#include "TestRoot.h"
#include "TimeLapseProgressDlg.h"
#include "VideoWidget.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

#include <mutex>
#include <numeric>
#include <thread>

// The control panel's light, camera and turret half on the simulated instrument: every control
// gives the board command or camera register write of its firmware profile, turret reports
// drive the panel, the configuration and the image metadata.
class TestControlWidget : public QObject
{
    Q_OBJECT

    // One panel control and what it must send, per profile.
    using Action = std::function<void(PanelBench &)>;
    struct Control
    {
        const char *name;
        Action act;
        std::map<QString, QStringList> commands; // by profile name
        QStringList registers = {};               // camera writes, any profile
        bool held = false; // a held button: a late release may let the step repeat
    };

    static QList<Control> controls()
    {
        auto click = [](const char *button) { return [button](PanelBench &b) { b.button(button)->click(); }; };
        auto lightOn = [](PanelBench &b) {
            if (!b.panel->isLightOn())
                b.button("BUTTON_LIGHT_ON")->click();
        };
        auto afterLightOn = [lightOn](const char *button) {
            return [lightOn, button](PanelBench &b) {
                if (!b.panel->isLightOn()) { // the row runs alone
                    lightOn(b);
                    b.waitForCommands(1);
                    b.clearLog();
                }
                b.button(button)->click();
            };
        };
        // Every change of the light starts the sensor over once the board took it: the exposure
        // in use (row 7, 80 ms) is written again.
        const QStringList restart = {"1:6", "1121:8"};
        // "new" stands for every new-dialect profile without a list of its own.
        return {
            {"light on", lightOn, {{"old", {"LED 0 50"}}, {"new", {"$A#LED BRT4 500"}}, {"2.3", {"$A#LED BRT4 50"}}},
             restart},
            {"light step up", afterLightOn("BUTTON_LIGHT_INCREASE"),
             {{"old", {"LED 0 51"}}, {"new", {"$A#LED BRT4 510"}}, {"2.3", {"$A#LED BRT4 51"}}}, restart},
            {"light off", afterLightOn("BUTTON_LIGHT_ON"), {{"old", {"LED 0 0"}}, {"new", {"$A#LED OFF4"}}}, restart},
            {"gain step up", click("BUTTON_GAIN_INCREASE"), {{"old", {}}, {"new", {}}}, {"3692:28", "0:30", "17:31"}},
            {"exposure step up", click("BUTTON_EXPOSURE_INCREASE"), {{"old", {}}, {"new", {}}},
             {"1:6", "976:8"}}, // row 8 of the 8-bit table (80 ms was row 7)
            {"coarse up held one tick",
             [](PanelBench &b) {
                 // Released as the first tick's step is answered (new firmware sends one at the press too),
                 // within that answer.
                 const int steps = b.panel->controller().existFirmwareVer() ? 2 : 1;
                 QAbstractButton *up = b.button("BUTTON_FOCUS_COARSE_UP");
                 int answered = 0;
                 const auto release = QObject::connect(&b.panel->controller(), &Controller::signalFocusingEnable, up, [&] {
                     if (++answered == steps)
                         up->released();
                 });
                 up->pressed();
                 pumpUntil([&] { return answered >= steps; }, 10000);
                 QObject::disconnect(release);
             },
             {{"old", {"Z SPEED 70", "Z 51"}},
              {"new", {"$A#SLIDER SPEED 70", "$A#SLIDER 51", "$A#SLIDER 51"}},
              {"2.6", {"$A#STAGE POS", "$A#STAGE#MAX#6", "$A#STAGE#ACC#700", "$A#SLIDER 51", "$A#SLIDER 51"}}},
             {},
             true},
            {"fine down",
             [](PanelBench &b) {
                 b.button("BUTTON_FOCUS_FINE_DOWN")->pressed();
                 b.button("BUTTON_FOCUS_FINE_DOWN")->released();
             },
             {{"old", {"Z SPEED 1"}}, {"new", {"$A#SLIDER SPEED 1", "$A#SLIDER -3"}},
              {"2.6", {"$A#STAGE POS", "$A#STAGE#MAX#1", "$A#STAGE#ACC#700", "$A#SLIDER -3"}}}},
            {"coarse jog up and release",
             [](PanelBench &b) {
                 auto *slider = b.child<QSlider>("SLIDER_FOCUS_COARSE");
                 slider->sliderPressed();
                 slider->sliderMoved(40);
                 b.waitForCommands(2);
                 slider->sliderReleased();
             },
             {{"old", {"Z SPEED 70", "Z 500000", "Z STOP"}}, {"new", {"$A#SLIDER SPEED 70", "$A#SLIDER TOP", "$A#STAGE STOP"}}}},
            {"fine jog down",
             [](PanelBench &b) {
                 auto *slider = b.child<QSlider>("SLIDER_FOCUS_FINE");
                 slider->sliderPressed();
                 slider->sliderMoved(-5); // within the dead band: nothing
                 slider->sliderMoved(-30);
                 slider->sliderMoved(-60); // a jog already runs: ignored
                 b.waitForCommands(2);
                 slider->sliderReleased();
             },
             {{"old", {"Z SPEED 1", "Z BOTTOM", "Z STOP"}}, {"new", {"$A#SLIDER SPEED 1", "$A#SLIDER BOTTOM", "$A#STAGE STOP"}}}},
            {"knob speeds after the settings", [](PanelBench &b) { b.panel->setKnobSpeed(); },
             {{"old", {}}, {"new", {"$A#KNOB COARSE 70", "$A#KNOB FINE 1"}}}},
            {"page asks the position", [](PanelBench &b) { b.panel->slotGetCurrentMotorPosition(); },
             {{"old", {"Z POS"}}, {"new", {"$A#STAGE POS"}}}},
            {"page moves the stage", [](PanelBench &b) { b.panel->slotMoveMotorPosition(-256, false); },
             {{"old", {"Z -256"}}, {"new", {"$A#STAGE POS", "$A#STAGE -256"}},
              {"2.6", {"$A#STAGE POS", "$A#STAGE#MAX#14", "$A#STAGE#ACC#700", "$A#STAGE -256"}}}},
        };
    }

    static constexpr int kTurnMs = 100; // a turret's move by hand

    // One live panel per profile, shared by the rows of the command table (they run in order).
    std::unique_ptr<PanelBench> m_bench;
    QString m_benchProfile;

private slots:
    void init()
    {
        g_CurrentMenu = MENU_MULTICOLOR;
        g_ExecMode = EXEC_NORMAL;
        if (QLatin1String(QTest::currentTestFunction()) != QLatin1String("eachControlSendsItsCommand"))
            m_bench.reset();
    }
    void cleanupTestCase() { m_bench.reset(); }

    void eachControlSendsItsCommand_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<int>("control");
        const QList<Control> list = controls();
        for (const QString profile : {"old", "2.3", "2.6", "3.1"})
            for (int i = 0; i < list.size(); ++i)
                QTest::newRow(qPrintable(profile + ": " + list[i].name)) << profile << i;
    }

    void eachControlSendsItsCommand()
    {
        QFETCH(QString, profile);
        QFETCH(int, control);
        const Control c = controls().at(control);
        if (!m_bench || m_benchProfile != profile) {
            m_bench.reset();
            m_bench = std::make_unique<PanelBench>(profile);
            m_benchProfile = profile;
            QVERIFY(m_bench->build());
            m_bench->goLive();
            m_bench->panel->controller().StopPulling();
            m_bench->showPolls = true;
        }
        PanelBench &b = *m_bench;
        // The last row's moves and answers (old dialect) must be over before the log starts, and
        // so must the light command of going live, which the old dialect queues for the event
        // loop: it is let out first, then its answer awaited (the board has it logged by then).
        QVERIFY(b.waitForStageStill());
        pumpEvents(50);
        QVERIFY(pumpUntil([&] { return b.panel->controller().isReadyToSend(); }, 10000));
        b.clearLog();
        QElapsedTimer hold;
        hold.start();
        c.act(b);
        // The panel's knob timer lets a held button step again when an answer is slow: on a loaded
        // machine the release can come a few steps late. Those steps count as the one step, but no
        // more of them than repeat ticks fit in the hold; a step that runs on after the release
        // shows within the wait that follows.
        const qint64 inFlight = hold.elapsed() / ControlWidget::kFocusRepeatMs + 1;
        if (c.held)
            pumpEvents(10 * ControlWidget::kFocusRepeatMs);
        const QStringList expected = c.commands.count(profile) ? c.commands.at(profile) : c.commands.at("new");
        QStringList sent = b.waitForCommands(qMax(1, expected.size()), expected.isEmpty() ? 300 : 10000);
        qint64 repeats = 0;
        while (c.held && sent.size() > expected.size() && sent.last() == expected.last()) {
            sent.removeLast();
            ++repeats;
        }
        QVERIFY2(repeats <= inFlight, qPrintable(QString("%1 repeats after a hold of %2 ticks: %3")
                                                     .arg(repeats).arg(inFlight).arg(b.board->receivedTexts().join(' '))));
        if (sent != expected)
            qWarning() << "all lines:" << b.board->receivedTexts();
        QCOMPARE(sent, expected);
        QCOMPARE(b.registerWrites(), c.registers);
    }

    void turretEventsUpdateThePanel_data()
    {
        QTest::addColumn<QString>("profile");
        for (const char *p : {"old", "2.3", "3.1"})
            QTest::newRow(p) << QString(p);
    }

    void turretEventsUpdateThePanel()
    {
        QFETCH(QString, profile);
        PanelBench b(profile);
        b.setConfig("Filter", "1", "mCherry-long");
        b.setConfig("Filter_2", "Light", "33");
        b.setConfig("Filter_2", "Gain", "4");
        b.setConfig("Filter_2", "Exposure", "12");
        b.setConfig("Lens", "3", "30x");
        b.setConfig("LensName", "3", "PLAN");
        b.setConfig("LensNA", "3", "0.40");
        QVERIFY(b.build());
        b.goLive();
        QSignalSpy filters(b.panel.get(), &ControlWidget::changeFilterPosition);
        QSignalSpy lenses(b.panel.get(), &ControlWidget::changeLensPosition);

        b.vi.turnFilter(2, 200);
        QTRY_COMPARE_WITH_TIMEOUT(b.panel->currentFilterPosition(), 2, 10000);
        QCOMPARE(filters.last().at(0).toInt(), 2);
        QCOMPARE(b.child<QSlider>("SLIDER_LIGHT")->value(), 33);
        QCOMPARE(b.child<QLabel>("LABEL_GAIN")->text(), QString::number(GainLUT[4][0]));
        QCOMPARE(b.child<QLabel>("LABEL_EXPOSURE")->text(), QString::number(ExposureLUT8[12][0]));
        QVERIFY(b.button("BUTTON_FILTER_POSITION_2")->isEnabled());
        QVERIFY(!b.button("BUTTON_FILTER_POSITION_1")->isEnabled());
        QVERIFY(b.button("BUTTON_FILTER_POSITION_2")->font().bold());
        QCOMPARE(b.button("BUTTON_FILTER_POSITION_1")->text(), QString("mCher"));

        b.vi.turnFilter(3, 200); // filter position 3 sits in turret slot 1
        QTRY_COMPARE_WITH_TIMEOUT(b.panel->currentFilterPosition(), 3, 10000);
        QVERIFY(b.button("BUTTON_FILTER_POSITION_1")->isEnabled());
        QCOMPARE(capturedImageMetaData().filterCube[3], QString("Filter cube: mCherry-long"));

        b.vi.turnObjective(3, 200);
        QTRY_COMPARE_WITH_TIMEOUT(b.panel->currentObjectivePosition(), 3, 10000);
        QCOMPARE(lenses.last().at(0).toInt(), 3);
        QCOMPARE(b.child<QLabel>("LABEL_LENS_CURRENT")->text(), QString("30X"));
        QVERIFY(b.button("BUTTON_FINE_AF")->isEnabled());
        b.panel->slotUpdateCaptureImageMetaData();
        QCOMPARE(capturedImageMetaData().objective[3], QString("Objective: Quorva 30X NA 0.40 PLAN"));
    }

    // A cube that comes into place is lit at its own level, in live view and while a run keeps
    // its light on (a run between frames leaves it dark), the old cube's light out; the exposure
    // is written once more after the board confirmed the new light, so that the first frame the
    // sensor starts after the turn is lit.
    void aCubeThatComesIntoPlaceIsLitBeforeItsFirstFrame_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("lit");
        for (const char *p : {"old", "3.1"}) {
            QTest::addRow("%s, live", p) << QString(p) << false << true;
            QTest::addRow("%s, run with its light on", p) << QString(p) << true << true;
            QTest::addRow("%s, run between frames", p) << QString(p) << true << false;
        }
    }
    void aCubeThatComesIntoPlaceIsLitBeforeItsFirstFrame()
    {
        QFETCH(QString, profile);
        QFETCH(bool, running);
        QFETCH(bool, lit);
        constexpr int cube = 3;
        PanelBench b(profile);
        b.setConfig("Filter_3", "Light", "20");
        QVERIFY(b.build());
        b.goLive();
        b.button("BUTTON_LIGHT_ON")->click();
        QTRY_VERIFY_WITH_TIMEOUT(b.vi.state().ledOn[0], 10000);
        if (running) {
            b.panel->setCurrentMenuState(-1, -1, 3, -1, -1, -1); // a Z-stack runs
            if (!lit)
                b.panel->turnOffLight();
        }
        QList<bool> litAtExposure; // whether the new cube's LED was on at each exposure written
        connect(b.panel.get(), QOverload<int, int, int>::of(&ControlWidget::signalChangeExposure),
                [&] { litAtExposure << b.vi.state().ledOn[cube]; });

        b.vi.turnFilter(cube, 200);
        QTRY_COMPARE_WITH_TIMEOUT(b.panel->currentFilterPosition(), cube, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.vi.state().ledOn[cube], lit, 10000);
        QTest::qWait(300); // nothing follows
        const VirtualInstrument::State s = b.vi.state();
        QCOMPARE(s.ledOn[cube], lit);
        QVERIFY(!s.ledOn[0]);
        QVERIFY(!litAtExposure.isEmpty());
        if (lit) {
            QCOMPARE(s.ledPower[cube], 20.0);
            QVERIFY2(litAtExposure.last(), "the exposure was last written before the light came on");
        }
    }

    void betweenPositionsAndBusyPagesLockTheLight()
    {
        PanelBench b("3.1");
        QVERIFY(b.build());
        b.goLive();
        b.button("BUTTON_LIGHT_ON")->click();
        QVERIFY(b.panel->isLightOn());
        QSignalSpy led(b.panel.get(), &ControlWidget::signalLEDState);
        b.panel->changedFilterPosition(-1);
        QCOMPARE(b.panel->currentFilterPosition(), 0);
        QCOMPARE(b.panel->currentFilterPositionForHotPixelCorrection(), -1);
        QVERIFY(!b.child<QSlider>("SLIDER_LIGHT")->isEnabled());
        QVERIFY(!b.button("BUTTON_LIGHT_ON")->isChecked());
        QCOMPARE(led.last().at(0).toBool(), false);
        QVERIFY(!b.panel->controller().isLightOn());
        // Enabling requests change nothing while the turret stands between slots.
        b.panel->setUIControlEnabled(true, true);
        QVERIFY(!b.button("BUTTON_FOCUS_COARSE_UP")->isEnabled());
        // The next valid report brings everything back, the LED at the filter's power.
        b.panel->changedFilterPosition(0);
        QVERIFY(b.button("BUTTON_FOCUS_COARSE_UP")->isEnabled());
        QVERIFY(b.button("BUTTON_LIGHT_ON")->isChecked());
        QVERIFY(b.panel->controller().isLightOn());
        // A busy page (time lapse running) switches the LED but leaves the button alone.
        b.panel->setCurrentMenuState(-1, -1, -1, 3, -1, -1);
        b.panel->turnOffLight();
        QVERIFY(b.button("BUTTON_LIGHT_ON")->isChecked());
        QVERIFY(!b.panel->controller().isLightOn());
    }

    // LIVE tapped while a turret still turns after a turn by hand (the panel knows it between
    // positions): the light is lit once the turret stands, not left off by the enabling.
    void liveAskedWhileATurretTurnsIsLitOnceItStands_data()
    {
        QTest::addColumn<QString>("turret");
        QTest::newRow("cube") << "cube";
        QTest::newRow("objective") << "objective";
    }
    void liveAskedWhileATurretTurnsIsLitOnceItStands()
    {
        QFETCH(QString, turret);
        PanelBench b("3.1");
        QVERIFY(b.build());
        b.goLive();
        b.panel->setLiveMode(false); // the page shows its images, its light off
        b.panel->turnOffLight();
        const int cube = turret == "cube" ? 3 : b.panel->currentFilterPosition();
        const int objective = turret == "cube" ? b.panel->currentObjectivePosition()
                                               : b.panel->currentObjectivePosition() % 5 + 1;
        QSignalSpy between(&b.panel->controller(), turret == "cube" ? &Controller::changeFilterPosition
                                                                    : &Controller::changeLensPosition);
        if (turret == "cube")
            b.vi.turnFilter(cube, 1500);
        else
            b.vi.turnObjective(objective, 1500);
        QVERIFY(pumpUntil([&] { return !between.isEmpty(); }, kHangBoundMs)); // reported between positions
        b.panel->setLiveMode(true); // the page's LIVE
        b.panel->turnOnLight();
        QVERIFY(pumpUntil([&] {
            return b.panel->currentFilterPosition() == cube && b.panel->currentObjectivePosition() == objective;
        }, kHangBoundMs));
        pumpEvents(300); // the stand's enabling lit it, and nothing puts it out afterwards
        QVERIFY2(b.vi.state().ledOn[cube], "the light asked for while the turret turned stayed off");
        QVERIFY(b.button("BUTTON_LIGHT_ON")->isChecked());
    }

    // A filter set from the configuration (the last rows of the tables; a row outside them reads as
    // the default) reaches the camera, the pseudo colour and the metadata; a still keeps the set but
    // locks the camera controls.
    void filterSetsReachCameraColourAndMetadata()
    {
        PanelBench b("3.1");
        b.setConfig("Filter_1", "Gain", "21");
        b.setConfig("Filter_1", "Exposure", "55");
        b.setConfig("Filter_1", "Light", "100");
        b.setConfig("FilterColor", "3", "4"); // cyan, the last colour the settings offer
        b.setConfig("Filter_2", "Gain", "-4");
        QVERIFY(b.build());
        b.goLive();
        QVERIFY(!b.button("BUTTON_PSEUDO_COLOR")->isEnabled()); // Trans in live view
        QSignalSpy colour(b.panel.get(), &ControlWidget::pseudoColorEnabled);
        QSignalSpy still(b.panel.get(), &ControlWidget::pseudoColorForVideoWidget);
        b.cam.camera.clearControlLog();
        b.panel->changedFilterPosition(1);
        QCOMPARE(b.panel->currentFilterSet().gain, 21);
        QCOMPARE(b.panel->currentFilterSet().exposure, 55);
        QCOMPARE(b.panel->currentFilterSet().light, 100);
        QVERIFY(b.button("BUTTON_PSEUDO_COLOR")->isEnabled());
        QCOMPARE(colour.last().at(1).toInt(), 1);
        QCOMPARE(colour.last().at(2).toInt(), 4);
        QCOMPARE(b.registerWrites(), (QStringList{"190:6", "733:8", "203:28", "3:30", "60:31"}));
        QCOMPARE(capturedImageMetaData().gain[1], QString("Gain: 36 dB"));
        QCOMPARE(capturedImageMetaData().exposure[1], QString("Exposure: 15000 ms"));
        QCOMPARE(capturedImageMetaData().gain[2], QString("Gain: 0 dB"));

        // changeLightPower touches only what it is given.
        QSignalSpy exposure3(b.panel.get(), qOverload<int, int, int>(&ControlWidget::signalChangeExposure));
        QSignalSpy exposure1(b.panel.get(), qOverload<int>(&ControlWidget::signalChangeExposure));
        QSignalSpy gain(b.panel.get(), &ControlWidget::changeGain);
        b.cam.camera.clearControlLog();
        b.panel->changeLightPower(-1, -1, 12);
        QCOMPARE(exposure3.count(), 1);
        QCOMPARE(exposure1.count(), 1);
        QCOMPARE(exposure1.last().at(0).toInt(), ExposureLUT8[12][0]);
        QCOMPARE(gain.count(), 0);
        QCOMPARE(b.registerWrites(), (QStringList{QString("%1:6").arg(ExposureLUT8[12][1]),
                                                  QString("%1:8").arg(ExposureLUT8[12][2])}));

        b.panel->setLiveMode(false);
        QCOMPARE(b.panel->controlWidgetState(), CONTROL_STATE_STILL);
        b.panel->changedFilterPosition(2);
        QCOMPARE(still.count(), 1);
        QVERIFY(!b.child<QSlider>("SLIDER_GAIN")->isEnabled());
        QVERIFY(b.button("BUTTON_PSEUDO_COLOR")->isEnabled());
    }

    void lightStepsStopAtTheEndsAndFineStepsFollowTheSetting()
    {
        PanelBench b("3.1");
        b.setConfig("Filter_0", "Light", "100");
        b.setConfig("Focus", "FineStepSize", "0.1");
        QVERIFY(b.build());
        b.goLive();
        b.button("BUTTON_LIGHT_ON")->click();
        b.panel->controller().StopPulling();
        pumpEvents(100);
        b.clearLog();
        b.button("BUTTON_LIGHT_INCREASE")->click();
        QCOMPARE(b.waitForCommands(1, 300), QStringList());
        b.child<QSlider>("SLIDER_LIGHT")->setValue(1);
        b.button("BUTTON_LIGHT_DECREASE")->click();
        QCOMPARE(b.child<QSlider>("SLIDER_LIGHT")->value(), 1);
        // Dragging changes the read-out and the set but sends nothing until the release.
        b.child<QSlider>("SLIDER_LIGHT")->setValue(42);
        QCOMPARE(b.child<QLabel>("LABEL_LIGHT")->text(), QString("42"));
        QCOMPARE(b.waitForCommands(1, 300), QStringList());
        b.child<QSlider>("SLIDER_LIGHT")->sliderReleased();
        QCOMPARE(b.waitForCommands(1), QStringList{"$A#LED BRT4 420"});
        QCOMPARE(capturedImageMetaData().light[0], QString("Light: 42 %"));

        b.clearLog();
        b.button("BUTTON_FOCUS_FINE_UP")->pressed();
        b.button("BUTTON_FOCUS_FINE_UP")->released();
        QCOMPARE(b.waitForCommands(2), (QStringList{"$A#SLIDER SPEED 1", "$A#SLIDER 5"}));
    }

    // A focus step size that no dialog offers (huge, negative, not a number) reads as its default
    // with a word in the log, and each Down button then moves by that default.
    void hostileFocusStepSizesGiveTheDefault_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        for (const char *key : {"CoarseStepSize", "FineStepSize"}) {
            for (const char *value : {"2147483647", "-2147483648", "ten", "1e10"})
                QTest::addRow("%s=%s", key, value) << key << value;
        }
    }

    void hostileFocusStepSizesGiveTheDefault()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        PanelBench b("3.1");
        b.setConfig("Focus", qPrintable(key), value);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QString("\\[Focus\\] %1=.*the default").arg(key)));
        QVERIFY(b.build());
        b.goLive();
        b.panel->controller().StopPulling();
        pumpEvents(100);
        b.clearLog();
        // 1 um and 0.05 um at 51.2 motor steps each.
        const QList<QPair<const char *, QStringList>> downs = {
            {"BUTTON_FOCUS_COARSE_DOWN", {"$A#SLIDER SPEED 70", "$A#SLIDER -51"}},
            {"BUTTON_FOCUS_FINE_DOWN", {"$A#SLIDER SPEED 1", "$A#SLIDER -3"}}};
        for (const auto &down : downs) {
            b.clearLog();
            b.button(down.first)->pressed();
            b.button(down.first)->released();
            QCOMPARE(b.waitForCommands(2), down.second);
        }
    }

    // The cell-count page counts the Trans light in tenths; it never reaches the file that way.
    void cellCountTransScaleIsNotWrittenBack()
    {
        PanelBench b("2.6");
        b.setConfig("Filter_0", "Light", "7");
        QVERIFY(b.build());
        b.goLive();
        b.panel->controller().StopPulling();
        g_CurrentMenu = MENU_CELLCOUNT;
        pumpEvents(100);
        b.clearLog();
        b.button("BUTTON_LIGHT_ON")->click();
        QCOMPARE(b.child<QSlider>("SLIDER_LIGHT")->value(), 70);
        QCOMPARE(b.child<QLabel>("LABEL_LIGHT")->text(), QString("7.0"));
        QCOMPARE(b.waitForCommands(1), QStringList{"$A#LED BRT4 70"});
        b.panel->writeFilterSet();
        QCOMPARE(b.config("Filter_0", "Light"), QString("7"));
        QCOMPARE(b.panel->currentFilterSet().light, 7);

        // Another cube and back, still in the cell-count page: the set stays in tenths.
        b.panel->changedFilterPosition(1);
        QCOMPARE(b.config("Filter_0", "Light"), QString("7"));
        b.panel->changedFilterPosition(0);
        QCOMPARE(b.child<QSlider>("SLIDER_LIGHT")->value(), 70);

        // Another page: back to whole percent.
        g_CurrentMenu = MENU_MULTICOLOR;
        b.clearLog();
        b.panel->turnOnLight();
        QCOMPARE(b.child<QSlider>("SLIDER_LIGHT")->value(), 7);
        QCOMPARE(b.waitForCommands(1), QStringList{"$A#LED BRT4 70"});

        g_CurrentMenu = MENU_CELLCOUNT;
        b.child<QSlider>("SLIDER_LIGHT")->setValue(15);
        b.panel->turnOnLight();
        QCOMPARE(b.child<QSlider>("SLIDER_LIGHT")->value(), 100);
        QCOMPARE(b.child<QLabel>("LABEL_LIGHT")->text(), QString("10.0"));
        b.panel->writeFilterSet();
        QCOMPARE(b.config("Filter_0", "Light"), QString("10"));
    }

    // A fresh sandbox describes the simulated instrument: the cubes and objectives are named,
    // Fine AF from its button ends in focus, and an objective change keeps the focus (parfocal
    // positions).
    void freshSandboxGivesAWorkingPanel()
    {
        PanelBench b("3.1", VirtualInstrument::StartPosition);
        QVERIFY(SimSandbox::seed());
        QVERIFY(b.build());
        b.panel->resetMotorPosition(); // as the main window at start-up
        b.goLive();
        QStringList cubes;
        for (const char *name : {"BUTTON_FILTER_POSITION_0", "BUTTON_FILTER_POSITION_1", "BUTTON_FILTER_POSITION_2",
                                 "BUTTON_FILTER_POSITION_3"})
            cubes << b.button(name)->text();
        QCOMPARE(cubes, (QStringList{"Trans", "GFP", "RFP", "DAPI"}));
        QCOMPARE(b.child<QLabel>("LABEL_LENS_CURRENT")->text(), QString("4X"));
        QCOMPARE(b.child<QLabel>("LABEL_LENS_LEFT")->text(), QString("10X"));
        QCOMPARE(b.child<QLabel>("LABEL_LENS_RIGHT")->text(), QString("60X"));
        QCOMPARE(b.child<QLabel>("LABEL_LENS_CURRENT_NAME")->text(), QString("PLAN"));

        b.button("BUTTON_LIGHT_ON")->click();
        b.video->start();
        b.button("BUTTON_FINE_AF")->click();
        QVERIFY2(b.panel->fineAF().succeeded(), qPrintable(b.dialogs.join('\n')));
        QVERIFY(b.waitForStageStill());
        const SampleRenderer &renderer = b.cam.camera.renderer();
        const double offFocus = b.physicalHeight() - renderer.trueFocusSteps(1);
        QVERIFY2(std::abs(offFocus) <= b.panel->fineAF().fineAF().interval(), qPrintable(QString::number(offFocus)));

        b.vi.turnObjective(2, 100);
        QVERIFY(pumpUntil([&] { return std::abs(b.physicalHeight() - renderer.trueFocusSteps(2) - offFocus) < 5; }, 10000));
        b.video->stop();
    }

    // A still is judged by every turret report the board made during its exposure, read from the
    // link once the still is taken (the link is not read while it is awaited): a move inside the
    // exposure refuses it, also one that ends where it began; the next still, with the turrets
    // standing, is kept, as is one with no move.
    void aStillIsJudgedByEveryReportOfItsExposure_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("move"); // "cube", "objective", or nothing
        QTest::newRow("3.1, no move") << "3.1" << "";
        QTest::newRow("3.1, cube turned and back") << "3.1" << "cube";
        QTest::newRow("2.3, objective turned and back") << "2.3" << "objective";
    }
    void aStillIsJudgedByEveryReportOfItsExposure()
    {
        QFETCH(QString, profile);
        QFETCH(QString, move);
        PanelBench b(profile);
        b.setConfig("Filter_0", "Exposure", "27"); // 1 s
        QVERIFY(b.build());
        Controller &link = b.panel->controller();
        b.video->setSceneCheck([&link] { return link.refreshTurretPositions(); }); // as the main window
        b.goLive();
        b.button("BUTTON_LIGHT_ON")->click();
        b.video->start();
        QVERIFY(b.video->isRunning());
        const int cube = b.panel->currentFilterPosition(), objective = b.panel->currentObjectivePosition();
        std::thread hand([&] {
            if (move.isEmpty() || !MonotonicClock::waitFor([] { return !g_captured; }, kHangBoundMs))
                return;
            const auto turn = [&](int to) {
                if (move == "cube")
                    b.vi.turnFilter(to, kTurnMs);
                else
                    b.vi.turnObjective(to, kTurnMs);
                MonotonicClock::sleepUs(2 * kTurnMs * 1000);
            };
            // 0.2 s into the still's own exposure, there and back within 0.6 s.
            MonotonicClock::sleepUs(b.cam.camera.nextExposureBeginUs() + 200000 - MonotonicClock::nowUs());
            turn(move == "cube" ? 3 - cube : objective % 5 + 1);
            turn(move == "cube" ? cube : objective);
        });
        QSignalSpy refused(b.video.get(), &VideoWidget::stillRefused);
        const bool kept = b.video->capture();
        hand.join();
        QCOMPARE(kept, move.isEmpty());
        QCOMPARE(refused.count(), move.isEmpty() ? 0 : 1);
        pumpEvents(200);
        QVERIFY(b.video->capture());
        QCOMPARE(b.panel->currentFilterPosition(), cube);
        QCOMPARE(b.panel->currentObjectivePosition(), objective);
        b.video->stop();
    }

    // The light is a change of scene like a turn: switched on just before live video starts (as a
    // page's LIVE does), set to another power or switched off while live, half-way through an
    // exposure, no frame exposed across the change is shown, also while a slow board answers;
    // the first shown comes within one exposure and two seconds. The sensor starts over once the
    // board has changed the light.
    void noFrameShownIsPartlyLit_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("change"); // "on, then live", "power" or "off"
        QTest::addColumn<int>("replyMs");    // the board's answer to each command
        QTest::newRow("3.1, on, then live") << "3.1" << "on, then live" << 3;
        QTest::newRow("old, on, then live") << "old" << "on, then live" << 3;
        QTest::newRow("3.1, power, a slow board") << "3.1" << "power" << 250;
        QTest::newRow("old, off") << "old" << "off" << 3;
    }
    void noFrameShownIsPartlyLit()
    {
        QFETCH(QString, profile);
        QFETCH(QString, change);
        QFETCH(int, replyMs);
        constexpr int64_t kExposureUs = 300000;
        PanelBench b(profile);
        b.setConfig("Filter_0", "Exposure", "13");
        b.setConfig("Filter_0", "Light", "1");
        QVERIFY(b.build());
        b.goLive();
        // The time and mean of each frame handed to the display from now on.
        QVector<QPair<int64_t, double>> shown;
        std::mutex shownMutex;
        std::atomic<bool> watching{true};
        const auto shownCount = [&] {
            std::lock_guard<std::mutex> lock(shownMutex);
            return shown.size();
        };
        std::thread watcher([&] {
            for (uint64_t seen = g_frameRing.handedOver(); watching; MonotonicClock::sleepUs(500)) {
                if (g_frameRing.handedOver() == seen)
                    continue;
                seen = g_frameRing.handedOver();
                const unsigned char *frame = g_frameRing.slot(g_frameRing.drawIndex());
                const double mean = std::accumulate(frame, frame + kFrameBytes8, 0.0) / kFrameBytes8;
                std::lock_guard<std::mutex> lock(shownMutex);
                shown.append({MonotonicClock::nowUs(), mean});
            }
        });
        if (change != "on, then live") {
            b.button("BUTTON_LIGHT_ON")->click();
            b.video->start();
            QVERIFY(pumpUntil([&] { return shownCount() >= 2; }, kHangBoundMs));
        }
        BoardProfile slow = b.board->profile();
        slow.replyDelayMs = replyMs;
        b.board->setProfile(slow);
        QList<double> lightAtRestart; // the LED's power as each exposure is written
        connect(b.panel.get(), qOverload<int, int, int>(&ControlWidget::signalChangeExposure), [&] {
            const VirtualInstrument::State s = b.vi.state();
            lightAtRestart << (s.ledOn[0] ? s.ledPower[0] : 0.0);
        });
        MonotonicClock::sleepUs(b.cam.camera.nextExposureBeginUs() + kExposureUs / 2 - MonotonicClock::nowUs());
        const int64_t changedUs = MonotonicClock::nowUs();
        const int before = shownCount();
        if (change == "power") {
            b.child<QSlider>("SLIDER_LIGHT")->setValue(2);
            b.child<QSlider>("SLIDER_LIGHT")->sliderReleased();
        } else {
            b.button("BUTTON_LIGHT_ON")->click();
        }
        if (change == "on, then live")
            b.video->start();
        const bool twoShown = pumpUntil([&] { return shownCount() >= before + 2; }, kHangBoundMs);
        watching = false;
        watcher.join();
        b.video->stop();
        QVERIFY2(twoShown, "no frame shown");

        const double last = shown.last().second, previous = before > 0 ? shown[before - 1].second : 0;
        const double firstS = (shown[before].first - changedUs) / 1e6;
        for (int i = before; i < shown.size(); ++i) {
            qInfo("%.2f s after the change: mean %.1f (before it %.1f)", (shown[i].first - changedUs) / 1e6,
                  shown[i].second, previous);
            QVERIFY2(std::abs(shown[i].second - last) <= 0.05 * last + 1, "a frame partly lit was shown");
        }
        QVERIFY2(std::abs(last - previous) > 0.2 * std::max(last, previous), "the light did not change");
        QVERIFY2(firstS <= kExposureUs / 1e6 + 2, qPrintable(QString("first frame after %1 s").arg(firstS)));
        const VirtualInstrument::State s = b.vi.state();
        QVERIFY2(!lightAtRestart.isEmpty(), "the sensor did not start over");
        QCOMPARE(lightAtRestart.last(), s.ledOn[0] ? s.ledPower[0] : 0.0);
    }

    // Every form shows its background picture, whatever the object name its owner gives it.
    void formsDrawTheirBackgroundPicture_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("picture");
        QTest::newRow("control panel") << "ControlWidget" << ":/UI/ControlWidget/back.png";
        QTest::newRow("message box") << "MessageDlg" << ":/UI/Common/popup_back.png";
        QTest::newRow("progress box") << "TimeLapseProgressDlg" << ":/UI/Common/popup_back.png";
        QTest::newRow("keyboard") << "KeyboardDlg" << ":/UI/keyboard/back.png";
        QTest::newRow("folder chooser") << "DirectoryDialog" << ":/UI/Select Directory.png";
    }
    void formsDrawTheirBackgroundPicture()
    {
        QFETCH(QString, form);
        QFETCH(QString, picture);
        TestRoot root;
        ControlWidget::setSerialPortName(root.path() + "/no-board");
        const std::map<QString, std::function<QWidget *()>> make = {
            {"ControlWidget", [] { return new ControlWidget; }}, {"MessageDlg", [] { return new MessageDlg; }},
            {"TimeLapseProgressDlg", [] { return new TimeLapseProgressDlg; }},
            {"KeyboardDlg", [] { return new KeyboardDlg; }}, {"DirectoryDialog", [] { return new DirectoryDialog; }}};
        std::unique_ptr<QWidget> widget(make.at(form)());
        widget->setObjectName("renamed"); // as the main window and the panel's sequences do
        const QString sheet = widget->styleSheet(); // styled anew under the new name, as when first shown
        widget->setStyleSheet(QString());
        widget->setStyleSheet(sheet);
        const QImage expected = QImage(picture).convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!expected.isNull());
        widget->resize(expected.size());
        const QImage shown = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        int opaque = 0, matching = 0;
        for (int y = 0; y < std::min(shown.height(), expected.height()); ++y)
            for (int x = 0; x < std::min(shown.width(), expected.width()); ++x) {
                const QRgb want = expected.pixel(x, y), got = shown.pixel(x, y);
                if (qAlpha(want) < 255)
                    continue;
                ++opaque;
                matching += std::abs(qRed(want) - qRed(got)) + std::abs(qGreen(want) - qGreen(got)) +
                                std::abs(qBlue(want) - qBlue(got)) <= 12;
            }
        QVERIFY2(matching > opaque / 3, qPrintable(QString("%1 of %2 pixels").arg(matching).arg(opaque)));
        ControlWidget::setSerialPortName(QString());
    }
};

QTEST_MAIN(TestControlWidget)
#include "tst_controlwidget.moc"
