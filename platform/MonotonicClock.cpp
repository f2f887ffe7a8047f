#include "MonotonicClock.h"

#include <chrono>
#include <thread>

int64_t MonotonicClock::nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t MonotonicClock::nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void MonotonicClock::sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool MonotonicClock::waitFor(const std::function<bool()> &pred, int timeoutMs, int pollMs)
{
    const int64_t end = nowMs() + timeoutMs;
    while (!pred()) {
        if (nowMs() >= end)
            return pred();
        sleepMs(pollMs);
    }
    return true;
}
