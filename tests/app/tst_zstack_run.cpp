// Z-stacks taken by the whole application on the simulated instrument, in both board dialects:
// the moves and captures of a stack, a range stack's files against the stage positions and its
// return, Stop while the stage moves, a board that goes silent, a refusal that moves nothing, the
// slice heights of stacks taken either way, and stills spoilt by a turret move.
#include "AppBench.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "HangBound.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "VideoWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackWidget.h"

#include <QtTest>

class TestZStackRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    QPointer<QDialog> m_progress;
    QList<int> m_captureSteps; // stage counter at each slice taken
    int m_stopAfter = -1;      // slices after which the progress box's Stop is pressed
    std::function<void(QDialog *)> m_onProgress; // run on the progress box once it shows

    ZStackWidget *page() const { return m_bench->ui()->m_ZStackWidget; }
    Ui_ZStackWidget *form() const { return page()->form(); }
    VirtualInstrument &stage() const { return m_bench->sim->instrument(); }
    int stageSteps() const { return stage().state().stagePosition; }

    // The application in live on the Z-stack page; the "Initializing" and progress boxes run until
    // the page closes them, every other box is answered with OK.
    void startLive(const QString &firmware)
    {
        SimulatedInstrument::Options options = AppBench::defaultOptions();
        QVERIFY(BoardProfile::fromName(firmware, &options.profile));
        m_bench = std::make_unique<AppBench>(options);
        m_bench->quietStart();
        m_bench->setConfig("Setting_ZStack", "StableTimeInterval", "0.1");
        m_bench->start();
        m_bench->setAnswer([this](QDialog *dialog) {
            const QString text = DialogScripts::messageText(dialog);
            if (!text.contains("Initializing") && !text.contains("Z-stack imaging in progress"))
                return 1;
            if (text.contains("progress"))
                m_progress = dialog;
            return DialogRunner::showAndRun(dialog, [this, text](QDialog *shown) {
                if (text.contains("progress") && m_onProgress)
                    m_onProgress(shown);
            }, 240000);
        });
        QTest::mouseClick(m_bench->ui()->BUTTON_Z_STACK_MENU, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        stage().setStagePosition(200000);
        QTest::mouseClick(form()->BUTTON_LIVE, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(QTest::qWaitFor([this] { return m_bench->ui()->m_VideoWidget->isRunning(); }, 15000));
        QCOMPARE(page()->currentState(), ZSTACK_LIVE);
        page()->setSavePath(Paths::ssd(), "cells");
        connect(m_bench->ui()->m_VideoWidget, &VideoWidget::captured, this, [this](uchar *, int) {
            m_captureSteps << stageSteps();
            if (m_captureSteps.size() == m_stopAfter)
                QTimer::singleShot(0, this, [this] {
                    if (m_progress)
                        QVERIFY(DialogRunner::click(m_progress, "BUTTON_OK"));
                });
        });
    }

    void setPosition(QPushButton *set, int steps)
    {
        stage().setStagePosition(steps);
        set->click();
        QVERIFY(QTest::qWaitFor([this, set] { return set->isChecked() && page()->motorRequest() < 0; }, 20000));
    }

    void useImageNumber(int n)
    {
        form()->RADIOBUTTON_IMAGE_NUMBER->click();
        form()->SPINBOX_IMAGE_NUMBER->setValue(n);
    }

    void useRange(int plus, int minus, double interval)
    {
        form()->RADIO_RANGE->click();
        form()->SPINBOX_RANGE_PLUS->setValue(plus);
        form()->SPINBOX_RANGE_MINUS->setValue(minus);
        form()->SPINBOX_INTERVAL->setValue(interval);
        // START takes the range around the position the panel polls.
        QVERIFY(QTest::qWaitFor([this] { return page()->motorRequest() < 0; }, 30000)); // a hang bound
        QTest::qWait(600);
    }

    QStringList stackFiles() const
    {
        return QDir(page()->stackFolder()).entryList({"*.tif"}, QDir::Files, QDir::Name);
    }

    // The "Z Position" text of each file as Python's tifffile reads it.
    QStringList zPositions() const
    {
        QProcess python;
        python.start("/usr/bin/python3", QStringList{"-c", "import sys,tifffile\nfor p in sys.argv[1:]:\n"
                                                           " d=tifffile.TiffFile(p).pages[0].description\n"
                                                           " print(d.split(';')[-1])"}
                                             + [this] {
                                                   QStringList paths;
                                                   for (const QString &f : stackFiles())
                                                       paths << page()->stackFolder() + "/" + f;
                                                   return paths;
                                               }());
        python.waitForFinished(kHangBoundMs);
        return QString::fromUtf8(python.readAllStandardOutput()).trimmed().split('\n');
    }

    void checkEndedFree()
    {
        if (page()->currentState() != ZSTACK_COMPLETED)
            qWarning() << "error code" << page()->errorCode() << m_bench->dialogs();
        QCOMPARE(page()->currentState(), ZSTACK_COMPLETED);
        QVERIFY(m_bench->ui()->m_ControlWidget->controller().isPulling());
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(!m_progress || !m_progress->isVisible());
    }

private slots:
    void init()
    {
        m_captureSteps.clear();
        m_stopAfter = -1;
        m_onProgress = nullptr;
        ZStackWidget::setAnswerTimeoutMs(0);
    }

    void cleanup()
    {
        m_bench.reset();
        ZStackWidget::setAnswerTimeoutMs(0);
    }

    // N slices: N captures, the move to the start and N - 1 moves of one step.
    void startToEnd_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::newRow("3.1") << "3.1";
        QTest::newRow("old") << "old";
    }
    void startToEnd()
    {
        QFETCH(QString, firmware);
        startLive(firmware);
        setPosition(form()->BUTTON_SET_START_POSITION, 200000);
        setPosition(form()->BUTTON_SET_END_POSITION, 200306); // 5.98 micrometres up
        useImageNumber(4);
        m_bench->sim->board()->clearLog();
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        checkEndedFree();
        QCOMPARE(m_captureSteps.size(), 4);
        QCOMPARE(m_bench->stageMoves(), QList<int>({-306, 102, 102, 102}));
        QCOMPARE(m_captureSteps, QList<int>({200000, 200102, 200204, 200306}));
        QCOMPARE(stackFiles(), QStringList({"cells_0000.tif", "cells_0001.tif", "cells_0002.tif", "cells_0003.tif"}));
        QCOMPARE(page()->zStack().thumbnails().size(), size_t(4));
        QCOMPARE(zPositions().first(), QString::fromUtf8("Z Position: 0.0 µm"));
        qInfo("%s: %lld ms a slice", qPrintable(firmware), page()->lastRunMs() / 4);
    }

    // Three stacks to one name go into cells, cells(1), cells(2): the name stays as chosen and the
    // path label shows the folder each stack went into.
    void stacksNumberFromTheChosenName()
    {
        startLive("3.1");
        setPosition(form()->BUTTON_SET_START_POSITION, 200000);
        setPosition(form()->BUTTON_SET_END_POSITION, 200102);
        useImageNumber(2);
        for (const QString folder : {"cells", "cells(1)", "cells(2)"}) {
            if (page()->currentState() == ZSTACK_COMPLETED) {
                QTest::mouseClick(form()->BUTTON_NEXT_Z_STACK, Qt::LeftButton);
                QVERIFY(QTest::qWaitFor([this] { return form()->BUTTON_Z_STACK_START->isEnabled(); }, 15000));
                QVERIFY(m_bench->waitUnlocked());
            }
            QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
            checkEndedFree();
            QCOMPARE(page()->stackFolder(), Paths::ssd() + '/' + folder);
            QCOMPARE(stackFiles(), QStringList({folder + "_0000.tif", folder + "_0001.tif"}));
            QCOMPARE(form()->LABEL_SAVE_PATH->text(), "/VANTOR SSD/" + folder);
            QCOMPARE(page()->folderName(), QString("cells"));
        }
    }

    // +-5 micrometres at 1: 11 slices from -5.0 to 5.0 that agree with where the stage stood, and
    // the stage back where it was.
    void rangeStack()
    {
        startLive("3.1");
        useRange(5, 5, 1.0);
        const int before = stageSteps();
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        checkEndedFree();
        QCOMPARE(m_captureSteps.size(), 11);
        QVERIFY(QTest::qWaitFor([this] { return !stage().state().stageMoving; }, 10000));
        QCOMPARE(stageSteps(), before);
        const QStringList z = zPositions();
        QCOMPARE(z.size(), 11);
        QCOMPARE(z.first(), QString::fromUtf8("Z Position: -5.0 µm"));
        QCOMPARE(z.last(), QString::fromUtf8("Z Position: 5.0 µm"));
        const auto value = [](const QString &text) { return text.section(' ', 2, 2).toDouble(); };
        for (int i = 0; i < z.size(); ++i) {
            const double moved = (m_captureSteps[i] - m_captureSteps[0]) / 51.2;
            QVERIFY2(std::abs(value(z[i]) - value(z[0]) - moved) <= 0.05 + 1e-9, qPrintable(z[i]));
        }
    }

    // Stop while the stage steps: the move ends, no further slice is taken, a range stack still
    // returns.
    void stopMidStack_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<bool>("range");
        QTest::newRow("start to end") << "3.1" << false;
        QTest::newRow("range") << "3.1" << true;
        QTest::newRow("range, old") << "old" << true;
    }
    void stopMidStack()
    {
        QFETCH(QString, firmware);
        QFETCH(bool, range);
        startLive(firmware);
        bool movingAtEnd = false;
        connect(page(), &ZStackWidget::changedState, this, [&] {
            if (page()->currentState() == ZSTACK_COMPLETED)
                movingAtEnd = stage().state().stageMoving;
        });
        const int before = stageSteps();
        if (range) {
            useRange(10, 0, 1.0);
        } else {
            setPosition(form()->BUTTON_SET_START_POSITION, before);
            setPosition(form()->BUTTON_SET_END_POSITION, before + 512);
            stage().setStagePosition(before);
        }
        m_stopAfter = 3;
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        checkEndedFree();
        QCOMPARE(m_captureSteps.size(), 3);
        QCOMPARE(stackFiles().size(), 3);
        QVERIFY(!movingAtEnd); // the stack ends once the stage stands, never on an earlier move's end
        QVERIFY(QTest::qWaitFor([this] { return !stage().state().stageMoving; }, 10000));
        if (range)
            QCOMPARE(stageSteps(), before);
        else
            QCOMPARE(stageSteps(), before + 3 * 51); // the step under way was finished, nothing more
    }

    // A board that stops answering mid-stack: the panel cannot see the step end, and the stack ends
    // there (well before the page's own answer limit) with polling back on, and says why.
    void silentBoard_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::newRow("old") << QString("old");
        QTest::newRow("3.1") << QString("3.1");
    }

    void silentBoard()
    {
        QFETCH(QString, profile);
        startLive(profile);
        useImageNumber(6);
        setPosition(form()->BUTTON_SET_START_POSITION, 200000);
        setPosition(form()->BUTTON_SET_END_POSITION, 200500);
        connect(m_bench->ui()->m_VideoWidget, &VideoWidget::captured, this, [this](uchar *, int) {
            if (m_captureSteps.size() == 2)
                m_bench->sim->board()->injectFault(BoardFault(BoardFault::Silence, -1));
        });
        m_bench->hastenStageWaits();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        // The panel holds a move without reply for up to its own limit before it gives up.
        qInfo("silent board: the stack ended %lld ms after START", clock.elapsed());
        QVERIFY(clock.elapsed() < 100000);
        m_bench->sim->board()->clearFaults();
        QCOMPARE(page()->currentState(), ZSTACK_COMPLETED);
        QVERIFY(m_bench->ui()->m_ControlWidget->controller().isPulling());
        QVERIFY(m_bench->dialogs().contains("MessageDlg:" + ZStackWidget::kStoppedAnsweringText));
        QVERIFY(m_captureSteps.size() < 6);
        QVERIFY(m_bench->waitUnlocked());
    }

    // Only SET START pressed: the preset message, and the stage does not move.
    void refusalMovesNothing()
    {
        startLive("3.1");
        setPosition(form()->BUTTON_SET_START_POSITION, 200000);
        m_bench->sim->board()->clearLog();
        m_bench->clearDialogs();
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        QVERIFY(m_bench->showedMessage(MSG_POSITION_NOT_SET));
        QCOMPARE(m_bench->stageMoves(), QList<int>());
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(page()->currentState(), ZSTACK_LIVE);
    }

    // Heights count from the lowest slice whichever way the stage travels, and agree with where
    // the stage stood for each slice.
    void sliceHeightsFromTheLowest_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::newRow("bottom up") << 200000 << 200306;
        QTest::newRow("top down") << 200306 << 200000;
    }
    void sliceHeightsFromTheLowest()
    {
        QFETCH(int, start);
        QFETCH(int, end);
        startLive("3.1");
        setPosition(form()->BUTTON_SET_START_POSITION, start);
        setPosition(form()->BUTTON_SET_END_POSITION, end);
        useImageNumber(4);
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        checkEndedFree();
        const QStringList z = zPositions();
        QCOMPARE(z.size(), 4);
        QCOMPARE(m_captureSteps.size(), 4);
        const int lowest = std::min(start, end);
        for (int i = 0; i < z.size(); ++i)
            QCOMPARE(z[i], QString::fromUtf8("Z Position: %1 µm").arg((m_captureSteps[i] - lowest) / 51.2, 0, 'f', 1));
    }

    // A turret move spoils the stills of one slice of a +-2 micrometre stack: the slice is taken
    // again at its height. A turret that keeps moving, or a Stop meanwhile, ends the stack with the
    // slices taken so far and the stage back where it began; a turret's end says so once, a
    // refusal is never taken for a silent board, no box waits inside a still, and a stack that
    // kept no slice leaves no folder.
    void aTurnDuringTheStack_data()
    {
        QTest::addColumn<int>("atSlice");  // the slice whose stills are refused
        QTest::addColumn<int>("refusals"); // how many (-1: until Stop is pressed)
        QTest::addColumn<int>("slices");   // slices kept
        QTest::addColumn<bool>("told");    // the turret's end of the stack is said
        QTest::newRow("retaken") << 1 << 2 << 3 << false;
        QTest::newRow("keeps moving") << 1 << 4 << 1 << true;
        QTest::newRow("keeps moving from the first slice") << 0 << 4 << 0 << true;
        QTest::newRow("Stop while retaking") << 1 << -1 << 1 << false;
    }
    void aTurnDuringTheStack()
    {
        QFETCH(int, atSlice);
        QFETCH(int, refusals);
        QFETCH(int, slices);
        QFETCH(bool, told);
        startLive("3.1");
        useRange(2, 2, 2.0);
        const int before = stageSteps();
        QList<int> refusedAt; // stage counter at each refused still
        QList<qint64> refusedMs; // and when it was judged
        QElapsedTimer clock;
        clock.start();
        m_bench->refuseStillsWhile([&] {
            const bool refuse = m_captureSteps.size() == atSlice && (refusals < 0 || refusedAt.size() < refusals);
            if (refuse) {
                refusedAt << stageSteps();
                refusedMs << clock.elapsed();
            }
            return refuse;
        });
        if (refusals < 0)
            connect(m_bench->ui()->m_VideoWidget, &VideoWidget::stillRefused, this, [this] {
                QTimer::singleShot(0, this, [this] {
                    if (m_progress)
                        DialogRunner::click(m_progress, "BUTTON_OK");
                });
            });
        m_bench->clearDialogs();
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        checkEndedFree();
        QCOMPARE(m_captureSteps.size(), slices);
        QCOMPARE(stackFiles().size(), slices);
        QCOMPARE(QDir(page()->stackFolder()).exists(), slices > 0);
        QVERIFY(!refusedAt.isEmpty());
        for (int at : refusedAt) // every retake at the spoilt slice's height
            QCOMPARE(at, slices > atSlice ? m_captureSteps[atSlice] : refusedAt.first());
        for (int i = 1; i < refusedMs.size(); ++i) // each retake after its pause: a turn by hand may end
            QVERIFY2(refusedMs[i] - refusedMs[i - 1] >= StillRetakes::kPauseMs,
                     qPrintable(QString("retake %1 judged %2 ms after the still before").arg(i).arg(refusedMs[i] - refusedMs[i - 1])));
        QVERIFY(QTest::qWaitFor([this] { return !stage().state().stageMoving; }, 10000));
        QCOMPARE(stageSteps(), before);
        const QStringList boxes = m_bench->dialogs();
        QVERIFY2(!boxes.contains("MessageDlg:" + ZStackWidget::kStoppedAnsweringText), qPrintable(boxes.join('\n')));
        QVERIFY2(boxes.filter("moved while it was taken").isEmpty(), qPrintable(boxes.join('\n')));
        QCOMPARE(boxes.count("MessageDlg:" + ZStackWidget::kTurretMovedText), told ? 1 : 0);
    }

    // Stop offered from START: pressed in the box at once, while the stage moves to the start, or
    // while slice 0 is retaken, it ends the stack with no slice and no folder, a range stack's
    // stage back where it stood at START (focused on after the range was set), a start-to-end
    // stack's at its start once that move ended; the stack ends once.
    void stopBeforeTheFirstSlice_data()
    {
        QTest::addColumn<int>("when"); // 0 at once, 1 moving to the start, 2 retaking slice 0
        QTest::addColumn<bool>("range");
        QTest::newRow("at once, range") << 0 << true;
        QTest::newRow("moving to the start, range") << 1 << true;
        QTest::newRow("moving to the start, start to end") << 1 << false;
        QTest::newRow("retaking slice 0, range") << 2 << true;
    }
    void stopBeforeTheFirstSlice()
    {
        QFETCH(int, when);
        QFETCH(bool, range);
        startLive("3.1");
        int before = stageSteps();
        if (range) {
            useRange(0, 20, 2.0);
            before += 300; // focused on after the range was set
            stage().setStagePosition(before);
            QTest::qWait(300); // a status poll or two
        } else {
            setPosition(form()->BUTTON_SET_START_POSITION, before - 1024);
            setPosition(form()->BUTTON_SET_END_POSITION, before);
            stage().setStagePosition(before);
        }
        bool stopShown = false;
        const auto pressStop = [this, &stopShown] {
            QTimer::singleShot(0, this, [this, &stopShown] {
                if (!m_progress)
                    return;
                stopShown = m_progress->findChild<QWidget *>("BUTTON_OK")->isVisible();
                DialogRunner::click(m_progress, "BUTTON_OK");
            });
        };
        if (when == 0)
            m_onProgress = [&](QDialog *) { pressStop(); };
        if (when == 1)
            connect(page(), &ZStackWidget::signalSetMotorSpeedAndStartZPosition, this, pressStop);
        if (when == 2) {
            m_bench->refuseStillsWhile([] { return true; });
            connect(m_bench->ui()->m_VideoWidget, &VideoWidget::stillRefused, this, pressStop);
        }
        QSignalSpy ends(page(), &ZStackWidget::signalEndZStacking);
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        checkEndedFree();
        QCOMPARE(ends.count(), 1); // ended once
        QVERIFY(stopShown);
        QCOMPARE(m_captureSteps.size(), 0);
        QVERIFY(!QDir(page()->stackFolder()).exists());
        QVERIFY(QTest::qWaitFor([this] { return !stage().state().stageMoving; }, 10000));
        QCOMPARE(stageSteps(), range ? before : before - 1024);
        QVERIFY2(!m_bench->dialogs().contains("MessageDlg:" + ZStackWidget::kTurretMovedText), qPrintable(m_bench->dialogs().join('\n')));
    }
};

QTEST_MAIN(TestZStackRun)
#include "tst_zstack_run.moc"
