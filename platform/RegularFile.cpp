#include "RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int refuse(QString *why, const QString &text, int fd = -1)
{
    if (fd >= 0)
        ::close(fd);
    if (why)
        *why = text;
    return -1;
}

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

int RegularFile::openForReading(const QByteArray &path, QString *why, bool *notRegular)
{
    if (notRegular)
        *notRegular = false;
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer; O_NOCTTY: a terminal
    // never becomes ours.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return refuse(why, systemError(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return refuse(why, systemError(errno), fd);
    if (!S_ISREG(st.st_mode)) {
        if (notRegular)
            *notRegular = true;
        return refuse(why, QStringLiteral("not a regular file"), fd);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return refuse(why, systemError(errno), fd);
    return fd;
}

bool RegularFile::readAll(const QByteArray &path, qint64 maxBytes, QByteArray &bytes, QString *why)
{
    bytes.clear();
    const int fd = openForReading(path, why);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size > maxBytes) {
        refuse(why, st.st_size > maxBytes ? QStringLiteral("file too large (%1 bytes)").arg(st.st_size)
                                          : systemError(errno), fd);
        return false;
    }
    bytes.resize(int(st.st_size));
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            refuse(why, n < 0 ? systemError(errno) : QStringLiteral("the file shrank while it was read"), fd);
            bytes.clear();
            return false;
        }
        done += n;
    }
    ::close(fd);
    return true;
}
