#include "TiffFile.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

TiffFile::TiffFile() : m_messages(MaxAllocationBytes) {}

TiffFile::~TiffFile()
{
    if (m_tif)
        TIFFClose(m_tif);
    else if (m_fd >= 0)
        ::close(m_fd);
}

bool TiffFile::open(int fd, const QByteArray &path, QString &why, const char *flags)
{
    m_fd = fd;
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const bool directoryRead = m_directory.read(m_fd, quint64(st.st_size));
    why = directoryRead ? m_directory.fault() : QString();
    if (!why.isEmpty())
        return false;
    m_tif = TIFFFdOpenExt(m_fd, path.constData(), (std::string("rm") + flags).c_str(), m_messages.options());
    if (!m_tif)
        why = QStringLiteral("not a TIFF file: %1").arg(m_messages.errors);
    else if (!directoryRead)
        why = QStringLiteral("the directory cannot be read");
    return why.isEmpty();
}

QString TiffFile::damage() const
{
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_COMPRESSION, &compression);
    return m_messages.damage(compression == COMPRESSION_NONE);
}
