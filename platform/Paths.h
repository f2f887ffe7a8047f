#pragma once
#include <QString>

// Every fixed path of the instrument ("/root/...", "/media/...", "/etc/mtab", "/dev/disk/...")
// goes through here. On the instrument the paths stand as written; in the simulated run and in
// tests they are prefixed with VANTOR_ROOT, so nothing outside the sandbox is ever touched.
class Paths
{
public:
    // True when VANTOR_TARGET=instrument: real serial device, USB camera and system actions.
    static bool isInstrument();

    // The prefix of every fixed path: "" on the instrument, else VANTOR_ROOT, else the default
    // sandbox folder of the simulated run.
    static QString root();

    // A fixed path under the prefix: path("/root/Microscope/NIMBO/NIMBO.ini").
    static QString path(const QString &fixedPath);

    // The inverse of path(): strips the prefix again (for texts shown to the user).
    static QString fixedPath(const QString &realPath);

    // The default sandbox of the simulated run ($XDG_DATA_HOME or ~/.local/share, "vantor-sim").
    static QString defaultSandbox();

    // Why the simulated run cannot use its prefix, or an empty text when it can: an empty prefix,
    // one that is the host's own "/" (after resolving ".." and links) or one that is not a folder
    // would put the simulated run's files, and its real tar, onto the host itself.
    static QString sandboxRefusal();

    // Tests and the simulator may move the prefix while the process runs.
    static void setRoot(const QString &root);

    // Well-known fixed paths.
    static QString configFile() { return path("/root/Microscope/NIMBO/NIMBO.ini"); }
    static QString configDir() { return path("/root/Microscope/NIMBO"); }
    static QString media() { return path("/media"); }
    static QString ssd() { return path("/media/VANTOR SSD"); }
    // The folder of the counting protocol files: the program's own folder on the instrument, the
    // configuration folder of the sandbox otherwise.
    static QString programDir();
};
