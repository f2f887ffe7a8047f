#pragma once
#include <QByteArray>
#include <QSize>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

// One image in memory (geometry, samples) that is written to or read from a file whose format
// follows the file name: TIFF (with the metadata text in ImageDescription), RAW (bare samples),
// and JPG, PNG, BMP. A plain object used by one thread at a time; thread-pool tasks make their own.
//
// Samples are stored row by row from the top, RGB interleaved red, green, blue. 16-bit samples are
// native words; a camera frame holds its 12-bit value v as the word (v >> 4) | ((v & 15) << 12)
// until a TIFF write rotates the words in place to plain intensities 0..4095 (cameraLayout).
//
// Paths are byte strings used as they are by the file system (callers pass QString::toUtf8()),
// for every format. A write goes to a temporary file beside the target that replaces the target
// only when every write, flush and close succeeded; a failed write leaves no partial file and
// returns false. A TIFF is read through ImageFileReader, the one door of image reading: regular
// files only, 8- or 16-bit unsigned grey (zero is black) or RGB images (stripped, contiguous,
// below a size cap), failing on any read or decoding error, any warning that data was skipped,
// repaired or assumed, tags that ask for more than an image needs, a tag but a text that stands
// twice, a missing colour map, and any strip that lies outside the file's data or in its
// directory or tag values: it never gives an image other than the file's.
class ImReaderWriter
{
public:
    enum class Format { Tiff, Raw, Jpg, Png, Bmp };

    // Largest image read or loaded: samples per image and bytes per image.
    static constexpr quint64 MaxSamples = 64ull * 1024 * 1024;
    static constexpr quint64 MaxBytes = 256ull * 1024 * 1024;
    // Whether an image of this declared size is within the limits above; every image file reader
    // asks before it decodes. tooLarge is the reason given for one that is not.
    static bool withinSizeCap(quint64 width, quint64 height, quint64 samplesPerPixel, quint64 bytesPerSample);
    static QString tooLarge(quint64 width, quint64 height);
    // A camera frame as a RAW file: 1280 x 1024 samples.
    static constexpr quint32 RawFrameSamples = 1280u * 1024u;

    ImReaderWriter();
    ~ImReaderWriter();
    ImReaderWriter(const ImReaderWriter &) = delete;
    ImReaderWriter &operator=(const ImReaderWriter &) = delete;

    // Copies the caller's samples. Accepts 8 or 16 bits per sample with 1 or 3 samples per pixel;
    // otherwise returns false with the geometry fields replaced and both arrays unchanged.
    bool load(const void *data, quint32 width, quint32 height, quint16 bitsPerSample,
              quint16 samplesPerPixel, quint16 compression, quint16 photometric, int orientation);
    // As load, but the caller fills the samples: returns the array of the new geometry (not
    // cleared), or nullptr when load would return false.
    void *reserve(quint32 width, quint32 height, quint16 bitsPerSample, quint16 samplesPerPixel,
                  quint16 compression, quint16 photometric, int orientation);

    // buffer16 for 16, buffer8 for any other value. No copy.
    void *data(int bits);

    // TIFF or RAW by the path's format; JPG, PNG and BMP are not read (false).
    bool read(const QByteArray &path);
    // As read, but a TIFF's samples go straight to the caller's array that where returns once
    // the geometry and description are set (room for sampleCount samples of the file's depth),
    // or to this object's own array where it returns nullptr (and for a RAW file, where is not
    // asked). After a successful read, samples is the array read into.
    using Destination = std::function<void *(const ImReaderWriter &)>;
    bool read(const QByteArray &path, const Destination &where, void *&samples);
    // Reads a TIFF without holding its image: the geometry and description are set as read sets
    // them, then band(pass, row, rows, samples) gets the rows in order, some hundred KB at a time
    // (a multiple of rowUnit rows but the last; samples valid until the next call), passes times
    // over the image. A band that returns false ends the read, which fails.
    using Band = std::function<bool(int pass, quint32 row, quint32 rows, const void *samples)>;
    static constexpr quint64 BandBytes = 256 * 1024;
    bool readBands(const QByteArray &path, const Band &band, int passes = 1, quint32 rowUnit = 1);

    // A TIFF read for a picture of size: the image held is the file's image after the 2 x 2
    // halvings FrameThumbnail::halvings allows, made band by band so that the whole image is never
    // in memory (the samples FrameThumbnail::halved gives of a full read); an empty size reads the
    // whole image. maximum receives the brightest sample of 16-bit grey (other depths leave it
    // alone); fileSize, the file's own image size.
    bool readHalved(const QByteArray &path, QSize size, quint16 *maximum, QSize *fileSize = nullptr);

    // TIFF (text as ImageDescription when not empty), JPG, PNG, BMP or RAW by the path's format.
    // A 16-bit TIFF write of camera words rotates buffer16 in place (see cameraLayout).
    bool write(const QByteArray &path, const QByteArray &text);
    // An uncompressed TIFF of width x height pixels, grey or RGB (16-bit samples as plain
    // intensities), written straight from the caller's samples, which are neither copied nor
    // changed nor held. The geometry becomes this object's; as write, whole or not at all.
    bool writeTiff(const QByteArray &path, const QByteArray &text, const void *samples, quint32 width,
                   quint32 height, quint16 bitsPerSample, quint16 samplesPerPixel);
    // Sets and checks the geometry as load does, without samples (false where load refuses).
    bool describe(quint32 width, quint32 height, quint16 bitsPerSample, quint16 samplesPerPixel,
                  quint16 compression, quint16 photometric, int orientation);
    // Writes the caller's samples of the geometry described as write writes loaded ones, without
    // copying or changing them: an uncompressed TIFF goes to the file a band of rows at a time
    // (16-bit camera words rotated into a buffer of the writer's own), and band, when given, gets
    // each band of the caller's samples once it is in the file, while it is still in cache (rows
    // a multiple of rowUnit but the last); a band that returns false ends the write, which fails.
    // Other formats load a copy and write it; band then gets the whole image first.
    bool writeSamples(const void *data, const QByteArray &path, const QByteArray &text, const Band &band = {},
                      quint32 rowUnit = 1);

    // The format of a path: the three characters after its last "." (or its first three
    // characters when it has none), compared case-sensitively; anything unknown is TIFF.
    static Format formatOf(const QByteArray &path);

    // Camera words to plain intensities: each word rotated left by four bits (in place when the
    // two arrays are one).
    static void toPlainIntensities(const quint16 *words, quint16 *plain, quint64 count);

    // Why the last read or write failed (for logs and tests).
    QString errorString() const { return m_error; }
    // After a failed read: the file is an image of a kind not read (tiled, separate planes,
    // signed, floating-point or inverted samples, another depth or colour model, over the size
    // cap), or not a regular file, rather than a damaged or unreadable one.
    bool unsupported() const { return m_unsupported; }

    quint32 width = 1280;
    quint32 height = 1024;
    quint16 bitsPerSample = 8;
    quint16 samplesPerPixel = 1;
    quint16 photometric = 1;
    quint16 compression = 1;
    quint16 bitsPerPixel = 8;
    quint16 orientation = 1;
    quint32 sampleCount = 0;
    // Set by load and reserve: the 16-bit samples are camera words, which every TIFF write rotates
    // in place (a caller that refills the array gets its words rotated at each write). A caller
    // that fills plain intensities clears it, and they are written as they are.
    bool cameraLayout = true;
    std::unique_ptr<quint16[]> buffer16;
    std::unique_ptr<quint8[]> buffer8;
    QByteArray description;

private:
    // Reads TIFF files into the object for the read operations above.
    friend class TiffReader;

    // How 16-bit samples reach a TIFF: as they are, camera words rotated in their own array, or
    // camera words rotated into a buffer of the writer's own.
    enum class Words { AsTheyAre, RotatedInPlace, RotatedCopy };

    void setGeometry(quint32 w, quint32 h, quint16 bps, quint16 spp, quint16 comp, quint16 photo, quint16 orient);
    bool allocate(int bits, quint64 count);
    bool holdsSamples() const;
    bool holdsArray(int bits) const;
    bool readRaw(const QByteArray &path);
    bool writeTiff(const QByteArray &path, const QByteArray &text);
    // samples: sampleCount samples of the geometry held; band and rowUnit as writeSamples takes them.
    bool writeTiff(const QByteArray &path, const QByteArray &text, const void *samples, Words words,
                   const Band &band = {}, quint32 rowUnit = 1);
    bool writeRaw(const QByteArray &path);
    // The bytes as the whole file, through SafeFileWriter.
    bool writeFile(const QByteArray &path, const void *bytes, qint64 size);
    bool writeImage(const QByteArray &path, Format format);
    bool fail(const QByteArray &path, const QString &why);
    // As fail, for a file of a kind not read (unsupported).
    bool refuse(const QByteArray &path, const QString &why);
    // A descriptor of the regular file at path, or -1 after fail or refuse.
    int openForReading(const QByteArray &path);

    quint64 m_size8 = 0;  // elements allocated in buffer8
    quint64 m_size16 = 0; // elements allocated in buffer16
    QString m_error;
    bool m_unsupported = false;
};
