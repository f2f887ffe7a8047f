#pragma once
#include <cstdint>
#include <functional>

// Waiting and time-outs use the monotonic clock, never processor time or the wall clock.
class MonotonicClock
{
public:
    static int64_t nowMs();
    static int64_t nowUs();
    static void sleepMs(int ms);

    // Polls pred every pollMs until it is true or timeoutMs has passed; returns pred's last value.
    static bool waitFor(const std::function<bool()> &pred, int timeoutMs, int pollMs = 1);
};
