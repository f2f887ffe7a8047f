#pragma once
#include <QString>

#include <cstdint>
#include <deque>
#include <mutex>

// What the program has learnt of the turrets over time (monotonic clock, us), for judging camera
// frames after the fact. The board's readings come late: a move shows only in the first reading
// asked after it, so a frame can be judged only once a reading asked after its exposure ended has
// been handled. A reading that finds a turret elsewhere than the reading before it, or between
// positions, says that the turret may have moved at any time since that earlier reading was
// asked: a frame whose exposure overlaps such a span saw the move.
//
// Beside the moves it keeps the label (the metadata text of the cube, objective and light) noted
// each time what stands in the light path changed, so that a frame is labelled with what stood
// there while it was exposed, however late it is judged. Thread-safe.
class TurretLog
{
public:
    enum Turret { Filter = 0, Objective = 1 };
    // The time of a note: the monotonic clock's now unless given.
    static constexpr int64_t kNow = -1;

    // A reading of one turret, asked at askedUs, is handled now; moved: it found the turret
    // elsewhere than the reading before, or between positions.
    void noteReading(Turret turret, int64_t askedUs, bool moved, int64_t nowUs = kNow);
    // The board said on its own that the turret came to a stand: it moved since it was last read.
    void noteEvent(Turret turret, int64_t nowUs = kNow);
    // What stands in the light path is labelled so from now on. A label noted for a move ends it
    // only now: until then the light path was being set up for the new position.
    void noteLabel(const QString &text, int64_t nowUs = kNow);
    // Forgets everything (a new link to the board).
    void clear();

    // Whether any reading came since the last clear: without one nothing is ever learnt.
    bool hasReadings() const;
    // Every move that began before this time has been learnt; 0 without readings. The objective
    // counts while it is read with the filter (a dialect that reports it only by events does not
    // read it).
    int64_t knownUntilUs() const;
    bool movedWithin(int64_t fromUs, int64_t toUs) const;
    // The label noted last at or before atUs; empty when none was.
    QString labelAt(int64_t atUs) const;

    // How long moves and labels are kept: longer than any exposure and the wait for its judgement.
    static constexpr int64_t kKeepUs = 120LL * 1000000;
    // An objective reading older than the filter's by more than this is not a regular one.
    static constexpr int64_t kStaleReadingUs = 1000000;

private:
    struct Span
    {
        int64_t fromUs;
        int64_t toUs;
    };
    struct Label
    {
        int64_t sinceUs;
        QString text;
    };
    void openMove(Turret turret, int64_t nowUs);
    void prune(int64_t nowUs);

    mutable std::mutex m_mutex;
    int64_t m_askedUs[2] = {0, 0}; // the question of the last reading of each turret
    bool m_read[2] = {false, false};
    std::deque<Span> m_moves;       // oldest first
    std::deque<Label> m_labels;     // oldest first
};

// The log of the one controller board.
extern TurretLog g_turretLog;
