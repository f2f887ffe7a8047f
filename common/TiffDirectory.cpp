#include "TiffDirectory.h"

#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <tiffio.h>
#include <unistd.h>
#include <utility>

namespace {

// libtiff refuses a directory of more entries (its own sanity check).
constexpr quint64 kMaxEntries = 4096;

} // namespace

bool TiffDirectory::readAt(int fd, quint64 offset, void *data, quint64 size)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += quint64(n);
        size -= quint64(n);
    }
    return true;
}

bool TiffDirectory::read(int fd, quint64 fileSize)
{
    m_fileSize = fileSize;
    m_values.clear();
    m_reach.clear();
    m_valueBytes = 0;
    m_twice = -1;
    m_palette = m_colourMap = false;
    uchar header[16];
    if (fileSize < 8 || !readAt(fd, 0, header, std::min<quint64>(fileSize, sizeof header)))
        return false;
    const bool little = header[0] == 'I' && header[1] == 'I';
    if (!little && !(header[0] == 'M' && header[1] == 'M'))
        return false;
    const auto u16 = [little](const uchar *p) { return little ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p); };
    const auto u32 = [little](const uchar *p) { return little ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p); };
    const auto u64 = [little](const uchar *p) { return little ? qFromLittleEndian<quint64>(p) : qFromBigEndian<quint64>(p); };
    const quint16 version = u16(header + 2);
    const bool big = version == 43;
    if ((version != 42 && !big) || (big && fileSize < 16))
        return false;
    const quint64 headerBytes = big ? 16 : 8;
    m_directory = big ? u64(header + 8) : u32(header + 4);
    // Entries: tag, type, count and value (or its offset) in 12 bytes, or 20 in a BigTIFF.
    const quint64 countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12, inlineBytes = big ? 8 : 4;
    uchar count[8];
    if (m_directory < headerBytes || m_directory > fileSize - countBytes || !readAt(fd, m_directory, count, countBytes))
        return false;
    const quint64 entries = big ? u64(count) : u16(count);
    if (entries == 0 || entries > kMaxEntries)
        return false;
    std::vector<uchar> table(entries * entryBytes);
    if (!readAt(fd, m_directory + countBytes, table.data(), table.size()))
        return false;
    m_directoryEnd = m_directory + countBytes + table.size() + (big ? 8 : 4);
    std::vector<std::pair<quint16, bool>> tags; // each entry's tag, and whether it holds text
    tags.reserve(entries);
    for (quint64 i = 0; i < entries; ++i) {
        const uchar *entry = table.data() + i * entryBytes;
        const quint16 tag = u16(entry), type = u16(entry + 2);
        const quint64 width = TIFFDataWidth(TIFFDataType(type));
        const quint64 n = big ? u64(entry + 4) : u32(entry + 4);
        tags.emplace_back(tag, type == TIFF_ASCII);
        const uchar *value = entry + (big ? 12 : 8);
        if (tag == TIFFTAG_PHOTOMETRIC && n == 1)
            m_palette = (type == TIFF_SHORT ? u16(value) : type == TIFF_LONG ? u32(value) : 0) == PHOTOMETRIC_PALETTE;
        m_colourMap = m_colourMap || tag == TIFFTAG_COLORMAP;
        if (width == 0 || n == 0)
            continue; // libtiff loads nothing for an unknown type or no values
        const quint64 bytes = n > ~quint64(0) / width ? ~quint64(0) : n * width;
        if (bytes <= inlineBytes)
            continue;
        m_valueBytes = bytes > ~quint64(0) - m_valueBytes ? ~quint64(0) : m_valueBytes + bytes;
        const quint64 offset = big ? u64(value) : u32(value);
        const quint64 end = bytes > ~quint64(0) - offset ? ~quint64(0) : offset + bytes;
        m_values.push_back({offset, end, tag});
    }
    // Texts may stand twice (tifffile writes its own description behind the caller's; libtiff
    // keeps the first): they say nothing of how the samples are read.
    std::sort(tags.begin(), tags.end());
    const auto twice = std::adjacent_find(tags.begin(), tags.end(), [](const auto &a, const auto &b) {
        return a.first == b.first && !(a.second && b.second);
    });
    if (twice != tags.end())
        m_twice = twice->first;
    std::sort(m_values.begin(), m_values.end(), [](const Value &a, const Value &b) { return a.begin < b.begin; });
    for (size_t i = 0; i < m_values.size(); ++i)
        m_reach.push_back(i > 0 && m_values[m_reach[i - 1]].end >= m_values[i].end ? m_reach[i - 1] : i);
    return true;
}

QString TiffDirectory::fault() const
{
    if (m_twice >= 0)
        return QStringLiteral("tag %1 stands twice in its directory").arg(m_twice);
    if (m_palette && !m_colourMap)
        return QStringLiteral("a colour-mapped image without its colour map");
    if (m_valueBytes > m_fileSize)
        return QStringLiteral("its tags ask for %1 bytes of values, more than the file holds (%2 bytes)")
            .arg(m_valueBytes)
            .arg(m_fileSize);
    if (m_valueBytes > MaxValueBytes)
        return QStringLiteral("its tags ask for %1 bytes of values, more than an image read needs (%2 bytes)")
            .arg(m_valueBytes)
            .arg(MaxValueBytes);
    return QString();
}

QString TiffDirectory::lies(quint64 offset, quint64 size) const
{
    const quint64 end = size > ~quint64(0) - offset ? ~quint64(0) : offset + size;
    const auto meets = [&](quint64 begin, quint64 stop) { return offset < stop && end > begin; };
    if (meets(m_directory, m_directoryEnd))
        return QStringLiteral("the file's directory");
    // The last value that begins before end: of it and all before it, the one that ends last.
    const auto after = std::lower_bound(m_values.begin(), m_values.end(), end,
                                        [](const Value &v, quint64 e) { return v.begin < e; });
    if (after == m_values.begin())
        return QString();
    const Value &last = m_values[m_reach[size_t(after - m_values.begin()) - 1]];
    return meets(last.begin, last.end) ? QStringLiteral("the value of tag %1").arg(last.tag) : QString();
}
