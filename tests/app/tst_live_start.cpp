// Live started at a long exposure right after a cube turn, on every page that goes live: the
// interface waits for the first frame the camera delivers, not for the frames dropped after the
// turn, and the taps on the exposure's + made while it waits are all taken.
#include "AppBench.h"
#include "CameraAccess.h"
#include "CameraTables.h"
#include "CellCountWidget.h"
#include "ControlWidget.h"
#include "FrameRing.h"
#include "GrowthMonitorWidget.h"
#include "FastClock.h"
#include "HangBound.h"
#include "MessageDlg.h"
#include "MonotonicClock.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "TimeLapseWidget.h"
#include "VideoWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>

#include <thread>

class TestLiveStart : public QObject
{
    Q_OBJECT

    static constexpr int kTaps = 9;
    static constexpr int kLongRow = 36; // 5,500 ms

    std::unique_ptr<FastClock> m_fast;
    std::unique_ptr<AppBench> m_bench;

    ControlWidget *panel() const { return m_bench->ui()->m_ControlWidget; }
    Ui_NIMBODlg *ui() const { return m_bench->ui(); }
    QString shownExposure() const { return panel()->findChild<QLabel *>("LABEL_EXPOSURE")->text(); }

    // Sets the page's state that shows its images (live video stops); returns its live button.
    template <class Page, class State>
    static QPushButton *browse(Page *page, State state, const char *liveButton)
    {
        page->setCurrentState(state);
        return page->template findChild<QPushButton *>(liveButton);
    }

    // Taps queued while the interface thread is held, as the window system queues them: they are
    // handed out when that thread next takes events. True when all were queued before live video
    // ran.
    static bool tapWhileStarting(QWidget *target, QPointF at)
    {
        if (!MonotonicClock::waitFor([] { return g_capture && !g_is_running; }, kHangBoundMs))
            return false;
        for (int tap = 0; tap < kTaps; ++tap) {
            QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, Qt::LeftButton,
                                                                Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, at, Qt::LeftButton,
                                                                Qt::NoButton, Qt::NoModifier));
        }
        return !g_is_running;
    }

private slots:
    void initTestCase()
    {
        m_fast = std::make_unique<FastClock>();
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->start();
    }
    void cleanupTestCase()
    {
        m_bench.reset();
        m_fast.reset();
    }
    // Each row judges only the messages it brought: one row's camera error fails no later row.
    void init() { m_bench->clearDialogs(); }

    void tapsDuringALongStartAreTaken_data()
    {
        QTest::addColumn<int>("menu");
        QTest::addColumn<int>("cube"); // turned to while live video is off; not Trans for the
                                       // count, whose Live sets Trans to the shortest exposure
        QTest::newRow("Multicolor") << int(MENU_MULTICOLOR) << 3;
        QTest::newRow("Z-stack") << int(MENU_ZSTACK) << 1;
        QTest::newRow("Time lapse") << int(MENU_TIMELAPSE) << 2;
        QTest::newRow("Cell count") << int(MENU_CELLCOUNT) << 3;
        QTest::newRow("Growth") << int(MENU_GROWTH_MONITOR) << 1;
    }
    void tapsDuringALongStartAreTaken()
    {
        QFETCH(int, menu);
        QFETCH(int, cube);
        static const char *const opens[] = {"on_BUTTON_MULTI_COLOR_MENU_clicked", "on_BUTTON_Z_STACK_MENU_clicked",
                                            "on_BUTTON_TIME_LAPSE_MENU_clicked", "on_BUTTON_COUNT_MENU_clicked",
                                            "on_BUTTON_MONITOR_MENU_clicked"};
        QVERIFY(QMetaObject::invokeMethod(m_bench->window.get(), opens[menu]));
        QVERIFY(m_bench->waitUnlocked());
        VideoWidget *video = ui()->m_VideoWidget;
        QVERIFY(video->isRunning());

        // The page's images: live video stops.
        QPushButton *live = nullptr;
        switch (menu) {
        case MENU_MULTICOLOR: live = browse(ui()->m_MultiColorWidget, MULTI_CHANNEL, "BUTTON_LIVE"); break;
        case MENU_ZSTACK: live = browse(ui()->m_ZStackWidget, ZSTACK_COMPLETED, "BUTTON_LIVE"); break;
        case MENU_TIMELAPSE: live = browse(ui()->m_TimeLapseWidget, TIMELAPSE_SHOWN, "BUTTON_TIMELAPSE_LIVE"); break;
        case MENU_CELLCOUNT: live = browse(ui()->m_CellCountWidget, CELLCOUNT_RESULT, "BUTTON_LIVE"); break;
        default: live = browse(ui()->m_GrowthMonitorWidget, GROWTH_RESULT, "BUTTON_LIVE");
        }
        QVERIFY(QTest::qWaitFor([video, live] { return !video->isRunning() && live->isVisible() && live->isEnabled(); },
                                kHangBoundMs));

        // The cube turned by hand: its exposure is written again and four frames are to be dropped.
        m_bench->setConfig(qPrintable(QString("Filter_%1").arg(cube)), "Exposure", QByteArray::number(kLongRow).constData());
        m_bench->sim->instrument().turnFilter(cube, 0);
        QVERIFY(QTest::qWaitFor([this, cube] { return panel()->currentFilterPosition() == cube; }, kHangBoundMs));
        QCOMPARE(shownExposure(), QString::number(ExposureLUT8[kLongRow][0]));
        QVERIFY(g_skip_a_frame_80ms_exposure);
        // Written once more just before Live, as the turn did, so that the first frame is a whole
        // exposure away however long the turn took to be seen.
        video->slotSetCurrentExposure(ExposureLUT8[kLongRow][0], ExposureLUT8[kLongRow][1], ExposureLUT8[kLongRow][2]);

        const uint64_t framesBefore = m_bench->sim->camera().framesDelivered();
        uint64_t framesAtStart = 0;
        const auto counting = connect(video, &VideoWidget::signalVideoWidgetIsStarted, this,
                                      [&] { framesAtStart = m_bench->sim->camera().framesDelivered(); });
        bool queuedWhileStarting = false;
        QWidget *plus = panel()->findChild<QWidget *>("BUTTON_EXPOSURE_INCREASE");
        std::thread tapper([&, at = QRectF(plus->rect()).center()] { queuedWhileStarting = tapWhileStarting(plus, at); });
        QTest::mouseClick(live, Qt::LeftButton);
        tapper.join();
        disconnect(counting);
        QVERIFY(queuedWhileStarting);
        QVERIFY(m_bench->waitUnlocked());
        QCoreApplication::processEvents();

        // Held for the first frame only, and every tap taken; live video runs on, with no camera
        // error behind the start.
        QCOMPARE(framesAtStart - framesBefore, uint64_t(1));
        QVERIFY(!g_out_of_grabbing_time);
        QVERIFY(!m_bench->showedMessage(MSG_CAMERA_SYNC_DISRUPTED));
        const uint64_t shown = g_frameRing.handedOver();
        QVERIFY(QTest::qWaitFor([shown] { return g_frameRing.handedOver() >= shown + 2; }, kHangBoundMs));
        QCOMPARE(shownExposure(), QString::number(ExposureLUT8[kLongRow + kTaps][0]));
        QCOMPARE(g_current_exposure_time.load(), ExposureLUT8[kLongRow + kTaps][0] / 1000.0);
    }
};

QTEST_MAIN(TestLiveStart)
#include "tst_live_start.moc"
