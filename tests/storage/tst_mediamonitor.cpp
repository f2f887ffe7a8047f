#include "Globals.h"
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
        if (instrument) {
            env.insert("VANTOR_TARGET", "instrument");
            env.remove("VANTOR_ROOT");
        }
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-usb", args);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
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
        MediaMonitor monitor;
        // Construction scans without mounting; the system's SD card is never listed.
        QCOMPARE(labels(), QStringList({"USB1", "VANTOR SSD"}));
        QVERIFY(box.actions.calls().isEmpty());
        monitor.mountAll();
        QVERIFY(MediaMonitor::isMounted("sda1") && MediaMonitor::isMounted("/dev/sdb1"));
        QVERIFY(box.actions.calls().contains(box.mountCall("sda1", "VANTOR SSD")));
        QFile ssdFile(box.media("VANTOR SSD/kept.txt"));
        QVERIFY(ssdFile.open(QIODevice::ReadOnly) && ssdFile.readAll() == "ssd");

        monitor.m_bStopUpdate = true;
        monitor.umountAll();
        QVERIFY(MediaMonitor::deviceList().isEmpty());
        QVERIFY(!MediaMonitor::isMounted("sda1") && !MediaMonitor::isMounted("sdb1"));
        QVERIFY(!box.exists("VANTOR SSD") && !box.exists("USB1"));
        QVERIFY(QFileInfo::exists(SimStorage::contentsPath("VANTOR SSD") + "/kept.txt"));
    }

    void labelsFromTheLabelLinks()
    {
        Sandbox box;
        QVERIFY(plug("MY USB") && plug("BLANK1", "") && plug("BLANK2", ""));
        MediaMonitor monitor;
        QCOMPARE(labels(), QStringList({"MY USB", "Removable Disk", "Removable Disk (1)", "USB1", "VANTOR SSD"}));
        monitor.mountAll();
        QVERIFY(MediaMonitor::isMounted(deviceOf("MY USB")) && box.exists("MY USB"));
        QVERIFY(box.exists("Removable Disk (1)"));
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
        for (const char *drive : {"A", "B"}) {
            QVERIFY(plug(drive, "DATA"));
            box.put(drive, "who", drive);
            notify(monitor);
        }
        QCOMPARE(labelOf(deviceOf("A")), QString("DATA (2)"));
        QCOMPARE(labelOf(deviceOf("B")), QString("DATA (3)"));
        QVERIFY(QFileInfo::exists(box.media("DATA (3)/who")));
        // A label freed by a pulled drive is given out again.
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QVERIFY(pull("A"));
        notify(monitor);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toString(), QString("DATA (2)"));
        QVERIFY(plug("C", "DATA"));
        notify(monitor);
        QCOMPARE(labelOf(deviceOf("C")), QString("DATA (2)"));
        QVERIFY(monitor.umountByLabel("DATA (1)"));
        QVERIFY(!box.exists("DATA (1)") && QFileInfo::exists(box.media("DATA/keep.txt")));
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
        QCOMPARE(box.tool({"fault", "TOOL DRIVE", "busy-umount"}), 0);
        QCOMPARE(SimStorage::drives().last().fault, SimStorage::Fault::BusyUnmount);
        QCOMPARE(box.tool({"fault", "TOOL DRIVE", "none"}), 0);
        QCOMPARE(box.tool({"pull", "TOOL DRIVE"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 10000);
        QCOMPARE(removed.at(0).at(0).toString(), QString("TOOL DRIVE"));
        QVERIFY(!box.exists("TOOL DRIVE"));

        QCOMPARE(inodeOf(box.real("/dev/disk/by-uuid/") + SimStorage::drives().first().uuid), ssdLink);
        QCOMPARE(box.actions.calls(), QStringList({box.mountCall(device, "TOOL DRIVE"), "umount " + box.media("TOOL DRIVE")}));
        QVERIFY(MediaMonitor::isMounted("sda1"));

        QCOMPARE(box.tool({"pull", "NO SUCH"}), 1);
        QCOMPARE(box.tool({"wobble"}), 2);
        // On the instrument there is nothing to simulate: the tool refuses.
        QCOMPARE(box.tool({"plug", "ANYTHING"}, true), 1);
    }

    void everyChangeOfOneNotificationIsHandled()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(plug("ONE") && plug("TWO"));
        notify(monitor);
        QCOMPARE(labels(), QStringList({"ONE", "TWO", "USB1", "VANTOR SSD"}));
        QVERIFY(MediaMonitor::isMounted(deviceOf("TWO")));

        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QVERIFY(pull("ONE") && pull("TWO"));
        notify(monitor);
        QCOMPARE(removed.count(), 2);
        QCOMPARE(labels(), QStringList({"USB1", "VANTOR SSD"}));
        // Nothing changed: nothing happens.
        box.actions.clearCalls();
        notify(monitor);
        QVERIFY(box.actions.calls().isEmpty());
    }

    void diagnosticLinesOnlyWhileSerialLogging()
    {
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtDebugMsg)
                lines << text;
        });
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(plug("QUIET"));
        notify(monitor);
        QVERIFY(lines.isEmpty());
        g_ExecMode = EXEC_SERIAL_LOG;
        QVERIFY(plug("STICK"));
        notify(monitor);
        g_ExecMode = EXEC_NORMAL;
        qInstallMessageHandler(previous);
        QVERIFY(lines.contains("bool MediaMonitor::_mount(QString, QString) == mount success"));
        QCOMPARE(lines.last(), QString("void MediaMonitor::slotUpdateDeviceLabel() End 4 %1 STICK").arg(deviceOf("STICK")));
    }

    void mountTableFieldByField()
    {
        TestRoot root;
        root.writeFile("/etc/mtab", "/dev/sda10 /media/BIG ext4 rw 0 0\n"
                                    "/dev/sdb1 /media/MY\\040USB\\134x vfat rw,relatime 0 0\n");
        QVERIFY(!MediaMonitor::isMounted("sda1") && !MediaMonitor::isMounted("/dev/sda1"));
        QVERIFY(MediaMonitor::isMounted("sda10") && MediaMonitor::isMounted(root.path() + "/dev/sdb1"));
        QVERIFY(!MediaMonitor::isMounted("ext4"));
        QList<MountTable::Entry> table;
        QVERIFY(MountTable::read(&table));
        QCOMPARE(table.size(), 2);
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
        QVERIFY(fault("USB1", SimStorage::Fault::HangMount));
        MediaMonitor monitor;
        monitor.setProcessTimeoutMs(500);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("mount /dev/sdb1 gave no answer within 500 ms"));
        monitor.mountAll();
        QVERIFY(!MediaMonitor::isMounted("sdb1") && !box.exists("USB1"));
        QCOMPARE(labelOf("sdb1"), QString("USB1")); // listed all the same, as found at start-up

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

    void aFailedSsdMountKeepsItsFolder()
    {
        Sandbox box;
        QVERIFY(fault("VANTOR SSD", SimStorage::Fault::FailMount) && fault("USB1", SimStorage::Fault::FailMount));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot mount /dev/sda1 .*wrong fs type"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot mount /dev/sdb1 .*wrong fs type"));
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(!MediaMonitor::isMounted("sda1") && QFileInfo(box.media("VANTOR SSD")).isDir());
        QVERIFY(!box.exists("USB1"));
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

    void noChangeIsFollowedAfterStop()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        monitor.m_bStopUpdate = true;
        box.actions.clearCalls();
        QVERIFY(plug("LATE"));
        QTest::qWait(300); // the folder watch reports the change
        notify(monitor);
        QVERIFY(box.actions.calls().isEmpty());
    }

    void freeSpaceIsWhatTheApplicationMayUse()
    {
        TestRoot root;
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *fragmentSize, quint64 *availableBlocks) {
            *fragmentSize = 4096;
            *availableBlocks = 250000;
            return true;
        });
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
        box.put("VANTOR SSD", ".NIMBO");
        box.put("USB1", "nimbo");
        box.put("USB1", ".nimbo.txt");
        QVERIFY(MediaMonitor::findShellExitMarker().isEmpty());
        box.put("USB1", ".Nimbo");
        QCOMPARE(MediaMonitor::findShellExitMarker(), box.media("USB1/.Nimbo"));
    }

    void installForTheSimulatedRun()
    {
        TestRoot root;
        QString error;
        QVERIFY2(SimStorage::install(&error), qPrintable(error));
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(MediaMonitor::isMounted("sda1") && QFileInfo(root.path() + "/media/VANTOR SSD").isDir());
        monitor.m_bStopUpdate = true;
        monitor.umountAll();
        QVERIFY(!MediaMonitor::isMounted("sda1"));
    }
};

QTEST_MAIN(TestMediaMonitor)
#include "tst_mediamonitor.moc"
