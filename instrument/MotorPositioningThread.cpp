#include "MotorPositioningThread.h"

#include "MonotonicClock.h"

MotorPositioningThread::MotorPositioningThread(PositionReader reader)
    : m_reader(std::move(reader))
    , m_nowMs(&MonotonicClock::nowMs)
    , m_sleepMs(&MonotonicClock::sleepMs)
{
}

void MotorPositioningThread::setClock(std::function<int64_t()> nowMs, std::function<void(int)> sleepMs)
{
    m_nowMs = nowMs ? std::move(nowMs) : std::function<int64_t()>(&MonotonicClock::nowMs);
    m_sleepMs = sleepMs ? std::move(sleepMs) : std::function<void(int)>(&MonotonicClock::sleepMs);
}

bool MotorPositioningThread::waitUntilStopped(int target, int timeoutMs)
{
    if (timeoutMs <= 0)
        timeoutMs = kDefaultTimeoutMs;
    const int64_t start = m_nowMs();
    m_previous.reset();
    m_last.reset();
    m_readings = 0;
    for (;;) {
        if (const std::optional<int> reading = m_reader()) {
            ++m_readings;
            if (m_log)
                m_log(*reading);
            m_previous = m_last;
            m_last = reading;
            // A first reading never counts as agreement: only two real readings can.
            if ((m_previous && *m_previous == *m_last) || (target != kNoTarget && *m_last == target))
                return true;
        }
        if (m_nowMs() - start >= timeoutMs)
            return false;
        m_sleepMs(kReadingIntervalMs);
    }
}
