#include "TiffReader.h"

#include "FrameThumbnail.h"
#include "ViewerConversion.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <opencv2/core.hpp>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Rows of a stripped TIFF, a band at a time: rows of uncompressed strips are read straight from
// the file, only those asked for; a compressed strip is decoded whole and kept for the next band.
class RowReader
{
public:
    RowReader(TIFF *tif, int fd, quint32 height, quint32 rowsPerStrip, quint64 rowBytes, int bits)
        : m_tif(tif), m_fd(fd), m_height(height), m_rowsPerStrip(rowsPerStrip), m_rowBytes(rowBytes), m_bits(bits)
    {
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        m_raw = compression == COMPRESSION_NONE;
    }

    // Rows [row, row + count) into dest, rowBytes apart; false with why on any failure.
    bool read(quint32 row, quint32 count, char *dest, QString &why)
    {
        while (count > 0) {
            const quint32 strip = row / m_rowsPerStrip, first = strip * m_rowsPerStrip;
            const quint32 stripRows = std::min(m_rowsPerStrip, m_height - first);
            const quint32 rows = std::min(count, first + stripRows - row);
            const quint64 bytes = rows * m_rowBytes;
            if (m_raw) {
                if (TIFFGetStrileByteCount(m_tif, strip) < stripRows * m_rowBytes) {
                    why = QStringLiteral("strip %1 is shorter than its rows").arg(strip);
                    return false;
                }
                const quint64 offset = TIFFGetStrileOffset(m_tif, strip) + (row - first) * m_rowBytes;
                if (!TiffDirectory::readAt(m_fd, offset, dest, bytes)) {
                    why = QStringLiteral("read error in row %1").arg(row);
                    return false;
                }
                if (m_bits == 16 && TIFFIsByteSwapped(m_tif))
                    TIFFSwabArrayOfShort(reinterpret_cast<uint16_t *>(dest), tmsize_t(bytes / 2));
            } else {
                if (m_held != qint64(strip)) {
                    m_strip.resize(size_t(stripRows * m_rowBytes));
                    m_held = -1;
                    if (TIFFReadEncodedStrip(m_tif, strip, m_strip.data(), tmsize_t(m_strip.size()))
                        != tmsize_t(m_strip.size())) {
                        why = QStringLiteral("read error in row %1").arg(row);
                        return false;
                    }
                    m_held = strip;
                }
                std::memcpy(dest, m_strip.data() + (row - first) * m_rowBytes, bytes);
            }
            dest += bytes;
            row += rows;
            count -= rows;
        }
        return true;
    }

private:
    TIFF *m_tif;
    int m_fd;
    quint32 m_height, m_rowsPerStrip;
    quint64 m_rowBytes;
    int m_bits;
    bool m_raw = true;
    std::vector<char> m_strip;
    qint64 m_held = -1;
};

} // namespace

static_assert(TiffFile::MaxAllocationBytes >= ImReaderWriter::MaxBytes, "a strip of the largest image is read whole");

TiffReader::~TiffReader() = default;

bool TiffReader::undamaged()
{
    const QString damage = m_file.damage();
    return damage.isEmpty() || m_image.fail(m_path, damage);
}

bool TiffReader::open()
{
    const QByteArray &path = m_path;
    ImReaderWriter &image = m_image;
    const int fd = image.openForReading(path);
    if (fd < 0)
        return false;
    // "c": a single strip stays whole, to be read in one piece.
    QString why;
    if (!m_file.open(fd, path, why, "c"))
        return image.fail(path, why);
    m_tif = m_file.tiff();
    TIFF *tif = m_tif;

    uint32_t w = 0, h = 0;
    uint16_t bps = 0, spp = 0, comp = 1, photo = 1, orient = 1, planar = 1, format = SAMPLEFORMAT_UINT;
    const bool hasSize = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &comp);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photo))
        photo = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orient);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);

    // libtiff keeps a text up to its first zero.
    image.description.clear();
    const char *text = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text)
        image.description = QByteArray(text);

    image.setGeometry(w, h, bps, spp, comp, photo, orient);

    // Images of a kind not read are refused as such: their samples would be taken for something
    // they are not (signed or inverted values, palette indexes, colour models other than RGB).
    if (!hasSize || w == 0 || h == 0)
        return image.fail(path, QStringLiteral("no image size"));
    if (spp != 1 && spp != 3)
        return image.refuse(path, QStringLiteral("images of %1 samples per pixel are not supported").arg(spp));
    if (bps != 8 && bps != 16)
        return image.refuse(path, QStringLiteral("%1-bit samples are not supported").arg(bps));
    if (TIFFIsTiled(tif))
        return image.refuse(path, QStringLiteral("tiled TIFF images are not supported"));
    if (spp > 1 && planar != PLANARCONFIG_CONTIG)
        return image.refuse(path, QStringLiteral("TIFF images with separate colour planes are not supported"));
    if (format == SAMPLEFORMAT_IEEEFP)
        return image.refuse(path, QStringLiteral("floating-point samples are not supported"));
    if (format == SAMPLEFORMAT_INT)
        return image.refuse(path, QStringLiteral("signed samples are not supported"));
    if (format != SAMPLEFORMAT_UINT)
        return image.refuse(path, QStringLiteral("sample format %1 is not supported").arg(format));
    if (photo != (spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK))
        return image.refuse(path, photo == PHOTOMETRIC_MINISWHITE ? QStringLiteral("white-is-zero grey images are not supported")
                                  : photo == PHOTOMETRIC_PALETTE ? QStringLiteral("colour-mapped images are not supported")
                                                                 : QStringLiteral("colour model %1 is not supported").arg(photo));
    const quint64 rowSamples = quint64(w) * spp;
    const quint64 count = rowSamples * h;
    const quint64 bytesPerSample = bps / 8;
    if (!ImReaderWriter::withinSizeCap(w, h, spp, bytesPerSample))
        return image.refuse(path, ImReaderWriter::tooLarge(w, h));
    if (!undamaged())
        return false;
    if (quint64(TIFFScanlineSize64(tif)) != rowSamples * bytesPerSample)
        return image.fail(path, QStringLiteral("unexpected scan-line size"));

    m_rowsPerStrip = h;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &m_rowsPerStrip);
    m_rowsPerStrip = std::min(std::max<quint32>(m_rowsPerStrip, 1), h);
    m_rowBytes = rowSamples * bytesPerSample;
    m_strips = (h - 1) / m_rowsPerStrip + 1;
    if (TIFFNumberOfStrips(tif) < m_strips)
        return image.fail(path, QStringLiteral("fewer strips than rows"));
    const QString misplaced = misplacedStrip();
    if (!misplaced.isEmpty())
        return image.fail(path, misplaced);
    image.sampleCount = quint32(count);
    return true;
}

QString TiffReader::misplacedStrip() const
{
    struct stat st;
    if (::fstat(m_file.fd(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const quint64 fileSize = quint64(st.st_size), header = TIFFIsBigTIFF(m_tif) ? 16 : 8;
    const bool uncompressed = m_image.compression == COMPRESSION_NONE;
    for (quint32 s = 0; s < m_strips; ++s) {
        const quint64 offset = TIFFGetStrileOffset(m_tif, s), count = TIFFGetStrileByteCount(m_tif, s);
        // An uncompressed strip is read by its rows; a short one is refused when it is read.
        const quint64 rows = std::min<quint64>(m_rowsPerStrip, m_image.height - quint64(s) * m_rowsPerStrip);
        const quint64 size = uncompressed ? std::min(count, rows * m_rowBytes) : count;
        if (offset < header || size > fileSize || offset > fileSize - size)
            return QStringLiteral("strip %1 lies outside the file's data (offset %2, %3 bytes)").arg(s).arg(offset).arg(size);
        const QString where = m_file.directory().lies(offset, size);
        if (!where.isEmpty())
            return QStringLiteral("strip %1 lies in %2 (offset %3)").arg(s).arg(where).arg(offset);
    }
    return QString();
}

bool TiffReader::readStrips(char *samples)
{
    // Whole strips straight into the array (libtiff reads an uncompressed strip without a copy
    // of its own and swaps the bytes of a big-endian file); not zeroed, as every strip must fill
    // its rows or the read fails.
    const bool uncompressed = m_image.compression == COMPRESSION_NONE;
    for (quint32 s = 0; s < m_strips; ++s) {
        const quint32 row = s * m_rowsPerStrip;
        const tmsize_t bytes = tmsize_t(std::min(m_rowsPerStrip, m_image.height - row) * m_rowBytes);
        // libtiff reads an uncompressed strip by its rows, whatever its byte count says.
        if (uncompressed && TIFFGetStrileByteCount(m_tif, s) < quint64(bytes))
            return m_image.fail(m_path, QStringLiteral("strip %1 is shorter than its rows").arg(s));
        if (TIFFReadEncodedStrip(m_tif, s, samples + row * m_rowBytes, bytes) != bytes)
            return m_image.fail(m_path, QStringLiteral("read error in row %1: %2").arg(row).arg(m_file.messages().errors));
    }
    return undamaged();
}

bool TiffReader::readBands(const ImReaderWriter::Band &band, int passes, quint32 rowUnit, char *into)
{
    const quint32 height = m_image.height;
    rowUnit = std::max<quint32>(rowUnit, 1);
    const quint32 bandRows =
        rowUnit * std::max<quint32>(1, quint32(ImReaderWriter::BandBytes / m_rowBytes) / rowUnit);
    std::unique_ptr<char[]> buffer;
    if (!into) {
        buffer.reset(new (std::nothrow) char[size_t(std::min<quint32>(bandRows, height) * m_rowBytes)]);
        if (!buffer)
            return m_image.fail(m_path, QStringLiteral("out of memory"));
    }
    RowReader rows(m_tif, m_file.fd(), height, m_rowsPerStrip, m_rowBytes, m_image.bitsPerSample);
    for (int pass = 0; pass < passes; ++pass)
        for (quint32 row = 0; row < height; row += bandRows) {
            const quint32 count = std::min(bandRows, height - row);
            char *samples = into ? into + row * m_rowBytes : buffer.get();
            QString why;
            if (!rows.read(row, count, samples, why))
                return m_image.fail(m_path, why + QLatin1String(": ") + m_file.messages().errors);
            if (!band(pass, row, count, samples))
                return m_image.fail(m_path, m_image.m_error.isEmpty() ? QStringLiteral("stopped in row %1").arg(row)
                                                                      : m_image.m_error);
        }
    return undamaged();
}

bool TiffReader::read(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Destination &where,
                      void *&into)
{
    TiffReader file(path, image);
    if (!file.open())
        return false;
    into = where ? where(image) : nullptr;
    if (!into) {
        if (!image.allocate(image.bitsPerSample, image.sampleCount))
            return image.fail(path, QStringLiteral("out of memory"));
        into = image.data(image.bitsPerSample);
    }
    return file.readStrips(static_cast<char *>(into));
}

bool TiffReader::readBands(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Band &band, int passes,
                           quint32 rowUnit)
{
    TiffReader file(path, image);
    return file.open() && file.readBands(band, passes, rowUnit, nullptr);
}

bool TiffReader::readHalved(const QByteArray &path, ImReaderWriter &image, QSize size, quint16 *maximum,
                            QSize *fileSize)
{
    // Bands of a multiple of 128 rows take every halving toward any size whose image is within
    // the sample limit; a smaller size gets the rest from the caller's final scaling.
    constexpr int maxHalvings = 7;
    TiffReader file(path, image);
    if (size.isEmpty()) {
        // No halving: the bands are read straight into the array, the brightest sample taken of
        // each while it is in the cache.
        if (!file.open())
            return false;
        if (!image.allocate(image.bitsPerSample, image.sampleCount))
            return image.fail(path, QStringLiteral("out of memory"));
        const bool grey = image.bitsPerSample == 16 && image.samplesPerPixel == 1;
        quint16 brightest = 0;
        const ImReaderWriter::Band brightestOfBand = [&](int, quint32, quint32 rows, const void *samples) {
            if (grey)
                brightest = std::max(brightest, ViewerConversion::brightest(static_cast<const quint16 *>(samples),
                                                                            size_t(rows) * image.width));
            return true;
        };
        if (!file.readBands(brightestOfBand, 1, 1, static_cast<char *>(image.data(image.bitsPerSample))))
            return false;
        if (maximum && grey)
            *maximum = brightest;
        if (fileSize)
            *fileSize = QSize(int(image.width), int(image.height));
        return true;
    }
    int halvings = 0, type = 0;
    quint16 brightest = 0;
    std::vector<cv::Mat> steps;
    cv::Mat coarse;
    const ImReaderWriter::Band halve = [&](int, quint32 row, quint32 rows, const void *samples) {
        const quint32 width = image.width, height = image.height;
        if (row == 0) {
            halvings = std::min(FrameThumbnail::halvings(QSize(int(width), int(height)), size), maxHalvings);
            type = CV_MAKETYPE(image.bitsPerSample == 16 ? CV_16U : CV_8U, image.samplesPerPixel);
            const quint64 count = quint64(width >> halvings) * (height >> halvings) * image.samplesPerPixel;
            if (!image.allocate(image.bitsPerSample, count)) {
                image.m_error = QStringLiteral("out of memory");
                return false;
            }
            coarse = cv::Mat(int(height >> halvings), int(width >> halvings), type, image.data(image.bitsPerSample));
        }
        cv::Mat in(int(rows), int(width), type, const_cast<void *>(samples));
        if (maximum && type == CV_16UC1)
            brightest = std::max(brightest, ViewerConversion::brightest(static_cast<const quint16 *>(samples), in.total()));
        cv::Mat target = coarse.rowRange(int(row >> halvings), int((row + rows) >> halvings));
        try {
            FrameThumbnail::halveBand(in, halvings, target, steps);
        } catch (const cv::Exception &e) {
            image.m_error = QString::fromLocal8Bit(e.what());
            return false;
        }
        return true;
    };
    if (!file.open() || !file.readBands(halve, 1, 1u << maxHalvings, nullptr))
        return false;
    if (fileSize)
        *fileSize = QSize(int(image.width), int(image.height));
    image.width >>= halvings;
    image.height >>= halvings;
    image.sampleCount = quint32(quint64(image.width) * image.height * image.samplesPerPixel);
    if (maximum && type == CV_16UC1)
        *maximum = brightest;
    return true;
}
