#pragma once
#include <QString>
#include <functional>

class Controller;

// Opens the controller on a device as the control panel does (115200 8N1, no flow control).
bool openController(Controller &controller, const QString &device);

// Runs the GUI thread's event loop for ms milliseconds, or until done() holds.
void pumpEvents(int ms);
bool pumpUntil(const std::function<bool()> &done, int timeoutMs);

// The longest gap between the ticks of a 10 ms timer on the GUI thread while it lives: the
// longest time the thread was kept from its event loop.
class StallMeter
{
public:
    StallMeter();
    ~StallMeter();
    int longestGapMs() const;

private:
    struct Private;
    Private *d;
};

// Reads a key of the configuration file with Python's configparser (a tool we did not write);
// empty when it is missing.
QString readConfigWithPython(const QString &section, const QString &key);
