// Taps made while the interface waits at 10 s exposure on the Multicolor page, with auto-save on:
// during a still they reach neither the LIVE that the still brings to CAPTURE's place nor another
// page's button; LIVE tapped twice quickly never takes a still, while a control that stays in place
// takes both taps of a double tap. Taps made afterwards are taken.
#include "AppBench.h"
#include "CameraAccess.h"
#include "CameraTables.h"
#include "CaptureThread.h"
#include "FastClock.h"
#include "HangBound.h"
#include "InputFence.h"
#include "MonotonicClock.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "VideoWidget.h"
#include "WindowTap.h"
#include "ui_NIMBODlg.h"

#include <QDir>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <thread>

class TestStillTaps : public QObject
{
    Q_OBJECT

    static constexpr int kLongRow = 45; // 10 s

    std::unique_ptr<FastClock> m_fast;
    std::unique_ptr<AppBench> m_bench;

    MultiColorWidget *page() const { return m_bench->ui()->m_MultiColorWidget; }
    VideoWidget *video() const { return m_bench->ui()->m_VideoWidget; }
    QPushButton *button(const char *name) const { return page()->findChild<QPushButton *>(name); }
    uint64_t stills() const { return video()->captureThread()->counters().stills; }

    static QStringList savedFiles()
    {
        return QDir(Paths::ssd() + "/Quicksave").entryList({"*.tif"}, QDir::Files, QDir::Name);
    }
    static bool ready(QPushButton *button) { return button->isVisible() && button->isEnabled(); }

    // Runs `act` on the interface thread; once `waiting` holds, taps are made on `places` from
    // another thread, queued as the window system queues them. True when they were made while
    // `waiting` still held and have been handed over.
    static bool tapWhile(const std::function<bool()> &waiting, int afterMs, const QList<QWidget *> &places,
                         const std::function<void()> &act)
    {
        QList<QueuedTap> taps;
        for (QWidget *place : places)
            taps << QueuedTap(place);
        std::atomic<bool> during{false}, sent{false};
        std::thread hand([&] {
            if (MonotonicClock::waitFor(waiting, kHangBoundMs)) {
                MonotonicClock::sleepMs(afterMs);
                const int stamp = ++QTest::lastMouseTimestamp;
                during = waiting();
                for (const QueuedTap &tap : taps)
                    tap.send(stamp);
            }
            sent = true;
        });
        act();
        const bool handedOver = QTest::qWaitFor([&] { return sent.load(); }, kHangBoundMs);
        hand.join();
        return handedOver && during;
    }

private slots:
    void initTestCase()
    {
        m_fast = std::make_unique<FastClock>();
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->setConfig("Setting_MultiColor", "Autosave", "1");
        m_bench->setConfig("Filter_0", "Exposure", QByteArray::number(kLongRow));
        m_bench->start();
        InputFence::setClock([] { return uint32_t(QTest::lastMouseTimestamp); });
        QVERIFY(m_bench->waitUnlocked());
    }
    void cleanupTestCase()
    {
        InputFence::setClock({});
        m_bench.reset();
        m_fast.reset();
    }

    // CAPTURE, and during its still a tap on its place (where LIVE shows afterwards) and one on
    // the Z-stack menu: one still, one file, the page shows it and stays; then LIVE is taken.
    void tapsDuringAStillLandNowhere()
    {
        QVERIFY(QMetaObject::invokeMethod(page(), "on_BUTTON_LIVE_clicked"));
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(QTest::qWaitFor([this] { return ready(button("BUTTON_CAPTURE")) && video()->isRunning(); }, kHangBoundMs));
        QCOMPARE(g_current_exposure_time.load(), ExposureLUT8[kLongRow][0] / 1000.0);
        const QStringList before = savedFiles();
        const uint64_t stillsBefore = stills();

        QVERIFY(tapWhile([] { return !g_captured; }, 0, {button("BUTTON_CAPTURE"), m_bench->ui()->BUTTON_Z_STACK_MENU},
                         [this] { tap(button("BUTTON_CAPTURE")); }));
        QVERIFY(QTest::qWaitFor([&] { return savedFiles().size() > before.size(); }, kHangBoundMs));
        QTest::qWait(300); // a second still or file would show by now
        QCOMPARE(int(g_CurrentMenu), int(MENU_MULTICOLOR));
        QCOMPARE(int(page()->currentState()), int(MULTI_CHANNEL));
        QCOMPARE(stills(), stillsBefore + 1);
        QCOMPARE(savedFiles().size(), before.size() + 1);

        QVERIFY(QTest::qWaitFor([this] { return ready(button("BUTTON_LIVE")); }, kHangBoundMs));
        tap(button("BUTTON_LIVE"));
        QCOMPARE(int(page()->currentState()), int(MULTI_LIVE));
        QVERIFY(m_bench->waitUnlocked());
    }

    // LIVE tapped twice within 0.3 s, while live video runs (the first tap shows CAPTURE at once)
    // or while its start waits for the first frame: the second tap never reaches the CAPTURE that
    // takes LIVE's place, so no still is taken, no file written.
    void liveTappedTwiceQuicklyTakesNoStill_data()
    {
        QTest::addColumn<bool>("videoRuns");
        QTest::newRow("live video running") << true;
        QTest::newRow("live video starting") << false;
    }
    void liveTappedTwiceQuicklyTakesNoStill()
    {
        QFETCH(bool, videoRuns);
        if (videoRuns) {
            page()->setCurrentState(MULTI_IDLE);
            QVERIFY(m_bench->waitUnlocked());
            QVERIFY(QTest::qWaitFor([this] { return ready(button("BUTTON_LIVE")) && video()->isRunning(); }, kHangBoundMs));
            const QStringList before = savedFiles();
            const uint64_t stillsBefore = stills();
            doubleTap(button("BUTTON_LIVE"), 200);
            QVERIFY(m_bench->waitUnlocked());
            QTest::qWait(300);
            QCOMPARE(int(page()->currentState()), int(MULTI_LIVE));
            QCOMPARE(stills(), stillsBefore);
            QCOMPARE(savedFiles(), before);
            return;
        }
        if (page()->currentState() == MULTI_IDLE) {
            QVERIFY(QMetaObject::invokeMethod(page(), "on_BUTTON_LIVE_clicked"));
            QVERIFY(m_bench->waitUnlocked());
        }
        if (page()->currentState() == MULTI_LIVE) {
            QVERIFY(QTest::qWaitFor([this] { return ready(button("BUTTON_CAPTURE")); }, kHangBoundMs));
            QVERIFY(QMetaObject::invokeMethod(page(), "on_BUTTON_CAPTURE_clicked"));
        }
        QPushButton *live = button("BUTTON_LIVE");
        QVERIFY(QTest::qWaitFor([&] { return ready(live) && !video()->isRunning(); }, kHangBoundMs));
        QTest::qWait(300); // the auto-save of that still is written
        // Written again just before LIVE: the first frame is a whole exposure away.
        video()->slotSetCurrentExposure(ExposureLUT8[kLongRow][0], ExposureLUT8[kLongRow][1], ExposureLUT8[kLongRow][2]);
        const QStringList before = savedFiles();
        const uint64_t stillsBefore = stills();

        QVERIFY(tapWhile([] { return g_capture && !g_is_running; }, 200, {live}, [live] { tap(live); }));
        QVERIFY(m_bench->waitUnlocked());
        QTest::qWait(300);
        QCOMPARE(int(page()->currentState()), int(MULTI_LIVE));
        QVERIFY(ready(button("BUTTON_CAPTURE")));
        QCOMPARE(stills(), stillsBefore);
        QCOMPARE(savedFiles(), before);
    }

    // A double tap through the window on a control that stays in place (the menu button of the
    // page shown) reaches it twice: the second tap goes to the control the first one reached.
    void doubleTapOnAControlInPlaceReachesItTwice()
    {
        QPushButton *menu = m_bench->ui()->BUTTON_MULTI_COLOR_MENU;
        QVERIFY(QTest::qWaitFor([&] { return ready(menu); }, kHangBoundMs));
        QSignalSpy clicks(menu, &QPushButton::clicked);
        doubleTap(menu, 200);
        QCOMPARE(clicks.count(), 2);
        QCOMPARE(int(g_CurrentMenu), int(MENU_MULTICOLOR));
        QVERIFY(menu->isChecked());
    }
};

QTEST_MAIN(TestStillTaps)
#include "tst_still_taps.moc"
