#include "CameraAccess.h"
#include "CameraTables.h"
#include "CameraTestBench.h"
#include "CaptureThread.h"
#include "DisplayThread.h"
#include "FrameRing.h"
#include "Globals.h"
#include "QtParallelBackend.h"
#include "ThreadScheduling.h"
#include "VideoWidget.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>
#include <pthread.h>
#include <thread>

namespace {
// A loop whose caller waits (a while at most) until a worker has run a chunk, so that the pool
// makes its workers from the caller.
void helpedLoopBody(int start, int, void *data)
{
    auto *helped = static_cast<std::atomic<bool> *>(data);
    if (start != 0)
        *helped = true;
    const QDeadlineTimer deadline(10000);
    while (!*helped && !deadline.hasExpired())
        QThread::msleep(1);
}

QStringList realTimeThreads()
{
    QStringList found;
    for (const QString &tid : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + tid + "/comm");
        if (ThreadScheduling::isRealTime(tid.toInt()) && comm.open(QIODevice::ReadOnly))
            found << tid + " " + QString::fromLocal8Bit(comm.readAll()).trimmed();
    }
    return found;
}
} // namespace

// Camera access: the requests the camera receives, the tables behind them, and the frame paths
// that do not need live video (ring hand-off, display copy, palettes).
class TestCamera : public QObject
{
    Q_OBJECT
private slots:
    void everyExposureRowExposesForItsTime()
    {
        // Checked against the sensor's timing (the simulated camera's model), not against a copy
        // of the tables: the registers of every row give the exposure the row shows, within 1 %.
        for (int mode : {8, 16}) {
            const int(*table)[3] = exposureTable(mode);
            const int readout = mode == 16 ? kReadoutMode16 : kReadoutMode8;
            for (int row = 0; row < kExposureRows; ++row) {
                const double ms = SimulatedCamera::exposureMs(readout, table[row][1], table[row][2]);
                QVERIFY2(qAbs(ms - table[row][0]) < 0.01 * table[row][0],
                         qPrintable(QString("%1-bit row %2: %3 ms").arg(mode).arg(row).arg(ms)));
                if (row > 0)
                    QVERIFY(table[row][0] > table[row - 1][0]);
            }
        }
    }

    // The drop after a scene change at its edges, at a long exposure: a frame is shown only when
    // it was not ready at a poll before the change and came no sooner after it than a frame begun
    // at the change can (the exposure and the read-out of the mode).
    void theDropAfterASceneChangeAtItsEdges_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("begunMs"); // the frame began its exposure this long after the change
        QTest::addColumn<double>("lateMs");  // it was read this long after it was ready
        QTest::addColumn<bool>("shown");
        for (int mode : {8, 16}) {
            const double readoutMs = sensorReadoutUs(mode == 16 ? kReadoutMode16 : kReadoutMode8) / 1000;
            QTest::addRow("%d-bit, begun at the change", mode) << mode << 0.0 << 0.0 << true;
            QTest::addRow("%d-bit, begun 1 ms after", mode) << mode << 1.0 << 0.0 << true;
            QTest::addRow("%d-bit, changed 3 ms into its exposure", mode) << mode << -3.0 << 0.0 << false;
            QTest::addRow("%d-bit, half a read-out early", mode) << mode << -readoutMs / 2 << 0.0 << false;
            QTest::addRow("%d-bit, ready before the change, read late", mode) << mode << -3200.0 << 4000.0 << false;
        }
    }
    void theDropAfterASceneChangeAtItsEdges()
    {
        QFETCH(int, mode);
        QFETCH(double, begunMs);
        QFETCH(double, lateMs);
        QFETCH(bool, shown);
        constexpr int64_t exposureUs = 3000000;
        constexpr int64_t changedUs = 1000000000;
        g_camera_mode = mode;
        g_current_exposure_time = exposureUs / 1e6;
        g_scene_changed_us = changedUs;
        const int64_t readyUs = changedUs + int64_t(begunMs * 1000) + exposureUs
                                + int64_t(sensorReadoutUs(mode == 16 ? kReadoutMode16 : kReadoutMode8));
        const int64_t lastNotReadyPollUs = readyUs - 1000;
        const bool verdict = exposedAfterSceneChange(lastNotReadyPollUs, readyUs + int64_t(lateMs * 1000));
        camera_reset_state();
        QCOMPARE(verdict, shown);
    }

    void firstModeSetUpSendsModeDepthAndGainControl_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<int>("frameBytes");
        QTest::addColumn<int>("bitDepth");
        QTest::newRow("8") << "8" << QStringList{"c1:15:12", "b3:0:0", "c5:17:31"} << kFrameBytes8 << 8;
        QTest::newRow("16") << "16" << QStringList{"c1:24:12", "b3:1:0", "c5:17:31"} << kFrameBytes16 << 16;
        // Anything else is taken as 8-bit mode.
        QTest::newRow("12") << "12" << QStringList{"c1:15:12", "b3:0:0", "c5:17:31"} << kFrameBytes8 << 8;
    }
    void firstModeSetUpSendsModeDepthAndGainControl()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, requests);
        QFETCH(int, frameBytes);
        QFETCH(int, bitDepth);
        CameraTestBench bench;
        bench.setConfig("Camera", "Mode", mode.toLatin1());
        VideoWidget widget;
        QSignalSpy modeChanged(&widget, &VideoWidget::signalCameraModeChanged);
        bench.camera.clearControlLog();
        widget.readSetting();
        QCOMPARE(bench.vendorRequests(), requests);
        QCOMPARE(g_capture_buffer_size.load(), frameBytes);
        QCOMPARE(bench.instrument.camera().bitDepth, bitDepth);
        QCOMPARE(modeChanged.count(), 1);
        QCOMPARE(modeChanged.at(0).at(0).toInt(), bitDepth);
    }

    void settingRowsWriteTheirRegisters_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("gain");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("requests");
        QTest::newRow("gain 0") << 8 << true << 0 << QStringList{"c5:4096:28", "c5:0:30", "c5:17:31"};
        QTest::newRow("gain 17") << 8 << true << 17 << QStringList{"c5:571:28", "c5:0:30", "c5:17:31"};
        QTest::newRow("gain 19") << 8 << true << 19 << QStringList{"c5:203:28", "c5:1:30", "c5:60:31"};
        QTest::newRow("gain 21") << 8 << true << 21 << QStringList{"c5:203:28", "c5:3:30", "c5:60:31"};
        QTest::newRow("8-bit exposure 0") << 8 << false << 0 << QStringList{"c5:0:6", "c5:993:8"};
        QTest::newRow("8-bit exposure 7") << 8 << false << 7 << QStringList{"c5:1:6", "c5:1121:8"};
        QTest::newRow("16-bit exposure 55") << 16 << false << 55 << QStringList{"c5:118:6", "c5:31:8"};
    }
    void settingRowsWriteTheirRegisters()
    {
        QFETCH(int, mode);
        QFETCH(bool, gain);
        QFETCH(int, row);
        QFETCH(QStringList, requests);
        CameraTestBench bench;
        bench.setConfig("Camera", "Mode", QByteArray::number(mode));
        auto widget = bench.makeWidget();
        bench.camera.clearControlLog();
        const int(*table)[3] = exposureTable(mode);
        if (gain)
            widget->setCurrentGain(GainLUT[row][1], GainLUT[row][2]);
        else
            widget->slotSetCurrentExposure(table[row][0], table[row][1], table[row][2]);
        QCOMPARE(bench.vendorRequests(), requests);
        if (!gain)
            QVERIFY(g_current_exposure_time == table[row][0] / 1000.0 && g_skip_a_frame_80ms_exposure && g_skip_frame_count == 0);
    }

    void missingCameraShowsMessage33AndSendsNothing()
    {
        CameraTestBench bench(SimCameraFault::NoDevice);
        auto widget = bench.makeWidget();
        QVERIFY(g_no_camera);
        QVERIFY(bench.showedMessage(33));
        for (int request = 0; request < 3; ++request)
            QTest::ignoreMessage(QtDebugMsg, "===CAMERA ERROR");
        widget->setCurrentGain(571, 0);
        QVERIFY(bench.vendorRequests().isEmpty());
    }

    void withoutCameraInQcModeLiveVideoShowsFramesOfOne()
    {
        CameraTestBench bench(SimCameraFault::NoDevice);
        g_ExecMode = EXEC_QC_TEST;
        auto widget = bench.makeWidget();
        QVERIFY(bench.messages().isEmpty());
        widget->start();
        QVERIFY(widget->isRunning());
        QSignalSpy captured(widget.get(), &VideoWidget::captured);
        QVERIFY(widget->capture());
        QCOMPARE(captured.count(), 1);
        QCOMPARE(cv::countNonZero(g_mat8 != 1), 0);
        widget->stop();
        g_ExecMode = EXEC_NORMAL;
    }

    // Only the capture thread runs real time: the pool workers made for a loop of a real-time
    // thread (the capture thread's or another's) and the threads the capture thread starts do not.
    void onlyTheCaptureThreadRunsRealTime_data()
    {
        QTest::addColumn<bool>("captureThread");
        QTest::newRow("capture thread") << true;
        QTest::newRow("other real-time thread") << false;
    }

    void onlyTheCaptureThreadRunsRealTime()
    {
        QFETCH(bool, captureThread);
        QtParallelBackend backend(4); // a pool of its own: no worker made yet
        std::atomic<bool> ran{false}, callerRealTime{false}, childRealTime{true};
        std::function<void()> probe = [&] {
            callerRealTime = ThreadScheduling::isRealTime();
            std::atomic<bool> helped{false};
            backend.parallel_for(64, &helpedLoopBody, &helped);
            std::thread child([&] { childRealTime = ThreadScheduling::isRealTime(); });
            child.join();
            ran = true;
        };
        camera_reset_state();
        if (captureThread) {
            // Without a camera and with an exposure set, it gives up after a second and calls
            // back on its own thread.
            g_current_exposure_time = 0.001;
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Camera: no frame for"));
            CaptureThread capture(probe);
            QVERIFY(capture.start());
            const QDeadlineTimer deadline(120000); // a hang bound
            while (!ran && !deadline.hasExpired())
                QThread::msleep(10);
            capture.stop();
            camera_reset_state();
            if (!capture.isRealTime())
                QSKIP("Real-time scheduling is refused here: nothing to check");
        } else {
            pthread_attr_t attr;
            pthread_attr_init(&attr);
            pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
            pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
            sched_param params{};
            params.sched_priority = sched_get_priority_max(SCHED_FIFO);
            pthread_attr_setschedparam(&attr, &params);
            pthread_t thread;
            const int rc = pthread_create(&thread, &attr, [](void *f) -> void * {
                (*static_cast<std::function<void()> *>(f))();
                return nullptr;
            }, &probe);
            pthread_attr_destroy(&attr);
            if (rc != 0)
                QSKIP("Real-time scheduling is refused here: nothing to check");
            pthread_join(thread, nullptr);
        }
        QVERIFY(ran && callerRealTime);
        if (captureThread)
            QVERIFY(!childRealTime);
        QVERIFY2(realTimeThreads().isEmpty(), qPrintable(realTimeThreads().join(", ")));
    }

    void ringHandOverIsNeverMissed()
    {
        FrameRing ring;
        uint64_t seen = ring.handedOver();
        std::atomic<bool> stop{false};
        // A hand-off made before the display side waits is still seen.
        ring.advance();
        ring.handOver();
        QCOMPARE(ring.waitForFrame(&seen, [&] { return stop.load(); }, 1000), ring.slot(0));
        QCOMPARE(ring.writeIndex(), 1);
        // A wake with the stop condition set ends the wait at once.
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            stop = true;
            ring.wake();
        });
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!ring.waitForFrame(&seen, [&] { return stop.load(); }, 60000));
        QVERIFY(timer.elapsed() < 10000); // a hang bound: ended by the wake, not the time-out
        stopper.join();
        // Four slots, round and round.
        for (int i = 0; i < 4; ++i)
            ring.advance();
        QCOMPARE(ring.writeIndex(), 1);
        QCOMPARE(ring.drawIndex(), 0);
    }

    void displayCopyTurnsTheFrameAndCrops()
    {
        std::vector<unsigned char> frame8(kFrameBytes8), frame16(kFrameBytes16);
        for (int y = 0; y < kFrameHeight; ++y)
            for (int x = 0; x < kFrameWidth; ++x) {
                const int v = (x * 7 + y * 13) & 0xFF;
                frame8[size_t(y) * kFrameWidth + x] = uchar(v);
                frame16[(size_t(y) * kFrameWidth + x) * 2] = uchar(v);
                frame16[(size_t(y) * kFrameWidth + x) * 2 + 1] = uchar(255 - v);
            }
        const int pitch = DisplayThread::kSurfaceWidth;
        std::vector<unsigned char> surface(size_t(pitch) * DisplayThread::kSurfaceHeight);
        for (int bytes : {1, 2}) {
            DisplayThread::turnIntoSurface(bytes == 1 ? frame8.data() : frame16.data(), bytes, surface.data(), pitch);
            int wrong = 0;
            for (int y = 0; y < DisplayThread::kSurfaceHeight; ++y)
                for (int x = 0; x < DisplayThread::kSurfaceWidth; ++x)
                    wrong += surface[size_t(y) * pitch + x] != frame8[size_t(1023 - y) * kFrameWidth + 1279 - x];
            QCOMPARE(wrong, 0);
        }
    }

    void palettes()
    {
        initializeSDLPseudoColorTable();
        const auto rgb = [](const SDL_Color &c) { return std::vector<int>{c.r, c.g, c.b}; };
        const std::vector<std::vector<int>> got = {
            rgb(g_SDLPseudoColorTable[0][200]), rgb(g_SDLPseudoColorTable[4][9]), rgb(g_SDLPseudoColorTable[5][255]),
            rgb(g_SDLPseudoColorTable[6][0]), rgb(g_SDLPseudoColorTable[7][77]), rgb(g_SDLSaturatedPixelColorTable[254]),
            rgb(g_SDLSaturatedPixelColorTable[255])};
        QCOMPARE(got, (std::vector<std::vector<int>>{
                          {200, 0, 0}, {0, 9, 9}, {0, 0, 0}, {255, 255, 255}, {77, 77, 77}, {254, 254, 254}, {255, 0, 0}}));
    }

    void pseudoColourAndSaturatedPixelRequests()
    {
        CameraTestBench bench;
        bench.setConfig("Camera", "SaturatedPixel", "1");
        auto widget = bench.makeWidget();
        QVERIFY(g_set_saturated_pixel);
        widget->setPseudoColor(true, 2, 3);
        QVERIFY(g_pseudo_color_index == 3 && g_set_color && !g_set_saturated_pixel);
        widget->setPseudoColor(false, 2, 3);
        QVERIFY(g_pseudo_color_index == 7 && !g_set_color && g_set_saturated_pixel);
        // With pseudo colour on, the filter position chooses the palette from "FilterColor".
        bench.setConfig("FilterColor", "2", "4");
        widget->setPseudoColor(true, 1);
        widget->setCurrentFilterPosition(2);
        widget->readSetting();
        QCOMPARE(g_pseudo_color_index.load(), 4);
        widget->setCurrentFilterPosition(0);
        widget->readSetting();
        QCOMPARE(g_pseudo_color_index.load(), 7);
    }
};

QTEST_MAIN(TestCamera)
#include "tst_camera.moc"
