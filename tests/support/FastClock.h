#pragma once
#include "MonotonicClock.h"

// While it lives, the monotonic clock runs four times (or `rate` times) as fast: a long exposure's
// frame, and every wait counted on that clock, take a quarter of their time. What runs on real
// time (the serial link's 200 ms polling, Qt's timers) takes that many times longer on this clock.
struct FastClock
{
    explicit FastClock(double rate = 4) { MonotonicClock::setRate(rate); }
    ~FastClock() { MonotonicClock::setRate(1); }
    FastClock(const FastClock &) = delete;
    FastClock &operator=(const FastClock &) = delete;
};
