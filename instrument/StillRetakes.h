#pragma once

// The retakes a run allows one still that the live video refused because a turret moved while it
// was exposed. The run asks again after a pause that lets a turn by hand end; the live video then
// takes the first frame exposed wholly after the request and refuses it again while the turret
// still turns. A turret that keeps moving uses up the retakes and the run ends instead of waiting.
class StillRetakes
{
public:
    static constexpr int kMaxRetakes = 3;
    static constexpr int kPauseMs = 1000;

    // A new still: its retakes are all left.
    void reset() { m_used = 0; }
    // Counts one retake; false when none is left.
    bool take()
    {
        if (m_used >= kMaxRetakes)
            return false;
        ++m_used;
        return true;
    }
    int used() const { return m_used; }
    // How long a retake takes as a rule, its pause included: two frame periods of the current
    // exposure (the still wait's own limit is a hang bound beyond that).
    static int retakeMs();

private:
    int m_used = 0;
};
