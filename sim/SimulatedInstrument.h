#pragma once
#include "BoardFault.h"
#include "BoardProfile.h"
#include "BoardSimulator.h"
#include "SimHand.h"
#include "SimulatedCamera.h"
#include "VirtualInstrument.h"

#include <QList>
#include <QString>

#include <memory>

// The simulated instrument of a run off the instrument: the shared VirtualInstrument and the
// controller board on a pseudo-terminal. The simulated run creates one and keeps it for its
// whole life; the application reaches it only through the serial device (serialDevice()).
//
// Environment:
//   VANTOR_SERIAL_DEVICE   a serial device to use instead; the board simulator is then not started
//   VANTOR_SIM_FIRMWARE    board profile: old, 2.3, 2.4, 2.6, 2.8 or 3.1, or another version
//                          text such as 2.5 (default 3.1)
//   VANTOR_SIM_FAULTS      comma-separated faults for the board, BoardFault::parse syntax,
//                          e.g. "ng=3,split=always,pos800000@STAGE POS"
//   VANTOR_SIM_CAMERA      camera fault: none, stall, short or zero (see SimulatedCamera.h)
class SimulatedInstrument
{
public:
    struct Options
    {
        BoardProfile profile;
        QList<BoardFault> faults;
        bool startBoard = true; // false when VANTOR_SERIAL_DEVICE names another device
        bool keepLog = true;    // board and camera log their traffic (tests); a long run turns it off

        // From the environment; an unknown firmware name or fault leaves the default and is
        // reported in warnings.
        static Options fromEnvironment(QStringList *warnings = nullptr);
    };

    explicit SimulatedInstrument(const Options &options = Options::fromEnvironment());
    ~SimulatedInstrument();
    SimulatedInstrument(const SimulatedInstrument &) = delete;
    SimulatedInstrument &operator=(const SimulatedInstrument &) = delete;

    // Starts the board simulator (unless startBoard is false); false with a reason in error.
    bool start(QString *error = nullptr);

    // Lets a person at the simulated instrument turn its turrets and knobs while it runs
    // (vantor-sim-hand, see SimHand); false with a reason in error.
    bool startHand(QString *error = nullptr);

    VirtualInstrument &instrument() { return m_instrument; }
    BoardSimulator *board() { return m_board.get(); } // null when not started
    // The camera, installed as the process's camera transport while this instance lives.
    SimulatedCamera &camera() { return *m_camera; }
    // The device of this instance: the simulator's pseudo-terminal, or the override.
    QString devicePath() const;

    // The serial device the controller opens: VANTOR_SERIAL_DEVICE when set; else "ttyS4" on
    // the instrument (QSerialPort opens it as /dev/ttyS4); else the pseudo-terminal of the
    // running SimulatedInstrument; empty when there is none.
    static QString serialDevice();
    // The instance created last and still alive, or null.
    static SimulatedInstrument *current();

private:
    Options m_options;
    VirtualInstrument m_instrument;
    std::unique_ptr<BoardSimulator> m_board;
    std::unique_ptr<SimulatedCamera> m_camera;
    std::unique_ptr<SimHand> m_hand;
};
