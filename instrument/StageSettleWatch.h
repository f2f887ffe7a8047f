#pragma once
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class Controller;

// Finds the end of a focus-stage move on a board of the old dialect, which answers a move as it
// starts or only once it ends: it asks "Z POS" every 100 ms until two readings in a row agree,
// then reports where the stage stands. With no agreeing readings by the time-out, or no reading
// at all for a few seconds while no move reply is awaited (a board that stopped answering), it
// reports nothing, so a sequence that waits for it always ends.
class StageSettleWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kAskIntervalMs = 100;
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr int kSilenceMs = 5000;

    using Done = std::function<void(std::optional<int> position)>;

    explicit StageSettleWatch(Controller &controller, QObject *parent = nullptr);

    // Starts watching; done runs once. With askFirst false the first reading is left to whoever
    // already asked the board (the controller asks by itself after a focus-memory "Z BOTTOM").
    void start(Done done, bool askFirst, int timeoutMs = kDefaultTimeoutMs);
    void cancel();
    bool isActive() const { return m_active; }

private slots:
    void ask();
    void reading(int position);
    void timedOut();
    void silent();

private:
    void finish(std::optional<int> position);

    Controller &m_controller;
    QTimer m_askTimer;
    QTimer m_deadline;
    QTimer m_silence;
    Done m_done;
    std::optional<int> m_last;
    bool m_active = false;
};
