#include "HangBound.h"
#include "MediaMonitor.h"
#include "MountTable.h"
#include "Paths.h"
#include "SimStorage.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QtTest>

#include <sys/stat.h>

namespace {

// One sandbox per case: the SSD (sda1) and USB1 (sdb1) plugged in, nothing mounted, every system
// action recorded and mount/umount answered by the simulated storage.
struct Sandbox
{
    TestRoot root;
    SimulatedSystemActions actions;
    SimStorage storage;
    bool seeded = SimStorage::seed();

    Sandbox()
    {
        storage.attach(actions);
        SystemActions::setInstance(&actions);
    }
    ~Sandbox() { SystemActions::setInstance(nullptr); }

    QString real(const QString &fixedPath) const { return root.path() + fixedPath; }
    QString media(const QString &folder) const { return real("/media/" + folder); }
    bool exists(const QString &folder) const { return QFileInfo::exists(media(folder)); }
    // Writes a file on a drive, whether mounted or not.
    void put(const QString &drive, const QString &name, const QByteArray &content = "x") const
    {
        QFile file(SimStorage::contentsPath(drive) + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    QString mountCall(const QString &device, const QString &folder) const
    {
        return QString("mount %1 %2").arg(real("/dev/" + device), media(folder));
    }
    // Runs vantor-sim-usb on this sandbox; its exit code, -1 when it did not end.
    int tool(const QStringList &args, bool instrument = false) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_ROOT", root.path());
        if (instrument)
            env.insert("VANTOR_TARGET", "instrument");
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-usb", args);
        return process.waitForFinished(kHangBoundMs) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};

QString deviceOf(const QString &drive)
{
    for (const SimStorage::Drive &d : SimStorage::drives())
        if (d.name == drive)
            return d.device;
    return QString();
}

// Labels of the device list, sorted (the scan follows directory order).
QStringList labels()
{
    QStringList out;
    for (const MediaMonitor::DeviceEntry &entry : MediaMonitor::deviceList())
        out << entry.second;
    out.sort();
    return out;
}

QString labelOf(const QString &device)
{
    for (const MediaMonitor::DeviceEntry &entry : MediaMonitor::deviceList())
        if (entry.first == device)
            return entry.second;
    return QString();
}

bool plug(const QString &name, const QString &label = QString())
{
    return SimStorage::plug(name, label, nullptr);
}

bool pull(const QString &name)
{
    return SimStorage::pull(name, nullptr);
}

bool fault(const QString &name, SimStorage::Fault fault)
{
    return SimStorage::setFault(name, fault, nullptr);
}

// Runs the change handler now, as one notification of the uuid folder.
void notify(MediaMonitor &monitor)
{
    QVERIFY(QMetaObject::invokeMethod(&monitor, "slotUpdateDeviceLabel", Qt::DirectConnection));
}

ino_t inodeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

class TestMediaMonitor : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { MediaMonitor::setSpaceQuery(nullptr); }

    void mountAllAndUmountAll()
    {
        Sandbox box;
        QVERIFY(box.seeded);
        box.put("VANTOR SSD", "kept.txt", "ssd");
        QVERIFY(plug("MY USB") && plug("BLANK1", "") && plug("BLANK2", ""));
        MediaMonitor monitor;
        // Construction scans without mounting; the system's SD card is never listed.
        QCOMPARE(labels(), QStringList({"MY USB", "Removable Disk", "Removable Disk (1)", "USB1", "VANTOR SSD"}));
        QVERIFY(box.actions.calls().isEmpty());
        monitor.mountAll();
        QVERIFY(MediaMonitor::isMounted("sda1") && MediaMonitor::isMounted("/dev/sdb1"));
        QVERIFY(box.exists("MY USB") && box.exists("Removable Disk (1)"));
        QFile ssdFile(box.media("VANTOR SSD/kept.txt"));
        QVERIFY(ssdFile.open(QIODevice::ReadOnly) && ssdFile.readAll() == "ssd");

        monitor.m_bStopUpdate = true;
        monitor.umountAll();
        QVERIFY(MediaMonitor::deviceList().isEmpty());
        QVERIFY(!MediaMonitor::isMounted("sda1") && !MediaMonitor::isMounted("sdb1"));
        QVERIFY(!box.exists("VANTOR SSD") && !box.exists("MY USB"));
        QVERIFY(QFileInfo::exists(SimStorage::contentsPath("VANTOR SSD") + "/kept.txt"));
    }

    void duplicateLabelsAndOccupiedFolders()
    {
        Sandbox box;
        box.root.writeFile("/media/DATA/keep.txt", "mine");
        QVERIFY(plug("STICK", "DATA"));
        MediaMonitor monitor;
        monitor.mountAll();
        // The entry names the folder it really is mounted on, so eject and unmount find it.
        QCOMPARE(labelOf(deviceOf("STICK")), QString("DATA (1)"));
        QVERIFY(box.actions.calls().contains(box.mountCall(deviceOf("STICK"), "DATA (1)")));
        QVERIFY(plug("A", "DATA"));
        notify(monitor);
        // Every change seen by one notification is followed.
        QVERIFY(plug("B", "DATA") && plug("E", "EXTRA"));
        box.put("B", "who", "B");
        notify(monitor);
        QCOMPARE(labels(), QStringList({"DATA (1)", "DATA (2)", "DATA (3)", "EXTRA", "USB1", "VANTOR SSD"}));
        QVERIFY(QFileInfo::exists(box.media(labelOf(deviceOf("B")) + "/who")));
        // A label freed by a pulled drive is given out again.
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        const QString freed = labelOf(deviceOf("A"));
        QVERIFY(pull("A") && pull("USB1"));
        notify(monitor);
        QCOMPARE(removed.count(), 2);
        QVERIFY(removed.at(0).at(0).toString() == freed || removed.at(1).at(0).toString() == freed);
        QVERIFY(plug("C", "DATA"));
        notify(monitor);
        QCOMPARE(labelOf(deviceOf("C")), freed);
        QVERIFY(monitor.umountByLabel("DATA (1)"));
        QVERIFY(!box.exists("DATA (1)") && QFileInfo::exists(box.media("DATA/keep.txt")));
        // Nothing changed: nothing happens; after the stop changes are not followed.
        box.actions.clearCalls();
        notify(monitor);
        monitor.m_bStopUpdate = true;
        QVERIFY(plug("LATE"));
        QTest::qWait(300); // the folder watch reports the change
        notify(monitor);
        QVERIFY(box.actions.calls().isEmpty());
    }

    // Drives come and go through the command-line tool and the folder watch, one link at a time:
    // the SSD's link and mount are never touched.
    void plugAndPullLeaveTheSsdAlone()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        const ino_t ssdLink = inodeOf(box.real("/dev/disk/by-uuid/") + SimStorage::drives().first().uuid);
        QVERIFY(ssdLink != 0);
        box.actions.clearCalls();
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QCOMPARE(box.tool({"plug", "TOOL DRIVE"}), 0);
        const QString device = deviceOf("TOOL DRIVE");
        QTRY_VERIFY_WITH_TIMEOUT(MediaMonitor::isMounted(device), 10000);
        QVERIFY(box.exists("TOOL DRIVE"));
        QCOMPARE(box.tool({"fault", "TOOL DRIVE", "none"}), 0);
        QCOMPARE(box.tool({"pull", "TOOL DRIVE"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 10000);
        QCOMPARE(removed.at(0).at(0).toString(), QString("TOOL DRIVE"));
        QVERIFY(!box.exists("TOOL DRIVE"));

        QCOMPARE(inodeOf(box.real("/dev/disk/by-uuid/") + SimStorage::drives().first().uuid), ssdLink);
        QCOMPARE(box.actions.calls(), QStringList({box.mountCall(device, "TOOL DRIVE"), "umount " + box.media("TOOL DRIVE")}));

        QCOMPARE(box.tool({"pull", "NO SUCH"}), 1);
        QCOMPARE(box.tool({"wobble"}), 2);
        // On the instrument there is nothing to simulate: the tool refuses.
        QCOMPARE(box.tool({"plug", "ANYTHING"}, true), 1);
    }

    void mountTableFieldByField()
    {
        TestRoot root;
        root.writeFile("/etc/mtab", "/dev/sda10 /media/BIG ext4 rw 0 0\n"
                                    "/dev/sdb1 /media/MY\\040USB\\134x vfat rw,relatime 0 0\n");
        QVERIFY(!MediaMonitor::isMounted("sda1") && MediaMonitor::isMounted(root.path() + "/dev/sdb1"));
        QList<MountTable::Entry> table;
        QVERIFY(MountTable::read(&table));
        QCOMPARE(table[1].mountPoint, QString("/media/MY USB\\x"));
        QCOMPARE(MountTable::decodeField("a\\011b\\012c\\04"), QString("a\tb\nc\\04"));
        QVERIFY(QFile::remove(root.path() + "/etc/mtab"));
        QVERIFY(!MountTable::read(&table) && !MediaMonitor::isMounted("sda10"));
    }

    // A mount that never answers is given up after one time-out per drive, however many changes
    // of the device folder follow, until the drive is pulled out.
    void aHungMountCostsOneTimeOut()
    {
        Sandbox box;
        QVERIFY(fault("USB1", SimStorage::Fault::HangMount) && fault("VANTOR SSD", SimStorage::Fault::FailMount));
        MediaMonitor monitor;
        monitor.setProcessTimeoutMs(500);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("mount /dev/sdb1 gave no answer within 500 ms"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot mount /dev/sda1"));
        monitor.mountAll();
        QVERIFY(!MediaMonitor::isMounted("sdb1") && !box.exists("USB1"));
        QCOMPARE(labelOf("sdb1"), QString("USB1")); // listed all the same, as found at start-up
        // A failed SSD mount keeps its folder: the rest of the system relies on it.
        QVERIFY(!MediaMonitor::isMounted("sda1") && QFileInfo(box.media("VANTOR SSD")).isDir());

        QVERIFY(plug("SLOW") && fault("SLOW", SimStorage::Fault::HangMount));
        const QString slow = deviceOf("SLOW");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("mount /dev/" + slow + " gave no answer"));
        notify(monitor);
        notify(monitor);
        QCOMPARE(box.actions.calls().filter("mount " + box.real("/dev/" + slow)).size(), 1);
        QVERIFY(labelOf(slow).isEmpty() && !box.exists("SLOW"));
        // Pulled out and plugged in again, it is tried again.
        monitor.setProcessTimeoutMs(MediaMonitor::defaultProcessTimeoutMs);
        QVERIFY(pull("SLOW") && fault("SLOW", SimStorage::Fault::None));
        notify(monitor);
        QVERIFY(plug("SLOW"));
        notify(monitor);
        QVERIFY(MediaMonitor::isMounted(slow));
    }

    void ejectFailsWhileBusyAndSucceedsAfter()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QSignalSpy failed(&monitor, &MediaMonitor::signalEjectFailed);
        QVERIFY(!monitor.umountByLabel("NOT THERE"));
        QVERIFY(fault("USB1", SimStorage::Fault::BusyUnmount));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot eject USB1 - .*target is busy"));
        QVERIFY(!monitor.umountByLabel("USB1"));
        QCOMPARE(failed.count(), 1);
        QVERIFY(removed.isEmpty() && MediaMonitor::isMounted("sdb1") && labelOf("sdb1") == "USB1");

        QVERIFY(fault("USB1", SimStorage::Fault::None));
        QVERIFY(monitor.umountByLabel("USB1"));
        QCOMPARE(removed.count(), 1);
        QVERIFY(labelOf("sdb1").isEmpty() && !box.exists("USB1"));
        // Still plugged in, the ejected drive is not mounted again by another drive's arrival...
        QVERIFY(plug("OTHER"));
        notify(monitor);
        QVERIFY(MediaMonitor::isMounted(deviceOf("OTHER")) && !MediaMonitor::isMounted("sdb1"));
        // ...its pulling does nothing, and it comes back when plugged in again.
        QVERIFY(pull("USB1"));
        notify(monitor);
        QCOMPARE(removed.count(), 1);
        QVERIFY(plug("USB1"));
        notify(monitor);
        QVERIFY(MediaMonitor::isMounted("sdb1"));
    }

    void cleaningKeepsWhatIsNotAnEmptyFolder()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(fault("USB1", SimStorage::Fault::BusyUnmount));
        box.put("USB1", "open.csv");
        box.root.makeDir("/media/leftover");
        box.root.writeFile("/media/notes/a.txt", "a");
        box.root.writeFile("/outside/b.txt", "b");
        QVERIFY(QFile::link(box.real("/outside"), box.media("link")));
        // Mounted by another party: not ours to clean.
        box.root.writeFile("/media/OTHER/c.txt", "c");
        QFile mtab(box.real("/etc/mtab"));
        QVERIFY(mtab.open(QIODevice::Append) && mtab.write("/dev/sdz1 /media/OTHER vfat rw 0 0\n") > 0);
        mtab.close();

        monitor.m_bStopUpdate = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot unmount /media/USB1 - .*busy"));
        monitor.umountAll();
        QVERIFY(MediaMonitor::deviceList().isEmpty());
        QVERIFY(!box.exists("VANTOR SSD") && !box.exists("leftover"));
        for (const char *kept : {"USB1/open.csv", "notes/a.txt", "OTHER/c.txt", "link/b.txt"})
            QVERIFY2(box.exists(kept), kept);
    }

    void freeSpaceIsWhatTheApplicationMayUse()
    {
        TestRoot root;
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) { return *size = 4096, *blocks = 250000, true; });
        QCOMPARE(MediaMonitor::freeDiskSpace("/anywhere"), quint64(1024));
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *, quint64 *) { return false; });
        QCOMPARE(MediaMonitor::freeDiskSpace(root.path()), quint64(0));
        MediaMonitor::setSpaceQuery(nullptr);
        QCOMPARE(MediaMonitor::freeDiskSpace(root.path() + "/missing"), quint64(0));
        // Against Qt's own reading (f_bavail x f_frsize), allowing for other writers meanwhile.
        const quint64 ours = MediaMonitor::freeDiskSpace(root.path());
        const quint64 qt = quint64(QStorageInfo(root.path()).bytesAvailable()) / 1000000u;
        QVERIFY2(ours > 0 && qAbs(qint64(ours) - qint64(qt)) <= qint64(qt / 100 + 10), qPrintable(QString("%1 against %2").arg(ours).arg(qt)));
    }

    void shellExitMarkerOnAUsbDriveOnly()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        for (const char *name : {"nimbo", ".nimbo.txt"})
            box.put("USB1", name);
        box.put("VANTOR SSD", ".NIMBO");
        QVERIFY(MediaMonitor::findShellExitMarker().isEmpty());
        box.put("USB1", ".Nimbo");
        QCOMPARE(MediaMonitor::findShellExitMarker(), box.media("USB1/.Nimbo"));
    }
};

QTEST_MAIN(TestMediaMonitor)
#include "tst_mediamonitor.moc"
