#pragma once
#include "SimCameraState.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

// The state of the simulated instrument that the board simulator, the camera simulator and the
// specimen renderer share: focus stage, filter and objective turrets, LEDs, focus knobs and the
// camera. Every member function is thread-safe (one mutex); readers take a State snapshot.
//
// The focus stage moves in real time: a move records its start, target and speed, and the
// position is computed from the monotonic clock, so a reading taken while the stage moves differs
// from the next one and repeats once it stands. Positions are in focus-motor steps (51.2 per
// micrometre) as the board's counter gives them; "reset" zeroes the counter without moving the
// stage, so the physical height is counter + counterOffset.
class VirtualInstrument
{
public:
    static constexpr int ChannelCount = 4; // LED channels by filter position: 0 Trans, 1 to 3
    static constexpr int StartPosition = 60000; // where the stage stands at power-on
    // An LED switched on gives light only this long after the board took the command.
    static constexpr int DefaultLedSwitchOnMs = 20;

    struct State
    {
        int64_t timeMs = 0;          // monotonic time of the snapshot

        // Focus stage (counter coordinates).
        int stagePosition = 0;       // where the stage is now
        int stageLower = 0;          // lower limit switch
        int stageUpper = 0;          // upper limit switch
        int stageCounterOffset = 0;  // physical height = counter + offset
        bool stageMoving = false;
        int stageTarget = 0;         // end of the current move (the position when standing)
        double stageSpeed = 0;       // steps per second of the current or next move

        // Turrets. The position is where the turret stands or is heading; while it turns the
        // board reports it as "between positions".
        int filterPosition = 0;      // 0 Trans, 1 to 3 fluorescence cubes
        bool filterTurning = false;
        int objectivePosition = 1;   // 1 to 5
        bool objectiveTurning = false;

        // Light, by filter position: switched on, and giving light at the snapshot's time (on
        // for at least the switch-on time).
        bool ledOn[ChannelCount] = {};
        bool ledLit[ChannelCount] = {};
        double ledPower[ChannelCount] = {}; // percent 0 to 100
        bool lightPathCovered = false;      // no light reaches the camera, whatever the LEDs do

        // Focus knobs on the instrument.
        bool knobCoarseRunning = false;
        bool knobFineRunning = false;
        int knobCoarseSpeed = 0;     // last speed the program set
        int knobFineSpeed = 0;

        SimCameraState camera;

        int stagePhysical() const { return stagePosition + stageCounterOffset; }
        bool atLower() const { return stagePosition <= stageLower; }
        bool atUpper() const { return stagePosition >= stageUpper; }
    };

    // Default travel: physical 0 to 520000 steps, counter equal to the physical height, the
    // stage standing at 60000, filter at Trans, objective 1, all LEDs off.
    VirtualInstrument();

    State state() const;

    // Focus stage. Targets are clamped to the limits; a speed of 0 or less uses the default.
    void moveTo(int target, double stepsPerSecond);
    void moveBy(int distance, double stepsPerSecond);
    void stopStage();
    void resetCounter();                       // stops the stage; the counter reads 0 here
    void setStagePosition(int position);       // places the stage at once (tests, start-up)
    void setStageLimits(int lower, int upper); // counter coordinates
    void setDefaultSpeed(double stepsPerSecond);
    double defaultSpeed() const;

    // Turrets turned (by hand or by a test): between positions for transientMs, then standing at
    // the new position.
    void turnFilter(int position, int transientMs = 400);
    void turnObjective(int position, int transientMs = 600);

    // Light by channel (filter position 0 to 3).
    void setLed(int channel, bool on, double powerPercent);
    void setLedOn(int channel, bool on);
    // A covered light path (a cap on the condenser, a dead lamp the board still answers for).
    void setLightPathCovered(bool covered);
    void setLedSwitchOnMs(int ms);
    int ledSwitchOnMs() const;

    // A focus knob turned by hand: the stage moves by steps over durationMs (at least 50 ms),
    // and the knob counts as running for that time.
    void turnKnob(bool coarse, int steps, int durationMs);
    void setKnobSpeed(bool coarse, int speed);

    // The light that reached the camera from fromUs to toUs (monotonic clock), as a sensor
    // integrates it: one share per filter and objective that stood in the path during the span,
    // each the mean light fraction (LED power, 0 when dark or blocked) over the whole span. The
    // shares add up to the span's mean light; a span in the dark gives one share of 0.
    struct LightShare
    {
        int filter = 0;
        int objective = 1;
        double light = 0;
    };
    std::vector<LightShare> lightOver(int64_t fromUs, int64_t toUs) const;

    // What stood in the light path from fromUs to toUs (monotonic clock, us): steady when one filter
    // and one objective stood there the whole span, neither turning nor turned meanwhile, lit by
    // the filter's LED at one power all the while and nothing covering the path.
    struct SteadyOptics
    {
        bool steady = false;
        int filter = 0;
        int objective = 1;
        double light = 0; // the light fraction (LED power / 100) when steady
    };
    SteadyOptics opticsOver(int64_t fromUs, int64_t toUs) const;

    // Camera registers and mode, read and changed under the same lock.
    SimCameraState camera() const;
    void updateCamera(const std::function<void(SimCameraState &)> &change);

private:
    // What decides the light on the camera, from sinceUs until the next change: the turrets (and
    // when they stand) and the LEDs (and since when they are on).
    struct Optics
    {
        int64_t sinceUs = 0;
        int filter = 0;
        int64_t filterSettledUs = 0;
        int objective = 1;
        int64_t objectiveSettledUs = 0;
        bool ledOn[ChannelCount] = {};
        int64_t ledOnSinceUs[ChannelCount] = {};
        double ledPower[ChannelCount] = {};
        int64_t ledSwitchOnUs = int64_t(DefaultLedSwitchOnMs) * 1000;
        bool covered = false;

        // The light fraction at t, and the next moment after t at which it may change.
        double lightAt(int64_t t) const;
        int64_t nextChangeAfter(int64_t t) const;
    };
    // How long past optics are kept: longer than the longest exposure and its read-out.
    static constexpr int64_t OpticsHistoryUs = 120LL * 1000000;

    // Calls piece for each stretch of the span over which the light stays constant, with the record
    // in force and the stretch's ends (with the mutex held; fromUs < toUs).
    void forEachPiece(int64_t fromUs, int64_t toUs,
                      const std::function<void(const Optics &, int64_t, int64_t)> &piece) const;
    int positionAt(int64_t nowMs) const; // with the mutex held
    void settle(int64_t nowMs);          // ends a finished move; with the mutex held
    void switchLed(int channel, bool on); // with the mutex held
    // Opens a new optics record from now; the caller changes it (with the mutex held).
    Optics &changeOptics();

    mutable std::mutex m_mutex;
    // Stage: a move from m_moveFrom at m_moveStartMs towards m_moveTo at m_speed.
    int m_moveFrom = StartPosition;
    int m_moveTo = StartPosition;
    int64_t m_moveStartMs = 0;
    double m_speed = 20000;
    double m_defaultSpeed = 20000;
    int m_lower = 0;
    int m_upper = 520000;
    int m_counterOffset = 0;
    // Turrets and light: the current optics last, the earlier ones before it, oldest first.
    std::deque<Optics> m_optics = std::deque<Optics>(1);
    // Knobs.
    int64_t m_knobUntilMs[2] = {}; // coarse, fine
    int m_knobSpeed[2] = {};
    SimCameraState m_camera;
};
