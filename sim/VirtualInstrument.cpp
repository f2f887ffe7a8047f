#include "VirtualInstrument.h"

#include "MonotonicClock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

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
    const int64_t nowUs = MonotonicClock::nowUs();
    s.timeMs = nowUs / 1000;
    s.stagePosition = positionAt(s.timeMs);
    s.stageLower = m_lower;
    s.stageUpper = m_upper;
    s.stageCounterOffset = m_counterOffset;
    s.stageMoving = s.stagePosition != m_moveTo;
    s.stageTarget = m_moveTo;
    s.stageSpeed = m_speed;
    const Optics &o = m_optics.back();
    s.filterPosition = o.filter;
    s.filterTurning = nowUs < o.filterSettledUs;
    s.objectivePosition = o.objective;
    s.objectiveTurning = nowUs < o.objectiveSettledUs;
    for (int c = 0; c < ChannelCount; ++c) {
        s.ledOn[c] = o.ledOn[c];
        s.ledLit[c] = o.ledOn[c] && nowUs - o.ledOnSinceUs[c] >= o.ledSwitchOnUs;
        s.ledPower[c] = o.ledPower[c];
    }
    s.lightPathCovered = o.covered;
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
    Optics &o = changeOptics();
    o.filter = std::clamp(position, 0, ChannelCount - 1);
    o.filterSettledUs = o.sinceUs + int64_t(std::max(0, transientMs)) * 1000;
}

void VirtualInstrument::turnObjective(int position, int transientMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Optics &o = changeOptics();
    o.objective = std::clamp(position, 1, 5);
    o.objectiveSettledUs = o.sinceUs + int64_t(std::max(0, transientMs)) * 1000;
}

void VirtualInstrument::setLed(int channel, bool on, double powerPercent)
{
    if (!validChannel(channel))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    switchLed(channel, on);
    m_optics.back().ledPower[channel] = std::clamp(powerPercent, 0.0, 100.0);
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
    Optics &o = changeOptics();
    if (on && !o.ledOn[channel])
        o.ledOnSinceUs[channel] = o.sinceUs;
    o.ledOn[channel] = on;
}

void VirtualInstrument::setLightPathCovered(bool covered)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    changeOptics().covered = covered;
}

void VirtualInstrument::setLedSwitchOnMs(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    changeOptics().ledSwitchOnUs = int64_t(std::max(0, ms)) * 1000;
}

int VirtualInstrument::ledSwitchOnMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_optics.back().ledSwitchOnUs / 1000);
}

VirtualInstrument::Optics &VirtualInstrument::changeOptics()
{
    const int64_t now = MonotonicClock::nowUs();
    if (m_optics.back().sinceUs < now) {
        Optics next = m_optics.back();
        next.sinceUs = now;
        m_optics.push_back(next);
    }
    // The record in force at the oldest moment still asked for stays.
    while (m_optics.size() > 1 && m_optics[1].sinceUs <= now - OpticsHistoryUs)
        m_optics.pop_front();
    return m_optics.back();
}

double VirtualInstrument::Optics::lightAt(int64_t t) const
{
    const bool blocked = covered || t < filterSettledUs || t < objectiveSettledUs;
    const bool lit = ledOn[filter] && t >= ledOnSinceUs[filter] + ledSwitchOnUs;
    return lit && !blocked ? ledPower[filter] / 100.0 : 0.0;
}

int64_t VirtualInstrument::Optics::nextChangeAfter(int64_t t) const
{
    int64_t next = INT64_MAX;
    for (const int64_t at : {filterSettledUs, objectiveSettledUs, ledOnSinceUs[filter] + ledSwitchOnUs}) {
        if (at > t)
            next = std::min(next, at);
    }
    return next;
}

void VirtualInstrument::forEachPiece(int64_t fromUs, int64_t toUs,
                                     const std::function<void(const Optics &, int64_t, int64_t)> &piece) const
{
    // The record in force at fromUs: the last one that began no later (the oldest kept stands for
    // all time before it).
    size_t i = 0;
    while (i + 1 < m_optics.size() && m_optics[i + 1].sinceUs <= fromUs)
        ++i;
    for (; i < m_optics.size(); ++i) {
        const Optics &o = m_optics[i];
        const int64_t end = std::min(toUs, i + 1 < m_optics.size() ? m_optics[i + 1].sinceUs : INT64_MAX);
        // Piecewise constant between the moments a turret stands or an LED gives light.
        for (int64_t t = i == 0 ? fromUs : std::max(fromUs, o.sinceUs); t < end;) {
            const int64_t next = std::min(end, o.nextChangeAfter(t));
            piece(o, t, next);
            t = next;
        }
        if (end >= toUs)
            break;
    }
}

std::vector<VirtualInstrument::LightShare> VirtualInstrument::lightOver(int64_t fromUs, int64_t toUs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<LightShare> shares;
    const double span = double(std::max<int64_t>(toUs - fromUs, 1));
    auto share = [&](const Optics &o) -> LightShare & {
        for (LightShare &s : shares) {
            if (s.filter == o.filter && s.objective == o.objective)
                return s;
        }
        shares.push_back({o.filter, o.objective, 0.0});
        return shares.back();
    };
    if (toUs <= fromUs) {
        size_t i = 0;
        while (i + 1 < m_optics.size() && m_optics[i + 1].sinceUs <= fromUs)
            ++i;
        share(m_optics[i]).light = m_optics[i].lightAt(fromUs);
        return shares;
    }
    forEachPiece(fromUs, toUs, [&](const Optics &o, int64_t from, int64_t to) {
        share(o).light += o.lightAt(from) * double(to - from) / span;
    });
    return shares;
}

VirtualInstrument::SteadyOptics VirtualInstrument::opticsOver(int64_t fromUs, int64_t toUs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SteadyOptics out;
    bool first = true;
    bool steady = toUs > fromUs;
    if (steady)
        forEachPiece(fromUs, toUs, [&](const Optics &o, int64_t from, int64_t) {
            // A turn inside the span darkens it for its transient; a power change changes the light.
            const double light = o.lightAt(from);
            if (first) {
                out = {true, o.filter, o.objective, light};
                first = false;
            }
            if (light <= 0 || o.filter != out.filter || o.objective != out.objective || light != out.light)
                steady = false;
        });
    out.steady = steady && !first;
    return out;
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
