#pragma once
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>

// The camera's capture thread: polls the camera about once a millisecond for a ready frame,
// reads it into the frame ring, serves a pending still capture, drops the frames exposed before
// a scene change (an exposure written, a turret moved) and hands every good frame to the display
// thread. When no valid frame (full length, first byte not 0) comes for longer than the exposure
// plus one second, counted from the last valid frame or the last scene change
// (g_scene_changed_us), whichever is later, it gives up: both live threads end and onGiveUp runs
// (on this thread; the owner shows the message on its own thread).
//
// It asks for real-time FIFO scheduling at the highest priority and runs with normal scheduling
// where that is refused. Threads it creates (pool workers for its image loops) run with normal
// scheduling.
class CaptureThread
{
public:
    explicit CaptureThread(std::function<void()> onGiveUp = {});
    ~CaptureThread();
    CaptureThread(const CaptureThread &) = delete;
    CaptureThread &operator=(const CaptureThread &) = delete;

    // Sets g_capture and creates the thread; false when no thread could be created.
    bool start();
    // Clears g_capture and joins the thread (also one that gave up on its own).
    void stop();
    bool isStarted() const { return m_started; }
    bool isRealTime() const { return m_realTime; }

    // Counters for diagnostics and tests.
    struct Counters
    {
        uint64_t framesRead = 0;    // good or not, as the camera delivered them
        uint64_t framesDropped = 0; // dropped after a scene change
        uint64_t stills = 0;        // taken into the still buffers
        uint64_t failedPasses = 0;  // no frame ready, failed or short reads
    };
    Counters counters() const;

    // The thread's body; the argument is the CaptureThread.
    static void *capture_thread_loop(void *arg);

private:
    void run();
    bool obtainFrame(unsigned char *slot, int size);
    void takeStill(const unsigned char *slot, int64_t endedAfterUs);
    // Whether the frame that arrived at arrivedUs, not ready at endedAfterUs, is dropped after a
    // scene change.
    bool dropAfterSceneChange(int64_t endedAfterUs, int64_t arrivedUs);
    void giveUp();

    std::function<void()> m_onGiveUp;
    pthread_t m_thread{};
    bool m_started = false;
    bool m_realTime = false;
    std::atomic<uint64_t> m_framesRead{0};
    std::atomic<uint64_t> m_framesDropped{0};
    std::atomic<uint64_t> m_stills{0};
    std::atomic<uint64_t> m_failedPasses{0};
};
