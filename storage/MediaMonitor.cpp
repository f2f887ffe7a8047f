#include "MediaMonitor.h"

#include "ExceptionTracer.h"
#include "MountTable.h"
#include "Paths.h"
#include "SystemActions.h"
#include "Utilities.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMutex>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

const QString MediaMonitor::ssdLabel = QStringLiteral("VANTOR SSD");
const QString MediaMonitor::noLabel = QStringLiteral("Removable Disk");
QList<MediaMonitor::DeviceEntry> MediaMonitor::m_DeviceNameAndLabelList;

namespace {

const QString kByUuid = QStringLiteral("/dev/disk/by-uuid");
const QString kByLabel = QStringLiteral("/dev/disk/by-label");
const char *const kUpdate = "void MediaMonitor::slotUpdateDeviceLabel()";
const char *const kMount = "bool MediaMonitor::_mount(QString, QString)";

QMutex g_spaceLock;
MediaMonitor::SpaceQuery g_spaceQuery;

// Diagnostic lines are written only in the serial-log start modes.
void trace(const QString &text)
{
    if (isEnableSerialLog())
        qDebug().noquote() << text;
}

bool statvfsQuery(const QString &path, quint64 *fragmentSize, quint64 *availableBlocks)
{
    struct statvfs fs;
    if (::statvfs(path.toUtf8().constData(), &fs) != 0)
        return false;
    *fragmentSize = fs.f_frsize;
    *availableBlocks = fs.f_bavail;
    return true;
}

QString devicePathOf(const QString &deviceName)
{
    return "/dev/" + deviceName;
}

int indexOfDevice(const QList<MediaMonitor::DeviceEntry> &list, const QString &deviceName)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].first == deviceName)
            return i;
    return -1;
}

// The folder names under /media on which device is mounted, in table order.
QStringList mediaFoldersOf(const QString &deviceName)
{
    QStringList folders;
    QList<MountTable::Entry> table;
    MountTable::read(&table);
    for (const MountTable::Entry &entry : table) {
        const QString folder = entry.mountPoint.mid(QStringLiteral("/media/").size());
        if (entry.device == devicePathOf(deviceName) && entry.mountPoint.startsWith("/media/") && !folder.isEmpty()
            && !folder.contains('/'))
            folders << folder;
    }
    return folders;
}

bool isMountedOn(const QString &fixedDevice, const QString &fixedMountPoint)
{
    QList<MountTable::Entry> table;
    MountTable::read(&table);
    for (const MountTable::Entry &entry : table)
        if (entry.device == fixedDevice && entry.mountPoint == fixedMountPoint)
            return true;
    return false;
}

} // namespace

MediaMonitor::MediaMonitor(QWidget *parent)
    : QWidget(parent)
    , m_DiskWatcher(new QFileSystemWatcher(this))
{
    m_DeviceNameAndLabelList.clear();
    const QString folder = Paths::path(kByUuid);
    if (!m_DiskWatcher->addPath(folder))
        qWarning() << "MediaMonitor: cannot watch" << folder << "- drives plugged in later will not be seen";
    connect(m_DiskWatcher, &QFileSystemWatcher::directoryChanged, this, &MediaMonitor::slotUpdateDeviceLabel);
    findConnectedDeviceNameAndLabelList();
}

QList<MediaMonitor::Link> MediaMonitor::listLinks(const QString &fixedFolder)
{
    QList<Link> links;
    // Files, folders and links whose target exists; no hidden names; directory order.
    const QDir dir(Paths::path(fixedFolder));
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        Link link;
        link.name = info.fileName();
        link.isLink = info.isSymLink();
        if (link.isLink)
            link.device = QFileInfo(info.symLinkTarget()).fileName();
        links << link;
    }
    return links;
}

bool MediaMonitor::isSystemCard(const QString &device)
{
    return device.contains(QLatin1String("mmcbl")); // the MMC and SD cards: mmcblk0, mmcblk0p1 ...
}

QString MediaMonitor::labelOf(const QString &device, const QList<Link> &labels)
{
    for (const Link &link : labels) {
        trace(QString("%1 %2").arg(kUpdate, link.name));
        if (!link.isLink || link.device != device || isSystemCard(link.device))
            continue;
        const QString label = QString(link.name).replace(QLatin1String("\\x20"), QLatin1String(" "));
        // A label names a folder under /media: it can never lead out of it.
        if (label.trimmed().isEmpty() || label.contains('/') || label == "." || label == "..")
            return noLabel;
        return label;
    }
    return noLabel;
}

QString MediaMonitor::uniqueLabel(const QString &label, const QList<DeviceEntry> &taken)
{
    const auto used = [&taken](const QString &candidate) {
        for (const DeviceEntry &entry : taken)
            if (entry.second == candidate)
                return true;
        return false;
    };
    QString candidate = label;
    for (int n = 1; used(candidate); ++n)
        candidate = QString("%1 (%2)").arg(label, QString::number(n));
    return candidate;
}

void MediaMonitor::findConnectedDeviceNameAndLabelList()
{
    const QList<Link> labels = listLinks(kByLabel);
    for (const Link &link : listLinks(kByUuid)) {
        if (!link.isLink || isSystemCard(link.device))
            continue;
        const QString label = uniqueLabel(labelOf(link.device, labels), m_DeviceNameAndLabelList);
        m_DeviceNameAndLabelList << DeviceEntry(link.device, label);
    }
}

QList<MediaMonitor::DeviceEntry> MediaMonitor::deviceList()
{
    return m_DeviceNameAndLabelList;
}

bool MediaMonitor::isMounted(const QString &device)
{
    const QString path = device.startsWith('/') ? Paths::fixedPath(device) : devicePathOf(device);
    QList<MountTable::Entry> table;
    if (!MountTable::read(&table))
        return false;
    for (const MountTable::Entry &entry : table)
        if (entry.device == path)
            return true;
    return false;
}

void MediaMonitor::mountAll()
{
    umountAll();
    m_EjectedDevices.clear();
    m_HungDevices.clear();
    findConnectedDeviceNameAndLabelList();
    for (DeviceEntry &entry : m_DeviceNameAndLabelList) {
        // Still mounted under /media (its unmount failed): it stays where it is.
        const QStringList folders = mediaFoldersOf(entry.first);
        if (!folders.isEmpty()) {
            entry.second = folders.first();
            continue;
        }
        QString folder;
        if (_mount(Paths::path(devicePathOf(entry.first)), entry.second, &folder))
            entry.second = folder;
    }
}

void MediaMonitor::umountAll()
{
    for (const DeviceEntry &entry : m_DeviceNameAndLabelList)
        if (isMounted(entry.first))
            unmountMountPoints(entry.first);

    // What is left under /media: only empty folders of this file system that are no mount point.
    QList<MountTable::Entry> table;
    MountTable::read(&table);
    QStringList mountPoints;
    for (const MountTable::Entry &entry : table)
        mountPoints << entry.mountPoint;
    struct stat media;
    const QDir dir(Paths::media());
    if (::lstat(QFile::encodeName(dir.path()).constData(), &media) == 0) {
        for (const QFileInfo &info : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)) {
            struct stat folder;
            if (info.isSymLink() || mountPoints.contains("/media/" + info.fileName())
                || ::lstat(QFile::encodeName(info.filePath()).constData(), &folder) != 0 || folder.st_dev != media.st_dev)
                continue;
            _rmdir(info.fileName());
        }
    }
    m_DeviceNameAndLabelList.clear();
}

bool MediaMonitor::umountByLabel(QString label)
{
    int index = -1;
    for (int i = 0; i < m_DeviceNameAndLabelList.size() && index < 0; ++i)
        if (m_DeviceNameAndLabelList[i].second == label)
            index = i;
    if (index < 0)
        return false;
    const QString deviceName = m_DeviceNameAndLabelList[index].first;
    const QString devicePath = Paths::path(devicePathOf(deviceName));
    const int timeoutMs = m_nProcessTimeoutMs;
    SystemActions *actions = &SystemActions::instance();
    QString error;
    runAction("eject " + Paths::fixedPath(devicePath), [=] { return actions->run("umount", {devicePath}, timeoutMs); }, &error);
    if (isMounted(deviceName)) {
        const QString reason = error.isEmpty() ? QStringLiteral("the drive is still mounted") : error;
        qWarning().noquote() << "MediaMonitor: cannot eject" << label << "-" << reason;
        emit signalEjectFailed(label, reason);
        return false;
    }
    // Still plugged in: it must not be mounted again until it has been pulled out.
    m_EjectedDevices << deviceName;
    _rmdir(label);
    m_DeviceNameAndLabelList.removeAt(index);
    emit signalRemovedDisk(label);
    return true;
}

void MediaMonitor::slotUpdateDeviceLabel()
{
    if (m_bStopUpdate)
        return;
    QList<DeviceEntry> vanished = m_DeviceNameAndLabelList;
    trace(QString("%1 Start %2").arg(kUpdate).arg(vanished.size()));

    const QList<Link> labels = listLinks(kByLabel);
    QList<DeviceEntry> fresh;
    QStringList present;
    for (const Link &link : listLinks(kByUuid)) {
        trace(QString("%1 %2").arg(kUpdate, link.name));
        if (!link.isLink || isSystemCard(link.device))
            continue;
        present << link.device;
        const int known = indexOfDevice(vanished, link.device);
        if (known >= 0)
            vanished.removeAt(known);
        else if (!m_EjectedDevices.contains(link.device) && !m_HungDevices.contains(link.device)
                 && indexOfDevice(fresh, link.device) < 0)
            fresh << DeviceEntry(link.device, labelOf(link.device, labels));
    }
    // An ejected or hung drive that has been pulled out may be mounted again when it comes back.
    keepPresent(m_EjectedDevices, present);
    keepPresent(m_HungDevices, present);

    // Vanished volumes first, so that their labels are free for the new ones.
    for (const DeviceEntry &entry : vanished) {
        trace(QString("%1 == umount").arg(kUpdate));
        if (isMounted(entry.first) ? umount(entry.first) : m_DeviceNameAndLabelList.removeAll(entry) > 0) {
            emit signalRemovedDisk(entry.second);
        } else {
            qWarning().noquote() << "MediaMonitor: the pulled drive" << entry.second
                                 << "cannot be unmounted; trying again at the next change";
        }
    }
    for (const DeviceEntry &entry : fresh)
        mount(entry.first, entry.second);
    // The last new volume of the scan, as the line has always shown it.
    const DeviceEntry last = fresh.isEmpty() ? DeviceEntry() : fresh.last();
    trace(QString("%1 End %2 %3 %4").arg(kUpdate).arg(present.size()).arg(last.first, last.second));
}

void MediaMonitor::keepPresent(QStringList &list, const QStringList &present)
{
    for (int i = list.size() - 1; i >= 0; --i)
        if (!present.contains(list[i]))
            list.removeAt(i);
}

void MediaMonitor::mount(QString deviceName, QString label)
{
    QString folder;
    if (_mount(Paths::path(devicePathOf(deviceName)), uniqueLabel(label, m_DeviceNameAndLabelList), &folder))
        m_DeviceNameAndLabelList << DeviceEntry(deviceName, folder);
}

bool MediaMonitor::umount(QString deviceName)
{
    if (!isMounted(deviceName))
        return false;
    const int index = indexOfDevice(m_DeviceNameAndLabelList, deviceName);
    if (index < 0 || !unmountMountPoints(deviceName))
        return false;
    m_DeviceNameAndLabelList.removeAt(index);
    return true;
}

bool MediaMonitor::unmountMountPoints(const QString &deviceName)
{
    bool ok = true;
    for (const QString &folder : mediaFoldersOf(deviceName)) {
        if (_umount(Paths::media() + '/' + folder))
            _rmdir(folder);
        else
            ok = false;
    }
    return ok;
}

bool MediaMonitor::_mount(QString devicePath, QString label, QString *folder)
{
    // The first free folder name: the label, else "label (n)".
    const QString media = Paths::media();
    QString name = label;
    for (int n = 1; ::mkdir(QFile::encodeName(media + '/' + name).constData(), 0755) != 0; ++n) {
        if (errno != EEXIST) {
            qWarning().noquote() << "MediaMonitor: cannot make the mount point" << media + '/' + name << "-"
                                 << qt_error_string(errno);
            return false;
        }
        name = QString("%1 (%2)").arg(label, QString::number(n));
    }
    const QString mountPoint = media + '/' + name;
    trace(QString("%1 == mount Process start : %2 %3").arg(kMount, devicePath, mountPoint));
    const int timeoutMs = m_nProcessTimeoutMs;
    SystemActions *actions = &SystemActions::instance();
    QString error;
    bool hung = false;
    runAction("mount " + Paths::fixedPath(devicePath),
              [=] { return actions->run("mount", {devicePath, mountPoint}, timeoutMs); }, &error, &hung);
    if (hung)
        m_HungDevices << QFileInfo(devicePath).fileName();
    // Judged from the mount table: this device on this folder.
    if (isMountedOn(Paths::fixedPath(devicePath), Paths::fixedPath(mountPoint))) {
        trace(QString("%1 == mount success").arg(kMount));
        if (folder)
            *folder = name;
        return true;
    }
    trace(QString("%1 == mount fail : %2").arg(kMount, name));
    qWarning().noquote() << "MediaMonitor: cannot mount" << Paths::fixedPath(devicePath) << "on"
                         << Paths::fixedPath(mountPoint) << "-" << (error.isEmpty() ? "not in the mount table" : error);
    // The SSD keeps its folder: the rest of the system relies on it.
    if (!name.contains(QLatin1String(" SSD")))
        _rmdir(name);
    return false;
}

bool MediaMonitor::_umount(QString path)
{
    SystemActions *actions = &SystemActions::instance();
    QString error;
    const bool ok = runAction("unmount " + Paths::fixedPath(path), [=] {
        ProcessResult result;
        QString reason;
        result.started = true;
        result.exitCode = actions->unmount(path, &reason) ? 0 : 1;
        result.errors = reason.toUtf8();
        return result;
    }, &error);
    if (!ok)
        qWarning().noquote() << "MediaMonitor: cannot unmount" << Paths::fixedPath(path) << "-" << error;
    return ok;
}

bool MediaMonitor::_rmdir(QString name)
{
    const bool ok = QDir(Paths::media()).rmdir(name);
    trace(QString("remove dir : %1 %2 %3").arg(Paths::media(), name, ok ? "true" : "false"));
    return ok;
}

bool MediaMonitor::runAction(const QString &what, const std::function<ProcessResult()> &action, QString *error,
                             bool *hung)
{
    if (hung)
        *hung = false;
    // On a helper thread, so that an action that never answers is given up at the time-out.
    auto promise = std::make_shared<std::promise<ProcessResult>>();
    std::future<ProcessResult> answer = promise->get_future();
    std::thread([promise, action] {
        ExceptionTracer::useAlternateStack();
        ProcessResult result;
        try {
            result = action();
        } catch (...) {
            result.errors = "failed";
        }
        promise->set_value(result);
    }).detach();

    if (answer.wait_for(std::chrono::milliseconds(m_nProcessTimeoutMs)) != std::future_status::ready) {
        if (hung)
            *hung = true;
        *error = QString("no answer within %1 ms").arg(m_nProcessTimeoutMs);
        qWarning().noquote() << "MediaMonitor:" << what << "gave no answer within"
                             << m_nProcessTimeoutMs << "ms; given up";
        return false;
    }
    const ProcessResult result = answer.get();
    if (result.ok())
        return true;
    if (result.timedOut && hung)
        *hung = true;
    if (result.timedOut)
        *error = QString("timed out after %1 ms").arg(m_nProcessTimeoutMs);
    else if (!result.started)
        *error = "could not be started";
    else
        *error = QString::fromUtf8(result.errors).trimmed();
    if (error->isEmpty())
        *error = QString("exit code %1").arg(result.exitCode);
    return false;
}

quint64 MediaMonitor::freeDiskSpace(const QString &path)
{
    SpaceQuery query;
    {
        QMutexLocker lock(&g_spaceLock);
        query = g_spaceQuery;
    }
    quint64 fragmentSize = 0, availableBlocks = 0;
    const bool ok = query ? query(path, &fragmentSize, &availableBlocks)
                          : statvfsQuery(path, &fragmentSize, &availableBlocks);
    return ok ? fragmentSize * availableBlocks / 1000000u : 0;
}

void MediaMonitor::setSpaceQuery(SpaceQuery query)
{
    QMutexLocker lock(&g_spaceLock);
    g_spaceQuery = std::move(query);
}

QString MediaMonitor::findShellExitMarker()
{
    const QDir media(Paths::media());
    for (const QString &folder : media.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        if (folder == ssdLabel)
            continue;
        // Name filters match without regard to case: .nimbo, .NIMBO, .Nimbo ...
        const QDir volume(media.filePath(folder));
        const QStringList found = volume.entryList({".nimbo"}, QDir::Files | QDir::Hidden, QDir::Unsorted);
        if (!found.isEmpty())
            return volume.filePath(found.first());
    }
    return QString();
}
