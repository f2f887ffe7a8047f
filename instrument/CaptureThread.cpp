#include "CaptureThread.h"

#include "ExceptionTracer.h"
#include "CameraAccess.h"
#include "FrameRing.h"
#include "MonotonicClock.h"
#include "ThreadScheduling.h"

#include <opencv2/core.hpp>

#include <QDebug>
#include <cstring>
#include <limits>
#include <sched.h>

CaptureThread::CaptureThread(std::function<void()> onGiveUp)
    : m_onGiveUp(std::move(onGiveUp))
{
}

CaptureThread::~CaptureThread()
{
    stop();
}

bool CaptureThread::start()
{
    stop();
    // Set before the thread exists, so that a stop right after the start is never lost.
    g_capture = 1;
    g_out_of_grabbing_time = false;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setscope(&attr, PTHREAD_SCOPE_SYSTEM);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    sched_param params{};
    params.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_attr_setschedparam(&attr, &params);
    int rc = pthread_create(&m_thread, &attr, &CaptureThread::capture_thread_loop, this);
    pthread_attr_destroy(&attr);
    m_realTime = rc == 0;
    if (rc != 0) {
        // Real-time scheduling refused (no privilege): normal scheduling instead.
        rc = pthread_create(&m_thread, nullptr, &CaptureThread::capture_thread_loop, this);
    }
    m_started = rc == 0;
    if (!m_started) {
        qWarning() << "Capture thread could not be created:" << std::strerror(rc);
        g_capture = 0;
    }
    return m_started;
}

void CaptureThread::stop()
{
    if (!m_started)
        return;
    g_capture = 0;
    pthread_join(m_thread, nullptr);
    m_started = false;
}

CaptureThread::Counters CaptureThread::counters() const
{
    return {m_framesRead, m_framesDropped, m_stills, m_failedPasses};
}

void *CaptureThread::capture_thread_loop(void *arg)
{
    ExceptionTracer::useAlternateStack();
    ThreadScheduling::keepCreatedThreadsNormal(); // pool workers made for its loops, say
    static_cast<CaptureThread *>(arg)->run();
    return nullptr;
}

bool CaptureThread::obtainFrame(unsigned char *slot, int size)
{
    if (g_no_camera) {
        std::memset(slot, 1, size_t(size));
        return true;
    }
    return camera_frame_ready() && camera_read_frame(slot, size);
}

void CaptureThread::takeStill(const unsigned char *slot, int64_t endedAfterUs)
{
    const bool deep = g_camera_mode == 16;
    const cv::Mat frame(kFrameHeight, kFrameWidth, deep ? CV_16UC1 : CV_8UC1, const_cast<unsigned char *>(slot));
    cv::flip(frame, deep ? g_mat16 : g_mat8, -1);
    g_still_began_us = stillExposureBeganUs(endedAfterUs);
    ++m_stills;
    g_captured = true;
}

bool CaptureThread::dropAfterSceneChange(int64_t endedAfterUs, int64_t arrivedUs)
{
    if (!g_skip_a_frame_80ms_exposure)
        return false;
    // Short exposures drop four frames (well under half a second); longer ones only the frames
    // that may hold light from before the change, which is never more than four.
    const bool fixedDrop = g_current_exposure_time <= kFixedDropExposureMs / 1000.0;
    if (!fixedDrop && exposedAfterSceneChange(endedAfterUs, arrivedUs)) {
        g_skip_a_frame_80ms_exposure = false;
        return false;
    }
    if (g_skip_frame_count.fetch_add(1) > 2)
        g_skip_a_frame_80ms_exposure = false;
    ++m_framesDropped;
    return true;
}

void CaptureThread::run()
{
    g_frameRing.reset();
    double elapsed = -1.0;
    int64_t lastFrameUs = MonotonicClock::nowUs();
    bool first = true;
    // The last time the camera was asked for a frame: the next frame it reports ready ended after
    // that. Before the first question nothing is known, so the first frame is never a still.
    int64_t previousPollUs = std::numeric_limits<int64_t>::min() / 2;

    while (g_capture) {
        MonotonicClock::sleepMs(1);
        const double exposure = g_current_exposure_time;
        // Read after the exposure, which is set after its restart is noted: a new exposure never
        // meets an older restart time.
        const int64_t changedUs = g_scene_changed_us;
        if (changedUs > lastFrameUs) {
            // The sensor started its exposure over (a new exposure, or the same one written again
            // at a filter change), or the scene changed: the stall limit counts from there, since
            // a frame under way was abandoned and the next one comes a whole exposure later.
            lastFrameUs = changedUs;
            elapsed = -1.0;
        }
        if (exposure > 0 && elapsed > exposure + 1.0) {
            giveUp();
            return;
        }

        const int s = g_frameRing.writeIndex();
        unsigned char *slot = g_frameRing.slot(s);
        const int size = g_capture_buffer_size;
        const int64_t pollUs = MonotonicClock::nowUs();
        const int64_t endedAfterUs = previousPollUs;
        previousPollUs = pollUs;
        // The camera's silence counts up to the question, not to its answer: a thread held off
        // the processor after the camera said "not yet" (a busy machine) is no stalled camera,
        // while one asked past the limit that still has no frame is.
        if (size <= 0 || !obtainFrame(slot, size)) {
            ++m_failedPasses;
            if (exposure > 0)
                elapsed = (pollUs - lastFrameUs) / 1e6;
            continue;
        }
        const int64_t arrivedUs = MonotonicClock::nowUs();
        ++m_framesRead;
        // Live video runs from the first frame the camera delivers, also one dropped after an
        // exposure change: the start does not wait out the drops.
        if (first) {
            g_is_running = true;
            first = false;
        }
        // Only a valid frame is a sign of life, also one that is dropped or taken as a still: a
        // long exposure's dropped frames must not look like a stall, and a camera that sends
        // only invalid frames must.
        const bool valid = slot[0] != 0;
        if (valid) {
            lastFrameUs = arrivedUs;
            elapsed = -1.0;
        } else if (exposure > 0) {
            elapsed = (pollUs - lastFrameUs) / 1e6;
        }

        // A pending still takes the first frame exposed wholly after the request. When the frame
        // ended is known from the camera's ready answers, not from the end of its read, which a
        // slow bus or a busy machine delays. The still is not shown and its slot is used again.
        if (!g_captured && valid && exposedAfterStillRequest(endedAfterUs)) {
            takeStill(slot, endedAfterUs);
            continue;
        }
        g_frameRing.advance();

        if (dropAfterSceneChange(endedAfterUs, arrivedUs))
            continue;
        if (valid)
            g_frameRing.handOver({stillExposureBeganUs(endedAfterUs), arrivedUs});
    }
}

void CaptureThread::giveUp()
{
    g_out_of_grabbing_time = true;
    g_is_running = true;  // releases a start waiting for the first frame
    g_captured = true;    // releases a waiting still capture
    g_capture = 0;
    g_display = 0;
    g_frameRing.wake();
    while (g_sld_display_is_running)
        MonotonicClock::sleepMs(100);
    qWarning() << "Camera: no frame for" << g_current_exposure_time.load() + 1.0 << "s, live video ended";
    if (m_onGiveUp)
        m_onGiveUp();
}
