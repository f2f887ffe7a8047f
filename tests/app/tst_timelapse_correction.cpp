// Focus-drift correction of a time-lapse series on the simulated instrument, through the main
// window's wiring and the simulator's own autofocus (the page's timer slots called directly): the
// offset learnt at the start, every N-th tick, the focus held with late frames, a slow autofocus
// that must start ahead of its frame, the lead a later longer autofocus sets, and the ten-minute
// series on the real clock.
#include "TimeLapseRunBench.h"
#include "ControlWidget.h"
#include "FastClock.h"
#include "FineAFSequence.h"
#include "SimulatedCamera.h"
#include "TimeLapseWidget.h"
#include "ui_NIMBODlg.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QtTest>

class TestTimeLapseCorrection : public TimeLapseRunBench
{
    Q_OBJECT

    // The rows of the focus table share one application: a row that passed leaves it shown,
    // the next goes live again.
    bool sharesApplication() const { return QTest::currentTestFunction() == QLatin1String("correctionHoldsFocus"); }

private slots:
    void init()
    {
        if (!sharesApplication())
            endCase();
        if (!m_bench)
            g_CurrentMenu = MENU_MULTICOLOR;
    }
    void cleanup()
    {
        if (!sharesApplication() || QTest::currentTestFailed())
            endCase();
    }
    void cleanupTestCase() { endCase(); }

    // The first correction of a start learns the offset from the stage's positions; with N = 3
    // only every third correction tick runs the autofocus, which scans from where the stage is.
    void driftCorrection()
    {
        QVERIFY(enterQuickStage());
        plan(30, 0, 5, "Minute", true);
        w<QSpinBox>("SPINBOX_AF_INTERVAL")->setValue(3);
        // Two scan steps below the focus: the autofocus finds the peak above.
        auto &board = m_bench->sim->instrument();
        const int objective = board.state().objectivePosition;
        const double focus = m_bench->sim->camera().renderer().trueFocusSteps(objective);
        board.setStagePosition(int(focus) - board.state().stageCounterOffset - 600);
        QSignalSpy positions(ui()->m_ControlWidget, &ControlWidget::signalCurrentMotorPosition);
        QSignalSpy autofocus(m_page, &TimeLapseWidget::TimeLapseAF);
        QSignalSpy moves(m_page, &TimeLapseWidget::signalMoveMotorPosition);
        run();
        QCOMPARE(m_page->currentState(), TIMELAPSE_ACQUIRING);
        QCOMPARE(autofocus.count(), 1);
        QCOMPARE(count(), 1); // the first frame follows the correction
        QVERIFY(positions.count() >= 2);
        QCOMPARE(m_page->startPosition(), positions[0][0].toInt());
        QCOMPARE(m_page->focusOffset(), positions[0][0].toInt() - positions[1][0].toInt());
        QVERIFY(m_page->focusOffset() != 0);
        QVERIFY(!polling());

        // A capture tick that comes while the autofocus runs waits for it: the frame is taken
        // when the autofocus returns, not dropped.
        int countInsideAF = -1;
        const auto tickInside = connect(ui()->m_ControlWidget, &ControlWidget::sendAFData, m_page, [&] {
            QMetaObject::invokeMethod(m_page, "enableCapture");
            countInsideAF = count();
        });
        for (int tick = 1; tick <= 3; ++tick) {
            QMetaObject::invokeMethod(m_page, "enableFineAF");
            QCOMPARE(autofocus.count(), tick == 3 ? 2 : 1);
            QCOMPARE(moves.count(), 0);
        }
        disconnect(tickInside);
        QCOMPARE(countInsideAF, 1);
        QCOMPARE(count(), 2);
        QVERIFY(w<QWidget>("BUTTON_TIMELAPSE_STOP")->isEnabled());
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_STOP"), Qt::LeftButton);
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
        QCOMPARE(framesByPython(seriesFolder()).size(), 2);
    }

    // Each periodic correction ends within one scan step (352 steps here) of the true focus while
    // frames reach the program 300 ms late, as on a busy machine, so that the frame in flight at
    // each still's request shows the stage before its last move: on a still specimen, on one
    // whose focus drifts up between corrections, and after a start out of the first scan's reach
    // (2,500 steps below, the scan reaching 1,760), which the first periodic correction must make
    // up. A later correction of a still specimen starts from the focus as the first one does.
    void correctionHoldsFocus_data()
    {
        QTest::addColumn<int>("below");
        QTest::addColumn<int>("drift");
        QTest::addColumn<int>("corrections");
        QTest::newRow("still") << 600 << 0 << 1;
        QTest::newRow("drifting") << 600 << 300 << 2;
        QTest::newRow("started out of reach") << 2500 << 0 << 1;
    }
    void correctionHoldsFocus()
    {
        QFETCH(int, below);
        QFETCH(int, drift);
        QFETCH(int, corrections);
        QVERIFY(m_bench ? goLive() : enterQuickStage());
        plan(30, 0, 5, "Minute", true);
        auto &board = m_bench->sim->instrument();
        SampleRenderer &specimen = m_bench->sim->camera().renderer();
        specimen.setFocusBase(SampleRenderer::DefaultFocusBase);
        const int objective = board.state().objectivePosition;
        board.setStagePosition(int(specimen.trueFocusSteps(objective)) - board.state().stageCounterOffset - below);
        m_bench->sim->camera().setTransferDelayMs(300);
        auto offFocus = [&] { return std::abs(board.state().stagePhysical() - specimen.trueFocusSteps(objective)); };
        run();
        QCOMPARE(m_page->currentState(), TIMELAPSE_ACQUIRING);
        const int step = ui()->m_ControlWidget->fineAF().fineAF().interval();
        for (int i = 1; i <= corrections; ++i) {
            specimen.setFocusBase(specimen.focusBase() + drift);
            QMetaObject::invokeMethod(m_page, "enableFineAF");
            QVERIFY2(offFocus() <= step, qPrintable(QString("correction %1: %2 steps off, scan step %3").arg(i).arg(offFocus()).arg(step)));
        }
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_STOP"), Qt::LeftButton);
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
    }

    // The cube turned away by hand during the first correction's scan: the autofocus ends with the
    // stage where it began, so the offset is 0 and the series goes on without corrections, no box
    // waiting.
    void aTurnDuringTheCorrection()
    {
        QVERIFY(enterQuickStage());
        plan(30, 0, 5, "Minute", true);
        auto &board = m_bench->sim->instrument();
        const double focus = m_bench->sim->camera().renderer().trueFocusSteps(board.state().objectivePosition);
        board.setStagePosition(int(focus) - board.state().stageCounterOffset - 600);
        int stills = 0;
        m_bench->refuseStillsWhile([&] { // asked once a still is taken: the moment to turn
            if (g_CurrentMenu == MENU_FINE_AF && ++stills == 3)
                board.turnFilter(1, 0);
            return false;
        });
        m_bench->clearDialogs();
        run();
        QVERIFY(ui()->m_ControlWidget->fineAF().endedByTurretMove());
        QCOMPARE(m_page->focusOffset(), 0);
        QCOMPARE(board.state().stagePosition, m_page->startPosition());
        QVERIFY2(m_bench->dialogs().filter(QRegularExpression("Warning!|Error")).isEmpty(), qPrintable(m_bench->dialogs().join('\n')));
        QCOMPARE(m_page->currentState(), TIMELAPSE_ACQUIRING);
        board.turnFilter(0, 0);
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_STOP"), Qt::LeftButton);
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
    }

    // An autofocus 8 s (and its own scan) longer than the start check's share of the minute, as
    // an instrument's was 6 s longer: the periodic correction starts ahead of its frame by the
    // light's lead and at least that long an autofocus (the first one's), so that the frame keeps
    // its minute; the frame's stored time is when it was taken. Two frames, 90 s.
    void slowAutofocusStartsAhead()
    {
        QVERIFY(enterQuickStage());
        plan(1, 0, 1, "Minute", true); // two frames
        QElapsedTimer clock;
        clock.start();
        QList<qint64> lightOn, taken, autofocusEnds;
        connect(m_page, &TimeLapseWidget::lightOn, this, [&] { lightOn << clock.elapsed(); });
        connect(m_page, &TimeLapseWidget::TimeLapseAF, this, [&] {
            QTest::qWait(m_page->lightPeriod() - m_page->correctionPeriod() + 8000); // the panel's ran first
            autofocusEnds << clock.elapsed();
        });
        connect(m_page, &TimeLapseWidget::capture, this, [&] { taken << clock.elapsed(); });
        run();
        QVERIFY(waitEnded(4 * 60 * 1000));
        QCOMPARE(autofocusEnds.size(), 2);
        QCOMPARE(taken.size(), 2);
        // The autofocus starts a light lead after its light: the first one's began a lead after
        // the light of the first correction, the periodic one's light came first after frame 1.
        const qint64 settle = m_page->capturePeriod() - m_page->lightPeriod();
        const qint64 firstAutofocus = autofocusEnds[0] - (lightOn[0] + settle);
        const auto correction = *std::find_if(lightOn.begin(), lightOn.end(), [&](qint64 t) { return t > taken[0]; });
        const qint64 ahead = taken[0] + 60000 - correction;
        QVERIFY2(ahead >= settle + firstAutofocus,
                 qPrintable(QString("correction %1 ms ahead of the frame's slot; the first autofocus took %2 ms, the light's lead %3 ms")
                                .arg(ahead).arg(firstAutofocus).arg(settle)));
        const QStringList frames = framesByPython(seriesFolder());
        QCOMPARE(frames.size(), 2);
        // The stored time has a one-second grain: it is the taken time within one grain.
        const qint64 stored = QTime(0, 0).msecsTo(QTime::fromString(frames[1].section("Time: ", 1), "hh:mm:ss"));
        QVERIFY2(qAbs(stored - (taken[1] - taken[0])) < 1000,
                 qPrintable(QString("%1, taken %2 ms after the first").arg(frames[1]).arg(taken[1] - taken[0])));
    }

    // The correction's lead follows the larger of the start check's share and the longest
    // autofocus of the start: a first autofocus shorter than the share leaves the share; a later
    // one longer than it (the panel's own, then 4 s past the share) sets the lead with its margin,
    // and a short one after it keeps that.
    void correctionLeadFollowsLongestAutofocus()
    {
        QVERIFY(enterQuickStage());
        plan(30, 0, 5, "Minute", true);
        run();
        QCOMPARE(m_page->currentState(), TIMELAPSE_ACQUIRING);
        const int settle = m_page->capturePeriod() - m_page->lightPeriod();
        const int share = m_page->lightPeriod() - m_page->correctionPeriod();
        QCOMPARE(m_page->correctionLeadMs(), settle + share);

        const int longer = share + 4000;
        const auto slow = connect(m_page, &TimeLapseWidget::TimeLapseAF, this, [&] { QTest::qWait(longer); });
        QMetaObject::invokeMethod(m_page, "enableFineAF");
        disconnect(slow);
        const int lead = m_page->correctionLeadMs();
        QVERIFY2(lead >= settle + longer + TimeLapseWidget::kCorrectionMarginMs,
                 qPrintable(QString("lead %1 ms after an autofocus of over %2 ms").arg(lead).arg(longer)));
        QMetaObject::invokeMethod(m_page, "enableFineAF");
        QCOMPARE(m_page->correctionLeadMs(), lead);
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_STOP"), Qt::LeftButton);
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
    }

    // Frame 1's still is refused shortly before a correction is due: at 350 ms and a scan range
    // of 20 the autofocus's share leaves about 2 s of the minute between a frame and its
    // correction, less than a retake takes. The frame is skipped at once, not retaken into the
    // correction, though the next frame's light is most of a minute away. The camera and the
    // page's waits run on a fast clock; the schedule's timers on the real one.
    void noRetakeIntoACorrection()
    {
        const FastClock fast; // the first correction's 41 frames and settling waits
        QVERIFY(enterQuickStage());
        ui()->m_ControlWidget->changeLightPower(-1, -1, 14); // 350 ms
        QTRY_COMPARE(m_page->exposure(), 350);
        plan(30, 0, 1, "Minute", true);
        w<QComboBox>("COMBO_ZSCAN_RANGE")->setCurrentText("20");
        run();
        QCOMPARE(m_page->currentState(), TIMELAPSE_ACQUIRING);
        QCOMPARE(count(), 1);
        int refused = 0;
        m_bench->refuseStillsWhile([&] { return count() == 1 && refused++ == 0; });
        QMetaObject::invokeMethod(m_page, "enableCapture");
        QCOMPARE(refused, 1);
        QCOMPARE(count(), 2); // skipped within the tick
        QCOMPARE(QDir(seriesFolder()).entryList({"*.tif"}, QDir::Files, QDir::Name), QStringList{"Cells_0000.tif"});
    }

    // Ten minutes at one frame a minute with a correction before every frame, on the real clock,
    // from a stage roughly focused by hand (two scan steps below): every autofocus ends within one
    // scan step of the true focus. Long: runs only with VANTOR_LONG_RUN=1, and prints the frames,
    // autofocus times and positions.
    void tenMinuteSeriesWithCorrection()
    {
        if (qEnvironmentVariable("VANTOR_LONG_RUN") != "1")
            QSKIP("ten minutes; set VANTOR_LONG_RUN=1 and QTEST_FUNCTION_TIMEOUT=900000");
        QVERIFY(enter());
        plan(10, 0, 1, "Minute", true);
        auto &board = m_bench->sim->instrument();
        const int objective = board.state().objectivePosition;
        // The true focus in the stage's own count, as the autofocus reports its end.
        const double focus = m_bench->sim->camera().renderer().trueFocusSteps(objective) - board.state().stageCounterOffset;
        board.setStagePosition(int(focus) - 700);
        QElapsedTimer clock;
        clock.start();
        QStringList notes;
        QList<int> ends;
        connect(m_page, &TimeLapseWidget::TimeLapseAF, this, [&] { notes << QString("AF start %1 s").arg(clock.elapsed() / 1000.0); });
        connect(ui()->m_ControlWidget, &ControlWidget::completeTimeLapseAF, this, [&](int position, bool ok, TFineAFErrTable e) {
            notes << QString("AF end %1 s: position %2, success %3, error %4").arg(clock.elapsed() / 1000.0).arg(position).arg(ok).arg(int(e));
            ends << position;
        });
        connect(m_page, &TimeLapseWidget::captured, this, [&](bool) { notes << QString("frame %1 at %2 s").arg(count()).arg(clock.elapsed() / 1000.0); });
        run();
        QVERIFY(waitEnded(13 * 60 * 1000));
        for (const QString &note : notes)
            qInfo().noquote() << note;
        qInfo().noquote() << "offset" << m_page->focusOffset() << "start position" << m_page->startPosition();
        const int interval = ui()->m_ControlWidget->fineAF().fineAF().interval();
        QStringList offFocus;
        for (int end : ends)
            offFocus << QString::number(end - focus, 'f', 0);
        qInfo().noquote() << "AF ends" << ends << "true focus" << focus << "off by" << offFocus.join(", ") << "scan step" << interval;
        QCOMPARE(ends.size(), 11);
        for (int end : ends)
            QVERIFY2(std::abs(end - focus) <= interval, qPrintable(QString::number(end)));
        const QStringList frames = framesByPython(seriesFolder());
        QCOMPARE(frames.size(), 11);
        QVERIFY2(frames.last().endsWith("Time: 00:10:00"), qPrintable(frames.last()));
    }
};

QTEST_MAIN(TestTimeLapseCorrection)
#include "tst_timelapse_correction.moc"
