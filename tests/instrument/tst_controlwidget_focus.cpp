#include "BoardProfile.h"
#include "ControlWidget.h"
#include "ControllerTestSupport.h"
#include "Globals.h"
#include "DialogRunner.h"
#include "PanelBench.h"
#include "TestRoot.h"

#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QtTest>

// The focus half of the control panel on the simulated instrument: focus memories (store,
// recall, cancel, in both dialects), the origin, parfocal lens positions, parking and the
// position read-out.
class TestControlWidgetFocus : public QObject
{
    Q_OBJECT

    // The stage's lower limit lies below the counter's zero, so that heights above the limit
    // differ from counter readings.
    static constexpr int kLower = -3000;
    // Short drives keep the runs quick; the recall starts farther up than the store.
    static constexpr int kUserPosition = 2000;
    static constexpr int kElsewhere = 7000;

    static void prepare(PanelBench &b, int position)
    {
        b.vi.setStageLimits(kLower, 520000);
        b.vi.setStagePosition(position);
    }

    // The firmware rows: the old board answering its moves as they start ("old") or once they
    // end ("old-end"), and new ones.
    static void addProfiles(std::initializer_list<const char *> profiles)
    {
        QTest::addColumn<QString>("profile");
        for (const char *p : profiles)
            QTest::newRow(p) << QString(p);
    }
    static std::unique_ptr<PanelBench> benchFor(const QString &profile, int position)
    {
        auto b = std::make_unique<PanelBench>(profile == "old-end" ? QStringLiteral("old") : profile);
        BoardProfile p = b->board->profile();
        p.oldMoveAnswerAtEnd = profile == "old-end";
        b->board->setProfile(p);
        prepare(*b, position);
        return b;
    }

    static void storeMemory(PanelBench &b, int memory)
    {
        b.button("BUTTON_FOCUS_MEMORY_ON")->click();
        QVERIFY(b.button(qPrintable(QString("BUTTON_SET_%1").arg(memory)))->isEnabled());
        b.button(qPrintable(QString("BUTTON_SET_%1").arg(memory)))->click();
    }

private slots:
    void init()
    {
        g_CurrentMenu = MENU_MULTICOLOR;
        g_ExecMode = EXEC_NORMAL;
    }

    void storeRecallAndCancel_data() { addProfiles({"old", "old-end", "2.3", "2.6", "3.1"}); }

    void storeRecallAndCancel()
    {
        QFETCH(QString, profile);
        const std::unique_ptr<PanelBench> bench = benchFor(profile, kUserPosition);
        PanelBench &b = *bench;
        QVERIFY(b.build());
        b.goLive();
        const int height = b.physicalHeight();

        storeMemory(b, 2);
        QVERIFY(b.waitForStageStill());
        QCOMPARE(b.config("FocusMemory", "2"), QString::number(kUserPosition - kLower));
        QCOMPARE(b.config("FocusMemoryDesc", "2"), QString("Nucleus"));
        QCOMPARE(b.panel->focusMemoryPosition(2), kUserPosition - kLower);
        QCOMPARE(b.physicalHeight(), height); // back where the user was
        QVERIFY(b.button("BUTTON_SET_2")->isChecked());
        QVERIFY(!b.button("BUTTON_FOCUS_MEMORY_ON")->isChecked());
        QVERIFY(b.dialogs.join('|').contains("Focus Position Saved"));
        QVERIFY(b.button("BUTTON_SET_2")->toolTip().contains("Nucleus"));

        // Recall from elsewhere.
        b.vi.setStagePosition(kElsewhere);
        const int elsewhere = b.physicalHeight();
        b.dialogs.clear();
        b.button("BUTTON_SET_2")->click();
        QVERIFY(b.waitForStageStill());
        QCOMPARE(b.physicalHeight(), height);
        QCOMPARE(b.dialogs, QStringList{"progress:Moving to position \"Nucleus\""});
        QVERIFY(b.button("BUTTON_SET_2")->isChecked());

        // A later recall stopped at once: the stage is stopped and goes nowhere.
        b.vi.setStagePosition(kElsewhere);
        b.panel->controller().StopPulling();
        pumpEvents(100);
        b.clearLog();
        b.onProgress = [](QDialog *d) { return DialogRunner::click(d, "BUTTON_CANCEL"); };
        b.button("BUTTON_SET_2")->click();
        pumpEvents(700);
        const QStringList sent = b.commands();
        QVERIFY2(sent.contains(profile.startsWith("old") ? "Z STOP" : "$A#STAGE STOP"), qPrintable(sent.join(", ")));
        QVERIFY(b.waitForStageStill());
        QVERIFY(qAbs(b.physicalHeight() - elsewhere) < 2000);
        QVERIFY(b.button("BUTTON_SET_2")->isEnabled());
    }

    void storingOverAMemoryAsksFirst()
    {
        PanelBench b("3.1");
        b.setConfig("FocusMemory", "4", "1234");
        prepare(b, 6000);
        QVERIFY(b.build());
        b.goLive();
        QVERIFY(b.button("BUTTON_SET_4")->isChecked());
        b.questionAnswer = 0;
        storeMemory(b, 4);
        QCOMPARE(b.dialogs, QStringList{"message:Overwrite the current position?"});
        QCOMPARE(b.config("FocusMemory", "4"), QString("1234"));
        QVERIFY(!b.button("BUTTON_FOCUS_MEMORY_ON")->isChecked());
        QVERIFY(!b.button("BUTTON_SET_1")->isEnabled()); // not stored: only set mode enables it
    }

    // A board that does not report the position: the store is refused and no box stays up.
    void unreadablePositionRefusesTheStore()
    {
        PanelBench b("3.1");
        prepare(b, 6000);
        QVERIFY(b.build());
        b.goLive();
        b.board->injectFault(BoardFault(BoardFault::Silence, -1, "STAGE POS"));
        storeMemory(b, 1);
        QVERIFY(b.dialogs.join('|').contains("did not report its position"));
        QCOMPARE(b.config("FocusMemory", "1"), QString());
        QVERIFY(!b.button("BUTTON_SET_1")->isChecked());
    }

    void namingAMemoryByRightClick()
    {
        PanelBench b("3.1");
        QVERIFY(b.build());
        b.goLive();
        b.button("BUTTON_FOCUS_MEMORY_ON")->click();
        b.keyboardText = "Well B2";
        QTest::mouseClick(b.button("BUTTON_SET_3"), Qt::RightButton);
        QCOMPARE(b.config("FocusMemoryDesc", "3"), QString("Well B2"));
        b.keyboardText = "   ";
        QTest::mouseClick(b.button("BUTTON_SET_3"), Qt::RightButton);
        QCOMPARE(b.config("FocusMemoryDesc", "3"), QString("Position 3"));
        QCOMPARE(b.config("FocusMemory", "3"), QString()); // naming stores no position
    }

    void originResetsAtTheLowerLimit()
    {
        PanelBench b("3.1");
        prepare(b, 5000);
        QVERIFY(b.build());
        b.goLive();
        b.button("BUTTON_FOCUS_ORIGIN")->click();
        QVERIFY(b.waitForStageStill());
        QVERIFY(b.vi.state().atLower());
        QCOMPARE(b.vi.state().stagePosition, 0);
        QCOMPARE(b.dialogs, QStringList{"progress:Moving to origin ..."});
    }

    void lensPositionsCorrectTheFocus()
    {
        PanelBench b("3.1");
        prepare(b, 10000);
        QVERIFY(b.build());
        b.goLive();
        QCOMPARE(b.panel->currentObjectivePosition(), 1);
        b.button("BUTTON_LENS_SET_POS")->click();
        QCOMPARE(b.config("LensPos", "1"), QString("10000"));
        QVERIFY(b.button("BUTTON_LENS_SET_POS")->isChecked());
        QVERIFY(b.dialogs.contains("message:Position saved."));

        b.vi.turnObjective(2, 200);
        QTRY_COMPARE_WITH_TIMEOUT(b.panel->currentObjectivePosition(), 2, 30000);
        QVERIFY(!b.button("BUTTON_LENS_SET_POS")->isChecked());
        // The change's own correction (none: objective 2 has no position yet) is decided first.
        QTRY_VERIFY_WITH_TIMEOUT(!b.panel->controller().lensCorrectionPending(), 30000);
        QVERIFY(b.waitForStageStill());
        b.vi.setStagePosition(12000);
        b.button("BUTTON_LENS_SET_POS")->click();
        QCOMPARE(b.config("LensPos", "2"), QString("12000"));

        // Back to objective 1: the controller corrects the focus by the difference.
        b.vi.turnObjective(1, 200);
        QTRY_COMPARE_WITH_TIMEOUT(b.panel->currentObjectivePosition(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(b.vi.state().stageMoving || b.vi.state().stagePosition == 10000, 30000);
        QVERIFY(b.waitForStageStill());
        QCOMPARE(b.vi.state().stagePosition, 10000);
        QVERIFY(b.button("BUTTON_LENS_SET_POS")->isChecked());

        // Switched off: no correction.
        b.button("BUTTON_LENS_POS_ENABLE")->click();
        QCOMPARE(b.config("LensPos", "Enable"), QString("0"));
    }

    void lensPositionOutOfRangeIsRefused()
    {
        PanelBench b("3.1");
        prepare(b, 0);
        QVERIFY(b.build());
        b.goLive();
        b.button("BUTTON_LENS_SET_POS")->click();
        QCOMPARE(b.dialogs, QStringList{"message:<p><b>Error!</b><br/><br/>The current position is not allowed.</p>"});
        QCOMPARE(b.config("LensPos", "1"), QString());
        QCOMPARE(b.panel->lensPosition(1), 0);
        QVERIFY(!b.button("BUTTON_LENS_SET_POS")->isChecked());
    }

    // "answer lost": the board leaves the move unanswered; the completion still comes.
    void parkingEndsAtTheLowerLimit_data() { addProfiles({"old", "old-end", "2.3", "2.6", "3.1", "answer lost"}); }

    void parkingEndsAtTheLowerLimit()
    {
        QFETCH(QString, profile);
        const std::unique_ptr<PanelBench> b = benchFor(profile == "answer lost" ? "3.1" : profile, 30000);
        QVERIFY(b->build());
        if (profile == "answer lost")
            b->board->injectFault(BoardFault(BoardFault::Silence, 1, "STAGE BOTTOM"));
        QSignalSpy parked(b->panel.get(), &ControlWidget::signalParkingCompleted);
        b->panel->moveZBottomForParking();
        QVERIFY(parked.count() == 1 || parked.wait(20000));
        QCOMPARE(parked.count(), 1);
        if (profile != "answer lost") // a silent board also leaves the stage where it is
            QVERIFY(b->vi.state().atLower() && !b->vi.state().stageMoving); // completed once it stands there
        QVERIFY(!b->panel->controller().isPulling());
    }

    // The Z-stack page's moves: each ends once the stage stands where it was sent.
    void zStackMovesEndWhenTheStageStands_data() { addProfiles({"old", "old-end", "3.1"}); }

    void zStackMovesEndWhenTheStageStands()
    {
        QFETCH(QString, profile);
        const std::unique_ptr<PanelBench> b = benchFor(profile, 20000);
        QVERIFY(b->build());
        ControlWidget *panel = b->panel.get();
        panel->controller().StopPulling();
        QSignalSpy atStart(panel, &ControlWidget::signalStartZPositioningCompleted);
        QSignalSpy started(panel, &ControlWidget::signalMotorMovedStartPosition);
        QSignalSpy moved(panel, &ControlWidget::signalMotorMoved);
        panel->slotSetMotorSpeedAndStartZPosition(300, -6000);
        QVERIFY(atStart.count() == 1 || atStart.wait(20000));
        QCOMPARE(b->vi.state().stagePosition, 14000);
        QVERIFY(!b->vi.state().stageMoving);
        panel->slotStartZStacking();
        QVERIFY(started.count() == 1 || started.wait(20000));
        panel->slotMoveMotorPosition(500, true);
        QVERIFY(moved.count() == 1 || moved.wait(20000));
        panel->slotEndZStacking();
        QVERIFY(b->waitForStageStill());
        QCOMPARE(b->vi.state().stagePosition, 14500);
        QCOMPARE(atStart.count(), 1);
        QCOMPARE(started.count(), 1);
    }

    void parkingWithoutABoardStillCompletes()
    {
        TestRoot root;
        ControlWidget::setSerialPortName(root.path() + "/no-such-device");
        ControlWidget panel;
        QSignalSpy parked(&panel, &ControlWidget::signalParkingCompleted);
        panel.moveZBottomForParking();
        QCOMPARE(parked.count(), 1);
        ControlWidget::setSerialPortName(QString());
    }

    void positionReadOut()
    {
        PanelBench b("3.1");
        QVERIFY(b.build());
        b.panel->controller().StopPulling();
        auto *label = b.child<QLabel>("LABEL_POS");
        auto *bar = b.child<QProgressBar>("PROGRESSBAR_FOCUS");
        QCOMPARE(bar->maximum(), 512000);
        QSignalSpy update(b.panel.get(), &ControlWidget::signalUpdatePos);
        b.panel->setCurrentMenuState(-1, -1, 1, -1, -1, -1);
        QMetaObject::invokeMethod(b.panel.get(), "slotChangeStagePos", Q_ARG(int, 51200));
        QCOMPARE(label->text(), QString("1000"));
        QCOMPARE(bar->value(), 51200);
        QCOMPARE(update.last().at(0).toInt(), 1000);
        QMetaObject::invokeMethod(b.panel.get(), "slotChangeStagePos", Q_ARG(int, 600000));
        QCOMPARE(label->text(), QString("10000"));
        QCOMPARE(bar->value(), 512000);
        QMetaObject::invokeMethod(b.panel.get(), "slotChangeStagePos", Q_ARG(int, 800000));
        QCOMPARE(label->text(), QString("10000"));
        QMetaObject::invokeMethod(b.panel.get(), "slotChangeStagePos", Q_ARG(int, -600));
        QCOMPARE(label->text(), QString("10000"));
    }
};

QTEST_MAIN(TestControlWidgetFocus)
#include "tst_controlwidget_focus.moc"
