#include "ControllerTestSupport.h"

#include "Controller.h"
#include "MonotonicClock.h"

#include <QCoreApplication>

bool openController(Controller &controller, const QString &device)
{
    return controller.PortOpen(device, 115200, QSerialPort::NoParity, QSerialPort::OneStop, QSerialPort::Data8,
                               QSerialPort::NoFlowControl);
}

BoardProfile profileNamed(const QString &name)
{
    BoardProfile profile;
    BoardProfile::fromName(name, &profile);
    return profile;
}

Pieces reply(const QByteArray &bytes, int delayMs)
{
    return bytes.isEmpty() ? Pieces{} : Pieces{{delayMs, bytes}};
}

BoardBench::BoardBench(const QString &profile)
    : board(instrument, profileNamed(profile))
{
}

bool BoardBench::open(bool keepPolling)
{
    if (!board.start() || !openController(controller, board.devicePath()))
        return false;
    if (!keepPolling) {
        controller.StopPulling();
        pumpEvents(20); // the answer to a poll in flight
        board.clearLog();
    }
    return true;
}

void pumpEvents(int ms)
{
    pumpUntil([] { return false; }, ms);
}

bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    const int64_t end = MonotonicClock::nowMs() + timeoutMs;
    while (!done()) {
        if (MonotonicClock::nowMs() >= end)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        MonotonicClock::sleepMs(1);
    }
    return true;
}
