// The cube turret turned by hand at long exposures: on every page that goes live the new cube's
// image is shown within one exposure and two seconds of the turret standing, and no frame of the
// old cube is shown once the turn is known; a still across a turn is never kept under the name of
// a cube it does not show. An objective turned during live video or a still is a change of scene
// as well.
#include "AppBench.h"
#include "CameraAccess.h"
#include "CameraTables.h"
#include "CaptureThread.h"
#include "Controller.h"
#include "ControlWidget.h"
#include "FrameRing.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "MonotonicClock.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"

#include <QDir>
#include <QtTest>

#include <QSignalSpy>

#include <atomic>
#include <numeric>
#include <thread>

class TestLiveTurns : public QObject
{
    Q_OBJECT

    static constexpr int kTrans = 0;
    static constexpr int kGfp = 3;       // dark: its LED at 1 %
    static constexpr int kTurnMs = 400;  // the turret's transient by hand
    static constexpr double kBright = 128; // Trans frames are near white, GFP and blocked ones dark
    static constexpr int kObjectiveTurnMs = 600;

    std::unique_ptr<AppBench> m_bench;

    ControlWidget *panel() const { return m_bench->ui()->m_ControlWidget; }
    VideoWidget *video() const { return m_bench->ui()->m_VideoWidget; }

    static double mean8(const unsigned char *frame)
    {
        const int64_t sum = std::accumulate(frame, frame + kFrameBytes8, int64_t(0));
        return double(sum) / kFrameBytes8;
    }

    // The cube's settings are taken when the turret reaches it (the panel keeps those of the cube
    // it leaves): they are set for the cube turned to, then the turret is turned by hand.
    void turnByHand(int cube, int row)
    {
        const QByteArray section = QByteArray("Filter_") + QByteArray::number(cube);
        m_bench->setConfig(section, "Exposure", QByteArray::number(row));
        m_bench->setConfig(section, "Light", cube == kGfp ? "1" : "50");
        m_bench->sim->instrument().turnFilter(cube, kTurnMs);
    }
    bool turnTo(int cube, int row)
    {
        turnByHand(cube, row);
        return QTest::qWaitFor([this, cube] { return panel()->currentFilterPosition() == cube; }, kHangBoundMs);
    }

    // Turns to cube and watches the frames handed to the display from the moment the application
    // knows of the turn: the first must be the new cube's; returns the seconds from the turret
    // standing to it, or -1 when another came first or none within bound.
    double secondsToNewCube(int cube, int row, double boundS)
    {
        const int64_t turnedUs = MonotonicClock::nowUs();
        turnByHand(cube, row);
        if (!QTest::qWaitFor([&] { return g_scene_changed_us >= turnedUs; }, kHangBoundMs))
            return -1;
        uint64_t seen = g_frameRing.handedOver();
        double shownMean = -1;
        QTest::qWaitFor([&] {
            if (g_frameRing.handedOver() == seen)
                return false;
            seen = g_frameRing.handedOver();
            shownMean = mean8(g_frameRing.slot(g_frameRing.drawIndex()));
            return true;
        }, int(boundS * 1000 / MonotonicClock::rate()) + 2000);
        const double afterStandS = (MonotonicClock::nowUs() - turnedUs) / 1e6 - kTurnMs / 1000.0;
        const bool isNew = shownMean >= 0 && (shownMean > kBright) == (cube == kTrans);
        qInfo("cube %d: first frame shown %.2f s after the turret stood, mean %.1f", cube, afterStandS, shownMean);
        return isNew && afterStandS <= boundS ? afterStandS : -1;
    }

    int nextObjective() const { return panel()->controller().getLensPosition() % 5 + 1; }

    // Opens the page and presses its LIVE, as the user does before turning the cube.
    bool goLive(int menu)
    {
        static const char *const opens[] = {"on_BUTTON_MULTI_COLOR_MENU_clicked", "on_BUTTON_Z_STACK_MENU_clicked",
                                            "on_BUTTON_TIME_LAPSE_MENU_clicked", "on_BUTTON_COUNT_MENU_clicked"};
        Ui_NIMBODlg *ui = m_bench->ui();
        QObject *const pages[] = {ui->m_MultiColorWidget, ui->m_ZStackWidget, ui->m_TimeLapseWidget, ui->m_CellCountWidget};
        const char *live = menu == MENU_TIMELAPSE ? "on_BUTTON_TIMELAPSE_LIVE_clicked" : "on_BUTTON_LIVE_clicked";
        return QMetaObject::invokeMethod(m_bench->window.get(), opens[menu]) && m_bench->waitUnlocked()
               && QMetaObject::invokeMethod(pages[menu], live) && m_bench->waitUnlocked() && video()->isRunning();
    }

    // The TIFF files in the auto-save folder.
    static QStringList savedFiles()
    {
        return QDir(Paths::ssd() + "/Quicksave").entryList({"*.tif"}, QDir::Files, QDir::Name);
    }

private slots:
    // On real time, not the fast clock: the serial link's polling and the panel's work take real
    // time, and the bound of one exposure and two seconds holds them too.
    void initTestCase()
    {
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->setConfig("Setting_MultiColor", "Autosave", "1");
        m_bench->start();
    }
    void cleanupTestCase()
    {
        m_bench.reset();
    }
    // Each row judges only the messages it brought: one row's camera error fails no later row.
    void init() { m_bench->clearDialogs(); }

    void aTurnShowsTheNewCubeSoon_data()
    {
        QTest::addColumn<int>("menu");
        QTest::addColumn<int>("row");    // the Trans cube's exposure
        QTest::addColumn<int>("gfpRow"); // the GFP cube's
        const char *const names[] = {"Multicolor", "Z-stack", "Time lapse", "Cell count"};
        for (int menu : {MENU_MULTICOLOR, MENU_ZSTACK, MENU_TIMELAPSE, MENU_CELLCOUNT}) {
            QTest::addRow("%s, 3 s", names[menu]) << menu << 31 << 31;
            QTest::addRow("%s, 10 s", names[menu]) << menu << 45 << 45;
        }
        QTest::newRow("Multicolor, Trans 3 s, GFP 10 s") << int(MENU_MULTICOLOR) << 31 << 45;
    }
    void aTurnShowsTheNewCubeSoon()
    {
        QFETCH(int, menu);
        QFETCH(int, row);
        QFETCH(int, gfpRow);
        QVERIFY(goLive(menu));
        const int first = panel()->currentFilterPosition() == kGfp ? kTrans : kGfp;
        QVERIFY(turnTo(first, first == kGfp ? gfpRow : row));

        for (int cube : {kTrans, kGfp, kTrans}) {
            if (panel()->currentFilterPosition() == cube)
                continue;
            const int cubeRow = cube == kGfp ? gfpRow : row;
            const double boundS = ExposureLUT8[cubeRow][0] / 1000.0 + 2;
            const double s = secondsToNewCube(cube, cubeRow, boundS);
            QVERIFY2(s >= 0, qPrintable(QString("cube %1 not shown first within %2 s").arg(cube).arg(boundS)));
        }
        QVERIFY(!g_out_of_grabbing_time);
        QVERIFY(!m_bench->showedMessage(33));
    }

    // CAPTURE on the Multicolor page with auto-save, the cube turned by hand 0.2 to 1.5 s later:
    // the still is refused with a message, or its file carries the cube it shows. Without a turn
    // the file is written at once.
    void aStillAcrossATurnIsNeverMislabelled_data()
    {
        QTest::addColumn<double>("turnAfterS"); // -1: no turn
        QTest::newRow("no turn") << -1.0;
        QTest::newRow("turn after 0.2 s") << 0.2;
        QTest::newRow("turn after 0.8 s") << 0.8;
        QTest::newRow("turn after 1.5 s") << 1.5;
    }
    void aStillAcrossATurnIsNeverMislabelled()
    {
        QFETCH(double, turnAfterS);
        constexpr int row = 31; // 3 s
        QVERIFY(goLive(MENU_MULTICOLOR));
        if (panel()->currentFilterPosition() != kTrans)
            QVERIFY(turnTo(kTrans, row));
        QVERIFY(QTest::qWaitFor([this] { return video()->isRunning() && !g_skip_a_frame_80ms_exposure; }, kHangBoundMs));

        const QStringList before = savedFiles();
        m_bench->clearDialogs();
        std::thread hand;
        if (turnAfterS >= 0)
            hand = std::thread([&] {
                MonotonicClock::sleepUs(int64_t(turnAfterS * 1e6));
                m_bench->sim->instrument().turnFilter(kGfp, kTurnMs);
            });
        QVERIFY(QMetaObject::invokeMethod(m_bench->ui()->m_MultiColorWidget, "on_BUTTON_CAPTURE_clicked"));
        if (hand.joinable())
            hand.join();
        const bool refused = !m_bench->dialogs().filter("moved while it was taken").isEmpty();
        QStringList written;
        QTest::qWaitFor([&] {
            written = savedFiles();
            for (const QString &name : before)
                written.removeAll(name);
            return refused || !written.isEmpty();
        }, kHangBoundMs);
        QTest::qWait(300); // a second file would show by now
        written = savedFiles();
        for (const QString &name : before)
            written.removeAll(name);

        if (turnAfterS < 0)
            QVERIFY(!refused);
        QCOMPARE(written.size(), refused ? 0 : 1);
        for (const QString &name : written) {
            ImReaderWriter image;
            QVERIFY(QTest::qWaitFor([&] { return image.read(QFile::encodeName(Paths::ssd() + "/Quicksave/" + name)); },
                                    kHangBoundMs));
            const double mean = mean8(static_cast<const unsigned char *>(image.data(8)));
            qInfo("%s: mean %.1f", qPrintable(name), mean);
            QVERIFY2((mean > kBright) == name.contains("Trans"), qPrintable(QString("%1 has mean %2").arg(name).arg(mean)));
        }
    }

    // The objective turned by hand during live video at 3 s: the frame exposed across the turn is
    // dropped, or never comes (the sensor started over as the light went out and came back), and
    // the first one shown after the new objective is reported is lit.
    void anObjectiveTurnDuringLiveVideoIsNotShown()
    {
        QVERIFY(goLive(MENU_MULTICOLOR));
        if (panel()->currentFilterPosition() != kTrans)
            QVERIFY(turnTo(kTrans, 31));
        QVERIFY(QTest::qWaitFor([] { return !g_skip_a_frame_80ms_exposure; }, kHangBoundMs));
        const int objective = nextObjective();
        QSignalSpy reported(panel(), &ControlWidget::changeLensPosition);
        QSignalSpy startedOver(panel(), qOverload<int, int, int>(&ControlWidget::signalChangeExposure));
        const uint64_t droppedBefore = video()->captureThread()->counters().framesDropped;
        m_bench->sim->instrument().turnObjective(objective, kObjectiveTurnMs);
        QVERIFY(QTest::qWaitFor([&] { return reported.contains({objective}); }, kHangBoundMs));
        const uint64_t seen = g_frameRing.handedOver();
        QVERIFY(QTest::qWaitFor([seen] { return g_frameRing.handedOver() > seen; }, kHangBoundMs));
        const double shownMean = mean8(g_frameRing.slot(g_frameRing.drawIndex()));
        const uint64_t dropped = video()->captureThread()->counters().framesDropped - droppedBefore;
        qInfo("objective %d: %llu frames dropped, the next shown has mean %.1f", objective,
              static_cast<unsigned long long>(dropped), shownMean);
        QVERIFY2(dropped > 0 || !startedOver.isEmpty(), "a frame exposed across the turn was shown");
        QVERIFY2(shownMean > kBright, qPrintable(QString("mean %1").arg(shownMean)));
    }

    // The objective turned by hand half a second into the exposure of a still at 3 s: the still
    // is refused, or (once the turn is seen during the wait) it began after the turret stood.
    void anObjectiveTurnDuringAStillIsNeverKept()
    {
        QVERIFY(goLive(MENU_MULTICOLOR));
        QVERIFY(QTest::qWaitFor([] { return !g_skip_a_frame_80ms_exposure; }, kHangBoundMs));
        const int objective = nextObjective();
        std::atomic<int64_t> stoodUs{0};
        std::thread hand([&] {
            if (!MonotonicClock::waitFor([] { return !g_captured; }, kHangBoundMs))
                return;
            const int64_t beginUs = m_bench->sim->camera().nextExposureBeginUs(); // the still's frame
            MonotonicClock::sleepUs(beginUs + 500000 - MonotonicClock::nowUs());
            m_bench->sim->instrument().turnObjective(objective, kObjectiveTurnMs);
            stoodUs = MonotonicClock::nowUs() + kObjectiveTurnMs * 1000;
        });
        m_bench->clearDialogs();
        const bool kept = video()->capture();
        hand.join();
        QVERIFY(stoodUs > 0);
        qInfo("still %s, began %.2f s after the turret stood", kept ? "kept" : "refused",
              (g_still_began_us - stoodUs) / 1e6);
        QVERIFY2(!kept || g_still_began_us >= stoodUs, "a still exposed across the turn was kept");
        QVERIFY(QTest::qWaitFor([&] { return panel()->controller().getReportedLens() == objective; }, kHangBoundMs));
    }
};

QTEST_MAIN(TestLiveTurns)
#include "tst_live_turns.moc"
