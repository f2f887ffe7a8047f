#include "CameraAccess.h"
#include "CameraTables.h"
#include "CameraTestBench.h"
#include "CaptureThread.h"
#include "FrameRecorder.h"
#include "Globals.h"
#include "FastClock.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "InputFence.h"
#include "MessageDlg.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TCapturedImageMetaData.h"
#include "TurretLog.h"
#include "VideoWidget.h"
#include "WindowTap.h"


#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QThreadPool>
#include <QtConcurrent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <thread>

// Live video on the simulated camera: start and stop, frame drops, stills, stalls, recording.
class TestVideoWidget : public QObject
{
    Q_OBJECT

    struct Still
    {
        int count = 0;
        int bits = 0;
        cv::Mat frame;
    };
    static void collect(VideoWidget *widget, Still *still, bool grab = false)
    {
        auto take = [still](uchar *frame, int bits) {
            ++still->count;
            still->bits = bits;
            still->frame = cv::Mat(kFrameHeight, kFrameWidth, bits == 16 ? CV_16UC1 : CV_8UC1, frame).clone();
        };
        if (grab)
            QObject::connect(widget, &VideoWidget::grabbed, take);
        else
            QObject::connect(widget, &VideoWidget::captured, take);
    }
    static void setExposureRow(VideoWidget *widget, int row)
    {
        const int(*table)[3] = exposureTable(g_camera_mode);
        widget->slotSetCurrentExposure(table[row][0], table[row][1], table[row][2]);
    }

private slots:
    // Stopped, a still fails at once; started, frames flow; stopped, they end; many cycles never hang.
    void startDeliversFramesAndStopEndsThem()
    {
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        Still still;
        collect(widget.get(), &still);
        QVERIFY(!widget->capture()); // at once: a wait would end in message 33
        QVERIFY(!widget->slotGrabOne());
        QCOMPARE(still.count, 0);
        QSignalSpy started(widget.get(), &VideoWidget::signalVideoWidgetIsStarted);
        QSignalSpy stopped(widget.get(), &VideoWidget::signalVideoWidgetIsStopped);
        // As in the application, where nobody handles them: the default action ends the process.
        struct sigaction byDefault {}, terminateBefore {}, interruptBefore {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGTERM, &byDefault, &terminateBefore);
        sigaction(SIGINT, &byDefault, &interruptBefore);
        widget->start();
        QVERIFY(widget->isRunning());
        const uint64_t delivered = bench.camera.framesDelivered();
        QTRY_VERIFY(bench.camera.framesDelivered() > delivered + 3);
        // The live display leaves the termination signals alone, so a shutdown request still ends
        // the application.
        struct sigaction terminate {}, interrupt {};
        sigaction(SIGTERM, &terminateBefore, &terminate);
        sigaction(SIGINT, &interruptBefore, &interrupt);
        QVERIFY(terminate.sa_handler == SIG_DFL && interrupt.sa_handler == SIG_DFL);
        widget->stop();
        QVERIFY(!widget->isRunning());
        for (int cycle = 0; cycle < 200; ++cycle) {
            widget->start();
            QVERIFY(widget->isRunning());
            widget->stop();
            QVERIFY(!widget->isRunning());
        }
        QCOMPARE(started.count(), 201);
        QCOMPARE(stopped.count(), 201);
        QVERIFY(bench.messages().isEmpty());
    }

    // Up to 100 ms four frames are dropped after every exposure change, also to the same
    // exposure; at a long exposure (1,500 ms) only a frame that may hold light from before the
    // change, and live video goes on.
    void fourFramesAreDroppedAfterAnExposureChange()
    {
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        widget->start();
        for (int row : {0, 7, 7, 28}) {
            const auto before = widget->captureThread()->counters();
            setExposureRow(widget.get(), row);
            const uint64_t maxDropped = row <= 9 ? 4 : 1;
            QTRY_VERIFY_WITH_TIMEOUT(g_out_of_grabbing_time || (!g_skip_a_frame_80ms_exposure &&
                                         widget->captureThread()->counters().framesRead >= before.framesRead + maxDropped + 2), 30000);
            QVERIFY(!g_out_of_grabbing_time);
            const uint64_t dropped = widget->captureThread()->counters().framesDropped - before.framesDropped;
            if (row <= 9)
                QCOMPARE(dropped, uint64_t(4));
            else
                QVERIFY2(dropped <= maxDropped, qPrintable(QString("%1 dropped at row %2").arg(dropped).arg(row)));
        }
        // Back to a short exposure while the long one is under way, past the short one's stall
        // limit since the last frame: live video goes on.
        QTest::qWait(1300);
        const auto before = widget->captureThread()->counters();
        setExposureRow(widget.get(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(g_out_of_grabbing_time || widget->captureThread()->counters().framesRead
                                     >= before.framesRead + 8, 30000);
        QVERIFY(!g_out_of_grabbing_time);
        QVERIFY(widget->capture());
        QVERIFY(bench.messages().isEmpty());
        widget->stop();
    }

    void stillFramesAndRecordedFilesAreUpright_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("8-bit") << 8;
        QTest::newRow("16-bit") << 16;
    }
    // Stills, grabs and recorded files are turned upright; files carry numbers, metadata and time.
    void stillFramesAndRecordedFilesAreUpright()
    {
        QFETCH(int, mode);
        CameraTestBench bench;
        bench.setConfig("Camera", "Mode", QByteArray::number(mode));
        {
            QMutexLocker lock(&capturedImageMetaDataLock());
            g_CapturedImageMetaData.instrument = "Instrument: VANTOR S";
            g_CapturedImageMetaData.channel = 2;
            g_CapturedImageMetaData.filterCube[2] = "Filter cube: RFP";
        }
        bench.camera.setMarkerPixel(true);
        auto widget = bench.makeWidget();
        Still still;
        collect(widget.get(), &still);
        widget->start();
        setExposureRow(widget.get(), 0);
        QVERIFY(widget->capture()); // served before the frame drop
        QCOMPARE(still.count, 1);
        QCOMPARE(still.bits, mode);
        // The sensor's first pixel is the upright image's last.
        if (mode == 8) {
            QCOMPARE(int(still.frame.at<uchar>(1023, 1279)), SimulatedCamera::MarkerValue8);
            QVERIFY(still.frame.at<uchar>(0, 0) != SimulatedCamera::MarkerValue8);
        } else {
            // The words as the camera delivered them: the 12-bit value shifted left by four, big-endian.
            const uchar *last = still.frame.ptr<uchar>(1023) + 1279 * 2;
            QCOMPARE(int(last[0]), (SimulatedCamera::MarkerValue12 << 4) >> 8);
            QCOMPARE(int(last[1]), (SimulatedCamera::MarkerValue12 << 4) & 0xFF);
        }
        // A grab takes a fresh frame the same way.
        Still grab;
        collect(widget.get(), &grab, true);
        QVERIFY(widget->slotGrabOne());
        QCOMPARE(grab.count, 1);
        QCOMPARE(grab.bits, mode);

        QTemporaryDir dir;
        const QString stem = dir.filePath("rec ü %2");
        widget->slotStartRecording(true, stem);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(FrameRecorder::fileName(stem, 6)), 20000);
        widget->slotStartRecording(false, QString());
        QVERIFY(widget->waitForRecordedFrames(10000));
        widget->stop();
        QCOMPARE(widget->recordingWritesFailed(), 0);

        // Read by a library we did not write: size, depth, orientation, metadata and time.
        const QString script = QString(R"(
import re, sys, tifffile
with tifffile.TiffFile(sys.argv[1]) as t:
    page = t.pages[0]
    a = page.asarray()
    assert a.shape == (1024, 1280), a.shape
    assert a.dtype.itemsize * 8 == int(sys.argv[2]), a.dtype
    if a.dtype.itemsize == 2:
        assert a.max() <= 4095
    # Upright: the sensor's first pixel is the image's last; 16-bit files hold plain intensities.
    assert a[1023, 1279] == int(sys.argv[3]), a[1023, 1279]
    d = page.description.split(';')
    assert len(d) == 10 and d[0] == 'Instrument: VANTOR S' and d[4] == 'Filter cube: RFP', d
    assert re.fullmatch(r'Time: \d\d:\d\d:\d\d\.\d\d\d', d[-1]), d[-1]
    print(d[-1])
)");
        QProcess python;
        // The system's Python, which has tifffile; a python3 earlier on PATH may not.
        const QString python3 = QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
        const int marker = mode == 16 ? SimulatedCamera::MarkerValue12 : SimulatedCamera::MarkerValue8;
        python.start(python3, {"-c", script, FrameRecorder::fileName(stem, 1), QString::number(mode),
                               QString::number(marker)});
        QVERIFY(python.waitForFinished(kHangBoundMs));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        QVERIFY(python.readAllStandardOutput().startsWith("Time: 00:00:00.000"));
    }

    // The registers the widget writes reach the sensor: stills follow exposure, gain, light and
    // filter.
    void stillsFollowExposureGainLightAndFilter()
    {
        CameraTestBench bench;
        bench.camera.renderer().setNoise(false);
        bench.instrument.setStagePosition(int(bench.camera.renderer().trueFocusSteps(1)));
        bench.instrument.setLed(0, true, 25);
        auto widget = bench.makeWidget();
        Still still;
        collect(widget.get(), &still);
        widget->start();
        setExposureRow(widget.get(), 0);
        // The second of two stills: the first may have been read out before the change.
        const auto take = [&] {
            widget->capture();
            widget->capture();
            return still.frame.clone();
        };
        const auto signal = [](const cv::Mat &frame) { return cv::mean(frame)[0] - (SampleRenderer::BlackLevel >> 4); };
        const cv::Mat base = take();
        const double level = signal(base);
        QVERIFY2(level > 20 && level < 100, qPrintable(QString::number(level)));
        setExposureRow(widget.get(), 1); // 20 ms
        const double exposed = signal(take()) / level;
        setExposureRow(widget.get(), 0);
        widget->setCurrentGain(GainLUT[6][1], GainLUT[6][2]); // 6 dB
        const double gained = signal(take()) / level;
        QVERIFY2(exposed > 1.6 && exposed < 2.4 && gained > 1.6 && gained < 2.4, qPrintable(QString("%1 %2").arg(exposed).arg(gained)));
        widget->setCurrentGain(GainLUT[0][1], GainLUT[0][2]);
        bench.instrument.setLedOn(0, false);
        QVERIFY2(signal(take()) < 2, "light off");
        bench.instrument.turnFilter(1, 0);
        bench.instrument.setLed(1, true, 100);
        cv::Mat difference;
        cv::absdiff(take(), base, difference);
        QVERIFY2(cv::mean(difference)[0] > 10, "filter");
        widget->stop();
    }

    // Stills at long exposures asked for at several phases of the frame period: each is the first
    // frame exposed wholly after the request (the light switched on just before it shows), not one
    // frame later, and none ends live video. The clock runs fast so that the test stays quick.
    void stillsAtLongExposuresAtEveryPhase_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<double>("phase"); // of the frame period, at the request
        for (int row : {31, 36, 45, 55}) // 3, 5.5, 10 and 15 s
            for (double phase : {0.1, 0.5, 0.9})
                if (row < 45 || phase != 0.5)
                    QTest::addRow("%d ms, phase %.1f", ExposureLUT8[row][0], phase) << row << phase;
    }
    void stillsAtLongExposuresAtEveryPhase()
    {
        QFETCH(int, row);
        QFETCH(double, phase);
        FastClock fast;
        CameraTestBench bench;
        bench.camera.renderer().setNoise(false);
        auto widget = bench.makeWidget();
        Still still;
        collect(widget.get(), &still);
        widget->start();
        setExposureRow(widget.get(), row);
        const int64_t periodUs = int64_t(bench.camera.framePeriodMs() * 1000);
        const int64_t readyAfterUs = ExposureLUT8[row][0] * 1000 + int64_t(sensorReadoutUs(kReadoutMode8));
        int64_t requestUs = bench.camera.nextExposureBeginUs() - periodUs + int64_t(phase * periodUs);
        if (requestUs < MonotonicClock::nowUs())
            requestUs += periodUs;
        MonotonicClock::sleepUs(requestUs - MonotonicClock::nowUs());

        bench.instrument.setLed(0, true, 100);
        const int64_t askedUs = MonotonicClock::nowUs();
        const double dueMs = (bench.camera.nextExposureBeginUs() + readyAfterUs - askedUs) / 1000.0;
        QVERIFY(widget->capture());
        const double tookMs = (MonotonicClock::nowUs() - askedUs) / 1000.0;
        qInfo("still after %.0f ms, its frame ready after %.0f ms", tookMs, dueMs);
        QVERIFY2(cv::mean(still.frame)[0] > 100, "the still was exposed before the request");
        QVERIFY2(tookMs > dueMs - 1 && tookMs < dueMs + periodUs / 2000.0,
                 qPrintable(QString("still after %1 ms, due after %2 ms").arg(tookMs).arg(dueMs)));
        QVERIFY(bench.messages().isEmpty());
        widget->stop();
    }

    void noVideoSurfaceGivesMessage32AndCaptureGoesOn()
    {
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        const QByteArray driver = qgetenv("SDL_VIDEODRIVER");
        qputenv("SDL_VIDEODRIVER", "no-such-driver");
        widget->start();
        qputenv("SDL_VIDEODRIVER", driver);
        QTRY_VERIFY(bench.showedMessage(32));
        QVERIFY(widget->isRunning());
        QVERIFY(widget->capture());
        widget->stop();
    }

    void refusedRealTimeRunsWithNormalScheduling()
    {
        // Take the privilege away from this thread (the capture thread inherits it) and the
        // real-time allowance away from the process.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct saved[2] = {};
        QCOMPARE(syscall(SYS_capget, &header, saved), 0L);
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~(1u << CAP_SYS_NICE);
        QCOMPARE(syscall(SYS_capset, &header, reduced), 0L);
        rlimit savedLimit{};
        getrlimit(RLIMIT_RTPRIO, &savedLimit);
        rlimit none = savedLimit;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_RTPRIO, &none);

        CameraTestBench bench;
        auto widget = bench.makeWidget();
        widget->start();
        const bool normalAndRunning = !widget->captureThread()->isRealTime() && widget->isRunning() && widget->capture();
        widget->stop();
        setrlimit(RLIMIT_RTPRIO, &savedLimit);
        syscall(SYS_capset, &header, saved);
        QVERIFY(normalAndRunning);
    }

    // Only a valid frame is a sign of life: a camera that stops, or that sends only short or
    // invalid frames, ends live video with message 33, also from the start; without an exposure
    // set the still capture's own wait ends it.
    void aStallEndsInMessage33_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("exposureSet");
        for (bool set : {true, false}) {
            const char *suffix = set ? "" : " from the start, no exposure set";
            QTest::addRow("stall%s", suffix) << int(SimCameraFault::Stall) << set;
            QTest::addRow("short read%s", suffix) << int(SimCameraFault::ShortRead) << set;
            QTest::addRow("zero first byte%s", suffix) << int(SimCameraFault::ZeroFirstByte) << set;
        }
    }
    void aStallEndsInMessage33()
    {
        QFETCH(int, fault);
        QFETCH(bool, exposureSet);
        CameraTestBench bench(exposureSet ? SimCameraFault::None : SimCameraFault(fault));
        auto widget = bench.makeWidget();
        widget->start();
        QVERIFY(widget->isRunning());
        if (exposureSet) {
            setExposureRow(widget.get(), 0);
            QTRY_VERIFY(!g_skip_a_frame_80ms_exposure);
            bench.camera.setFault(SimCameraFault(fault));
            QTRY_VERIFY_WITH_TIMEOUT(bench.showedMessage(33), 10000);
        } else { // a frame under way may still come: ask until one does not
            QTRY_VERIFY_WITH_TIMEOUT(!widget->capture() && bench.showedMessage(33), 30000);
        }
        QVERIFY(g_out_of_grabbing_time);
        QVERIFY(widget->isRunning()); // until the owner stops it
        // A still asked for now shows the message again at once instead of waiting.
        const QString text = MessageDlg::presetText(MSG_CAMERA_SYNC_DISRUPTED);
        const int shown = bench.messages().count(text);
        QVERIFY(!widget->capture());
        QCOMPARE(bench.messages().count(text), shown + 1);
        widget->stop();
        // The camera recovers: live video starts again.
        bench.camera.setFault(SimCameraFault::None);
        widget->start();
        QVERIFY(!g_out_of_grabbing_time);
        QVERIFY(widget->capture());
        widget->stop();
    }

    // A capture thread held off the processor after the camera answered "not yet" (a busy
    // machine), for longer than the stall limit, finds the frame at its next question: no stall.
    void aLateAnswerIsNoStall()
    {
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        widget->start();
        setExposureRow(widget.get(), 17); // 500 ms: the first question after a frame finds none
        QTRY_VERIFY(!g_skip_a_frame_80ms_exposure);
        bench.camera.setAnswerDelayMs(frameStallLimitMs() + 200);
        const CaptureThread *capture = widget->captureThread();
        const uint64_t read = capture->counters().framesRead;
        QVERIFY(MonotonicClock::waitFor(
            [&] { return g_out_of_grabbing_time || capture->counters().framesRead >= read + 2; }, kHangBoundMs));
        bench.camera.setAnswerDelayMs(0);
        QVERIFY(!g_out_of_grabbing_time);
        QVERIFY(bench.messages().isEmpty());
        widget->stop();
    }

    // The start waits out the capture thread's whole pass, not the stall limit alone: a first frame
    // that takes nearly its read time-out to arrive starts live video, with no camera error.
    void aSlowFirstReadStartsLiveVideo()
    {
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        setExposureRow(widget.get(), 0);
        bench.camera.setTransferDelayMs(int(kFrameReadTimeoutMs) - 10);
        widget->start();
        bench.camera.setTransferDelayMs(0);
        QVERIFY(widget->isRunning());
        QVERIFY(!g_out_of_grabbing_time);
        QVERIFY(bench.messages().isEmpty());
        widget->stop();
    }

    // A filter cube turned at any phase of a long exposure's frame period writes the same exposure
    // again, and the sensor starts its exposure over: the next frame comes a whole exposure after
    // the turn, and live video goes on. A camera that stops right after a turn is caught when the
    // exposure plus a second has passed since the turn (the stalled read's own time-out at most
    // later).
    void cubeTurnsKeepLiveVideoAndAStallIsStillCaught_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("row");
        QTest::newRow("3000 ms") << 8 << 31;
        QTest::newRow("10000 ms") << 8 << 45;
        QTest::newRow("3000 ms, 16-bit") << 16 << 31;
    }
    void cubeTurnsKeepLiveVideoAndAStallIsStillCaught()
    {
        QFETCH(int, mode);
        QFETCH(int, row);
        FastClock fast;
        CameraTestBench bench;
        bench.setConfig("Camera", "Mode", QByteArray::number(mode));
        auto widget = bench.makeWidget();
        widget->start();
        const CaptureThread *capture = widget->captureThread();
        const double exposureS = exposureTable(mode)[row][0] / 1000.0;
        const auto nextFrame = [&] {
            const uint64_t read = capture->counters().framesRead;
            return MonotonicClock::waitFor([&] { return g_out_of_grabbing_time || capture->counters().framesRead > read; },
                                           kHangBoundMs) && !g_out_of_grabbing_time;
        };
        // As the panel does at a cube change: GFP and Trans in turn, the same exposure row for both.
        int position = 0;
        const auto turnCube = [&] {
            position = 3 - position;
            bench.instrument.turnFilter(position);
            setExposureRow(widget.get(), row);
        };
        setExposureRow(widget.get(), row);
        QVERIFY(nextFrame());
        for (double phase : {0.05, 0.35, 0.65, 0.95}) {
            MonotonicClock::sleepUs(int64_t(phase * exposureS * 1e6));
            turnCube();
            QVERIFY2(nextFrame(), qPrintable(QString("turned %1 s after a frame").arg(phase * exposureS)));
        }
        QVERIFY(bench.messages().isEmpty());

        turnCube();
        bench.camera.setFault(SimCameraFault::Stall);
        const int64_t restartUs = g_scene_changed_us;
        QVERIFY(MonotonicClock::waitFor([] { return g_out_of_grabbing_time.load(); }, kHangBoundMs));
        const double caughtS = (MonotonicClock::nowUs() - restartUs) / 1e6;
        qInfo("stall caught %.2f s after the turn", caughtS);
        QVERIFY2(caughtS > exposureS + 1 && caughtS < exposureS + 2 + kFrameReadTimeoutMs / 1000.0,
                 qPrintable(QString("caught %1 s after the turn").arg(caughtS)));
        QTRY_VERIFY(bench.showedMessage(33));
        widget->stop();
    }

    // A still whose exposure a scene change overlapped (learnt by the scene check, as the serial
    // link learns of a turret move) is refused and the requester told, with no box of its own, also
    // as a grab; a turret between positions too. Without a change the still is taken.
    void aStillAcrossASceneChangeIsRefused_data()
    {
        QTest::addColumn<bool>("moved");
        QTest::addColumn<bool>("standing");
        QTest::addColumn<bool>("grab");
        QTest::newRow("still") << false << true << false;
        QTest::newRow("still, turret moved") << true << true << false;
        QTest::newRow("still, turret turning") << false << false << false;
        QTest::newRow("grab, turret moved") << true << true << true;
    }
    void aStillAcrossASceneChangeIsRefused()
    {
        QFETCH(bool, moved);
        QFETCH(bool, standing);
        QFETCH(bool, grab);
        FastClock fast;
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        widget->start();
        setExposureRow(widget.get(), 31); // 3 s
        widget->setSceneCheck([&] {
            if (moved)
                noteSceneChange();
            return standing;
        });
        Still still;
        collect(widget.get(), &still, grab);
        int refusals = 0;
        connect(widget.get(), &VideoWidget::stillRefused, [&] { ++refusals; });
        const bool taken = grab ? widget->slotGrabOne() : widget->capture();
        const bool refused = moved || !standing;
        QCOMPARE(taken, !refused);
        QCOMPARE(still.count, refused ? 0 : 1);
        QCOMPARE(refusals, refused ? 1 : 0);
        QVERIFY(bench.messages().isEmpty());
        QVERIFY(!g_out_of_grabbing_time);
        widget->stop();
    }

    // The still rule at its edges. A still's frame ended after some moment: the rule takes its
    // exposure as begun one exposure and one read-out of the rows before (its first row starts
    // that much ahead of its last), and a scene change after that begin refuses it, however soon
    // after; one at or before it keeps it.
    void theStillRuleAtItsEdges_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("row");
        QTest::addColumn<double>("changeAfterBeginMs"); // the change, from the first row's start
        QTest::addColumn<bool>("kept");
        for (int mode : {8, 16})
            for (int row : {31, 45}) { // 3 s, 10 s
                const double readoutMs = sensorReadoutUs(mode == 16 ? kReadoutMode16 : kReadoutMode8) / 1000.0;
                const auto add = [&](const char *what, double ms, bool kept) {
                    QTest::addRow("%d-bit, %d ms, %s", mode, exposureTable(mode)[row][0], what) << mode << row << ms << kept;
                };
                add("change 3 ms after the begin", 3, false);
                add("change 1 us after the begin", 0.001, false);
                add("change inside the read-out span", readoutMs / 2, false);
                add("change just inside the read-out span", readoutMs - 0.001, false);
                add("change at the begin", 0, true);
                add("change 1 ms before the begin", -1, true);
            }
    }
    void theStillRuleAtItsEdges()
    {
        QFETCH(int, mode);
        QFETCH(int, row);
        QFETCH(double, changeAfterBeginMs);
        QFETCH(bool, kept);
        CameraTestBench::resetCameraModule();
        g_camera_mode = mode;
        g_current_exposure_time = exposureTable(mode)[row][0] / 1000.0;
        const int64_t endedAfterUs = int64_t(1) << 40;
        const int64_t readoutUs = int64_t(sensorReadoutUs(mode == 16 ? kReadoutMode16 : kReadoutMode8));
        const int64_t firstRowBeganUs = endedAfterUs - int64_t(exposureTable(mode)[row][0]) * 1000 - readoutUs;
        g_still_began_us = stillExposureBeganUs(endedAfterUs);
        g_scene_changed_us = firstRowBeganUs + int64_t(std::llround(changeAfterBeginMs * 1000));
        QCOMPARE(stillExposedAfterSceneChange(), kept);
        CameraTestBench::resetCameraModule();
    }

    // Taps made while the interface waits for a still, a grab or the first frame reach afterwards
    // only a control that could take them when the wait began: the one that the wait's outcome
    // shows at their place gets nothing, one usable all along gets its tap. A tap made after
    // the wait is taken. The busy cursor shows meanwhile.
    void tapsDuringAWaitReachOnlyControlsUsableBeforeIt_data()
    {
        QTest::addColumn<QString>("wait");
        for (const char *wait : {"still", "grab", "first frame"})
            QTest::newRow(wait) << QString(wait);
    }
    void tapsDuringAWaitReachOnlyControlsUsableBeforeIt()
    {
        QFETCH(QString, wait);
        FastClock fast;
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        QWidget window;
        window.resize(300, 100);
        QPushButton shownBefore("CAPTURE", &window), shownAfter("LIVE", &window), usable("+", &window);
        shownBefore.setGeometry(0, 0, 100, 100);
        shownAfter.setGeometry(0, 0, 100, 100);
        usable.setGeometry(200, 0, 100, 100);
        shownAfter.hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto swap = [&] {
            shownBefore.hide();
            shownAfter.show();
        };
        QSignalSpy tappedAfter(&shownAfter, &QPushButton::clicked), tappedUsable(&usable, &QPushButton::clicked);
        InputFence::setClock([] { return uint32_t(QTest::lastMouseTimestamp); });

        const bool firstFrame = wait == "first frame";
        if (firstFrame) {
            connect(widget.get(), &VideoWidget::signalVideoWidgetIsStarted, swap);
        } else {
            widget->start();
            connect(widget.get(), &VideoWidget::captured, swap);
            connect(widget.get(), &VideoWidget::grabbed, swap);
        }
        setExposureRow(widget.get(), 45); // 10 s, begun now: the frame waited for is a whole exposure away
        const QueuedTap onPlace(&shownBefore), onUsable(&usable);
        std::atomic<bool> during{false}, sent{false};
        Qt::CursorShape cursor = Qt::ArrowCursor;
        std::thread hand([&] {
            const auto waiting = [firstFrame] { return firstFrame ? g_capture && !g_is_running : !g_captured; };
            if (MonotonicClock::waitFor(waiting, kHangBoundMs)) {
                // The flag is set just before the interface thread begins its wait, which lasts a
                // whole exposure: the cursor is read well into it, while it stays as it is.
                MonotonicClock::sleepMs(2500);
                const QCursor *shown = QGuiApplication::overrideCursor();
                cursor = shown ? shown->shape() : Qt::ArrowCursor;
                const int stamp = ++QTest::lastMouseTimestamp;
                during = waiting();
                onPlace.send(stamp);
                onUsable.send(stamp);
            }
            sent = true;
        });
        const bool answered = wait == "still" ? widget->capture()
                              : wait == "grab" ? widget->slotGrabOne()
                                               : (widget->start(), widget->isRunning());
        const bool handedOver = QTest::qWaitFor([&] { return sent.load(); }, kHangBoundMs);
        hand.join();
        QVERIFY(answered && handedOver);
        QVERIFY2(during, "the taps came after the wait");
        QCOMPARE(cursor, Qt::BusyCursor);
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(tappedAfter.count(), 0);
        QCOMPARE(tappedUsable.count(), 1);

        tap(&shownAfter);
        QCOMPARE(tappedAfter.count(), 1);
        InputFence::setClock({});
        widget->stop();
    }

    // A mode change while stopped is announced by the next start; while live, the video stops,
    // announces the mode and starts again.
    void modeChangesAreAnnounced()
    {
        CameraTestBench bench;
        auto widget = bench.makeWidget();
        QStringList order;
        connect(widget.get(), &VideoWidget::signalVideoWidgetIsStopped, [&] { order << "stopped"; });
        connect(widget.get(), &VideoWidget::signalCameraModeChanged, [&](int mode) { order << QString::number(mode); });
        connect(widget.get(), &VideoWidget::signalVideoWidgetIsStarted, [&] { order << "started"; });
        bench.camera.clearControlLog();
        bench.setConfig("Camera", "Mode", "16");
        widget->readSetting(); // a later change: no gain control write, announced by the next start
        QCOMPARE(bench.vendorRequests(), (QStringList{"c1:24:12", "b3:1:0"}));
        bench.camera.clearControlLog();
        widget->readSetting(); // unchanged: nothing
        QVERIFY(bench.vendorRequests().isEmpty() && order.isEmpty());
        bench.setConfig("Camera", "Mode", "x"); // the start writes the mode in use back
        g_camera_mode = 16;
        widget->start();
        QCOMPARE(order, (QStringList{"started", "16"}));
        std::string mode;
        ReadPrivateProfileString("Camera", "Mode", "", mode, Paths::configFile().toStdString());
        QCOMPARE(mode, std::string("16"));

        order.clear();
        bench.setConfig("Camera", "Mode", "8");
        widget->readSetting();
        QCOMPARE(order, (QStringList{"stopped", "8", "started"}));
        QCOMPARE(g_capture_buffer_size.load(), kFrameBytes8);
        Still still;
        collect(widget.get(), &still);
        QVERIFY(widget->capture());
        QCOMPARE(still.bits, 8);
        widget->stop();
    }

    void recordingBacklogIsBounded()
    {
        // A disk that does not keep up: every pool thread is busy until released.
        QSemaphore release;
        QThreadPool *pool = QThreadPool::globalInstance();
        const int busy = pool->maxThreadCount();
        for (int i = 0; i < busy; ++i)
            QtConcurrent::run([&release] { release.acquire(); });

        QTemporaryDir dir;
        const QString stem = dir.filePath("burst");
        FrameRecorder recorder;
        std::vector<unsigned char> frame(kFrameBytes16, 0x40);
        recorder.start(stem);
        int accepted = 0;
        const int offered = 3 * FrameRecorder::kMaxPending;
        for (int i = 0; i < offered; ++i)
            accepted += recorder.submit(frame.data(), 16) ? 1 : 0;
        recorder.stop();
        QCOMPARE(accepted, FrameRecorder::kMaxPending);
        QCOMPARE(recorder.framesDropped(), offered - accepted);

        release.release(busy);
        QVERIFY(recorder.waitForPending(30000));
        QCOMPARE(recorder.filesWritten(), accepted);
        QCOMPARE(recorder.writesFailed(), 0);
        // Numbers stay consecutive.
        QVERIFY(QFile::exists(FrameRecorder::fileName(stem, accepted)));
        QVERIFY(!QFile::exists(FrameRecorder::fileName(stem, accepted + 1)));
    }

    // A frame the display thread is still handing over when the recording stops is either waited
    // for or not written: no file appears after a wait that said all was written. The frame is
    // held inside the hand-over by the metadata lock it takes.
    void recordingStopWaitsForTheFrameInHand()
    {
        QTemporaryDir dir;
        const QString stem = dir.filePath("held");
        std::vector<unsigned char> frame(kFrameBytes8, 0x40);
        FrameRecorder recorder;
        recorder.start(stem);
        capturedImageMetaDataLock().lock();
        std::thread display([&] { recorder.submit(frame.data(), 8); });
        QThread::msleep(300); // time to reach the lock; a later arrival sees the stop instead
        recorder.stop();
        const bool allWritten = recorder.waitForPending(300);
        const bool fileAtTheWait = QFile::exists(FrameRecorder::fileName(stem, 1));
        capturedImageMetaDataLock().unlock();
        display.join();
        QVERIFY(recorder.waitForPending(60000));
        QVERIFY(!fileAtTheWait);
        if (allWritten)
            QVERIFY(!QFile::exists(FrameRecorder::fileName(stem, 1)));
        else
            QCOMPARE(recorder.filesWritten(), 1);
    }

    // Recorded frames wait for the turret readings that cover their exposure: a frame exposed
    // while a turret may have moved is not kept, every other one is labelled with what stood in
    // the light path while it was exposed (however late it is judged), and the files are numbered
    // without gaps and timed from the first one's frame. Script, times in ms: "r<asked>" a reading
    // of the cube turret handled 5 ms later ("m": it found the turret moved), "o<asked>" one of the
    // objective turret, "e<t>" a board event, "L<t>:<label>"
    // a label noted, "f<began>-<ended>" a frame, "j" a judgement as readings come; a final one
    // follows the script. Kept: label@time of every file in number order ("meta": the metadata).
    void recordedFramesFollowTheTurrets_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("refused");
        QTest::addColumn<int>("awaiting"); // before the final judgement
        QTest::newRow("a turn between readings")
            << "r0 L1:Trans r200 f100-180 r400 f250-390 f350-450 r600m r800m L805:GFP f810-890 r1000 f900-990"
            << "Trans@0 Trans@210 GFP@710 GFP@810" << 1 << 0;
        QTest::newRow("judged late, after a turn and back")
            << "r0 L1:Trans f100-180 f350-450 f810-890 f1500-1580 r200 r400 r600m r800m L805:GFP r1000 r1200m "
               "r1400m L1405:Trans r1600 j"
            << "Trans@0 GFP@710 Trans@1400" << 1 << 0;
        QTest::newRow("a turn and back seen only by the board's event")
            << "r0 L1:Trans r200 f210-290 r400 f410-490 e500 r600 f610-690 r800 j" << "Trans@0 Trans@400" << 1 << 0;
        QTest::newRow("an objective turn")
            << "r0 o0 L1:Trans/10X r200 o200 f210-290 r400 o400m L405:Trans/20X f410-490 r600 o600 j"
            << "Trans/20X@0" << 1 << 0;
        QTest::newRow("an objective read only at the start does not hold frames back")
            << "r0 o0 L1:Trans r1200 r1400 f1210-1290 r1600 j" << "Trans@0" << 0 << 0;
        QTest::newRow("no board: kept at once") << "f100-180 f200-280" << "meta@0 meta@100" << 0 << 0;
        QTest::newRow("the board falls silent: kept at the end as the turrets stood")
            << "r0 L1:Trans r200 f100-180 f300-380 j" << "Trans@0 Trans@200" << 0 << 1;
    }
    void recordedFramesFollowTheTurrets()
    {
        QFETCH(QString, script);
        QFETCH(QString, kept);
        QFETCH(int, refused);
        QFETCH(int, awaiting);
        QTemporaryDir dir;
        const QString stem = dir.filePath("turn");
        TurretLog turrets;
        FrameRecorder recorder(&turrets);
        const int64_t base = MonotonicClock::nowUs() + 100000000; // no frame waits long enough to be judged unread
        const auto us = [base](const QString &ms) { return base + ms.toLongLong() * 1000; };
        std::vector<unsigned char> frame(kFrameBytes8, 0x40);
        recorder.start(stem);
        for (const QString &step : script.split(' ')) {
            const QString rest = step.mid(1);
            switch (step[0].toLatin1()) {
            case 'r':
            case 'o': {
                const bool moved = rest.endsWith('m');
                const QString asked = moved ? rest.chopped(1) : rest;
                turrets.noteReading(step[0] == 'r' ? TurretLog::Filter : TurretLog::Objective, us(asked), moved,
                                    us(asked) + 5000);
                break;
            }
            case 'e': turrets.noteEvent(TurretLog::Filter, us(rest)); break;
            case 'L': turrets.noteLabel(rest.section(':', 1), us(rest.section(':', 0, 0))); break;
            case 'f': QVERIFY(recorder.submit(frame.data(), 8, {us(rest.section('-', 0, 0)), us(rest.section('-', 1))})); break;
            case 'j': recorder.judge(); break;
            default: QFAIL(qPrintable(step));
            }
        }
        QCOMPARE(recorder.framesAwaiting(), awaiting);
        recorder.stop();
        recorder.judge(true);
        QVERIFY(recorder.waitForPending(kHangBoundMs));
        QCOMPARE(recorder.framesRefused(), refused);
        QCOMPARE(recorder.writesFailed(), 0);
        const QString meta = capturedImageMetaData().metaText();
        QStringList found;
        for (int n = 1; QFile::exists(FrameRecorder::fileName(stem, n)); ++n) {
            ImReaderWriter image;
            QVERIFY(image.read(QFile::encodeName(FrameRecorder::fileName(stem, n))));
            const QString text = QString::fromUtf8(image.description);
            const QString label = text.section(";Time: ", 0, 0);
            const QTime time = QTime::fromString(text.section(";Time: ", 1), "hh:mm:ss.zzz");
            found << QString("%1@%2").arg(label == meta ? "meta" : label).arg(QTime(0, 0).msecsTo(time));
        }
        QCOMPARE(found.join(' '), kept);
        QCOMPARE(recorder.filesWritten(), found.size());
    }

    // Half a second of the fastest frames waits for one reading and is then written whole: frames
    // judged together are held until the disk takes them, never dropped as a backlog.
    void framesJudgedTogetherAreAllWritten()
    {
        QTemporaryDir dir;
        const QString stem = dir.filePath("burst");
        TurretLog turrets;
        FrameRecorder recorder(&turrets);
        const int64_t base = MonotonicClock::nowUs() + 100000000;
        turrets.noteReading(TurretLog::Filter, base, false, base);
        turrets.noteLabel("Trans", base);
        std::vector<unsigned char> frame(kFrameBytes8, 0x40);
        recorder.start(stem);
        const int frames = FrameRecorder::kMaxPending;
        for (int i = 0; i < frames; ++i)
            QVERIFY(recorder.submit(frame.data(), 8, {base + 10000 * (i + 1), base + 10000 * (i + 2)}));
        QCOMPARE(recorder.framesAwaiting(), frames);
        turrets.noteReading(TurretLog::Filter, base + 10000 * (frames + 2), false, base + 10000 * (frames + 3));
        recorder.judge();
        recorder.stop();
        QVERIFY(recorder.waitForPending(kHangBoundMs));
        QCOMPARE(recorder.framesDropped(), 0);
        QCOMPARE(recorder.filesWritten(), frames);
    }

    void recordingNamesAndTimes()
    {
        QCOMPARE(FrameRecorder::fileName("/a/b", 1), QString("/a/b_0001.tif"));
        QCOMPARE(FrameRecorder::fileName("/a/b", 9999), QString("/a/b_9999.tif"));
        QCOMPARE(FrameRecorder::fileName("/a/b", 10001), QString("/a/b_10001.tif"));
        // A "%" in the stem is part of the name.
        QCOMPARE(FrameRecorder::fileName("/a/run%2 %1", 12), QString("/a/run%2 %1_0012.tif"));
        QCOMPARE(FrameRecorder::timeText(0), QString("00:00:00.000"));
        QCOMPARE(FrameRecorder::timeText(3723004), QString("01:02:03.004"));
    }
};

QTEST_MAIN(TestVideoWidget)
#include "tst_videowidget.moc"
