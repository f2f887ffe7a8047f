#include "MonotonicClock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {
int64_t realNowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The clock as tests set it: clock = base + (real - realBase) x rate. Untouched, the clock is
// real time and no lock is taken.
std::atomic<bool> g_scaled{false};
std::atomic<double> g_rate{1.0};
std::mutex g_scaleMutex;
int64_t g_realBaseUs = 0;
int64_t g_clockBaseUs = 0;

int64_t scaledNowUsLocked()
{
    return g_clockBaseUs + int64_t(double(realNowUs() - g_realBaseUs) * g_rate);
}
} // namespace

int64_t MonotonicClock::nowMs()
{
    return nowUs() / 1000;
}

int64_t MonotonicClock::nowUs()
{
    if (!g_scaled)
        return realNowUs();
    std::lock_guard<std::mutex> lock(g_scaleMutex);
    return scaledNowUsLocked();
}

void MonotonicClock::sleepMs(int ms)
{
    if (ms > 0)
        sleepUs(int64_t(ms) * 1000);
}

void MonotonicClock::sleepUs(int64_t us)
{
    if (us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(realUs(us)));
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

void MonotonicClock::setRate(double rate)
{
    if (!(rate > 0))
        return;
    std::lock_guard<std::mutex> lock(g_scaleMutex);
    const int64_t now = g_scaled ? scaledNowUsLocked() : realNowUs();
    g_realBaseUs = realNowUs();
    g_clockBaseUs = now;
    g_rate = rate;
    g_scaled = true;
}

double MonotonicClock::rate()
{
    return g_rate;
}

int64_t MonotonicClock::realUs(int64_t clockUs)
{
    const double rate = g_rate;
    return rate == 1.0 ? clockUs : std::max<int64_t>(1, int64_t(double(clockUs) / rate));
}
