// Time-lapse series on the simulated instrument, through the main window's wiring: frames on
// schedule written as TIFF files, pause and resume, stop, the last frame, a failed write, and the
// focus-drift correction with the simulator's own autofocus (its timer slots called directly).
#include "AppBench.h"
#include "Controller.h"
#include "ControlWidget.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "TimeLapseWidget.h"
#include "ui_NIMBODlg.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>
#include <unistd.h>

namespace {

// What Python's tifffile reads from every frame of a series, in name order: one line per file,
// "WIDTHxHEIGHT BITS MAX <last description item>".
QStringList framesByPython(const QString &folder)
{
    const char *script = "import glob, os, sys, tifffile\n"
                         "for f in sorted(glob.glob(os.path.join(sys.argv[1], '*.tif'))):\n"
                         "    with tifffile.TiffFile(f) as t:\n"
                         "        p = t.pages[0]\n"
                         "        a = p.asarray()\n"
                         "        print('%dx%d %d %d %s' % (a.shape[1], a.shape[0], a.dtype.itemsize * 8, a.max(),"
                         " p.description.split(';')[-1]))\n";
    QProcess python;
    python.start(QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3", {"-c", script, folder});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return {"python failed: " + QString::fromUtf8(python.readAllStandardError())};
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestTimeLapseRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    TimeLapseWidget *m_page = nullptr;

    Ui_NIMBODlg *ui() const { return m_bench->ui(); }
    template <class T>
    T *w(const char *name) const { return m_page->findChild<T *>(name); }
    QString seriesFolder() const { return m_page->savePath() + '/' + m_page->seriesName(); }
    int count() const { return m_page->plan().count(); }

    // The application started on the Time lapse page, live, ready to run.
    bool enter(const SimulatedInstrument::Options &options = AppBench::defaultOptions(), const char *cameraMode = "8")
    {
        m_bench = std::make_unique<AppBench>(options);
        m_bench->quietStart();
        m_bench->setConfig("Camera", "Mode", cameraMode);
        for (int lens = 1; lens <= 5; ++lens)
            m_bench->setConfig("LensNA", qPrintable(QString::number(lens)), "0.25");
        m_bench->start();
        if (!m_bench->menuUnlocked())
            return false;
        QTest::mouseClick(ui()->BUTTON_TIME_LAPSE_MENU, Qt::LeftButton);
        m_page = ui()->m_TimeLapseWidget;
        if (!m_bench->waitUnlocked() || g_CurrentMenu != MENU_TIMELAPSE)
            return false;
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_LIVE"), Qt::LeftButton);
        return QTest::qWaitFor([this] { return w<QPushButton>("BUTTON_TIMELAPSE_RUN")->isEnabled(); }, 15000)
               && m_bench->waitUnlocked() && m_page->currentState() == TIMELAPSE_LIVE;
    }

    void plan(int minutes, int seconds, int interval, const QString &unit, bool correction = false)
    {
        w<QSpinBox>("SPINBOX_HOUR")->setValue(0);
        w<QSpinBox>("SPINBOX_MINUTE")->setValue(minutes);
        w<QSpinBox>("SPINBOX_SECOND")->setValue(seconds);
        w<QComboBox>("COMBOBOX_INTERVAL_TYPE")->setCurrentText(unit);
        w<QDoubleSpinBox>("SPINBOX_INTERVAL")->setValue(interval);
        w<QComboBox>("COMBO_FOCUS_DRIFT")->setCurrentText(correction ? "On" : "Off");
        QDir(Paths::ssd()).mkpath("Data");
        m_page->setSaveTarget(Paths::path("/media/VANTOR SSD/Data"), "Cells", "tif");
    }

    void run() { QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_RUN"), Qt::LeftButton); }
    bool waitForCount(int n, int timeoutMs = 30000) const
    {
        return QTest::qWaitFor([this, n] { return count() >= n; }, timeoutMs);
    }
    bool waitEnded(int timeoutMs = 30000) const
    {
        return QTest::qWaitFor([this] { return m_page->currentState() == TIMELAPSE_SHOWN; }, timeoutMs);
    }
    bool polling() const { return ui()->m_ControlWidget->controller().isPulling(); }

private slots:
    void init() { g_CurrentMenu = MENU_MULTICOLOR; }
    void cleanup()
    {
        m_page = nullptr;
        m_bench.reset();
    }

    // Total 4 s, interval 1 s: five frames at 0 .. 4 s, each written at once.
    void fiveFrames_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("8-bit") << "8";
        QTest::newRow("16-bit") << "16";
    }
    void fiveFrames()
    {
        QFETCH(QString, mode);
        QVERIFY(enter(AppBench::defaultOptions(), qPrintable(mode)));
        plan(0, 4, 1, "Second");
        QSignalSpy completed(m_page, &TimeLapseWidget::completed);
        run();
        QVERIFY(waitEnded());
        QCOMPARE(count(), 5);
        QCOMPARE(m_page->plan().thumbnails().size(), size_t(5));
        QCOMPARE(m_page->plan().thumbnails()[4].thumbnail.size(), QSize(80, 60));
        QCOMPARE(m_page->plan().thumbnails()[4].path, seriesFolder() + "/Cells_0004.tif");
        QCOMPARE(completed.count(), 1);
        QVERIFY(polling());
        QVERIFY(!m_page->isPaused());
        const int bits = mode.toInt();
        QStringList expected;
        for (int i = 0; i < 5; ++i)
            expected << QString("1280x1024 %1 MAX Time: 00:00:0%2").arg(bits).arg(i);
        QStringList frames = framesByPython(seriesFolder());
        for (QString &line : frames) { // the brightest sample stays within the camera's range
            const int max = line.section(' ', 2, 2).toInt();
            QVERIFY2(max > 0 && max <= (bits == 16 ? 4095 : 255), qPrintable(line));
            line = line.section(' ', 0, 1) + " MAX " + line.section(' ', 3);
        }
        QCOMPARE(frames, expected);
        QCOMPARE(w<QWidget>("BUTTON_TIMELAPSE_RUN")->isEnabled(), false); // ended, not paused
    }

    // Pause keeps the plan and the remaining times; Run goes on from there; Stop while paused
    // ends the series for good.
    void pauseResumeAndStop()
    {
        QVERIFY(enter());
        plan(0, 6, 1, "Second"); // seven frames
        run();
        QVERIFY(waitForCount(2));
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_PAUSE"), Qt::LeftButton);
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
        QVERIFY(m_page->isPaused());
        QVERIFY(polling());
        const int paused = count();
        QVERIFY(m_bench->waitUnlocked());
        QTest::qWait(1500);
        QCOMPARE(count(), paused); // no tick takes a frame while paused
        QVERIFY(w<QWidget>("BUTTON_TIMELAPSE_RUN")->isEnabled());

        run(); // resumes from the kept times
        QCOMPARE(m_page->currentState(), TIMELAPSE_ACQUIRING);
        QVERIFY(!polling());
        QVERIFY(waitForCount(paused + 1));
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_PAUSE"), Qt::LeftButton);
        QVERIFY(m_page->isPaused());
        const int taken = count();
        QVERIFY(taken < 7);
        QVERIFY(m_bench->waitUnlocked());
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_STOP"), Qt::LeftButton);
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
        QVERIFY(!m_page->isPaused());
        QVERIFY(!w<QWidget>("BUTTON_TIMELAPSE_RUN")->isEnabled());
        QCOMPARE(count(), taken);
        // Every frame kept its own time: numbered in order, one second apart.
        const QStringList frames = framesByPython(seriesFolder());
        QCOMPARE(frames.size(), taken);
        for (int i = 0; i < taken; ++i)
            QVERIFY2(frames[i].endsWith(QString("Time: 00:00:0%1").arg(i)), qPrintable(frames[i]));
    }

    // Paused just after the light went on with one frame to go: the resume takes it at once,
    // starts no timer and ends the series.
    void lastFrameAtOnce()
    {
        QVERIFY(enter());
        plan(0, 2, 1, "Second"); // three frames
        run();
        QVERIFY(waitForCount(2));
        QMetaObject::invokeMethod(m_page, "enableLightON");
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_PAUSE"), Qt::LeftButton);
        QCOMPARE(count(), 2);
        QVERIFY(m_bench->waitUnlocked());
        run();
        QCOMPARE(count(), 3); // taken within the click
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
        QVERIFY(!m_page->isPaused());
        QTest::qWait(1500);
        QCOMPARE(count(), 3);
        QCOMPARE(framesByPython(seriesFolder()).value(2).section(' ', 3), QString("Time: 00:00:02"));
    }

    // A frame that cannot be written ends the series with the frames written so far.
    void failedWriteEndsTheSeries()
    {
        QVERIFY(enter());
        plan(0, 5, 1, "Second");
        run();
        QVERIFY(waitForCount(1));
        const QString folder = seriesFolder();
        // A folder that takes no file: read-only, or (for root, who writes anyway) a plain file.
        if (::geteuid() == 0) {
            QVERIFY(QDir(folder).removeRecursively());
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        QVERIFY(waitEnded());
        QCOMPARE(count(), 2);
        QCOMPARE(m_page->plan().thumbnails().size(), size_t(1));
        QVERIFY(m_bench->dialogs().contains("MessageDlg:<p><b>Save failed.</b></p>"));
        QVERIFY(polling());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The first correction of a start learns the offset from the stage's positions; with N = 3
    // only every third correction tick runs the autofocus, and only those move by the offset.
    void driftCorrection()
    {
        QVERIFY(enter());
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
            QCOMPARE(moves.count(), tick == 3 ? 1 : 0);
        }
        disconnect(tickInside);
        QCOMPARE(countInsideAF, 1);
        QCOMPARE(count(), 2);
        QCOMPARE(moves[0][0].toInt(), m_page->focusOffset());
        QCOMPARE(moves[0][1].toBool(), false);
        QVERIFY(w<QWidget>("BUTTON_TIMELAPSE_STOP")->isEnabled());
        QTest::mouseClick(w<QPushButton>("BUTTON_TIMELAPSE_STOP"), Qt::LeftButton);
        QCOMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
        QCOMPARE(framesByPython(seriesFolder()).size(), 2);
    }

    // Ten minutes at one frame a minute with a correction before every frame, on the real clock.
    // Long: runs only with VANTOR_LONG_RUN=1, and prints the frames, autofocus times and positions.
    void tenMinuteSeriesWithCorrection()
    {
        if (qEnvironmentVariable("VANTOR_LONG_RUN") != "1")
            QSKIP("ten minutes; set VANTOR_LONG_RUN=1 and QTEST_FUNCTION_TIMEOUT=900000");
        QVERIFY(enter());
        plan(10, 0, 1, "Minute", true);
        QElapsedTimer clock;
        clock.start();
        QStringList notes;
        connect(m_page, &TimeLapseWidget::TimeLapseAF, this, [&] { notes << QString("AF start %1 s").arg(clock.elapsed() / 1000.0); });
        connect(ui()->m_ControlWidget, &ControlWidget::completeTimeLapseAF, this, [&](int position, bool ok, TFineAFErrTable e) {
            notes << QString("AF end %1 s: position %2, success %3, error %4").arg(clock.elapsed() / 1000.0).arg(position).arg(ok).arg(int(e));
        });
        connect(m_page, &TimeLapseWidget::captured, this, [&](bool) { notes << QString("frame %1 at %2 s").arg(count()).arg(clock.elapsed() / 1000.0); });
        run();
        QVERIFY(waitEnded(13 * 60 * 1000));
        for (const QString &note : notes)
            qInfo().noquote() << note;
        qInfo().noquote() << "offset" << m_page->focusOffset() << "start position" << m_page->startPosition();
        const QStringList frames = framesByPython(seriesFolder());
        QCOMPARE(frames.size(), 11);
        QVERIFY2(frames.last().endsWith("Time: 00:10:00"), qPrintable(frames.last()));
    }

    // An autofocus the board cannot run (the old dialect): preset 38, back to live view, no frame,
    // polling on again; the page still waited for the old board's late position answer.
    void driftCorrectionRefused()
    {
        SimulatedInstrument::Options options = AppBench::defaultOptions();
        QVERIFY(BoardProfile::fromName("old", &options.profile));
        QVERIFY(enter(options));
        plan(30, 0, 5, "Minute", true);
        QSignalSpy positions(ui()->m_ControlWidget, &ControlWidget::signalCurrentMotorPosition);
        run();
        QVERIFY(m_bench->showedMessage(MSG_FINEAF_NOT_SUPPORTED));
        QCOMPARE(m_page->currentState(), TIMELAPSE_LIVE);
        QCOMPARE(count(), 0);
        QVERIFY(QDir(seriesFolder()).isEmpty());
        QVERIFY(polling());
        QVERIFY(!positions.isEmpty());
        QCOMPARE(m_page->startPosition(), positions[0][0].toInt());
    }
};

QTEST_MAIN(TestTimeLapseRun)
#include "tst_timelapse_run.moc"
