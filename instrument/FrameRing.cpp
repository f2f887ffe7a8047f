#include "FrameRing.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

FrameRing g_frameRing;

void FrameRing::Free::operator()(unsigned char *p) const
{
    std::free(p);
}

FrameRing::FrameRing()
{
    const size_t bytes = size_t(kSlots) * kSlotBytes;
    auto *p = static_cast<unsigned char *>(std::aligned_alloc(64, bytes));
    if (!p)
        throw std::bad_alloc();
    std::memset(p, 0, bytes);
    m_buffer.reset(p);
}

void FrameRing::reset()
{
    m_writeIndex = 0;
}

void FrameRing::advance()
{
    const int s = m_writeIndex;
    m_drawIndex = s;
    m_writeIndex = (s + 1) % kSlots;
}

void FrameRing::handOver(FrameSpan span)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frame = slot(m_drawIndex);
        m_span = span;
        ++m_sequence;
    }
    m_cond.notify_one();
}

void FrameRing::wake()
{
    { std::lock_guard<std::mutex> lock(m_mutex); }
    m_cond.notify_all();
}

unsigned char *FrameRing::waitForFrame(uint64_t *seen, const std::function<bool()> &stop, int pollMs,
                                       const std::function<void(unsigned char *)> &underLock, FrameSpan *span)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool ready = m_cond.wait_for(lock, std::chrono::milliseconds(pollMs),
                                       [&] { return m_sequence != *seen || stop(); });
    if (!ready || m_sequence == *seen)
        return nullptr;
    *seen = m_sequence;
    unsigned char *frame = m_frame;
    if (frame && underLock)
        underLock(frame);
    if (span)
        *span = m_span;
    return frame;
}
