#include "VirtualInstrument.h"

#include "MonotonicClock.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int MinKnobMs = 50;

bool validChannel(int channel)
{
    return channel >= 0 && channel < VirtualInstrument::ChannelCount;
}
} // namespace

VirtualInstrument::VirtualInstrument()
{
    m_moveStartMs = MonotonicClock::nowMs();
}

int VirtualInstrument::positionAt(int64_t nowMs) const
{
    const double travelled = m_speed * double(std::max<int64_t>(0, nowMs - m_moveStartMs)) / 1000.0;
    const int distance = std::abs(m_moveTo - m_moveFrom);
    if (travelled >= distance)
        return m_moveTo;
    const int done = int(travelled);
    return m_moveTo >= m_moveFrom ? m_moveFrom + done : m_moveFrom - done;
}

void VirtualInstrument::settle(int64_t nowMs)
{
    const int here = positionAt(nowMs);
    m_moveFrom = here;
    m_moveTo = here;
    m_moveStartMs = nowMs;
}

VirtualInstrument::State VirtualInstrument::state() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    State s;
    s.timeMs = MonotonicClock::nowMs();
    s.stagePosition = positionAt(s.timeMs);
    s.stageLower = m_lower;
    s.stageUpper = m_upper;
    s.stageCounterOffset = m_counterOffset;
    s.stageMoving = s.stagePosition != m_moveTo;
    s.stageTarget = m_moveTo;
    s.stageSpeed = m_speed;
    s.filterPosition = m_filter;
    s.filterTurning = s.timeMs < m_filterSettledMs;
    s.objectivePosition = m_objective;
    s.objectiveTurning = s.timeMs < m_objectiveSettledMs;
    for (int c = 0; c < ChannelCount; ++c) {
        s.ledOn[c] = m_ledOn[c];
        s.ledLit[c] = m_ledOn[c] && s.timeMs - m_ledOnSinceMs[c] >= m_ledSwitchOnMs;
        s.ledPower[c] = m_ledPower[c];
    }
    s.lightPathCovered = m_lightPathCovered;
    s.knobCoarseRunning = s.timeMs < m_knobUntilMs[0];
    s.knobFineRunning = s.timeMs < m_knobUntilMs[1];
    s.knobCoarseSpeed = m_knobSpeed[0];
    s.knobFineSpeed = m_knobSpeed[1];
    s.camera = m_camera;
    return s;
}

void VirtualInstrument::moveTo(int target, double stepsPerSecond)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = MonotonicClock::nowMs();
    settle(now);
    m_moveTo = std::clamp(target, m_lower, m_upper);
    m_speed = stepsPerSecond > 0 ? stepsPerSecond : m_defaultSpeed;
}

void VirtualInstrument::moveBy(int distance, double stepsPerSecond)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = MonotonicClock::nowMs();
    settle(now);
    const int64_t target = int64_t(m_moveFrom) + distance;
    m_moveTo = int(std::clamp<int64_t>(target, m_lower, m_upper));
    m_speed = stepsPerSecond > 0 ? stepsPerSecond : m_defaultSpeed;
}

void VirtualInstrument::stopStage()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    settle(MonotonicClock::nowMs());
}

void VirtualInstrument::resetCounter()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    settle(MonotonicClock::nowMs());
    const int here = m_moveFrom;
    m_counterOffset += here;
    m_lower -= here;
    m_upper -= here;
    m_moveFrom = m_moveTo = 0;
}

void VirtualInstrument::setStagePosition(int position)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_moveFrom = m_moveTo = std::clamp(position, m_lower, m_upper);
    m_moveStartMs = MonotonicClock::nowMs();
}

void VirtualInstrument::setStageLimits(int lower, int upper)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = MonotonicClock::nowMs();
    settle(now);
    m_lower = std::min(lower, upper);
    m_upper = std::max(lower, upper);
    m_moveFrom = m_moveTo = std::clamp(m_moveFrom, m_lower, m_upper);
}

void VirtualInstrument::setDefaultSpeed(double stepsPerSecond)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (stepsPerSecond > 0)
        m_defaultSpeed = stepsPerSecond;
}

double VirtualInstrument::defaultSpeed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_defaultSpeed;
}

void VirtualInstrument::turnFilter(int position, int transientMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_filter = std::clamp(position, 0, ChannelCount - 1);
    m_filterSettledMs = MonotonicClock::nowMs() + std::max(0, transientMs);
}

void VirtualInstrument::turnObjective(int position, int transientMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_objective = std::clamp(position, 1, 5);
    m_objectiveSettledMs = MonotonicClock::nowMs() + std::max(0, transientMs);
}

void VirtualInstrument::setLed(int channel, bool on, double powerPercent)
{
    if (!validChannel(channel))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    switchLed(channel, on);
    m_ledPower[channel] = std::clamp(powerPercent, 0.0, 100.0);
}

void VirtualInstrument::setLedOn(int channel, bool on)
{
    if (!validChannel(channel))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    switchLed(channel, on);
}

// A change of power leaves a lit LED lit; only off to on starts the switch-on time.
void VirtualInstrument::switchLed(int channel, bool on)
{
    if (on && !m_ledOn[channel])
        m_ledOnSinceMs[channel] = MonotonicClock::nowMs();
    m_ledOn[channel] = on;
}

void VirtualInstrument::setLightPathCovered(bool covered)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lightPathCovered = covered;
}

void VirtualInstrument::setLedSwitchOnMs(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ledSwitchOnMs = std::max(0, ms);
}

int VirtualInstrument::ledSwitchOnMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ledSwitchOnMs;
}

void VirtualInstrument::turnKnob(bool coarse, int steps, int durationMs)
{
    durationMs = std::max(durationMs, MinKnobMs);
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = MonotonicClock::nowMs();
    settle(now);
    m_moveTo = int(std::clamp<int64_t>(int64_t(m_moveFrom) + steps, m_lower, m_upper));
    m_speed = std::max(1.0, std::abs(double(steps)) * 1000.0 / durationMs);
    m_knobUntilMs[coarse ? 0 : 1] = now + durationMs;
}

void VirtualInstrument::setKnobSpeed(bool coarse, int speed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_knobSpeed[coarse ? 0 : 1] = speed;
}

SimCameraState VirtualInstrument::camera() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_camera;
}

void VirtualInstrument::updateCamera(const std::function<void(SimCameraState &)> &change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    change(m_camera);
}
