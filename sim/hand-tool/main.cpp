// vantor-sim-hand: does by hand what a person at the instrument does, on the simulated instrument
// that the application runs on in the sandbox (VANTOR_ROOT, else the default sandbox):
//
//   vantor-sim-hand filter 2          turn the cube turret to position 2 (0 is Trans)
//   vantor-sim-hand filter GFP        turn it to the cube the configuration names GFP
//   vantor-sim-hand objective 3       turn the objective turret (also: lens 3)
//   vantor-sim-hand knob fine -200    turn the fine focus knob by -200 motor steps
//   vantor-sim-hand event "KNOB FINE RUN" | fault silence=3 | state
//
// Prints where the instrument stands afterwards. Exit status 0 when done, 1 when no simulated
// run listens, 2 when the command was refused.

#include "SimHand.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList words = QCoreApplication::arguments().mid(1);
    if (words.isEmpty() || words.first() == "--help" || words.first() == "-h") {
        std::fprintf(stderr, "usage: vantor-sim-hand filter N|CUBE | objective N | lens N | knob coarse|fine STEPS"
                             " | event TEXT | fault TEXT | state\n");
        return 2;
    }
    QString reply;
    if (!SimHand::send(words.join(' '), &reply)) {
        std::fprintf(stderr, "vantor-sim-hand: %s\n", qPrintable(reply));
        return 1;
    }
    const bool refused = reply.startsWith(QStringLiteral("error: "));
    std::fprintf(refused ? stderr : stdout, "%s\n", qPrintable(reply));
    return refused ? 2 : 0;
}
