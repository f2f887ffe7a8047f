#include "ImReaderWriter.h"
#include "EncoderLimits.h"
#include "ImageFileReader.h"
#include "RegularFile.h"
#include "SafeFileWriter.h"
#include "TiffMessages.h"

#include <QBuffer>
#include <algorithm>
#include <QDebug>
#include <QImage>
#include <QImageWriter>
#include <QVector>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
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
        return ImageFileReader::readTiff(path, *this, where, samples);
    case Format::Raw:
        if (!readRaw(path))
            return false;
        samples = data(bitsPerSample);
        return true;
    default:
        return fail(path, QStringLiteral("JPG, PNG and BMP files are not read"));
    }
}

bool ImReaderWriter::readBands(const QByteArray &path, const Band &band, int passes, quint32 rowUnit)
{
    m_error.clear();
    if (formatOf(path) != Format::Tiff)
        return fail(path, QStringLiteral("only TIFF files are read by bands"));
    return ImageFileReader::readTiffBands(path, *this, band, passes, rowUnit);
}

bool ImReaderWriter::readHalved(const QByteArray &path, QSize size, quint16 *maximum, QSize *fileSize)
{
    m_error.clear();
    if (formatOf(path) != Format::Tiff)
        return fail(path, QStringLiteral("only TIFF files are read by bands"));
    return ImageFileReader::readTiffHalved(path, *this, size, maximum, fileSize);
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
    TiffMessages messages(MaxBytes);
    TIFF *tif = TIFFClientOpenExt(path.constData(), "w", &out, sinkRead, sinkWrite, sinkSeek, sinkClose,
                                  sinkSize, sinkMap, sinkUnmap, messages.options());
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
