#pragma once
#include <QString>

#include <atomic>
#include <thread>

class BoardSimulator;
class VirtualInstrument;

// The hand of a person at the simulated instrument: it turns the filter and objective turrets and
// the focus knobs, and can make the board send an event or commit a fault. The application never
// calls it; it sees what the hand did only through the board (turret and knob events, positions)
// and the camera, as on the instrument.
//
// A running simulation listens on a Unix socket in its sandbox (socketPath()); vantor-sim-hand
// sends it one command line per connection and prints the reply. The same commands are typed on
// vantor-board-sim's standard input:
//   filter N|CUBE         turn the cube turret to position N (0 Trans, 1 to 3 fluorescence cubes)
//                         or to the cube the configuration names so (e.g. "GFP")
//   objective N, lens N   turn the objective turret to N (1 to 5)
//   knob coarse|fine S    turn a focus knob by S motor steps (negative: down)
//   event TEXT            the board sends "$A#TEXT"
//   fault TEXT            a board fault (BoardFault::parse syntax), e.g. "silence=3"
//   state                 where stage, turrets and LEDs stand
class SimHand
{
public:
    // board may be null (a run on another serial device): event and fault are then refused.
    SimHand(VirtualInstrument &instrument, BoardSimulator *board);
    ~SimHand(); // stops listening and removes the socket

    // Listens on path (default socketPath()); false with a reason when another run already
    // listens there or the socket cannot be made. A socket left by a run that ended is replaced.
    bool start(QString *error = nullptr, const QString &path = socketPath());
    void stop();
    QString path() const { return m_path; }

    // Carries out one command line; the reply, starting with "error: " when refused.
    static QString execute(const QString &line, VirtualInstrument &instrument, BoardSimulator *board);
    // The name the configuration gives the cube at a filter position, or an empty text.
    static QString cubeName(int position);
    // "<sandbox>/.sim/hand".
    static QString socketPath();
    // Sends one command line to the run listening on path; false with the reason in reply when no
    // run listens or it does not answer within timeoutMs.
    static bool send(const QString &line, QString *reply, const QString &path = socketPath(), int timeoutMs = 5000);

private:
    void run();
    void serve(int client);

    VirtualInstrument &m_instrument;
    BoardSimulator *m_board;
    QString m_path;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<bool> m_running {false};
};
