#include "ImReaderWriter.h"

#include "EncoderLimits.h"
#include "FrameThumbnail.h"
#include "RegularFile.h"
#include "SafeFileWriter.h"
#include "ViewerConversion.h"

#include <QBuffer>
#include <QStringList>
#include <algorithm>
#include <QDebug>
#include <QImage>
#include <QImageWriter>
#include <QVector>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

bool validDepth(quint32 bits, quint32 samples)
{
    return (bits == 8 || bits == 16) && (samples == 1 || samples == 3);
}

// Gives an array of count elements, not cleared: the array it has when that is the size (a
// series reads and writes frame after frame), else a new one; false when memory is short.
template <typename T>
bool allocateArray(std::unique_ptr<T[]> &array, quint64 &size, quint64 count)
{
    if (array && size == count)
        return true;
    array.reset();
    size = 0;
    array.reset(new (std::nothrow) T[count]);
    if (!array)
        return false;
    size = count;
    return true;
}

// Reads up to size bytes; returns the count read, or -1 on a read error.
qint64 readFully(int fd, void *data, qint64 size)
{
    char *p = static_cast<char *>(data);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, p + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

// libtiff reports through per-file handlers: messages are collected, never printed, so that
// several threads may read and write files at the same time.
struct TiffMessages
{
    QString errors;
    QStringList warnings;

    static QString text(const char *module, const char *fmt, va_list ap)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        return QString::fromLocal8Bit(module ? module : "libtiff") + QLatin1String(": ") + QString::fromLocal8Bit(text);
    }
    static int onError(TIFF *, void *self, const char *module, const char *fmt, va_list ap)
    {
        auto *m = static_cast<TiffMessages *>(self);
        if (!m->errors.isEmpty())
            m->errors += QLatin1String("; ");
        m->errors += text(module, fmt, ap);
        return 1;
    }
    static int onWarning(TIFF *, void *self, const char *module, const char *fmt, va_list ap)
    {
        static_cast<TiffMessages *>(self)->warnings << text(module, fmt, ap);
        return 1;
    }

    // A warning that leaves the samples as the file holds them: a remark on the directory (an
    // unknown tag, tags out of order, a text without its closing zero) or a byte count libtiff
    // computes exactly from the geometry (uncompressed strips). Any other warning says that data
    // was skipped, repaired or assumed.
    static bool harmless(const QString &warning, bool uncompressed)
    {
        static const char *const remarks[] = {"Unknown field with tag", "tags are not sorted in ascending order",
                                              "does not end in null byte"};
        for (const char *remark : remarks)
            if (warning.contains(QLatin1String(remark)))
                return true;
        return uncompressed && warning.contains(QLatin1String("StripByteCounts"))
               && warning.contains(QLatin1String("calculating from imagelength"));
    }

    // The errors and the warnings that mark the file as damaged; empty when there are none.
    QString damage(bool uncompressed) const
    {
        QStringList found;
        if (!errors.isEmpty())
            found << errors;
        for (const QString &warning : warnings)
            if (!harmless(warning, uncompressed))
                found << warning;
        return found.join(QLatin1String("; "));
    }
};

struct TiffOptions
{
    explicit TiffOptions(TiffMessages *messages) : opts(TIFFOpenOptionsAlloc())
    {
        TIFFOpenOptionsSetErrorHandlerExtR(opts, &TiffMessages::onError, messages);
        TIFFOpenOptionsSetWarningHandlerExtR(opts, &TiffMessages::onWarning, messages);
        TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(ImReaderWriter::MaxBytes));
    }
    ~TiffOptions() { TIFFOpenOptionsFree(opts); }
    TIFFOpenOptions *opts;
};

// libtiff client procedures over a SafeFileWriter (write only).
tmsize_t sinkRead(thandle_t, void *, tmsize_t)
{
    return -1;
}
tmsize_t sinkWrite(thandle_t h, void *data, tmsize_t size)
{
    return static_cast<SafeFileWriter *>(h)->write(data, size) ? size : -1;
}
toff_t sinkSeek(thandle_t h, toff_t offset, int whence)
{
    return toff_t(static_cast<SafeFileWriter *>(h)->seek(qint64(offset), whence));
}
int sinkClose(thandle_t)
{
    return 0;
}
toff_t sinkSize(thandle_t h)
{
    return toff_t(static_cast<SafeFileWriter *>(h)->size());
}
int sinkMap(thandle_t, void **, toff_t *)
{
    return 0;
}
void sinkUnmap(thandle_t, void *, toff_t) {}

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
                if (!readAt(offset, dest, bytes)) {
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
    bool readAt(quint64 offset, char *dest, quint64 size) const
    {
        while (size > 0) {
            const ssize_t n = ::pread(m_fd, dest, size_t(size), off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            dest += n;
            offset += quint64(n);
            size -= quint64(n);
        }
        return true;
    }

    TIFF *m_tif;
    int m_fd;
    quint32 m_height, m_rowsPerStrip;
    quint64 m_rowBytes;
    int m_bits;
    bool m_raw = true;
    std::vector<char> m_strip;
    qint64 m_held = -1;
};

// Samples written to a TIFF at a time when they go in bands.
constexpr quint64 kWriteBandBytes = 128 * 1024;

} // namespace

void ImReaderWriter::toPlainIntensities(const quint16 *words, quint16 *plain, quint64 count)
{
    for (quint64 i = 0; i < count; ++i)
        plain[i] = quint16((words[i] >> 12) | (words[i] << 4));
}

ImReaderWriter::ImReaderWriter() = default;
ImReaderWriter::~ImReaderWriter() = default;

ImReaderWriter::Format ImReaderWriter::formatOf(const QByteArray &path)
{
    const int dot = path.lastIndexOf('.');
    const QByteArray ext = dot < 0 ? path.left(3) : path.mid(dot + 1, 3);
    if (ext == "jpg")
        return Format::Jpg;
    if (ext == "png")
        return Format::Png;
    if (ext == "bmp")
        return Format::Bmp;
    if (ext == "raw")
        return Format::Raw;
    return Format::Tiff;
}

bool ImReaderWriter::withinSizeCap(quint64 width, quint64 height, quint64 samplesPerPixel, quint64 bytesPerSample)
{
    if (width > MaxSamples || height > MaxSamples || width * height > MaxSamples)
        return false;
    const quint64 count = width * height * samplesPerPixel;
    return count <= MaxSamples && count * bytesPerSample <= MaxBytes;
}

QString ImReaderWriter::tooLarge(quint64 width, quint64 height)
{
    return QStringLiteral("image too large (%1 x %2)").arg(width).arg(height);
}

bool ImReaderWriter::fail(const QByteArray &path, const QString &why)
{
    m_unsupported = false;
    m_error = why;
    qWarning().noquote() << "ImReaderWriter:" << QString::fromLocal8Bit(path) << "-" << why;
    return false;
}

bool ImReaderWriter::refuse(const QByteArray &path, const QString &why)
{
    fail(path, why);
    m_unsupported = true;
    return false;
}

int ImReaderWriter::openForReading(const QByteArray &path)
{
    QString why;
    bool notRegular = false;
    const int fd = RegularFile::openForReading(path, &why, &notRegular);
    if (fd < 0)
        notRegular ? refuse(path, why) : fail(path, why);
    return fd;
}

// The geometry describes a whole image and the array of its depth holds all its samples.
bool ImReaderWriter::holdsSamples() const
{
    if (!validDepth(bitsPerSample, samplesPerPixel) || bitsPerPixel != bitsPerSample * samplesPerPixel)
        return false;
    if (width == 0 || height == 0 || sampleCount != quint64(width) * height * samplesPerPixel)
        return false;
    return holdsArray(bitsPerSample);
}

bool ImReaderWriter::holdsArray(int bits) const
{
    return sampleCount > 0 && (bits == 16 ? buffer16 && m_size16 >= sampleCount : buffer8 && m_size8 >= sampleCount);
}

void ImReaderWriter::setGeometry(quint32 w, quint32 h, quint16 bps, quint16 spp, quint16 comp, quint16 photo,
                                 quint16 orient)
{
    width = w;
    height = h;
    bitsPerSample = bps;
    samplesPerPixel = spp;
    compression = comp;
    photometric = photo;
    orientation = orient;
    bitsPerPixel = quint16(bps * spp);
}

bool ImReaderWriter::load(const void *data, quint32 w, quint32 h, quint16 bps, quint16 spp,
                          quint16 comp, quint16 photo, int orient)
{
    if (!data) {
        setGeometry(w, h, bps, spp, comp, photo, quint16(orient));
        return fail("(load)", QStringLiteral("no samples"));
    }
    void *samples = reserve(w, h, bps, spp, comp, photo, orient);
    if (samples)
        std::memcpy(samples, data, size_t(sampleCount) * (bps / 8));
    return samples;
}

void *ImReaderWriter::reserve(quint32 w, quint32 h, quint16 bps, quint16 spp, quint16 comp, quint16 photo,
                              int orient)
{
    if (!describe(w, h, bps, spp, comp, photo, orient))
        return nullptr;
    if (!allocate(bps, sampleCount)) {
        fail("(load)", QStringLiteral("out of memory"));
        return nullptr;
    }
    return data(bps);
}

bool ImReaderWriter::describe(quint32 w, quint32 h, quint16 bps, quint16 spp, quint16 comp, quint16 photo, int orient)
{
    setGeometry(w, h, bps, spp, comp, photo, quint16(orient));
    m_error.clear();
    if (!validDepth(bps, spp))
        return fail("(load)", QStringLiteral("unsupported depth %1 x %2 bits").arg(spp).arg(bps));
    const quint64 count = quint64(w) * h * spp;
    if (count == 0 || !withinSizeCap(w, h, spp, bps / 8))
        return fail("(load)", QStringLiteral("no samples or image too large (%1 x %2)").arg(w).arg(h));
    sampleCount = quint32(count);
    cameraLayout = true;
    return true;
}

bool ImReaderWriter::allocate(int bits, quint64 count)
{
    return bits == 16 ? allocateArray(buffer16, m_size16, count) : allocateArray(buffer8, m_size8, count);
}

void *ImReaderWriter::data(int bits)
{
    return bits == 16 ? static_cast<void *>(buffer16.get()) : static_cast<void *>(buffer8.get());
}

bool ImReaderWriter::read(const QByteArray &path)
{
    void *samples = nullptr;
    return read(path, {}, samples);
}

bool ImReaderWriter::read(const QByteArray &path, const Destination &where, void *&samples)
{
    m_error.clear();
    samples = nullptr;
    switch (formatOf(path)) {
    case Format::Tiff:
        return readTiff(path, where, samples);
    case Format::Raw:
        if (!readRaw(path))
            return false;
        samples = data(bitsPerSample);
        return true;
    default:
        return fail(path, QStringLiteral("JPG, PNG and BMP files are not read"));
    }
}

bool ImReaderWriter::write(const QByteArray &path, const QByteArray &text)
{
    m_error.clear();
    const Format format = formatOf(path);
    switch (format) {
    case Format::Tiff:
        return writeTiff(path, text);
    case Format::Raw:
        return writeRaw(path);
    default:
        return writeImage(path, format);
    }
}

bool ImReaderWriter::writeTiff(const QByteArray &path, const QByteArray &text, const void *samples, quint32 w,
                               quint32 h, quint16 bps, quint16 spp)
{
    if (!samples || !describe(w, h, bps, spp, COMPRESSION_NONE, spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK,
                              ORIENTATION_TOPLEFT))
        return fail(path, QStringLiteral("no image of this geometry to write"));
    cameraLayout = false;
    return writeTiff(path, text, samples, Words::AsTheyAre);
}

bool ImReaderWriter::writeSamples(const void *samples, const QByteArray &path, const QByteArray &text, const Band &band,
                                  quint32 rowUnit)
{
    m_error.clear();
    if (!samples || !validDepth(bitsPerSample, samplesPerPixel) || bitsPerPixel != bitsPerSample * samplesPerPixel
        || width == 0 || height == 0 || sampleCount != quint64(width) * height * samplesPerPixel)
        return fail(path, QStringLiteral("no image of this geometry to write"));
    if (formatOf(path) == Format::Tiff && compression == COMPRESSION_NONE)
        return writeTiff(path, text, samples, bitsPerSample == 16 ? Words::RotatedCopy : Words::AsTheyAre, band, rowUnit);
    if (band && !band(0, 0, height, samples))
        return fail(path, QStringLiteral("the write was stopped"));
    return load(samples, width, height, bitsPerSample, samplesPerPixel, compression, photometric, orientation)
           && write(path, text);
}

// An open TIFF file: the descriptor, libtiff's handle and messages, and the strip layout.
struct TiffFile
{
    TiffMessages messages;
    TiffOptions options{&messages};
    int fd = -1;
    TIFF *tif = nullptr;
    uint32_t rowsPerStrip = 0;
    uint32_t strips = 0;
    quint64 rowBytes = 0;

    // Why a strip cannot hold the image's samples: it begins in the file's header, overlaps its
    // directory (whose bytes would be taken for samples) or runs past the end of the file; empty
    // when every strip of an image of height rows lies where data can be.
    QString misplacedStrip(quint32 height, bool uncompressed) const
    {
        struct stat st;
        if (::fstat(fd, &st) != 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        const quint64 fileSize = quint64(st.st_size);
        const bool big = TIFFIsBigTIFF(tif);
        const quint64 header = big ? 16 : 8, directory = TIFFCurrentDirOffset(tif);
        const int countBytes = big ? 8 : 2;
        unsigned char raw[8] = {};
        if (::pread(fd, raw, size_t(countBytes), off_t(directory)) != countBytes)
            return QStringLiteral("the directory cannot be read");
        quint64 entries = 0;
        if (big) {
            uint64_t n = 0;
            std::memcpy(&n, raw, sizeof n);
            if (TIFFIsByteSwapped(tif))
                TIFFSwabLong8(&n);
            entries = n;
        } else {
            uint16_t n = 0;
            std::memcpy(&n, raw, sizeof n);
            if (TIFFIsByteSwapped(tif))
                TIFFSwabShort(&n);
            entries = n;
        }
        const quint64 directoryEnd = directory + quint64(countBytes) + entries * (big ? 20 : 12) + (big ? 8 : 4);
        for (uint32_t s = 0; s < strips; ++s) {
            const quint64 offset = TIFFGetStrileOffset(tif, s), count = TIFFGetStrileByteCount(tif, s);
            // An uncompressed strip is read by its rows; a short one is refused when it is read.
            const quint64 rows = std::min<quint64>(rowsPerStrip, height - quint64(s) * rowsPerStrip);
            const quint64 size = uncompressed ? std::min(count, rows * rowBytes) : count;
            if (offset < header || size > fileSize || offset > fileSize - size)
                return QStringLiteral("strip %1 lies outside the file's data (offset %2, %3 bytes)").arg(s).arg(offset).arg(size);
            if (offset < directoryEnd && offset + size > directory)
                return QStringLiteral("strip %1 lies in the file's directory (offset %2)").arg(s).arg(offset);
        }
        return QString();
    }

    ~TiffFile()
    {
        if (tif)
            TIFFClose(tif);
        else if (fd >= 0)
            ::close(fd);
    }
};

bool ImReaderWriter::openTiff(const QByteArray &path, TiffFile &file)
{
    file.fd = openForReading(path);
    if (file.fd < 0)
        return false;
    // "m": no memory mapping, so a drive pulled while reading gives a read error, not SIGBUS;
    // "c": a single strip stays whole, to be read in one piece.
    file.tif = TIFFFdOpenExt(file.fd, path.constData(), "rmc", file.options.opts);
    TIFF *tif = file.tif;
    if (!tif)
        return fail(path, QStringLiteral("not a TIFF file: %1").arg(file.messages.errors));

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

    description.clear();
    const char *text = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text)
        description = QByteArray(text);

    setGeometry(w, h, bps, spp, comp, photo, orient);

    // Images of a kind not read are refused as such: their samples would be taken for something
    // they are not (signed or inverted values, palette indexes, colour models other than RGB).
    if (!hasSize || w == 0 || h == 0)
        return fail(path, QStringLiteral("no image size"));
    if (spp != 1 && spp != 3)
        return refuse(path, QStringLiteral("images of %1 samples per pixel are not supported").arg(spp));
    if (bps != 8 && bps != 16)
        return refuse(path, QStringLiteral("%1-bit samples are not supported").arg(bps));
    if (TIFFIsTiled(tif))
        return refuse(path, QStringLiteral("tiled TIFF images are not supported"));
    if (spp > 1 && planar != PLANARCONFIG_CONTIG)
        return refuse(path, QStringLiteral("TIFF images with separate colour planes are not supported"));
    if (format == SAMPLEFORMAT_IEEEFP)
        return refuse(path, QStringLiteral("floating-point samples are not supported"));
    if (format == SAMPLEFORMAT_INT)
        return refuse(path, QStringLiteral("signed samples are not supported"));
    if (format != SAMPLEFORMAT_UINT)
        return refuse(path, QStringLiteral("sample format %1 is not supported").arg(format));
    if (photo != (spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK))
        return refuse(path, photo == PHOTOMETRIC_MINISWHITE ? QStringLiteral("white-is-zero grey images are not supported")
                            : photo == PHOTOMETRIC_PALETTE ? QStringLiteral("colour-mapped images are not supported")
                                                           : QStringLiteral("colour model %1 is not supported").arg(photo));
    const quint64 rowSamples = quint64(w) * spp;
    const quint64 count = rowSamples * h;
    const quint64 bytesPerSample = bps / 8;
    if (!withinSizeCap(w, h, spp, bytesPerSample))
        return refuse(path, tooLarge(w, h));
    const QString damage = file.messages.damage(comp == COMPRESSION_NONE);
    if (!damage.isEmpty())
        return fail(path, damage);
    if (quint64(TIFFScanlineSize64(tif)) != rowSamples * bytesPerSample)
        return fail(path, QStringLiteral("unexpected scan-line size"));

    file.rowsPerStrip = h;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &file.rowsPerStrip);
    file.rowsPerStrip = std::min(std::max<uint32_t>(file.rowsPerStrip, 1), h);
    file.rowBytes = rowSamples * bytesPerSample;
    file.strips = (h - 1) / file.rowsPerStrip + 1;
    if (TIFFNumberOfStrips(tif) < file.strips)
        return fail(path, QStringLiteral("fewer strips than rows"));
    const QString misplaced = file.misplacedStrip(h, comp == COMPRESSION_NONE);
    if (!misplaced.isEmpty())
        return fail(path, misplaced);
    sampleCount = quint32(count);
    return true;
}

bool ImReaderWriter::readTiff(const QByteArray &path, const Destination &where, void *&into)
{
    TiffFile file;
    if (!openTiff(path, file))
        return false;
    // Whole strips straight into the array (libtiff reads an uncompressed strip without a copy
    // of its own and swaps the bytes of a big-endian file); not zeroed, as every strip must fill
    // its rows or the read fails.
    into = where ? where(*this) : nullptr;
    if (!into) {
        if (!allocate(bitsPerSample, sampleCount))
            return fail(path, QStringLiteral("out of memory"));
        into = data(bitsPerSample);
    }
    char *samples = static_cast<char *>(into);
    for (uint32_t s = 0; s < file.strips; ++s) {
        const uint32_t row = s * file.rowsPerStrip;
        const tmsize_t bytes = tmsize_t(std::min(file.rowsPerStrip, height - row) * file.rowBytes);
        // libtiff reads an uncompressed strip by its rows, whatever its byte count says.
        if (compression == COMPRESSION_NONE && TIFFGetStrileByteCount(file.tif, s) < quint64(bytes))
            return fail(path, QStringLiteral("strip %1 is shorter than its rows").arg(s));
        if (TIFFReadEncodedStrip(file.tif, s, samples + row * file.rowBytes, bytes) != bytes)
            return fail(path, QStringLiteral("read error in row %1: %2").arg(row).arg(file.messages.errors));
    }
    const QString damage = file.messages.damage(compression == COMPRESSION_NONE);
    return damage.isEmpty() || fail(path, damage);
}

bool ImReaderWriter::readBands(const QByteArray &path, const Band &band, int passes, quint32 rowUnit)
{
    m_error.clear();
    if (formatOf(path) != Format::Tiff)
        return fail(path, QStringLiteral("only TIFF files are read by bands"));
    TiffFile file;
    return openTiff(path, file) && readBands(path, file, band, passes, rowUnit, nullptr);
}

bool ImReaderWriter::readBands(const QByteArray &path, TiffFile &file, const Band &band, int passes,
                               quint32 rowUnit, char *into)
{
    rowUnit = std::max<quint32>(rowUnit, 1);
    const quint32 bandRows = rowUnit * std::max<quint32>(1, quint32(BandBytes / file.rowBytes) / rowUnit);
    std::unique_ptr<char[]> buffer;
    if (!into) {
        buffer.reset(new (std::nothrow) char[size_t(std::min<quint32>(bandRows, height) * file.rowBytes)]);
        if (!buffer)
            return fail(path, QStringLiteral("out of memory"));
    }
    RowReader rows(file.tif, file.fd, height, file.rowsPerStrip, file.rowBytes, bitsPerSample);
    for (int pass = 0; pass < passes; ++pass)
        for (quint32 row = 0; row < height; row += bandRows) {
            const quint32 count = std::min(bandRows, height - row);
            char *samples = into ? into + row * file.rowBytes : buffer.get();
            QString why;
            if (!rows.read(row, count, samples, why))
                return fail(path, why + QLatin1String(": ") + file.messages.errors);
            if (!band(pass, row, count, samples))
                return fail(path, m_error.isEmpty() ? QStringLiteral("stopped in row %1").arg(row) : m_error);
        }
    const QString damage = file.messages.damage(compression == COMPRESSION_NONE);
    return damage.isEmpty() || fail(path, damage);
}

bool ImReaderWriter::readHalved(const QByteArray &path, QSize size, quint16 *maximum, QSize *fileSize)
{
    // Bands of a multiple of 128 rows take every halving toward any size whose image is within
    // the sample limit; a smaller size gets the rest from the caller's final scaling.
    constexpr int maxHalvings = 7;
    if (size.isEmpty()) {
        // No halving: the bands are read straight into the array, the brightest sample taken of
        // each while it is in the cache.
        m_error.clear();
        if (formatOf(path) != Format::Tiff)
            return fail(path, QStringLiteral("only TIFF files are read by bands"));
        TiffFile file;
        if (!openTiff(path, file))
            return false;
        if (!allocate(bitsPerSample, sampleCount))
            return fail(path, QStringLiteral("out of memory"));
        const bool grey = bitsPerSample == 16 && samplesPerPixel == 1;
        quint16 brightest = 0;
        const Band brightestOfBand = [&](int, quint32, quint32 rows, const void *samples) {
            if (grey)
                brightest = std::max(brightest, ViewerConversion::brightest(static_cast<const quint16 *>(samples),
                                                                            size_t(rows) * width));
            return true;
        };
        if (!readBands(path, file, brightestOfBand, 1, 1, static_cast<char *>(data(bitsPerSample))))
            return false;
        if (maximum && grey)
            *maximum = brightest;
        if (fileSize)
            *fileSize = QSize(int(width), int(height));
        return true;
    }
    int halvings = 0, type = 0;
    quint16 brightest = 0;
    std::vector<cv::Mat> steps;
    cv::Mat coarse;
    const Band halve = [&](int, quint32 row, quint32 rows, const void *samples) {
        if (row == 0) {
            halvings = std::min(FrameThumbnail::halvings(QSize(int(width), int(height)), size), maxHalvings);
            type = CV_MAKETYPE(bitsPerSample == 16 ? CV_16U : CV_8U, samplesPerPixel);
            const quint64 count = quint64(width >> halvings) * (height >> halvings) * samplesPerPixel;
            if (!allocate(bitsPerSample, count)) {
                m_error = QStringLiteral("out of memory");
                return false;
            }
            coarse = cv::Mat(int(height >> halvings), int(width >> halvings), type, data(bitsPerSample));
        }
        cv::Mat in(int(rows), int(width), type, const_cast<void *>(samples));
        if (maximum && type == CV_16UC1)
            brightest = std::max(brightest, ViewerConversion::brightest(static_cast<const quint16 *>(samples), in.total()));
        cv::Mat target = coarse.rowRange(int(row >> halvings), int((row + rows) >> halvings));
        try {
            FrameThumbnail::halveBand(in, halvings, target, steps);
        } catch (const cv::Exception &e) {
            m_error = QString::fromLocal8Bit(e.what());
            return false;
        }
        return true;
    };
    if (!readBands(path, halve, 1, 1u << maxHalvings))
        return false;
    if (fileSize)
        *fileSize = QSize(int(width), int(height));
    width >>= halvings;
    height >>= halvings;
    sampleCount = quint32(quint64(width) * height * samplesPerPixel);
    if (maximum && type == CV_16UC1)
        *maximum = brightest;
    return true;
}

bool ImReaderWriter::readRaw(const QByteArray &path)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return fail(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (quint64(st.st_size) == RawFrameSamples) {
        bitsPerSample = 8;
        samplesPerPixel = 1;
    } else if (quint64(st.st_size) == RawFrameSamples * 2ull) {
        bitsPerSample = 16;
        samplesPerPixel = 1;
    }
    sampleCount = RawFrameSamples;
    const qint64 bytes = qint64(RawFrameSamples) * (bitsPerSample == 16 ? 2 : 1);
    // The read fills every sample or fails.
    if (!allocate(bitsPerSample, RawFrameSamples))
        return fail(path, QStringLiteral("out of memory"));
    const qint64 got = readFully(fd, data(bitsPerSample), bytes);
    if (got < 0)
        return fail(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (got < bytes)
        return fail(path, QStringLiteral("shorter than a frame (%1 bytes)").arg(got));
    return true;
}

bool ImReaderWriter::writeTiff(const QByteArray &path, const QByteArray &text)
{
    if (!holdsSamples())
        return fail(path, QStringLiteral("no image of this geometry to write"));
    const bool words = bitsPerPixel == 16 || bitsPerPixel == 48;
    return writeTiff(path, text, data(bitsPerSample), words && cameraLayout ? Words::RotatedInPlace : Words::AsTheyAre);
}

bool ImReaderWriter::writeTiff(const QByteArray &path, const QByteArray &text, const void *samples, Words words,
                               const Band &band, quint32 rowUnit)
{
    SafeFileWriter out(path);
    if (!out.open()) {
        qWarning("%s:%d %s ======== write error!!!!!!!!!", __FILE__, __LINE__, Q_FUNC_INFO);
        return fail(path, out.errorString());
    }
    TiffMessages messages;
    TiffOptions options(&messages);
    TIFF *tif = TIFFClientOpenExt(path.constData(), "w", &out, sinkRead, sinkWrite, sinkSeek, sinkClose,
                                  sinkSize, sinkMap, sinkUnmap, options.opts);
    if (!tif)
        return fail(path, messages.errors);

    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width))
              && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height))
              && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bitsPerSample))
              && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samplesPerPixel))
              && TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(compression))
              && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(photometric))
              && TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(orientation))
              && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    if (ok && !text.isEmpty())
        ok = TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.constData());
    bool stopped = false;
    if (ok && words == Words::RotatedInPlace)
        toPlainIntensities(static_cast<quint16 *>(const_cast<void *>(samples)),
                           static_cast<quint16 *>(const_cast<void *>(samples)), sampleCount);
    if (ok && compression != COMPRESSION_NONE) {
        ok = TIFFWriteEncodedStrip(tif, 0, const_cast<void *>(samples), tmsize_t(sampleCount) * (bitsPerSample / 8))
             == tmsize_t(sampleCount) * (bitsPerSample / 8);
    } else if (ok) {
        // One strip, appended a band of rows at a time (the whole image in one piece when nothing
        // asks for bands); camera words are rotated band by band into a buffer that stays in cache.
        const quint64 rowBytes = quint64(width) * samplesPerPixel * (bitsPerSample / 8);
        rowUnit = std::max<quint32>(rowUnit, 1);
        const quint32 bandRows = band || words == Words::RotatedCopy
                                     ? rowUnit * std::max<quint32>(1, quint32(kWriteBandBytes / rowBytes) / rowUnit)
                                     : height;
        std::unique_ptr<quint16[]> rotated;
        if (words == Words::RotatedCopy)
            rotated.reset(new quint16[std::min(bandRows, height) * rowBytes / 2]);
        for (quint32 row = 0; ok && row < height; row += bandRows) {
            const quint32 rows = std::min(bandRows, height - row);
            const char *in = static_cast<const char *>(samples) + row * rowBytes;
            const tmsize_t bytes = tmsize_t(rows * rowBytes);
            if (rotated)
                toPlainIntensities(reinterpret_cast<const quint16 *>(in), rotated.get(), quint64(bytes) / 2);
            // libtiff neither changes nor keeps native uncompressed samples.
            void *out = rotated ? static_cast<void *>(rotated.get()) : const_cast<char *>(in);
            ok = TIFFWriteRawStrip(tif, 0, out, bytes) == bytes;
            stopped = ok && band && !band(0, row, rows, in);
            ok = ok && !stopped;
        }
    }
    ok = ok && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    if (!ok || out.failed() || !messages.errors.isEmpty()) {
        out.discard();
        return fail(path, out.failed() ? out.errorString()
                                       : stopped ? QStringLiteral("the write was stopped") : messages.errors);
    }
    return out.commit() || fail(path, out.errorString());
}

bool ImReaderWriter::writeRaw(const QByteArray &path)
{
    // No geometry check beyond the array: RAW files are bare samples of whatever was read or loaded.
    if (!holdsArray(bitsPerSample))
        return fail(path, QStringLiteral("no samples to write"));
    return writeFile(path, data(bitsPerSample), qint64(sampleCount) * (bitsPerSample == 16 ? 2 : 1));
}

bool ImReaderWriter::writeFile(const QByteArray &path, const void *bytes, qint64 size)
{
    SafeFileWriter out(path);
    const bool ok = out.open() && out.write(bytes, size) && out.commit();
    return ok || fail(path, out.errorString());
}

bool ImReaderWriter::writeImage(const QByteArray &path, Format format)
{
    if (!holdsSamples() || bitsPerSample != 8)
        return fail(path, QStringLiteral("only 8-bit grey and 24-bit colour images are written as JPG, PNG or BMP"));
    QImage image;
    if (samplesPerPixel == 1) {
        image = QImage(buffer8.get(), int(width), int(height), int(width), QImage::Format_Indexed8);
        static const QVector<QRgb> greys = [] {
            QVector<QRgb> table(256);
            for (int i = 0; i < 256; ++i)
                table[i] = qRgb(i, i, i);
            return table;
        }();
        image.setColorTable(greys);
    } else {
        image = QImage(buffer8.get(), int(width), int(height), int(width) * 3, QImage::Format_RGB888);
    }
    const char *name = format == Format::Jpg ? "JPG" : format == Format::Png ? "PNG" : "BMP";
    const QString tooLarge = EncoderLimits::refusal(name, width, height);
    if (!tooLarge.isEmpty())
        return fail(path, tooLarge);
    // Qt's BMP writer reads each 8-bit row to its 32-bit padding: rows without it, past the last
    // row's end. Such rows are given their padding in a copy.
    if (image.bytesPerLine() % 4 != 0)
        image = image.copy();
    // Encode in memory, then write the bytes through the same checked path as every other format.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, name);
    if (!writer.write(image))
        return fail(path, writer.errorString());
    return writeFile(path, encoded.constData(), encoded.size());
}
