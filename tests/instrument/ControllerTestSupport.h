#pragma once
#include "BoardSimulator.h"
#include "Controller.h"
#include "TestRoot.h"
#include "VirtualInstrument.h"

#include <QString>
#include <functional>

using Pieces = QList<BoardSimulator::Piece>;

// Opens the controller on a device as the control panel does (115200 8N1, no flow control).
bool openController(Controller &controller, const QString &device);
BoardProfile profileNamed(const QString &name);
// One answer written delayMs after the command; none for empty bytes.
Pieces reply(const QByteArray &bytes, int delayMs = 2);

// The simulated board of a firmware profile on a pseudo-terminal and the controller opened on it
// in a fresh sandbox. A test scripts the answers it needs exact; the firmware gives the rest.
struct BoardBench
{
    explicit BoardBench(const QString &profile = QStringLiteral("2.6"));
    // Opens the controller; unless polling is kept, stops it and clears the board's log.
    bool open(bool keepPolling = false);
    void script(BoardSimulator::Script s) { board.setScript(std::move(s)); }
    QStringList sent() const { return board.receivedTexts(); }

    TestRoot root;
    VirtualInstrument instrument;
    BoardSimulator board;
    Controller controller;
};

// Runs the GUI thread's event loop for ms milliseconds, or until done() holds.
void pumpEvents(int ms);
bool pumpUntil(const std::function<bool()> &done, int timeoutMs);
