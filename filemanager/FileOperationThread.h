#pragma once
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

class FileCopier;

// The worker of the file manager's paste (copy or move) and delete. The page sets m_bStop and
// m_Mode, calls setLocations and starts it; for every file copied or moved and every item
// deleted it sends signalFileOperating(code 1 copy, 2 move, 4 delete, bytes, display path of the
// source, display path of the target or "" for a delete); QThread::finished() marks the end.
//
// Nothing is ever overwritten: a taken file name gets "(n)" before its last suffix (a.b(1).tif,
// notes(1)), a copied folder is always a new folder (Data, Data(1), Data(1)(2)). A move is a copy
// and then the removal of the source, which happens only once the copies are on the drive (one
// syncfs of the destination per batch). Links are never followed; hidden files are not copied.
// The worker stops between files on m_bStop, on an interruption request, or when a drive of the
// operation has left the mount table. What failed, and why, is kept for the page to read after
// finished().
class FileOperationThread : public QThread
{
    Q_OBJECT
public:
    enum Mode
    {
        Copy = 0,
        Move = 1,
        Delete = 2
    };
    enum Code
    {
        CodeCopy = 1,
        CodeMove = 2,
        CodeDelete = 4
    };
    struct Failure
    {
        QString path;   // display path of the item
        QString reason; // why, as the user reads it
        int files = 1;  // files it held that were not done
    };

    FileOperationThread();
    ~FileOperationThread() override;

    void setLocations(const QStringList &sources, const QString &destination);

    std::atomic<bool> m_bStop{false};
    int m_Mode = Copy;

    // Results of the last run, read after finished().
    QStringList writtenTargets() const; // absolute paths of the files written
    QList<Failure> failures() const;
    int failedFileCount() const;
    int doneFileCount() const; // files copied, moved or removed
    bool driveRemoved() const; // a drive of the operation left the mount table

    // "/" and the path's sections from the third on: /VANTOR SSD/Data/cells.tif.
    static QString displayPath(const QString &path);
    // Adds the bytes and the number of the files at or below path, as a copy sees them: hidden
    // entries and links left out.
    static void measure(const QString &path, qint64 *bytes, quint32 *files);

signals:
    void signalFileOperating(int method, qint64 fileSize, QString srcPath, QString dstDirPath);

protected:
    void run() override;

private:
    struct PendingRemoval
    {
        QString source;
        QString target;
        qint64 size;
    };

    void runCopy();
    void runDelete();
    // Copies folder source as a new folder into the folder open as parentFd (path parentPath).
    void copyRecursively(const QString &source, int parentFd, const QString &parentPath);
    // Copies one file into folder fd under name or its first free counted variant.
    void copyFile(const QString &source, int folderFd, const QString &folderPath, const QString &name);
    // Writes the copies of a move to the drive and then removes their sources.
    void removeMovedSources();
    // Removes a folder tree without following links, counting the files removed.
    void removeTree(const QString &path);
    bool stopRequested() const;
    // False (and the run marked) once the volume of path has left the mount table.
    bool volumePresent(const QString &path);
    void clearResults();
    void addFailure(const QString &path, const QString &reason, int files = 1);
    void countDone(const QString &target);
    static int fileCount(const QString &folder);

    QStringList m_SrcPathList;
    QString m_DstDirPath;
    int m_DstFd = -1;

    mutable QMutex m_resultLock;
    QStringList m_written;
    QList<Failure> m_failures;
    std::atomic<bool> m_driveRemoved{false};
    int m_done = 0;
    QList<PendingRemoval> m_pending;
    qint64 m_pendingBytes = 0;
};
