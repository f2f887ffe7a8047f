#include "TurretLog.h"

#include "MonotonicClock.h"

#include <algorithm>

namespace {
int64_t timeOf(int64_t nowUs)
{
    return nowUs == TurretLog::kNow ? MonotonicClock::nowUs() : nowUs;
}
}

TurretLog g_turretLog;

void TurretLog::openMove(Turret turret, int64_t nowUs)
{
    // Since the last reading of this turret; with none, since ever.
    const int64_t fromUs = m_read[turret] ? m_askedUs[turret] : 0;
    if (!m_moves.empty() && m_moves.back().toUs >= fromUs) {
        Span &last = m_moves.back();
        last.fromUs = std::min(last.fromUs, fromUs);
        last.toUs = std::max(last.toUs, nowUs);
    } else {
        m_moves.push_back({fromUs, nowUs});
    }
    prune(nowUs);
}

void TurretLog::noteReading(Turret turret, int64_t askedUs, bool moved, int64_t nowUs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (moved)
        openMove(turret, timeOf(nowUs));
    m_askedUs[turret] = m_read[turret] ? std::max(m_askedUs[turret], askedUs) : askedUs;
    m_read[turret] = true;
}

void TurretLog::noteEvent(Turret turret, int64_t nowUs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    openMove(turret, timeOf(nowUs));
}

void TurretLog::noteLabel(const QString &text, int64_t nowUs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = timeOf(nowUs);
    if (!m_moves.empty() && (m_labels.empty() || m_moves.back().toUs >= m_labels.back().sinceUs))
        m_moves.back().toUs = std::max(m_moves.back().toUs, now);
    m_labels.push_back({now, text});
    prune(now);
}

void TurretLog::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_askedUs[Filter] = m_askedUs[Objective] = 0;
    m_read[Filter] = m_read[Objective] = false;
    m_moves.clear();
    m_labels.clear();
}

void TurretLog::prune(int64_t nowUs)
{
    const int64_t before = nowUs - kKeepUs;
    while (m_moves.size() > 1 && m_moves.front().toUs < before)
        m_moves.pop_front();
    // The label in force at the oldest time kept stays.
    while (m_labels.size() > 1 && m_labels[1].sinceUs < before)
        m_labels.pop_front();
}

bool TurretLog::hasReadings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_read[Filter] || m_read[Objective];
}

int64_t TurretLog::knownUntilUs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_read[Filter])
        return m_read[Objective] ? m_askedUs[Objective] : 0;
    const int64_t filter = m_askedUs[Filter];
    if (m_read[Objective] && m_askedUs[Objective] >= filter - kStaleReadingUs)
        return std::min(filter, m_askedUs[Objective]);
    return filter;
}

bool TurretLog::movedWithin(int64_t fromUs, int64_t toUs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A move since a reading asked at fromUs began after that reading's answer, so no earlier.
    return std::any_of(m_moves.begin(), m_moves.end(),
                       [&](const Span &move) { return move.fromUs < toUs && move.toUs > fromUs; });
}

QString TurretLog::labelAt(int64_t atUs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_labels.rbegin(); it != m_labels.rend(); ++it)
        if (it->sinceUs <= atUs)
            return it->text;
    return QString();
}
