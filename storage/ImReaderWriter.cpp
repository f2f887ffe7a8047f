#include "ImReaderWriter.h"
#include "SafeFileWriter.h"

#include <QBuffer>
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

    static int onError(TIFF *, void *self, const char *module, const char *fmt, va_list ap)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        auto *m = static_cast<TiffMessages *>(self);
        if (!m->errors.isEmpty())
            m->errors += QLatin1String("; ");
        m->errors += QString::fromLocal8Bit(module ? module : "libtiff") + QLatin1String(": ")
                     + QString::fromLocal8Bit(text);
        return 1;
    }
    static int onWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }
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

bool ImReaderWriter::fail(const QByteArray &path, const QString &why)
{
    m_error = why;
    qWarning().noquote() << "ImReaderWriter:" << QString::fromLocal8Bit(path) << "-" << why;
    return false;
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
    setGeometry(w, h, bps, spp, comp, photo, quint16(orient));
    m_error.clear();
    if (!validDepth(bps, spp)) {
        fail("(load)", QStringLiteral("unsupported depth %1 x %2 bits").arg(spp).arg(bps));
        return nullptr;
    }
    const quint64 count = quint64(w) * h * spp;
    if (count == 0 || count > MaxSamples || count * (bps / 8) > MaxBytes) {
        fail("(load)", QStringLiteral("no samples or image too large (%1 x %2)").arg(w).arg(h));
        return nullptr;
    }
    sampleCount = quint32(count);
    cameraLayout = true;
    if (!allocate(bps, count)) {
        fail("(load)", QStringLiteral("out of memory"));
        return nullptr;
    }
    return data(bps);
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
    m_error.clear();
    switch (formatOf(path)) {
    case Format::Tiff:
        return readTiff(path);
    case Format::Raw:
        return readRaw(path);
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

bool ImReaderWriter::readTiff(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(path, QString::fromLocal8Bit(std::strerror(errno)));
    TiffMessages messages;
    TiffOptions options(&messages);
    // "m": no memory mapping, so a drive pulled while reading gives a read error, not SIGBUS;
    // "c": a single strip stays whole, to be read in one piece.
    TIFF *tif = TIFFFdOpenExt(fd, path.constData(), "rmc", options.opts);
    if (!tif) {
        ::close(fd);
        return fail(path, QStringLiteral("not a TIFF file: %1").arg(messages.errors));
    }
    struct Closer
    {
        TIFF *t;
        ~Closer() { TIFFClose(t); }
    } closer{tif};

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

    if (!hasSize || w == 0 || h == 0)
        return fail(path, QStringLiteral("no image size"));
    if (!validDepth(bps, spp))
        return fail(path, QStringLiteral("unsupported depth %1 x %2 bits").arg(spp).arg(bps));
    if (TIFFIsTiled(tif))
        return fail(path, QStringLiteral("tiled images are not read"));
    if (spp > 1 && planar != PLANARCONFIG_CONTIG)
        return fail(path, QStringLiteral("separate colour planes are not read"));
    if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_INT)
        return fail(path, QStringLiteral("floating-point samples are not read"));
    const quint64 rowSamples = quint64(w) * spp;
    const quint64 count = rowSamples * h;
    const quint64 bytesPerSample = bps / 8;
    if (count > MaxSamples || count * bytesPerSample > MaxBytes)
        return fail(path, QStringLiteral("image too large (%1 x %2)").arg(w).arg(h));
    if (quint64(TIFFScanlineSize64(tif)) != rowSamples * bytesPerSample)
        return fail(path, QStringLiteral("unexpected scan-line size"));

    // Whole strips straight into the array (libtiff reads an uncompressed strip without a copy
    // of its own and swaps the bytes of a big-endian file); not zeroed, as every strip must fill
    // its rows or the read fails.
    uint32_t rowsPerStrip = h;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::min(std::max<uint32_t>(rowsPerStrip, 1), h);
    const quint64 rowBytes = rowSamples * bytesPerSample;
    const uint32_t strips = (h - 1) / rowsPerStrip + 1;
    if (TIFFNumberOfStrips(tif) < strips)
        return fail(path, QStringLiteral("fewer strips than rows"));
    sampleCount = quint32(count);
    if (!allocate(bps, count))
        return fail(path, QStringLiteral("out of memory"));
    char *samples = static_cast<char *>(data(bps));
    for (uint32_t s = 0; s < strips; ++s) {
        const uint32_t row = s * rowsPerStrip;
        const tmsize_t bytes = tmsize_t(std::min(rowsPerStrip, h - row) * rowBytes);
        // libtiff reads an uncompressed strip by its rows, whatever its byte count says.
        if (comp == COMPRESSION_NONE && TIFFGetStrileByteCount(tif, s) < quint64(bytes))
            return fail(path, QStringLiteral("strip %1 is shorter than its rows").arg(s));
        if (TIFFReadEncodedStrip(tif, s, samples + row * rowBytes, bytes) != bytes)
            return fail(path, QStringLiteral("read error in row %1: %2").arg(row).arg(messages.errors));
    }
    if (!messages.errors.isEmpty())
        return fail(path, messages.errors);
    return true;
}

bool ImReaderWriter::readRaw(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(path, QString::fromLocal8Bit(std::strerror(errno)));
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
    if (ok) {
        void *samples = nullptr;
        tmsize_t bytes = 0;
        if (bitsPerPixel == 16 || bitsPerPixel == 48) {
            if (cameraLayout)
                toPlainIntensities(buffer16.get(), buffer16.get(), sampleCount);
            samples = buffer16.get();
            bytes = tmsize_t(sampleCount) * 2;
        } else {
            samples = buffer8.get();
            bytes = tmsize_t(sampleCount);
        }
        // Uncompressed samples go to the file straight from our array; others through the codec.
        const tmsize_t written = compression == COMPRESSION_NONE ? TIFFWriteRawStrip(tif, 0, samples, bytes)
                                                                 : TIFFWriteEncodedStrip(tif, 0, samples, bytes);
        ok = written == bytes && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    if (!ok || out.failed() || !messages.errors.isEmpty()) {
        out.discard();
        return fail(path, out.failed() ? out.errorString() : messages.errors);
    }
    return out.commit() || fail(path, out.errorString());
}

bool ImReaderWriter::writeRaw(const QByteArray &path)
{
    // No geometry check beyond the array: RAW files are bare samples of whatever was read or loaded.
    if (!holdsArray(bitsPerSample))
        return fail(path, QStringLiteral("no samples to write"));
    SafeFileWriter out(path);
    const bool ok = out.open() && out.write(data(bitsPerSample), qint64(sampleCount) * (bitsPerSample == 16 ? 2 : 1))
                    && out.commit();
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
    // Encode in memory, then write the bytes through the same checked path as every other format.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, name);
    if (!writer.write(image))
        return fail(path, writer.errorString());
    SafeFileWriter out(path);
    const bool ok = out.open() && out.write(encoded.constData(), encoded.size()) && out.commit();
    return ok || fail(path, out.errorString());
}
