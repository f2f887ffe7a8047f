#include "Globals.h"
#include "MediaMonitor.h"
#include "MountTable.h"
#include "Paths.h"
#include "SimStorage.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QtTest>

namespace {

// One sandbox per case: the SSD and USB1 plugged in, nothing mounted, every system action
// recorded and mount/umount answered by the simulated storage.
struct Sandbox
{
    TestRoot root;
    SimulatedSystemActions actions;
    SimStorage storage;
    bool seeded = false;

    Sandbox()
    {
        QString error;
        seeded = SimStorage::seed(&error);
        if (!seeded)
            qWarning() << error;
        storage.attach(actions);
        SystemActions::setInstance(&actions);
    }
    ~Sandbox() { SystemActions::setInstance(nullptr); }

    QString real(const QString &fixedPath) const { return root.path() + fixedPath; }
    QString media(const QString &folder) const { return real("/media/" + folder); }
    // Writes a file on a drive, whether mounted or not.
    void put(const QString &drive, const QString &name, const QByteArray &content = "x") const
    {
        QFile file(SimStorage::contentsPath(drive) + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(content) == content.size());
    }
    QString mountCall(const QString &device, const QString &folder) const
    {
        return QString("mount %1 %2").arg(real("/dev/" + device), media(folder));
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
    QString error;
    const bool ok = SimStorage::plug(name, label, &error);
    if (!ok)
        qWarning() << error;
    return ok;
}

bool pull(const QString &name)
{
    QString error;
    return SimStorage::pull(name, &error);
}

void fault(const QString &name, SimStorage::Fault fault)
{
    QString error;
    QVERIFY2(SimStorage::setFault(name, fault, &error), qPrintable(error));
}

// Runs the change handler now, as one notification of the uuid folder.
void notify(MediaMonitor &monitor)
{
    QVERIFY(QMetaObject::invokeMethod(&monitor, "slotUpdateDeviceLabel", Qt::DirectConnection));
}

} // namespace

class TestMediaMonitor : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { MediaMonitor::setSpaceQuery(nullptr); }

    void constructionScansWithoutMounting()
    {
        Sandbox box;
        QVERIFY(box.seeded);
        MediaMonitor monitor;
        QCOMPARE(labels(), QStringList({"USB1", "VANTOR SSD"})); // the system's SD card is never listed
        QCOMPARE(labelOf("sda1"), QString("VANTOR SSD"));
        QVERIFY(box.actions.calls().isEmpty());
        QVERIFY(!MediaMonitor::isMounted("sda1"));
    }

    void mountAllAndUmountAll()
    {
        Sandbox box;
        box.put("VANTOR SSD", "kept.txt", "ssd");
        MediaMonitor monitor;
        monitor.mountAll();

        QCOMPARE(labels(), QStringList({"USB1", "VANTOR SSD"}));
        QVERIFY(MediaMonitor::isMounted("sda1"));
        QVERIFY(MediaMonitor::isMounted("/dev/sdb1"));
        QVERIFY(MediaMonitor::isMounted(box.real("/dev/sdb1")));
        QVERIFY(box.actions.calls().contains(box.mountCall("sda1", "VANTOR SSD")));
        QVERIFY(box.actions.calls().contains(box.mountCall("sdb1", "USB1")));
        QFile ssdFile(box.media("VANTOR SSD/kept.txt"));
        QVERIFY(ssdFile.open(QIODevice::ReadOnly));
        QCOMPARE(ssdFile.readAll(), QByteArray("ssd"));
        // The table is written as the kernel does: a blank is "\040".
        QFile mtab(box.real("/etc/mtab"));
        QVERIFY(mtab.open(QIODevice::ReadOnly));
        QVERIFY(mtab.readAll().contains("/dev/sda1 /media/VANTOR\\040SSD "));

        box.actions.clearCalls();
        monitor.m_bStopUpdate = true;
        monitor.umountAll();
        QVERIFY(MediaMonitor::deviceList().isEmpty());
        QVERIFY(!MediaMonitor::isMounted("sda1") && !MediaMonitor::isMounted("sdb1"));
        QVERIFY(box.actions.calls().contains("umount " + box.media("VANTOR SSD")));
        QVERIFY(!QFileInfo::exists(box.media("VANTOR SSD")) && !QFileInfo::exists(box.media("USB1")));
        QVERIFY(QFileInfo::exists(SimStorage::contentsPath("VANTOR SSD") + "/kept.txt"));
    }

    void labelsFromTheLabelLinks()
    {
        Sandbox box;
        QVERIFY(plug("MY USB"));
        QVERIFY(plug("BLANK1", ""));
        QVERIFY(plug("BLANK2", ""));
        QVERIFY(QFileInfo(box.real("/dev/disk/by-label/MY\\x20USB")).isSymLink());
        MediaMonitor monitor;
        QCOMPARE(labels(), QStringList({"MY USB", "Removable Disk", "Removable Disk (1)", "USB1", "VANTOR SSD"}));
        monitor.mountAll();
        for (const QString &folder : {"MY USB", "Removable Disk", "Removable Disk (1)"})
            QVERIFY2(QFileInfo(box.media(folder)).isDir(), qPrintable(folder));
        QVERIFY(MediaMonitor::isMounted(deviceOf("MY USB")));
    }

    void duplicateLabelsWhileRunning()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        for (const QString &drive : {"A", "B", "C"}) {
            QVERIFY(plug(drive, "DATA"));
            box.put(drive, "who", drive.toUtf8());
            notify(monitor);
        }
        QCOMPARE(labelOf(deviceOf("A")), QString("DATA"));
        QCOMPARE(labelOf(deviceOf("B")), QString("DATA (1)"));
        QCOMPARE(labelOf(deviceOf("C")), QString("DATA (2)"));
        for (const QString &drive : {"A", "B", "C"}) {
            QFile who(box.media(labelOf(deviceOf(drive)) + "/who"));
            QVERIFY(who.open(QIODevice::ReadOnly));
            QCOMPARE(who.readAll(), drive.toUtf8());
        }
        // A label freed by a pulled drive is given out again.
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QVERIFY(pull("B"));
        notify(monitor);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toString(), QString("DATA (1)"));
        QVERIFY(plug("D", "DATA"));
        notify(monitor);
        QCOMPARE(labelOf(deviceOf("D")), QString("DATA (1)"));
    }

    void anOccupiedFolderGivesTheNextName()
    {
        Sandbox box;
        box.root.writeFile("/media/DATA/keep.txt", "mine");
        QVERIFY(plug("STICK", "DATA"));
        box.put("STICK", "on-stick");
        MediaMonitor monitor;
        monitor.mountAll();
        // The entry names the folder it really is mounted on, so eject and unmount find it.
        QCOMPARE(labelOf(deviceOf("STICK")), QString("DATA (1)"));
        QVERIFY(QFileInfo::exists(box.media("DATA (1)/on-stick")));
        QVERIFY(box.actions.calls().contains(box.mountCall(deviceOf("STICK"), "DATA (1)")));
        QVERIFY(monitor.umountByLabel("DATA (1)"));
        QVERIFY(!MediaMonitor::isMounted(deviceOf("STICK")));
        QVERIFY(!QFileInfo::exists(box.media("DATA (1)")));
        QVERIFY(QFileInfo::exists(box.media("DATA/keep.txt")));
    }

    void plugAndPullWhileRunning()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QVERIFY(plug("STICK"));
        box.put("STICK", "photo.tif");
        const QString device = deviceOf("STICK");
        QTRY_VERIFY_WITH_TIMEOUT(MediaMonitor::isMounted(device), 5000); // seen through the folder watch
        QCOMPARE(labelOf(device), QString("STICK"));
        QVERIFY(QFileInfo::exists(box.media("STICK/photo.tif")));

        QVERIFY(pull("STICK"));
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 5000);
        QCOMPARE(removed.at(0).at(0).toString(), QString("STICK"));
        QVERIFY(labelOf(device).isEmpty());
        QVERIFY(!MediaMonitor::isMounted(device));
        QVERIFY(!QFileInfo::exists(box.media("STICK")));
        QVERIFY(box.actions.calls().contains("umount " + box.media("STICK")));
        QVERIFY(QFileInfo::exists(SimStorage::contentsPath("STICK") + "/photo.tif"));
    }

    void everyChangeOfOneNotificationIsHandled()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(plug("ONE"));
        QVERIFY(plug("TWO"));
        notify(monitor);
        QVERIFY(MediaMonitor::isMounted(deviceOf("ONE")));
        QVERIFY(MediaMonitor::isMounted(deviceOf("TWO")));
        QCOMPARE(labels(), QStringList({"ONE", "TWO", "USB1", "VANTOR SSD"}));

        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QVERIFY(pull("ONE"));
        QVERIFY(pull("TWO"));
        notify(monitor);
        QCOMPARE(removed.count(), 2);
        QCOMPARE(labels(), QStringList({"USB1", "VANTOR SSD"}));
        // Nothing changed: nothing happens.
        box.actions.clearCalls();
        notify(monitor);
        QVERIFY(box.actions.calls().isEmpty());
        QCOMPARE(removed.count(), 2);
    }

    void diagnosticLinesOnlyWhileSerialLogging()
    {
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &text) {
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
        const QString update = "void MediaMonitor::slotUpdateDeviceLabel()";
        QVERIFY(lines.contains(update + " Start 3"));
        QVERIFY(lines.contains("bool MediaMonitor::_mount(QString, QString) == mount success"));
        // The end line names the count of volumes seen and the new one.
        QCOMPARE(lines.last(), QString("%1 End 4 %2 STICK").arg(update, deviceOf("STICK")));
    }

    void mountTableFieldByField()
    {
        TestRoot root;
        root.writeFile("/etc/mtab", "/dev/sda10 /media/BIG ext4 rw 0 0\n"
                                    "/dev/sdb1 /media/MY\\040USB\\134x vfat rw,relatime 0 0\n");
        QVERIFY(!MediaMonitor::isMounted("sda1"));
        QVERIFY(!MediaMonitor::isMounted("/dev/sda1"));
        QVERIFY(MediaMonitor::isMounted("sda10"));
        QVERIFY(MediaMonitor::isMounted("/dev/sdb1"));
        QVERIFY(MediaMonitor::isMounted(root.path() + "/dev/sdb1"));
        QVERIFY(!MediaMonitor::isMounted("ext4"));
        QList<MountTable::Entry> table;
        QVERIFY(MountTable::read(&table));
        QCOMPARE(table.size(), 2);
        QCOMPARE(table[1].mountPoint, QString("/media/MY USB\\x"));
        QCOMPARE(table[1].type, QString("vfat"));
        QCOMPARE(MountTable::decodeField("a\\011b\\012c\\04"), QString("a\tb\nc\\04"));

        QVERIFY(QFile::remove(root.path() + "/etc/mtab"));
        QVERIFY(!MountTable::read(&table));
        QVERIFY(!MediaMonitor::isMounted("sda10"));
    }

    void aHungMountIsGivenUp()
    {
        Sandbox box;
        box.storage.setHangLimitMs(60000);
        fault("USB1", SimStorage::Fault::HangMount);
        MediaMonitor monitor;
        monitor.setProcessTimeoutMs(300);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("mount /dev/sdb1 gave no answer within 300 ms"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot mount /dev/sdb1 on /media/USB1"));
        QElapsedTimer timer;
        timer.start();
        monitor.mountAll();
        QVERIFY2(timer.elapsed() < 10000, "the monitor waited for the hung mount");
        QVERIFY(MediaMonitor::isMounted("sda1"));
        QVERIFY(!MediaMonitor::isMounted("sdb1"));
        QVERIFY(!QFileInfo::exists(box.media("USB1")));
        QVERIFY(box.actions.calls().contains(box.mountCall("sdb1", "USB1")));
        QCOMPARE(labelOf("sdb1"), QString("USB1")); // listed all the same, as found at start-up

        // A drive plugged in later whose mount hangs is not listed; the next change tries again.
        QVERIFY(plug("SLOW"));
        fault("SLOW", SimStorage::Fault::HangMount);
        const QString slow = deviceOf("SLOW");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("gave no answer within 300 ms"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot mount /dev/" + slow));
        notify(monitor);
        QVERIFY(labelOf(slow).isEmpty());
        QVERIFY(!QFileInfo::exists(box.media("SLOW")));
        fault("SLOW", SimStorage::Fault::None);
        notify(monitor);
        QCOMPARE(labelOf(slow), QString("SLOW"));
        QVERIFY(MediaMonitor::isMounted(slow));
    }

    void aFailedSsdMountKeepsItsFolder()
    {
        Sandbox box;
        fault("VANTOR SSD", SimStorage::Fault::FailMount);
        fault("USB1", SimStorage::Fault::FailMount);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot mount /dev/sda1 .*wrong fs type"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot mount /dev/sdb1 .*wrong fs type"));
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(!MediaMonitor::isMounted("sda1"));
        QVERIFY(QFileInfo(box.media("VANTOR SSD")).isDir());
        QVERIFY(!QFileInfo::exists(box.media("USB1")));
    }

    void ejectFailsWhileBusyAndSucceedsAfter()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        QSignalSpy failed(&monitor, &MediaMonitor::signalEjectFailed);
        QVERIFY(!monitor.umountByLabel("NOT THERE"));
        QVERIFY(removed.isEmpty() && failed.isEmpty());

        fault("USB1", SimStorage::Fault::BusyUnmount);
        box.actions.clearCalls();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot eject USB1 - .*target is busy"));
        QVERIFY(!monitor.umountByLabel("USB1"));
        QCOMPARE(box.actions.calls(), QStringList({"umount " + box.real("/dev/sdb1")}));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QString("USB1"));
        QVERIFY(failed.at(0).at(1).toString().contains("busy"));
        QVERIFY(removed.isEmpty());
        QCOMPARE(labelOf("sdb1"), QString("USB1"));
        QVERIFY(MediaMonitor::isMounted("sdb1"));

        fault("USB1", SimStorage::Fault::None);
        QVERIFY(monitor.umountByLabel("USB1"));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toString(), QString("USB1"));
        QVERIFY(labelOf("sdb1").isEmpty());
        QVERIFY(!QFileInfo::exists(box.media("USB1")));

        // Still plugged in, the ejected drive is not mounted again by another drive's arrival...
        QVERIFY(plug("OTHER"));
        notify(monitor);
        QVERIFY(MediaMonitor::isMounted(deviceOf("OTHER")));
        QVERIFY(!MediaMonitor::isMounted("sdb1"));
        // ...its pulling does nothing, and it comes back when plugged in again.
        QVERIFY(pull("USB1"));
        notify(monitor);
        QCOMPARE(removed.count(), 1);
        QVERIFY(plug("USB1"));
        notify(monitor);
        QCOMPARE(labelOf("sdb1"), QString("USB1"));
        QVERIFY(MediaMonitor::isMounted("sdb1"));
    }

    void cleaningKeepsWhatIsNotAnEmptyFolder()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        fault("USB1", SimStorage::Fault::BusyUnmount);
        box.put("USB1", "open.csv");
        box.root.makeDir("/media/leftover");
        box.root.writeFile("/media/notes/a.txt", "a");
        box.root.writeFile("/outside/b.txt", "b");
        QVERIFY(QFile::link(box.real("/outside"), box.media("link")));
        // Mounted by another party: not ours to clean.
        box.root.writeFile("/media/OTHER/c.txt", "c");
        QFile mtab(box.real("/etc/mtab"));
        QVERIFY(mtab.open(QIODevice::Append));
        QVERIFY(mtab.write("/dev/sdz1 /media/OTHER vfat rw 0 0\n") > 0);
        mtab.close();

        monitor.m_bStopUpdate = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot unmount /media/USB1 - .*busy"));
        monitor.umountAll();
        QVERIFY(MediaMonitor::deviceList().isEmpty());
        QVERIFY(!QFileInfo::exists(box.media("VANTOR SSD")));
        QVERIFY(!QFileInfo::exists(box.media("leftover")));
        QVERIFY(MediaMonitor::isMounted("sdb1"));
        QVERIFY(QFileInfo::exists(box.media("USB1/open.csv")));
        QVERIFY(QFileInfo::exists(box.media("notes/a.txt")));
        QVERIFY(QFileInfo::exists(box.media("OTHER/c.txt")));
        QVERIFY(QFileInfo::exists(box.real("/outside/b.txt")));
        QVERIFY(QFileInfo(box.media("link")).isSymLink());
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
        QVERIFY(labelOf(deviceOf("LATE")).isEmpty());
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
        QVERIFY2(ours > 0 && qAbs(qint64(ours) - qint64(qt)) <= qint64(qt / 100 + 10),
                 qPrintable(QString("%1 against %2").arg(ours).arg(qt)));
    }

    void shellExitMarkerOnAUsbDriveOnly()
    {
        Sandbox box;
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(MediaMonitor::findShellExitMarker().isEmpty());
        box.put("VANTOR SSD", ".NIMBO");
        QVERIFY(MediaMonitor::findShellExitMarker().isEmpty());
        box.put("USB1", "nimbo");
        box.put("USB1", ".nimbo.txt");
        QVERIFY(MediaMonitor::findShellExitMarker().isEmpty());
        box.put("USB1", ".Nimbo");
        QCOMPARE(MediaMonitor::findShellExitMarker(), box.media("USB1/.Nimbo"));
    }

    void theCommandLineToolPlugsAndPulls()
    {
        Sandbox box;
        const QString tool = qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-usb";
        QVERIFY2(QFileInfo(tool).isExecutable(), qPrintable(tool));
        MediaMonitor monitor;
        monitor.mountAll();
        QSignalSpy removed(&monitor, &MediaMonitor::signalRemovedDisk);
        const auto run = [&](const QStringList &args) {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VANTOR_ROOT", box.root.path());
            process.setProcessEnvironment(env);
            process.start(tool, args);
            return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
                ? process.exitCode()
                : -1;
        };
        QCOMPARE(run({"plug", "TOOL DRIVE"}), 0);
        const QString device = deviceOf("TOOL DRIVE");
        QTRY_VERIFY_WITH_TIMEOUT(MediaMonitor::isMounted(device), 5000);
        QVERIFY(QFileInfo(box.media("TOOL DRIVE")).isDir());
        QCOMPARE(run({"fault", "TOOL DRIVE", "busy-umount"}), 0);
        QCOMPARE(SimStorage::drives().last().fault, SimStorage::Fault::BusyUnmount);
        QCOMPARE(run({"fault", "TOOL DRIVE", "none"}), 0);
        QCOMPARE(run({"pull", "TOOL DRIVE"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 5000);
        QCOMPARE(removed.at(0).at(0).toString(), QString("TOOL DRIVE"));
        QCOMPARE(run({"pull", "NO SUCH"}), 1);
        QCOMPARE(run({"wobble"}), 2);

        // On the instrument there is nothing to simulate: the tool refuses and touches nothing.
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_TARGET", "instrument");
        env.remove("VANTOR_ROOT");
        process.setProcessEnvironment(env);
        process.start(tool, {"plug", "ANYTHING"});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
    }

    void installForTheSimulatedRun()
    {
        TestRoot root;
        QString error;
        QVERIFY2(SimStorage::install(&error), qPrintable(error));
        MediaMonitor monitor;
        monitor.mountAll();
        QVERIFY(MediaMonitor::isMounted("sda1"));
        QVERIFY(QFileInfo(root.path() + "/media/VANTOR SSD").isDir());
        auto &actions = dynamic_cast<SimulatedSystemActions &>(SystemActions::instance());
        QVERIFY(actions.calls().contains(
            QString("mount %1/dev/sda1 %1/media/VANTOR SSD").arg(root.path())));
        monitor.m_bStopUpdate = true;
        monitor.umountAll();
        QVERIFY(!MediaMonitor::isMounted("sda1"));
    }
};

QTEST_MAIN(TestMediaMonitor)
#include "tst_mediamonitor.moc"
