#include "SimStorage.h"

#include "Paths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <cstdio>
#include <cctype>
#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

const QString SimStorage::ssdName = QStringLiteral("VANTOR SSD");
const QString SimStorage::usbName = QStringLiteral("USB1");
const QString SimStorage::stateDir = QStringLiteral("/.sim/storage");


namespace {

const QString kByUuid = QStringLiteral("/dev/disk/by-uuid");
const QString kByLabel = QStringLiteral("/dev/disk/by-label");
const QString kMtab = QStringLiteral("/etc/mtab");

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Nothing of the simulated storage may ever touch the machine's own /dev, /etc or /media.
bool sandboxed(QString *error)
{
    return !Paths::root().isEmpty() || fail(error, "The simulated storage needs a sandbox (VANTOR_ROOT)");
}

bool validName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 64 && !name.contains('/') && !name.startsWith('.');
}

// udev's spelling of a label as a link name: anything but letters, digits, #+-.:=@_ and UTF-8
// as \xNN.
QString labelLinkName(const QString &label)
{
    static const QByteArray plain = "#+-.:=@_";
    QByteArray out;
    for (const char ch : label.toUtf8()) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x80 || std::isalnum(byte) || plain.contains(ch))
            out += ch;
        else
            out += QByteArray("\\x") + QByteArray::number(byte, 16).rightJustified(2, '0');
    }
    return QString::fromUtf8(out);
}

QString settingsFile()
{
    return Paths::path(SimStorage::stateDir + "/drives.ini");
}

QList<SimStorage::Drive> loadDrives()
{
    QList<SimStorage::Drive> drives;
    QSettings ini(settingsFile(), QSettings::IniFormat);
    const int count = ini.beginReadArray("drives");
    for (int i = 0; i < count; ++i) {
        ini.setArrayIndex(i);
        SimStorage::Drive drive;
        drive.name = ini.value("name").toString();
        drive.device = ini.value("device").toString();
        drive.uuid = ini.value("uuid").toString();
        drive.label = ini.value("label").toString();
        drive.plugged = ini.value("plugged").toBool();
        SimStorage::parseFault(ini.value("fault").toString(), &drive.fault);
        if (validName(drive.name) && !drive.device.isEmpty())
            drives << drive;
    }
    ini.endArray();
    return drives;
}

bool saveDrives(const QList<SimStorage::Drive> &drives, QString *error)
{
    QDir().mkpath(Paths::path(SimStorage::stateDir));
    QSettings ini(settingsFile(), QSettings::IniFormat);
    ini.remove("drives");
    ini.beginWriteArray("drives", drives.size());
    for (int i = 0; i < drives.size(); ++i) {
        ini.setArrayIndex(i);
        ini.setValue("name", drives[i].name);
        ini.setValue("device", drives[i].device);
        ini.setValue("uuid", drives[i].uuid);
        ini.setValue("label", drives[i].label);
        ini.setValue("plugged", drives[i].plugged);
        ini.setValue("fault", SimStorage::faultName(drives[i].fault));
    }
    ini.endArray();
    ini.sync();
    return ini.status() == QSettings::NoError || fail(error, "Cannot write " + settingsFile());
}

int indexOfDrive(const QList<SimStorage::Drive> &drives, const QString &name)
{
    for (int i = 0; i < drives.size(); ++i)
        if (drives[i].name == name)
            return i;
    return -1;
}

QString uuidFor(const QString &name, const QString &device)
{
    const QByteArray hex = QCryptographicHash::hash((name + '\n' + device).toUtf8(), QCryptographicHash::Sha1)
                               .toHex()
                               .toUpper();
    return QString::fromLatin1(hex.left(4) + '-' + hex.mid(4, 4));
}

QString nextFreeDevice(const QList<SimStorage::Drive> &drives)
{
    for (char letter = 'b'; letter <= 'z'; ++letter) {
        const QString device = QString("sd%1").arg(QChar(letter)) + '1';
        bool used = false;
        for (const SimStorage::Drive &drive : drives)
            used = used || drive.device == device;
        if (!used)
            return device;
    }
    return QString();
}

// A link at fixed path link to ../../device. An existing link of that name is replaced in one
// rename, as udev does, so that a watcher of the folder never sees it missing; a link already
// leading there is left alone, so that nothing changes for a watcher.
bool makeDeviceLink(const QString &link, const QString &device)
{
    const QString path = Paths::path(link), target = "../../" + device;
    const QFileInfo info(path);
    char held[256];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), held, sizeof held);
    if (size > 0 && QFile::decodeName(QByteArray(held, int(size))) == target)
        return true;
    // Made beside the watched folder, not in it: only the rename is seen there.
    const QString temp = QFileInfo(info.absolutePath()).absolutePath() + QString("/.link-%1").arg(QCoreApplication::applicationPid());
    QFile::remove(temp);
    if (!QFile::link(target, temp))
        return false;
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

// Removes the link when it still leads to device (a later drive of the same label may own it).
void removeDeviceLink(const QString &link, const QString &device)
{
    const QString path = Paths::path(link);
    if (QFileInfo(path).isSymLink() && QFileInfo(QFileInfo(path).symLinkTarget()).fileName() == device)
        QFile::remove(path);
}

bool touch(const QString &fixedPath)
{
    QFile file(Paths::path(fixedPath));
    if (file.exists())
        return true;
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.close();
    return file.error() == QFile::NoError;
}

QString contentsFixedPath(const QString &name)
{
    return SimStorage::stateDir + '/' + name;
}

// The device node and links of a plugged drive; the uuid link comes last, as udev makes it, so
// that whoever watches the uuid folder finds the label already there.
bool addDriveLinks(const SimStorage::Drive &drive)
{
    bool ok = touch("/dev/" + drive.device);
    if (!drive.label.isEmpty())
        ok = makeDeviceLink(kByLabel + '/' + labelLinkName(drive.label), drive.device) && ok;
    return makeDeviceLink(kByUuid + '/' + drive.uuid, drive.device) && ok;
}

void removeDriveLinks(const SimStorage::Drive &drive)
{
    removeDeviceLink(kByUuid + '/' + drive.uuid, drive.device);
    if (!drive.label.isEmpty())
        removeDeviceLink(kByLabel + '/' + labelLinkName(drive.label), drive.device);
    QFile::remove(Paths::path("/dev/" + drive.device));
}

ProcessResult answer(int exitCode, const QString &errors = QString())
{
    ProcessResult result;
    result.started = true;
    result.exitCode = exitCode;
    result.errors = errors.toUtf8();
    return result;
}

QList<QByteArray> readMountTable()
{
    QList<QByteArray> lines;
    QFile file(Paths::path(kMtab));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                lines << line;
    return lines;
}

bool writeMountTable(const QList<QByteArray> &lines)
{
    QSaveFile file(Paths::path(kMtab));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QByteArray &line : lines)
        if (file.write(line + '\n') != line.size() + 1)
            return false;
    return file.commit();
}

// The sandbox writes only the four kernel escapes, so only those come back.
QString mountField(const QByteArray &field)
{
    QByteArray text = field;
    text.replace("\\040", " ").replace("\\011", "\t").replace("\\012", "\n").replace("\\134", "\\");
    return QString::fromUtf8(text);
}

// Applies change to the known drive name and saves the drives; they come back in known.
bool changeDrive(const QString &name, const std::function<void(SimStorage::Drive &)> &change,
                 QList<SimStorage::Drive> *known, int *index, QString *error)
{
    if (!sandboxed(error))
        return false;
    *known = loadDrives();
    *index = indexOfDrive(*known, name);
    if (*index < 0)
        return fail(error, QString("There is no drive \"%1\"").arg(name));
    change((*known)[*index]);
    return saveDrives(*known, error);
}

} // namespace

struct SimStorage::State
{
    std::mutex lock; // the mount table and the hung calls of this process
    std::condition_variable released;
    quint64 releases = 0;
    int hangLimitMs = 120000;

    ProcessResult hang()
    {
        std::unique_lock<std::mutex> held(lock);
        const quint64 seen = releases;
        released.wait_for(held, std::chrono::milliseconds(hangLimitMs), [&] { return releases != seen; });
        ProcessResult result;
        result.started = true;
        result.timedOut = true;
        result.errors = "mount: no answer from the device";
        return result;
    }

    ProcessResult mount(const QString &devicePath, const QString &mountPoint)
    {
        const QString device = Paths::fixedPath(devicePath), point = Paths::fixedPath(mountPoint);
        const QString deviceName = device.section('/', -1);
        const QList<Drive> drives = loadDrives();
        int index = -1;
        for (int i = 0; i < drives.size(); ++i)
            if (drives[i].device == deviceName && device == "/dev/" + deviceName)
                index = i;
        if (index < 0 || !drives[index].plugged || !QFileInfo::exists(Paths::path(device)))
            return answer(32, QString("mount: %1: special device %2 does not exist.").arg(point, device));
        if (drives[index].fault == Fault::HangMount)
            return hang();
        if (drives[index].fault == Fault::FailMount)
            return answer(32, QString("mount: %1: wrong fs type, bad option, bad superblock on %2.").arg(point, device));

        std::lock_guard<std::mutex> held(lock);
        const QFileInfo folder(mountPoint);
        if (!folder.isDir() || folder.isSymLink())
            return answer(32, QString("mount: %1: mount point does not exist.").arg(point));
        if (!QDir(mountPoint).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            return answer(32, QString("mount: %1: the simulated storage mounts on empty folders only.").arg(point));
        const QByteArray fields = escapeMountField(device) + ' ' + escapeMountField(point);
        QList<QByteArray> table = readMountTable();
        for (const QByteArray &line : table)
            if (line.startsWith(fields + ' '))
                return answer(32, QString("mount: %1: %2 already mounted on %1.").arg(point, device));
        if (!QDir().rmdir(mountPoint))
            return answer(32, QString("mount: %1: cannot use the mount point.").arg(point));
        const QString type = drives[index].name == ssdName ? "ext4" : "vfat";
        table << fields + ' ' + type.toLatin1() + " rw,relatime 0 0";
        if (!QFile::link(contentsPath(drives[index].name), mountPoint) || !writeMountTable(table)) {
            QFile::remove(mountPoint);
            QDir().mkdir(mountPoint);
            return answer(32, QString("mount: %1: cannot mount %2.").arg(point, device));
        }
        return answer(0);
    }

    // target: a mount point or a device; the latest mount of it is undone.
    ProcessResult unmount(const QString &target)
    {
        const QString fixed = Paths::fixedPath(target);
        const QByteArray key = escapeMountField(fixed);
        std::lock_guard<std::mutex> held(lock);
        QList<QByteArray> table = readMountTable();
        int found = -1;
        for (int i = 0; i < table.size(); ++i) {
            const QList<QByteArray> fields = table[i].split(' ');
            if (fields.size() >= 2 && (fields[0] == key || fields[1] == key))
                found = i;
        }
        if (found < 0)
            return answer(32, QString("umount: %1: not mounted.").arg(fixed));
        const QList<QByteArray> fields = table[found].split(' ');
        const QString deviceName = mountField(fields[0]).section('/', -1), point = mountField(fields[1]);
        for (const Drive &drive : loadDrives())
            if (drive.device == deviceName && drive.fault == Fault::BusyUnmount)
                return answer(32, QString("umount: %1: target is busy.").arg(point));
        const QString folder = Paths::path(point);
        if (QFileInfo(folder).isSymLink()) {
            QFile::remove(folder);
            QDir().mkdir(folder); // the kernel leaves the empty mount point behind
        }
        table.removeAt(found);
        if (!writeMountTable(table))
            return answer(32, QString("umount: %1: cannot update the mount table.").arg(point));
        return answer(0);
    }
};

QString SimStorage::contentsPath(const QString &name)
{
    return Paths::path(contentsFixedPath(name));
}

QString SimStorage::faultName(Fault fault)
{
    switch (fault) {
    case Fault::HangMount:
        return "hang-mount";
    case Fault::FailMount:
        return "fail-mount";
    case Fault::BusyUnmount:
        return "busy-umount";
    case Fault::None:
        break;
    }
    return "none";
}

bool SimStorage::parseFault(const QString &text, Fault *fault)
{
    for (Fault candidate : {Fault::None, Fault::HangMount, Fault::FailMount, Fault::BusyUnmount})
        if (text == faultName(candidate)) {
            *fault = candidate;
            return true;
        }
    *fault = Fault::None;
    return text.isEmpty();
}

QByteArray SimStorage::escapeMountField(const QString &field)
{
    QByteArray out;
    for (const char ch : field.toUtf8()) {
        switch (ch) {
        case ' ': out += "\\040"; break;
        case '\t': out += "\\011"; break;
        case '\n': out += "\\012"; break;
        case '\\': out += "\\134"; break;
        default: out += ch;
        }
    }
    return out;
}

QList<SimStorage::Drive> SimStorage::drives()
{
    return Paths::root().isEmpty() ? QList<Drive>() : loadDrives();
}

bool SimStorage::seed(QString *error)
{
    if (!sandboxed(error))
        return false;
    for (const QString &folder : {kByUuid, kByLabel, QString("/etc"), QString("/media"), stateDir})
        if (!QDir().mkpath(Paths::path(folder)))
            return fail(error, "Cannot make " + Paths::path(folder));

    // The system's own SD card: linked like any volume, never offered as storage.
    bool ok = touch("/dev/mmcblk0p1");
    if (!QFileInfo(Paths::path(kByUuid + "/0B4D-6E21")).isSymLink())
        ok = makeDeviceLink(kByUuid + "/0B4D-6E21", "mmcblk0p1") && ok;
    if (!QFileInfo(Paths::path(kByLabel + "/boot")).isSymLink())
        ok = makeDeviceLink(kByLabel + "/boot", "mmcblk0p1") && ok;
    if (!QFileInfo::exists(Paths::path(kMtab)))
        ok = writeMountTable({"/dev/mmcblk0p2 / ext4 rw,relatime 0 0", "/dev/mmcblk0p1 /boot vfat rw,relatime 0 0",
                              "proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0"}) && ok;
    if (!ok)
        return fail(error, "Cannot make the system volume's links or the mount table");

    QList<Drive> known = loadDrives();
    if (indexOfDrive(known, ssdName) < 0) {
        // A plain SSD folder of an older sandbox keeps its files as the SSD's contents.
        const QString oldSsd = Paths::ssd(), contents = contentsPath(ssdName);
        const QFileInfo old(oldSsd);
        if (old.isDir() && !old.isSymLink() && !QFileInfo::exists(contents)
            && !QDir(oldSsd).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
            && QDir().rename(oldSsd, contents))
            QDir().mkdir(oldSsd);
        known << Drive{ssdName, "sda1", uuidFor(ssdName, "sda1"), ssdName, true, Fault::None};
        const QString device = nextFreeDevice(known);
        known << Drive{usbName, device, uuidFor(usbName, device), usbName, true, Fault::None};
        for (const Drive &drive : known)
            if (!QDir().mkpath(contentsPath(drive.name)))
                return fail(error, "Cannot make " + contentsPath(drive.name));
        if (!saveDrives(known, error))
            return false;
    }
    for (const Drive &drive : known)
        if (drive.plugged && !addDriveLinks(drive))
            return fail(error, "Cannot link the drive " + drive.name);
    return true;
}

bool SimStorage::plug(const QString &name, const QString &label, QString *error)
{
    if (!sandboxed(error))
        return false;
    if (!validName(name))
        return fail(error, QString("\"%1\" cannot name a drive (1 to 64 characters, no \"/\", not hidden)").arg(name));
    QList<Drive> known = loadDrives();
    int index = indexOfDrive(known, name);
    if (index < 0) {
        const QString device = nextFreeDevice(known);
        if (device.isEmpty())
            return fail(error, "No free device name is left");
        known << Drive{name, device, uuidFor(name, device), label.isNull() ? name : label, false, Fault::None};
        index = known.size() - 1;
    }
    if (!QDir().mkpath(contentsPath(name)))
        return fail(error, "Cannot make " + contentsPath(name));
    known[index].plugged = true;
    if (!saveDrives(known, error))
        return false;
    return addDriveLinks(known[index]) || fail(error, "Cannot link the drive " + name);
}

bool SimStorage::pull(const QString &name, QString *error)
{
    QList<Drive> known;
    int index = -1;
    if (!changeDrive(name, [](Drive &drive) { drive.plugged = false; }, &known, &index, error))
        return false;
    removeDriveLinks(known[index]);
    // udev gives a shared label to the drive that is left.
    for (const Drive &other : known)
        if (other.plugged && !other.label.isEmpty() && other.label == known[index].label)
            makeDeviceLink(kByLabel + '/' + labelLinkName(other.label), other.device);
    return true;
}

bool SimStorage::setFault(const QString &name, Fault fault, QString *error)
{
    QList<Drive> known;
    int index = -1;
    return changeDrive(name, [fault](Drive &drive) { drive.fault = fault; }, &known, &index, error);
}

SimStorage::SimStorage()
    : m_state(std::make_shared<State>())
{
}

SimStorage::~SimStorage()
{
    if (m_attached)
        m_attached->setHandler(nullptr);
    releaseHungCalls();
}

SimulatedSystemActions::Handler SimStorage::handler() const
{
    std::shared_ptr<State> state = m_state; // outlives this object while a hung call still runs
    return [state](const QString &action, const QStringList &args) -> std::optional<ProcessResult> {
        if (Paths::root().isEmpty())
            return std::nullopt;
        if (action == "mount" && args.size() >= 2)
            return state->mount(args[0], args[1]);
        if (action == "umount" && args.size() == 1)
            return state->unmount(args[0]);
        return std::nullopt;
    };
}

void SimStorage::attach(SimulatedSystemActions &actions)
{
    actions.setHandler(handler());
    m_attached = &actions;
}

bool SimStorage::install(QString *error)
{
    auto *actions = dynamic_cast<SimulatedSystemActions *>(&SystemActions::instance());
    if (!actions)
        return fail(error, "The system actions are not the simulated ones");
    if (!seed(error))
        return false;
    static SimStorage storage; // made after the actions, so it is gone before them at exit
    storage.attach(*actions);
    return true;
}

void SimStorage::setHangLimitMs(int ms)
{
    std::lock_guard<std::mutex> held(m_state->lock);
    m_state->hangLimitMs = ms;
}

void SimStorage::releaseHungCalls()
{
    {
        std::lock_guard<std::mutex> held(m_state->lock);
        ++m_state->releases;
    }
    m_state->released.notify_all();
}
