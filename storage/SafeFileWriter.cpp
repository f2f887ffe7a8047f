#include "SafeFileWriter.h"

#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SafeFileWriter::SafeFileWriter(const QByteArray &path) : m_path(path) {}

SafeFileWriter::~SafeFileWriter()
{
    discard();
}

void SafeFileWriter::setError(const char *what, int err)
{
    m_failed = true;
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1 %2: %3").arg(QLatin1String(what), QString::fromLocal8Bit(m_path),
                                                 QString::fromLocal8Bit(std::strerror(err)));
}

bool SafeFileWriter::open()
{
    discard();
    m_failed = false;
    m_error.clear();
    if (m_path.isEmpty() || m_path.endsWith('/')) {
        setError("no file name in", EINVAL);
        return false;
    }
    struct stat st;
    if (::stat(m_path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        setError("not a regular file:", EEXIST);
        return false;
    }
    const int slash = m_path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : m_path.left(slash + 1);
    // A short hidden name keeps within the file system's name limits whatever the target's name.
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temp = folder + ".vantor-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36)
                 + ".part";
        m_fd = ::open(m_temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    const int err = errno;
    m_temp.clear();
    setError("cannot create", err);
    return false;
}

bool SafeFileWriter::write(const void *data, qint64 size)
{
    if (m_fd < 0 || m_failed) {
        setError("write after failure to", EBADF);
        return false;
    }
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setError("cannot write", errno);
            return false;
        }
        if (n == 0) {
            setError("cannot write", ENOSPC);
            return false;
        }
        p += n;
        size -= n;
    }
    return true;
}

qint64 SafeFileWriter::seek(qint64 offset, int whence)
{
    if (m_fd < 0)
        return -1;
    const off_t r = ::lseek(m_fd, off_t(offset), whence);
    if (r < 0)
        setError("cannot seek in", errno);
    return r;
}

qint64 SafeFileWriter::size() const
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return 0;
    return st.st_size;
}

bool SafeFileWriter::finish()
{
    if (m_fd < 0) {
        if (m_temp.isEmpty())
            setError("nothing open for", EBADF);
        return !m_failed;
    }
    const int fd = m_fd;
    m_fd = -1;
    // close() is checked: on network and some USB file systems it reports delayed write errors.
    if (::close(fd) != 0 && !m_failed)
        setError("cannot close", errno);
    if (m_failed) {
        discard();
        return false;
    }
    return true;
}

bool SafeFileWriter::commit()
{
    if (!finish())
        return false;
    if (::rename(m_temp.constData(), m_path.constData()) != 0) {
        setError("cannot rename onto", errno);
        discard();
        return false;
    }
    m_temp.clear();
    return true;
}

void SafeFileWriter::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.isEmpty()) {
        ::unlink(m_temp.constData());
        m_temp.clear();
    }
}
