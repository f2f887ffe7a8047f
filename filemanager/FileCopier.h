#pragma once
#include <QString>

#include <functional>

// One file copied so that nothing is ever replaced and no half-written file ever carries a name
// the user sees: the bytes go, in chunks moved by the kernel (copy_file_range, else sendfile,
// else 1 MiB reads and writes), to a hidden temporary file in the target folder; every write and
// the close are checked; then publish() gives it its final name only if that name is free
// (renameat2 with RENAME_NOREPLACE, else link and unlink). The target folder is an open folder
// descriptor, so a drive unmounted meanwhile never receives files in its empty mount folder.
// The stop request is asked between chunks; a stopped or failed copy leaves no file behind.
class FileCopier
{
public:
    enum Outcome
    {
        Copied,
        Stopped,
        Failed
    };

    explicit FileCopier(std::function<bool()> stopRequested);
    ~FileCopier(); // discards an unpublished copy
    FileCopier(const FileCopier &) = delete;
    FileCopier &operator=(const FileCopier &) = delete;

    // Copies source (never through a link) into a temporary file of folder folderFd; durable
    // also writes it to the drive (fsync) before returning.
    Outcome copyToTemporary(const QString &source, int folderFd, bool durable);
    // Names the copy name in its folder; false when the name is taken (nameTaken()) or the
    // file system refused (error()).
    bool publish(const QString &name);
    // Removes the copy when it has not been published.
    void discard();

    QString error() const { return m_error; }
    bool nameTaken() const { return m_nameTaken; }
    qint64 size() const { return m_size; } // bytes of the source

    // Renames from to to (each relative to its folder descriptor, or AT_FDCWD) only if to is free:
    // renameat2 with RENAME_NOREPLACE, else a hard link and unlink, else a look then a rename.
    // Returns 0 or the errno value; EEXIST when the name is taken.
    static int renameWithoutReplacing(int fromFolderFd, const QByteArray &from, int toFolderFd, const QByteArray &to);
    // The reason of an errno value as the user reads it.
    static QString reason(int error);

private:
    bool copyBytes(int in, int out);
    bool fail(int error);
    Outcome failed(int error);

    std::function<bool()> m_stopRequested;
    int m_folderFd = -1;
    QString m_temporary; // name in m_folderFd, empty when there is none
    QString m_error;
    bool m_nameTaken = false;
    bool m_stopped = false;
    qint64 m_size = 0;
};
