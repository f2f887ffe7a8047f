#pragma once
#include "CameraProtocol.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// When a frame's light was gathered, as far as the capture thread knows (monotonic clock, us): its
// exposure began no earlier than beganUs and had ended by endedUs. Zero: not known.
struct FrameSpan
{
    int64_t beganUs = 0;
    int64_t endedUs = 0;
};

// The four-slot frame ring between the capture thread and the display thread. The capture
// thread reads each frame straight into slot writeIndex(), advances, and hands the slot over;
// the display thread waits for a hand-off and copies the frame out while the capture thread fills
// the next slots. Every slot holds a 16-bit frame; an 8-bit frame fills its first half.
//
// A hand-off is counted, so a waiting display thread never misses one, and wake() ends a wait
// at once (used to stop the display thread).
class FrameRing
{
public:
    static constexpr int kSlots = 4;
    static constexpr int kSlotBytes = kFrameBytes16;

    FrameRing();

    unsigned char *slot(int k) { return m_buffer.get() + size_t(k) * kSlotBytes; }

    // Capture side. reset() starts again at slot 0.
    void reset();
    int writeIndex() const { return m_writeIndex; }
    int drawIndex() const { return m_drawIndex; }
    // The slot just filled becomes the one to draw; writing moves on to the next slot.
    void advance();
    // Hands the slot to draw over to the display thread, with when it was exposed, and wakes it.
    void handOver(FrameSpan span = {});

    // Display side: waits until a frame newer than *seen has been handed over, or until stop()
    // is true (tested on every wake-up and every pollMs). Returns the frame, or null on stop or
    // time-out. underLock runs on the frame before the ring's lock is released; span, when given,
    // receives when the frame was exposed.
    unsigned char *waitForFrame(uint64_t *seen, const std::function<bool()> &stop, int pollMs,
                                const std::function<void(unsigned char *)> &underLock = {},
                                FrameSpan *span = nullptr);
    // Wakes a waiting display thread (after its stop condition has been set).
    void wake();

    // Frames handed over since construction.
    uint64_t handedOver() const { return m_sequence; }

private:
    struct Free { void operator()(unsigned char *p) const; };
    std::unique_ptr<unsigned char[], Free> m_buffer;
    std::atomic<int> m_writeIndex{0};
    std::atomic<int> m_drawIndex{0};
    std::mutex m_mutex;
    std::condition_variable m_cond;
    unsigned char *m_frame = nullptr; // the slot last handed over; guarded by m_mutex
    FrameSpan m_span;                 // ... and when it was exposed
    std::atomic<uint64_t> m_sequence{0};
};

// The one ring of the camera module.
extern FrameRing g_frameRing;
