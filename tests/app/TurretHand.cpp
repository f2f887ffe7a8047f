#include "TurretHand.h"

#include "CameraAccess.h"
#include "MonotonicClock.h"
#include "SimHand.h"
#include "SimulatedInstrument.h"

#include <algorithm>
#include <random>

TurretHand::TurretHand(SimulatedInstrument &sim) : m_sim(sim)
{
}

TurretHand::~TurretHand()
{
    stop();
}

QList<TurretHand::Turn> TurretHand::plan(uint32_t seed, int count, int fromMs, int toMs, int home, int away, int andBackAt)
{
    std::mt19937 rng(seed);
    QList<int> moments;
    for (int i = 0; i < count; ++i)
        moments << fromMs + int(rng() % uint32_t(std::max(1, toMs - fromMs)));
    std::sort(moments.begin(), moments.end());
    QList<Turn> turns;
    bool awayNow = false;
    for (int i = 0; i < count; ++i) {
        const bool andBack = i == andBackAt;
        // A turn and back starts and ends at home.
        if (andBack && awayNow) {
            turns << Turn{moments[i], home, false};
            awayNow = false;
        }
        turns << Turn{moments[i], andBack || !awayNow ? away : home, andBack};
        if (!andBack)
            awayNow = !awayNow;
    }
    return turns;
}

void TurretHand::start(const QList<Turn> &turns)
{
    stop();
    m_stop = false;
    m_finished = false;
    m_startUs = MonotonicClock::nowUs();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done.clear();
    }
    m_thread = std::thread(&TurretHand::run, this, turns);
}

void TurretHand::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_finished = true;
}

QStringList TurretHand::done() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_done;
}

bool TurretHand::sleepUntilUs(int64_t atUs)
{
    while (!m_stop && MonotonicClock::nowUs() < atUs)
        MonotonicClock::sleepMs(int(std::clamp<int64_t>((atUs - MonotonicClock::nowUs()) / 1000, 1, 20)));
    return !m_stop;
}

void TurretHand::turn(int position)
{
    SimHand::execute(QStringLiteral("filter %1").arg(position), m_sim.instrument(), m_sim.board());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done << QStringLiteral("%1 ms: filter %2").arg((MonotonicClock::nowUs() - m_startUs) / 1000).arg(position);
}

void TurretHand::run(QList<Turn> turns)
{
    for (const Turn &t : turns) {
        if (!sleepUntilUs(m_startUs + int64_t(t.atMs) * 1000))
            break;
        if (!t.andBack) {
            turn(t.position);
            continue;
        }
        // Inside the exposure of the still the application waits for: the next one to begin.
        // A run that takes no more stills (it ended meanwhile) gets the turns all the same.
        const int64_t giveUpUs = MonotonicClock::nowUs() + kStillWaitMs * 1000;
        while (!m_stop && g_captured && MonotonicClock::nowUs() < giveUpUs)
            MonotonicClock::sleepMs(1);
        const int home = m_sim.instrument().state().filterPosition;
        const int64_t beginUs = m_sim.camera().nextExposureBeginUs();
        const int64_t periodUs = int64_t(m_sim.camera().framePeriodMs() * 1000);
        // Early in it: the turret stands again well before the exposure ends.
        if (!sleepUntilUs(beginUs + periodUs / 20))
            break;
        turn(t.position);
        if (!sleepUntilUs(beginUs + periodUs / 10))
            break;
        turn(home);
    }
    m_finished = true;
}
