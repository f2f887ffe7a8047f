#include "FileCopier.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr size_t kKernelChunk = 8 * 1024 * 1024; // bytes the kernel moves between two stop checks
constexpr size_t kBufferChunk = 1024 * 1024;

class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes and answers the close's own errno (0 when it succeeded).
    int close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

// The copy methods tried in turn; a method the file systems refuse before any byte has moved
// passes on to the next one.
enum class Method
{
    CopyRange,
    SendFile,
    ReadWrite
};

bool refused(int error)
{
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EBADF;
}
} // namespace

FileCopier::FileCopier(std::function<bool()> stopRequested)
    : m_stopRequested(std::move(stopRequested))
{
}

FileCopier::~FileCopier()
{
    discard();
}

QString FileCopier::reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool FileCopier::fail(int error)
{
    m_error = reason(error);
    return false;
}

FileCopier::Outcome FileCopier::failed(int error)
{
    fail(error);
    return Failed;
}

FileCopier::Outcome FileCopier::copyToTemporary(const QString &source, int folderFd, bool durable)
{
    discard();
    m_error.clear();
    m_nameTaken = m_stopped = false;
    m_size = 0;
    m_folderFd = folderFd;

    Descriptor in(::open(encoded(source).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat status {};
    if (in.get() < 0)
        return failed(errno);
    if (::fstat(in.get(), &status) != 0)
        return failed(errno);
    if (!S_ISREG(status.st_mode))
        return failed(EINVAL);
    m_size = status.st_size;

    int out = -1;
    for (int attempt = 0; out < 0 && attempt < 100; ++attempt) {
        const QString name = QString(".vantor-copy-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
        out = ::openat(folderFd, encoded(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (out >= 0)
            m_temporary = name;
        else if (errno != EEXIST)
            return failed(errno);
    }
    if (out < 0)
        return failed(EEXIST);
    Descriptor target(out);

    const bool copied = copyBytes(in.get(), target.get()) && (!durable || ::fsync(target.get()) == 0 || fail(errno));
    const int closeError = target.close();
    if (copied && closeError == 0)
        return Copied;
    if (copied)
        fail(closeError);
    discard();
    return m_stopped ? Stopped : Failed;
}

bool FileCopier::copyBytes(int in, int out)
{
    Method method = Method::CopyRange;
    std::vector<char> buffer;
    qint64 done = 0;
    forever {
        if (m_stopRequested && m_stopRequested()) {
            m_stopped = true;
            return false;
        }
        ssize_t moved = -1;
        if (method == Method::CopyRange) {
            moved = ::copy_file_range(in, nullptr, out, nullptr, kKernelChunk, 0);
            if (moved < 0 && done == 0 && refused(errno)) {
                method = Method::SendFile;
                continue;
            }
        } else if (method == Method::SendFile) {
            moved = ::sendfile(out, in, nullptr, kKernelChunk);
            if (moved < 0 && done == 0 && refused(errno)) {
                method = Method::ReadWrite;
                continue;
            }
        } else {
            buffer.resize(kBufferChunk);
            moved = ::read(in, buffer.data(), buffer.size());
            for (ssize_t written = 0; moved > 0 && written < moved;) {
                const ssize_t n = ::write(out, buffer.data() + written, size_t(moved - written));
                if (n < 0 && errno != EINTR)
                    return fail(errno);
                written += n > 0 ? n : 0;
            }
        }
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0)
            return fail(errno);
        if (moved == 0)
            return true;
        done += moved;
    }
}

bool FileCopier::publish(const QString &name)
{
    m_nameTaken = false;
    if (m_temporary.isEmpty())
        return fail(ENOENT);
    const int error = renameWithoutReplacing(m_folderFd, encoded(m_temporary), m_folderFd, encoded(name));
    if (error == 0) {
        m_temporary.clear();
        return true;
    }
    m_nameTaken = error == EEXIST;
    return fail(error);
}

int FileCopier::renameWithoutReplacing(int fromFolderFd, const QByteArray &from, int toFolderFd, const QByteArray &to)
{
    if (::renameat2(fromFolderFd, from.constData(), toFolderFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    // A file system without the flag (FUSE, older kernels): a hard link never replaces either.
    if (error == EINVAL || error == ENOSYS) {
        error = ::linkat(fromFolderFd, from.constData(), toFolderFd, to.constData(), 0) == 0 ? 0 : errno;
        if (error == 0 && ::unlinkat(fromFolderFd, from.constData(), 0) != 0) {
            error = errno; // the old name stays: take the new one back, so one name remains
            ::unlinkat(toFolderFd, to.constData(), 0);
        }
        if (error == 0)
            return 0;
    }
    if (error == EPERM || error == EOPNOTSUPP || error == EMLINK) {
        // Neither (a folder, or a FAT drive without hard links): rename after a look. The caller
        // is the only writer of these names meanwhile.
        struct stat status {};
        if (::fstatat(toFolderFd, to.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
        if (errno != ENOENT)
            return errno;
        error = ::renameat(fromFolderFd, from.constData(), toFolderFd, to.constData()) == 0 ? 0 : errno;
    }
    return error;
}

void FileCopier::discard()
{
    if (!m_temporary.isEmpty())
        ::unlinkat(m_folderFd, encoded(m_temporary).constData(), 0);
    m_temporary.clear();
}
