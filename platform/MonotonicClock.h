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
    static void sleepUs(int64_t us);

    // Polls pred every pollMs until it is true or timeoutMs has passed; returns pred's last value.
    static bool waitFor(const std::function<bool()> &pred, int timeoutMs, int pollMs = 1);

    // Tests only: from now on the clock runs `rate` times as fast as real time and sleeps are
    // shortened to match, so that long exposures and waits take a fraction of their time. The
    // clock stays monotonic across changes; set it while no other thread waits on it.
    static void setRate(double rate);
    static double rate();
    // Real time, in microseconds, that `clockUs` of this clock take.
    static int64_t realUs(int64_t clockUs);
};
