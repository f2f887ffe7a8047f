#pragma once
#include "SimulatedSystemActions.h"

#include <QList>
#include <QString>

#include <memory>

// The storage of the simulated instrument: the SSD volume and USB drives inside the sandbox, laid
// out as the storage monitor finds them on the instrument, and the answers to mount and umount.
//
// Sandbox layout (fixed paths under Paths::root()):
//   /dev/<device>                          stand-in for the block device (an empty file)
//   /dev/disk/by-uuid/<uuid>               link to ../../<device>
//   /dev/disk/by-label/<label>             link to ../../<device>, blanks written as "\x20"
//   /etc/mtab                              the mount table, kernel style ("\040" for a blank)
//   /.sim/storage/drives.ini               the known drives: device, uuid, label, plugged, fault
//   /.sim/storage/<name>/                  a drive's contents
// Mounting a drive turns its empty mount-point folder into a link to the drive's contents and adds
// the mount-table line; unmounting puts the empty folder back and drops the line. Drives are
// plugged and pulled by other processes too (vantor-sim-usb): everything lives in the sandbox.
// As with udev, a plug or pull adds or removes only that drive's links, each in one step (a link
// is replaced by a rename, never removed and made again); the other drives' links are not touched.
class SimStorage
{
public:
    enum class Fault
    {
        None,
        HangMount,   // mount never answers (until released or the hang limit)
        FailMount,   // mount fails at once
        BusyUnmount, // umount answers "target is busy"
    };

    struct Drive
    {
        QString name;   // the drive's name in the sandbox (its contents folder)
        QString device; // kernel name: sda1, sdb1 ...
        QString uuid;
        QString label;  // file-system label; empty for a drive without one
        bool plugged = false;
        Fault fault = Fault::None;
    };

    static const QString ssdName;   // "VANTOR SSD"
    static const QString usbName;   // the USB drive of a new sandbox
    static const QString stateDir;  // "/.sim/storage"

    // Creates what is missing (and touches nothing that is there): the system's SD card, the SSD volume and one USB drive (both
    // plugged, nothing mounted), and an empty mount table. A plain SSD folder left under /media
    // by an older sandbox becomes the SSD's contents. False with a reason when something could
    // not be made.
    static bool seed(QString *error = nullptr);

    // Plugs drive name in (a new drive gets the next free device sdb1, sdc1 ... and the label
    // given; a null label means the name, an empty one no label). A known drive keeps its label.
    static bool plug(const QString &name, const QString &label, QString *error);
    // Pulls drive name out; a mount stays in the table until the system unmounts it.
    static bool pull(const QString &name, QString *error);
    static bool setFault(const QString &name, Fault fault, QString *error);
    static QList<Drive> drives();
    static QString contentsPath(const QString &name); // real path of a drive's contents

    static QString faultName(Fault fault);
    static bool parseFault(const QString &text, Fault *fault);

    // Kernel escaping of one mount-table field: blank, tab, newline and backslash as octal.
    static QByteArray escapeMountField(const QString &field);

    SimStorage();
    ~SimStorage(); // releases hung calls and detaches from the actions it was attached to

    // Answers "mount" (device, mount point, ...) and "umount" (mount point or device) inside the
    // sandbox; every other action is left to the default answer.
    SimulatedSystemActions::Handler handler() const;
    void attach(SimulatedSystemActions &actions);

    // For the simulated run: seeds the storage and attaches one storage, kept for the life of the
    // process, to the process-wide simulated system actions. False with a reason on the
    // instrument or when the sandbox cannot be seeded.
    static bool install(QString *error = nullptr);

    // A hung mount gives up after this long on its own (default 120 s), answering "timed out".
    void setHangLimitMs(int ms);
    // Lets every hung mount answer now.
    void releaseHungCalls();

private:
    struct State;
    std::shared_ptr<State> m_state;
    SimulatedSystemActions *m_attached = nullptr;
};
