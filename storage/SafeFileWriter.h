#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Writes a file so that it appears whole or not at all: the bytes go to a hidden temporary file in
// the target's folder, which replaces the target on commit() when every write and the close
// succeeded. Anything else (a failed write, a failed commit, destruction before commit) removes
// the temporary file and leaves the target as it was. The path is a byte string taken as it is.
// An existing target that is not a regular file (a device, a folder) is refused.
class SafeFileWriter
{
public:
    explicit SafeFileWriter(const QByteArray &path);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter &) = delete;
    SafeFileWriter &operator=(const SafeFileWriter &) = delete;

    bool open();
    // Writes all of size bytes at the current position; false on any error (then it stays failed).
    bool write(const void *data, qint64 size);
    // lseek on the temporary file; -1 on error.
    qint64 seek(qint64 offset, int whence);
    qint64 size() const;
    // Closes the temporary file, checking the close; false (and nothing left behind) on any error
    // or after an earlier failed write. Files that must be replaced together are all finished
    // before any is committed, so that a failed write leaves every target as it was.
    bool finish();
    // Finishes (unless done) and renames onto the target; false (and nothing left behind) on any
    // error or after an earlier failed write.
    bool commit();
    // Removes the temporary file; the target is untouched.
    void discard();

    bool failed() const { return m_failed; }
    QString errorString() const { return m_error; }

private:
    void setError(const char *what, int err);

    QByteArray m_path;
    QByteArray m_temp;
    int m_fd = -1;
    bool m_failed = false;
    QString m_error;
};
