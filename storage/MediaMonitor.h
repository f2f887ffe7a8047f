#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QFileSystemWatcher;
struct ProcessResult;

// The storage volumes of the instrument: the internal SSD ("VANTOR SSD") and USB drives. Finds
// them through the links of /dev/disk/by-uuid and /dev/disk/by-label, mounts each at
// "/media/<label>", follows drives being plugged in and pulled out (a watch on the uuid folder),
// ejects on request and answers how much space is free. Mount and unmount go through
// SystemActions, each given at most processTimeoutMs; mounts are judged from the mount table
// "/etc/mtab". Every fixed path goes through Paths. A widget that is never shown; GUI thread only.
class MediaMonitor : public QWidget
{
    Q_OBJECT
public:
    using DeviceEntry = QPair<QString, QString>; // (device name such as sda1, label)

    static const QString ssdLabel;       // "VANTOR SSD"
    static const QString noLabel;        // "Removable Disk"
    static constexpr int defaultProcessTimeoutMs = 30000;

    explicit MediaMonitor(QWidget *parent = nullptr);

    // Unmounts everything under /media, scans the devices again and mounts every one found.
    void mountAll();
    // Unmounts every listed volume, removes the empty mount folders left under /media and
    // empties the list. A folder still holding a mounted volume or any file is kept.
    void umountAll();

    // Copy of the connected volumes in the order found. The label of a mounted volume is the
    // name of its folder under /media ("DATA (1)" when a folder "DATA" was there already).
    static QList<DeviceEntry> deviceList();

    // Whether the mount table holds device (a device name "sda1" or path "/dev/sda1").
    static bool isMounted(const QString &device);

    // Free space of the file system holding path, in megabytes of 1,000,000 bytes: fragment size
    // x blocks available to the application (statvfs f_frsize x f_bavail). 0 when it cannot be
    // queried.
    static quint64 freeDiskSpace(const QString &path);
    // Replaces the statvfs query (tests); an empty function restores it. The query answers the
    // fragment size and the available blocks of the file system holding path.
    using SpaceQuery = std::function<bool(const QString &path, quint64 *fragmentSize, quint64 *availableBlocks)>;
    static void setSpaceQuery(SpaceQuery query);

    // A file ".nimbo" in any letter case in the top folder of a volume under /media other than
    // the SSD: the path of the first one found, empty when there is none. Its presence turns the
    // power-off into an exit to the shell.
    static QString findShellExitMarker();

    // How long one mount or unmount may take before the monitor gives up on it.
    void setProcessTimeoutMs(int ms) { m_nProcessTimeoutMs = ms; }

    // Set by the main window before its final umountAll: device changes are then ignored.
    bool m_bStopUpdate = false;

public slots:
    // Ejects the volume of this label (the "umount" program on its device). On success the
    // volume leaves the list and signalRemovedDisk follows; a volume that stays mounted stays
    // listed, and signalEjectFailed tells why. An unknown label does nothing. True when ejected.
    bool umountByLabel(QString label);

signals:
    void signalRemovedDisk(QString label);
    void signalEjectFailed(QString label, QString reason);

private slots:
    // A change in /dev/disk/by-uuid: mounts every new volume and unmounts every vanished one.
    void slotUpdateDeviceLabel();

private:
    struct Link
    {
        QString name;   // entry name in its folder
        QString device; // last component of its target
        bool isLink = false;
    };
    static QList<Link> listLinks(const QString &fixedFolder);
    static bool isSystemCard(const QString &device);
    static QString labelOf(const QString &device, const QList<Link> &labels);
    static QString uniqueLabel(const QString &label, const QList<DeviceEntry> &taken);

    void findConnectedDeviceNameAndLabelList();
    void mount(QString deviceName, QString label);
    bool umount(QString deviceName);
    bool _mount(QString devicePath, QString label, QString *folder = nullptr);
    // Forgets the devices of list whose link is gone from the uuid folder.
    static void keepPresent(QStringList &list, const QStringList &present);
    bool _umount(QString path);
    static bool _rmdir(QString name);
    bool unmountMountPoints(const QString &deviceName);
    // Runs action on a helper thread for at most the process time-out; *hung tells whether it
    // gave no answer in that time.
    bool runAction(const QString &what, const std::function<ProcessResult()> &action, QString *error,
                   bool *hung = nullptr);

    QFileSystemWatcher *m_DiskWatcher = nullptr;
    // Devices ejected while still plugged in: not mounted again until they have been pulled out.
    QStringList m_EjectedDevices;
    // Devices whose mount gave no answer: not tried again until they have been pulled out, so
    // that a hung drive costs one time-out, not one per change in the device folder.
    QStringList m_HungDevices;
    int m_nProcessTimeoutMs = defaultProcessTimeoutMs;

    static QList<DeviceEntry> m_DeviceNameAndLabelList;
};
