#include "FileOperationThread.h"

#include "FileCopier.h"
#include "MediaPath.h"
#include "MountTable.h"
#include "Paths.h"
#include "SaveNaming.h"
#include "SystemActions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A move removes its sources once this many copies, or bytes, wait for their syncfs.
constexpr int kBatchFiles = 32;
constexpr qint64 kBatchBytes = 64 * 1024 * 1024;

const QString goneReason = QStringLiteral("It no longer exists.");
const QString linkReason = QStringLiteral("Links are not copied.");

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

bool isHiddenName(const QString &name)
{
    return name.startsWith('.');
}

// The entries of a folder that a copy and the measurement see: no hidden entries, no links.
QStringList visibleFiles(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
}

QStringList visibleFolders(const QString &folder)
{
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
}
} // namespace

FileOperationThread::FileOperationThread() = default;

FileOperationThread::~FileOperationThread()
{
    m_bStop = true;
    requestInterruption();
    wait();
}

void FileOperationThread::setLocations(const QStringList &sources, const QString &destination)
{
    m_SrcPathList = sources;
    m_DstDirPath = destination.isEmpty() ? QString() : QDir::cleanPath(destination);
    clearResults();
}

void FileOperationThread::clearResults()
{
    QMutexLocker lock(&m_resultLock);
    m_written.clear();
    m_failures.clear();
    m_driveRemoved = false;
    m_done = 0;
}

QString FileOperationThread::displayPath(const QString &path)
{
    return MediaPath::label(path);
}

void FileOperationThread::measure(const QString &path, qint64 *bytes, quint32 *files)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return;
    if (info.isFile()) {
        *bytes += info.size();
        ++*files;
        return;
    }
    if (!info.isDir())
        return;
    for (const QString &name : visibleFiles(path))
        measure(path + '/' + name, bytes, files);
    for (const QString &name : visibleFolders(path))
        measure(path + '/' + name, bytes, files);
}

QStringList FileOperationThread::writtenTargets() const
{
    QMutexLocker lock(&m_resultLock);
    return m_written;
}

QList<FileOperationThread::Failure> FileOperationThread::failures() const
{
    QMutexLocker lock(&m_resultLock);
    return m_failures;
}

int FileOperationThread::failedFileCount() const
{
    QMutexLocker lock(&m_resultLock);
    int files = 0;
    for (const Failure &failure : m_failures)
        files += failure.files;
    return files;
}

int FileOperationThread::doneFileCount() const
{
    QMutexLocker lock(&m_resultLock);
    return m_done;
}

bool FileOperationThread::driveRemoved() const
{
    QMutexLocker lock(&m_resultLock);
    return m_driveRemoved;
}

void FileOperationThread::addFailure(const QString &path, const QString &reason, int files)
{
    QMutexLocker lock(&m_resultLock);
    m_failures.append({displayPath(path), reason, files});
}

void FileOperationThread::countDone(const QString &target)
{
    QMutexLocker lock(&m_resultLock);
    ++m_done;
    if (!target.isEmpty())
        m_written.append(target);
}

bool FileOperationThread::stopRequested() const
{
    return m_bStop || isInterruptionRequested() || m_driveRemoved;
}

bool FileOperationThread::volumePresent(const QString &path)
{
    if (!MediaPath::isBelowMedia(path))
        return true;
    const QString volume = Paths::fixedPath(MediaPath::volumeOf(path));
    QList<MountTable::Entry> entries;
    if (!MountTable::read(&entries))
        return true; // no table to judge by
    for (const MountTable::Entry &entry : entries)
        if (QDir::cleanPath(entry.mountPoint) == volume)
            return true;
    QMutexLocker lock(&m_resultLock);
    m_driveRemoved = true;
    return false;
}

void FileOperationThread::run()
{
    clearResults();
    if (m_Mode == Copy || m_Mode == Move)
        runCopy();
    else if (m_Mode == Delete)
        runDelete();
}

void FileOperationThread::runCopy()
{
    if (m_SrcPathList.isEmpty() || m_bStop)
        return;
    m_DstFd = volumePresent(m_DstDirPath)
                  ? ::open(encoded(m_DstDirPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                  : -1;
    if (m_DstFd < 0) {
        const QString reason = m_driveRemoved ? QString() : FileCopier::reason(errno);
        if (!m_driveRemoved)
            for (const QString &source : m_SrcPathList)
                addFailure(source, reason, qMax(1, fileCount(source)));
        return;
    }
    for (int i = 0; i < m_SrcPathList.size(); ++i) {
        if (QThread::currentThread()->isInterruptionRequested())
            break;
        const QString source = QDir::cleanPath(m_SrcPathList[i]);
        const QFileInfo info(source);
        if (info.isSymLink()) {
            addFailure(source, linkReason);
        } else if (!info.exists()) {
            addFailure(source, goneReason);
        } else if (!volumePresent(source) || !volumePresent(m_DstDirPath)) {
            break;
        } else if (info.isDir()) {
            if (!(m_Mode == Move && info.absolutePath() == m_DstDirPath))
                copyRecursively(source, m_DstFd, m_DstDirPath);
        } else if (!(m_Mode == Move && source == m_DstDirPath + '/' + info.fileName())) {
            copyFile(source, m_DstFd, m_DstDirPath, info.fileName());
        }
        if (m_bStop || m_driveRemoved)
            break;
    }
    removeMovedSources();
    ::close(m_DstFd);
    m_DstFd = -1;
}

void FileOperationThread::copyFile(const QString &source, int folderFd, const QString &folderPath, const QString &name)
{
    FileCopier copier([this] { return stopRequested(); });
    const FileCopier::Outcome outcome = copier.copyToTemporary(source, folderFd, false);
    if (outcome == FileCopier::Stopped)
        return;
    if (outcome == FileCopier::Failed) {
        if (volumePresent(source) && volumePresent(folderPath))
            addFailure(source, copier.error());
        return;
    }
    // Another name only while the name is taken: any other refusal ends this file.
    int n = 0;
    while (!copier.publish(SaveNaming::countedFilePath(name, n))) {
        if (!copier.nameTaken()) {
            addFailure(source, copier.error());
            return;
        }
        ++n;
    }
    const QString target = folderPath + '/' + SaveNaming::countedFilePath(name, n);
    if (m_Mode == Copy) {
        countDone(target);
        emit signalFileOperating(CodeCopy, copier.size(), displayPath(source), displayPath(target));
        return;
    }
    m_pending.append({source, target, copier.size()});
    m_pendingBytes += copier.size();
    if (m_pending.size() >= kBatchFiles || m_pendingBytes >= kBatchBytes)
        removeMovedSources();
}

void FileOperationThread::copyRecursively(const QString &source, int parentFd, const QString &parentPath)
{
    if (stopRequested() || !volumePresent(source) || !volumePresent(parentPath))
        return;
    // Always a new folder: Data, Data(1), Data(1)(2) ... while the name is taken.
    QString name = source.section('/', -1);
    for (int n = 1; ::mkdirat(parentFd, encoded(name).constData(), 0777) != 0; ++n) {
        if (errno != EEXIST) {
            addFailure(source, FileCopier::reason(errno), qMax(1, fileCount(source)));
            return;
        }
        name += QString("(%1)").arg(n);
    }
    const int folderFd = ::openat(parentFd, encoded(name).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0) {
        addFailure(source, FileCopier::reason(errno), qMax(1, fileCount(source)));
        return;
    }
    const QString folderPath = parentPath + '/' + name;
    for (const QString &file : visibleFiles(source)) {
        if (stopRequested() || !volumePresent(source) || !volumePresent(folderPath))
            break;
        copyFile(source + '/' + file, folderFd, folderPath, file);
    }
    for (const QString &folder : visibleFolders(source)) {
        if (stopRequested())
            break;
        copyRecursively(source + '/' + folder, folderFd, folderPath);
    }
    ::close(folderFd);
    if (m_Mode == Move) {
        removeMovedSources();
        ::rmdir(encoded(source).constData()); // a folder still holding hidden files stays
    }
}

void FileOperationThread::removeMovedSources()
{
    if (m_pending.isEmpty())
        return;
    const QList<PendingRemoval> pending = m_pending;
    m_pending.clear();
    m_pendingBytes = 0;
    // The sources go only once their copies are on the drive.
    const int syncError = !volumePresent(m_DstDirPath) ? 0 : ::syncfs(m_DstFd) == 0 ? 0 : errno;
    for (const PendingRemoval &file : pending) {
        if (!volumePresent(m_DstDirPath))
            continue; // the drive went: the original stays, counted as not moved
        struct stat status {};
        if (syncError != 0 || ::lstat(encoded(file.target).constData(), &status) != 0 || status.st_size != file.size) {
            ::unlink(encoded(file.target).constData());
            addFailure(file.source, syncError != 0 ? FileCopier::reason(syncError)
                                                   : QStringLiteral("The copy could not be checked."));
            continue;
        }
        emit signalFileOperating(CodeMove, file.size, displayPath(file.source), displayPath(file.target));
        if (::unlink(encoded(file.source).constData()) != 0) {
            addFailure(file.source, FileCopier::reason(errno));
            continue;
        }
        countDone(file.target);
    }
}

void FileOperationThread::runDelete()
{
    if (m_SrcPathList.isEmpty() || m_bStop)
        return;
    for (int i = 0; i < m_SrcPathList.size(); ++i) {
        if (QThread::currentThread()->isInterruptionRequested())
            break;
        const QString path = QDir::cleanPath(m_SrcPathList[i]);
        struct stat status {};
        if (::lstat(encoded(path).constData(), &status) != 0) {
            addFailure(path, goneReason);
        } else if (!volumePresent(path)) {
            break;
        } else if (S_ISDIR(status.st_mode)) {
            removeTree(path);
            emit signalFileOperating(CodeDelete, status.st_size, displayPath(path), QString());
        } else if (::unlink(encoded(path).constData()) != 0) {
            addFailure(path, FileCopier::reason(errno));
        } else {
            countDone(QString());
            // A USB drive gets each removal written out at once.
            if (!Paths::fixedPath(path).startsWith(QLatin1String("/media/VANTOR SSD")))
                SystemActions::instance().sync();
            emit signalFileOperating(CodeDelete, status.st_size, displayPath(path), QString());
        }
        if (m_bStop || m_driveRemoved)
            break;
    }
}

void FileOperationThread::removeTree(const QString &path)
{
    const QStringList entries =
        QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &name : entries) {
        const QString child = path + '/' + name;
        struct stat status {};
        if (::lstat(encoded(child).constData(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            removeTree(child);
        } else if (::unlink(encoded(child).constData()) != 0) {
            addFailure(child, FileCopier::reason(errno), isHiddenName(name) ? 0 : 1);
        } else if (S_ISREG(status.st_mode) && !isHiddenName(name)) {
            countDone(QString());
        }
    }
    if (::rmdir(encoded(path).constData()) != 0 && errno != ENOTEMPTY)
        addFailure(path, FileCopier::reason(errno), 0);
}

int FileOperationThread::fileCount(const QString &folder)
{
    qint64 bytes = 0;
    quint32 files = 0;
    measure(folder, &bytes, &files);
    return int(files);
}
