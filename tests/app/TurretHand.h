#pragma once
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class SimulatedInstrument;

// A person's hand at the simulated instrument while a run goes on: it turns the cube turret with
// the hand tool's commands at planned moments, on a thread of its own, whatever the application
// does meanwhile. A turn may be a turn away and back inside one exposure: the hand waits for the
// application to want a still, then turns away just after the next exposure begins and back
// before it ends (the exposure must outlast both turns' transients); a run that asks for no still
// within 10 s gets them at once.
class TurretHand
{
public:
    struct Turn
    {
        int atMs = 0;         // after start()
        int position = 0;     // the cube turned to
        bool andBack = false; // away to position and back inside a still's exposure
    };

    explicit TurretHand(SimulatedInstrument &sim);
    ~TurretHand(); // stops

    // count turns at random moments from fromMs to toMs, alternating between away and home; the
    // turn at index andBackAt (if any) is a turn away and back inside a still.
    static QList<Turn> plan(uint32_t seed, int count, int fromMs, int toMs, int home, int away, int andBackAt = -1);

    void start(const QList<Turn> &turns);
    void stop();
    bool finished() const { return m_finished; }
    // What the hand did, "1234 ms: filter 3" a line, for failure messages.
    QStringList done() const;

private:
    static constexpr int kStillWaitMs = 10000; // for a still to turn in

    void run(QList<Turn> turns);
    bool sleepUntilUs(int64_t atUs);
    void turn(int position);

    SimulatedInstrument &m_sim;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{true};
    int64_t m_startUs = 0;
    mutable std::mutex m_mutex;
    QStringList m_done;
};
