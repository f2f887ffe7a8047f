// vantor-sim-usb: plugs and pulls simulated USB drives in the sandbox of the simulated run
// (VANTOR_ROOT, else the default sandbox), so that a running application sees them come and go.
//
//   vantor-sim-usb plug NAME [LABEL]   plug drive NAME in; a new drive is labelled LABEL
//                                      (default NAME; "" for a drive without a label)
//   vantor-sim-usb pull NAME           pull it out
//   vantor-sim-usb fault NAME FAULT    none, hang-mount, fail-mount or busy-umount
//   vantor-sim-usb list                the drives, their devices, labels and faults
//
// A drive's files live in <sandbox>/.sim/storage/NAME; mounted, they appear under /media. Only the
// drive named changes: its links come and go one at a time, as udev makes them, so a running
// storage monitor sees that drive alone.

#include "Paths.h"
#include "SimStorage.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
}

int usage()
{
    print(stderr, "usage: vantor-sim-usb plug NAME [LABEL] | pull NAME | fault NAME none|hang-mount|fail-mount|busy-umount | list");
    return 2;
}

int report(bool ok, const QString &error)
{
    if (!ok)
        print(stderr, "vantor-sim-usb: " + error);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    if (Paths::isInstrument() || Paths::root().isEmpty()) {
        print(stderr, "vantor-sim-usb: only the simulated run has simulated drives (VANTOR_TARGET=instrument is set)");
        return 1;
    }
    QString error;
    if (!SimStorage::seed(&error))
        return report(false, error);

    const QString command = args[0];
    if (command == "plug" && (args.size() == 2 || args.size() == 3)) {
        // A null label means "the name"; an empty one, a drive without a label.
        const QString label = args.size() == 3 ? QString(args[2].isEmpty() ? QStringLiteral("") : args[2]) : QString();
        return report(SimStorage::plug(args[1], label, &error), error);
    }
    if (command == "pull" && args.size() == 2)
        return report(SimStorage::pull(args[1], &error), error);
    if (command == "fault" && args.size() == 3) {
        SimStorage::Fault fault;
        if (!SimStorage::parseFault(args[2], &fault) || args[2].isEmpty())
            return usage();
        return report(SimStorage::setFault(args[1], fault, &error), error);
    }
    if (command == "list" && args.size() == 1) {
        print(stdout, "sandbox " + Paths::root());
        for (const SimStorage::Drive &drive : SimStorage::drives())
            print(stdout, QString("%1\t%2\t%3\t%4\t%5")
                              .arg(drive.name, drive.device,
                                   drive.label.isEmpty() ? QString("(no label)") : "label \"" + drive.label + '"',
                                   drive.plugged ? "plugged" : "pulled", SimStorage::faultName(drive.fault)));
        return 0;
    }
    return usage();
}
