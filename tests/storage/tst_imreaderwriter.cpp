#include "FrameThumbnail.h"
#include "HangBound.h"
#include "HostileImages.h"
#include "ImReaderWriter.h"
#include "ImageFileReader.h"
#include "SafeFileWriter.h"
#include "TestRoot.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

constexpr quint32 W = 1280;
constexpr quint32 H = 1024;

// Seeded random samples of a w x h image (w x h a multiple of 4).
QByteArray samples(quint32 w, quint32 h, int bits, int spp, quint32 seed = 7)
{
    QByteArray out(int(w * h * quint32(spp * bits / 8)), Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(out.data()), out.size() / 4);
    return out;
}

// The words a 16-bit TIFF holds for camera words: each rotated left by four bits.
QByteArray rotated(QByteArray words)
{
    auto *w = reinterpret_cast<quint16 *>(words.data());
    for (int i = 0; i < words.size() / 2; ++i)
        w[i] = quint16((w[i] >> 12) | (w[i] << 4));
    return words;
}

QByteArray held(ImReaderWriter &rw)
{
    return QByteArray(static_cast<const char *>(rw.data(rw.bitsPerSample)), int(rw.sampleCount) * (rw.bitsPerSample / 8));
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A loaded 1280 x 1024 image of the given depth; its samples, empty when refused.
QByteArray loadFrame(ImReaderWriter &rw, int bits, int spp, quint32 seed = 7)
{
    const QByteArray s = samples(W, H, bits, spp, seed);
    return rw.load(s.constData(), W, H, quint16(bits), quint16(spp), 1, spp == 3 ? 2 : 1, 1) ? s : QByteArray();
}

// Writes a small TIFF with libtiff directly; setup sets further tags before the samples, which
// are written as scan lines, as tiles, as one strip of only 100 bytes, or not at all.
enum class Samples { Lines, Tiles, ShortStrip, None };
bool makeTiff(const QString &path, quint32 w, quint32 h, int bits, int spp, const std::function<void(TIFF *)> &setup = {},
              Samples samples = Samples::Lines, const char *mode = "w")
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), mode);
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (setup)
        setup(tif);
    bool ok = true;
    QByteArray data(samples == Samples::Tiles ? int(TIFFTileSize(tif)) : 4096, 0x55);
    if (samples == Samples::ShortStrip)
        ok = TIFFWriteRawStrip(tif, 0, data.data(), 100) == 100;
    for (quint32 i = 0; samples == Samples::Lines && i < h; ++i)
        ok = ok && TIFFWriteScanline(tif, data.data(), i, 0) >= 0;
    for (quint32 i = 0; samples == Samples::Tiles && i < TIFFNumberOfTiles(tif); ++i)
        ok = ok && TIFFWriteEncodedTile(tif, i, data.data(), data.size()) >= 0;
    TIFFClose(tif);
    return ok;
}

// A TIFF of the given strip layout holding written; its path, empty on failure.
QByteArray writeStrips(const QString &path, quint32 w, quint32 h, int bits, int spp, int rowsPerStrip, int compression,
                       const QByteArray &mode, const QByteArray &written)
{
    const int rowBytes = int(w) * spp * bits / 8;
    bool stripsWritten = true;
    const bool made = makeTiff(path, w, h, bits, spp, [&](TIFF *tif) {
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        QByteArray scratch(written.constData(), written.size()); // libtiff swaps big-endian words in place
        for (quint32 row = 0, strip = 0; row < h; row += quint32(rowsPerStrip), ++strip) {
            const int rows = std::min(rowsPerStrip, int(h - row));
            stripsWritten &= TIFFWriteEncodedStrip(tif, strip, scratch.data() + int(row) * rowBytes, rows * rowBytes) >= 0;
        }
    }, Samples::None, mode.constData());
    return made && stripsWritten ? QFile::encodeName(path) : QByteArray();
}

// Limits the size of any file this process writes (as a full disk would) while it lives; writes
// beyond it fail with EFBIG instead of raising SIGXFSZ.
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{bytes, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
    }
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
};


// n bytes of v, least significant first.
QByteArray littleEndian(quint32 v, int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += char(v >> (8 * i));
    return out;
}

// A 37 x 23 BMP of seeded pixels, as other programs write them: header of headerBytes (12: the
// old one; 40; 108 and 124 with the colour masks inside), bits a pixel (a palette of seeded
// colours up to 8), colour masks (red, green, blue; none: the plain layout), rows from the top or
// the bottom. With decoy, the first pixels stored read as the 5-6-5 masks. picture is what it
// holds (blue, green, red; a 5- or 6-bit field as its share of 255, rounded).
QByteArray bmpFile(int headerBytes, int bits, const QVector<quint32> &masks, bool topDown, bool decoy, cv::Mat *picture)
{
    const int w = 37, h = 23, entryBytes = headerBytes == 12 ? 3 : 4, colours = bits <= 8 ? 1 << bits : 0;
    cv::RNG rng(66);
    QByteArray palette;
    for (int i = 0; i < colours * entryBytes; ++i)
        palette += char(i % entryBytes == 3 ? 0 : rng.uniform(0, 256));
    const QVector<quint32> fields = !masks.isEmpty() ? masks
                                    : bits == 16  ? QVector<quint32>{0x7C00, 0x3E0, 0x1F}
                                                  : QVector<quint32>{0xFF0000, 0xFF00, 0xFF};
    const quint32 decoys[] = {0xF800, 0, 0x7E0, 0, 0x1F, 0};
    const int rowBytes = (w * bits + 31) / 32 * 4;
    QByteArray pixels(rowBytes * h, '\0');
    picture->create(h, w, CV_8UC3);
    for (int stored = 0; stored < h; ++stored) {
        auto *row = reinterpret_cast<uchar *>(pixels.data()) + stored * rowBytes;
        for (int x = 0; x < w; ++x) {
            cv::Vec3b &out = picture->at<cv::Vec3b>(topDown ? stored : h - 1 - stored, x);
            if (bits <= 8) {
                const int index = rng.uniform(0, colours);
                row[x * bits / 8] |= uchar(index << (8 - bits - x * bits % 8));
                for (int c = 0; c < 3; ++c)
                    out[c] = uchar(palette[index * entryBytes + c]);
                continue;
            }
            quint32 value = decoy && stored == 0 && x < 6 ? decoys[x] : quint32(rng.next()) & (fields[0] | fields[1] | fields[2]);
            std::memcpy(row + x * bits / 8, littleEndian(value, bits / 8).constData(), size_t(bits / 8));
            for (int c = 0; c < 3; ++c) {
                const quint32 mask = fields[2 - c], shift = quint32(qCountTrailingZeroBits(mask));
                out[c] = uchar(qRound(double((value & mask) >> shift) * 255.0 / double(mask >> shift)));
            }
        }
    }
    QByteArray info = littleEndian(quint32(headerBytes), 4);
    if (headerBytes == 12) {
        info += littleEndian(w, 2) + littleEndian(h, 2) + littleEndian(1, 2) + littleEndian(quint32(bits), 2);
    } else {
        info += littleEndian(w, 4) + littleEndian(quint32(topDown ? -h : h), 4) + littleEndian(1, 2)
                + littleEndian(quint32(bits), 2) + littleEndian(masks.isEmpty() ? 0 : 3, 4)
                + littleEndian(quint32(pixels.size()), 4) + littleEndian(2835, 4) + littleEndian(2835, 4)
                + littleEndian(0, 4) + littleEndian(0, 4);
        for (quint32 mask : masks)
            info += littleEndian(mask, 4);
        if (headerBytes > 40)
            info.append(headerBytes - info.size(), '\0');
    }
    const QByteArray head = info + palette;
    return "BM" + littleEndian(quint32(14 + head.size() + pixels.size()), 4) + littleEndian(0, 4)
           + littleEndian(quint32(14 + head.size()), 4) + head + pixels;
}

} // namespace

class TestImReaderWriter : public QObject
{
    Q_OBJECT
private slots:
    void formatFollowsTheLastPoint()
    {
        using F = ImReaderWriter::Format;
        for (const auto &[path, format] : QList<QPair<QByteArray, F>>({{"/m/a.TIF", F::Tiff}, {"/m/a.JPG", F::Tiff}, {"/m/a.b/scan", F::Tiff},
                                                                      {"/m/a.jpg", F::Jpg}, {"x.y.png", F::Png}, {"a.bmp", F::Bmp}, {"/m/b.raw", F::Raw}}))
            QVERIFY2(ImReaderWriter::formatOf(path) == format, path.constData());
    }

    void loadAcceptsOnlyWholeImagesOfKnownDepth()
    {
        ImReaderWriter rw;
        QVERIFY(!rw.data(8) && !rw.data(16));
        const QByteArray s = loadFrame(rw, 8, 1);
        QVERIFY(!s.isEmpty());
        const quint8 *before = rw.buffer8.get();
        // Refused: 12 x 1 and 8 x 2 bits, no data, no width, too large; the arrays stay.
        QVERIFY(!rw.load(s.constData(), W, H, 12, 1, 1, 1, 1));
        QVERIFY(!rw.load(s.constData(), W, H, 8, 2, 1, 1, 1));
        QVERIFY(!rw.load(nullptr, W, H, 8, 1, 1, 1, 1));
        QVERIFY(!rw.load(s.constData(), 0, H, 8, 1, 1, 1, 1));
        QVERIFY(!rw.load(s.constData(), 70000, 70000, 16, 3, 1, 2, 1));
        QVERIFY(rw.buffer8.get() == before && !rw.buffer16);
        // A write of a refused geometry refuses too and creates nothing.
        TestRoot root;
        QVERIFY(!rw.write(QFile::encodeName(root.path() + "/x.tif"), "t"));
        QVERIFY(filesIn(root.path()).isEmpty());
    }

    void tiffRoundTrips_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("spp");
        QTest::addColumn<QByteArray>("text");
        const QByteArray meta = "Instrument: VANTOR S; Filter: Trans; Objective: 10X; Time: 12:34:56.789";
        QTest::newRow("8-bit grey") << 8 << 1 << meta;
        QTest::newRow("8-bit RGB") << 8 << 3 << meta;
        QTest::newRow("16-bit grey") << 16 << 1 << meta;
        QTest::newRow("16-bit RGB, no text") << 16 << 3 << QByteArray();
    }
    void tiffRoundTrips()
    {
        QFETCH(int, bits);
        QFETCH(int, spp);
        QFETCH(QByteArray, text);
        TestRoot root;
        const QString path = root.path() + "/frame_0001.tif";
        ImReaderWriter out;
        const QByteArray loaded = loadFrame(out, bits, spp);
        QVERIFY(out.write(QFile::encodeName(path), text));

        ImReaderWriter in;
        in.description = "stale";
        QVERIFY2(in.read(QFile::encodeName(path)), qPrintable(in.errorString()));
        QCOMPARE(QList<int>({int(in.width), int(in.height), in.bitsPerSample, in.samplesPerPixel, in.photometric}),
                 QList<int>({int(W), int(H), bits, spp, spp == 3 ? 2 : 1}));
        QCOMPARE(in.description, text);
        // 16-bit files hold plain intensities: the loaded camera words rotated left by four.
        const QByteArray expected = bits == 16 ? rotated(loaded) : loaded;
        QVERIFY(held(in) == expected);
        // The file is one uncompressed strip: header, samples and directory only.
        QVERIFY(QFileInfo(path).size() < expected.size() + 1024 + text.size());

        // Plain intensities filled in by the caller are written as they are.
        if (bits == 16) {
            ImReaderWriter plain;
            auto *words = static_cast<char *>(plain.reserve(W, H, 16, quint16(spp), 1, spp == 3 ? 2 : 1, 1));
            QVERIFY(words);
            std::memcpy(words, expected.constData(), size_t(expected.size()));
            plain.cameraLayout = false;
            QVERIFY(plain.write(QFile::encodeName(path + "2"), text));
            QVERIFY(readAll(path + "2") == readAll(path));
        }

        // The same image written straight from the caller's plain samples: the same file, the
        // samples untouched; no samples or an unknown depth write nothing.
        const QByteArray own(expected.constData(), expected.size());
        ImReaderWriter direct;
        QVERIFY(direct.writeTiff(QFile::encodeName(path + "3"), text, own.constData(), W, H, quint16(bits), quint16(spp)));
        QVERIFY(readAll(path + "3") == readAll(path));
        QVERIFY(own == expected);
        QVERIFY(!direct.writeTiff(QFile::encodeName(path + "4"), text, nullptr, W, H, quint16(bits), quint16(spp)));
        QVERIFY(!direct.writeTiff(QFile::encodeName(path + "4"), text, own.constData(), W, H, 12, quint16(spp)));
        QVERIFY(!QFile::exists(path + "4"));

        // libtiff's own tool reads it without a complaint.
        QProcess info;
        info.start("tiffinfo", {path});
        QVERIFY(info.waitForFinished(kHangBoundMs));
        const QString report = QString::fromUtf8(info.readAllStandardOutput() + info.readAllStandardError());
        QVERIFY2(info.exitCode() == 0 && !report.contains("Warning", Qt::CaseInsensitive), qPrintable(report));
        QVERIFY(report.contains("Image Width: 1280 Image Length: 1024"));
    }

    // Written from the caller's samples: the file is byte for byte the one load and write make,
    // and the caller's array is left as it was (16-bit words are rotated on the way only).
    void writeSamplesWritesWhatLoadAndWriteWrite_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("spp");
        QTest::newRow("8-bit frame") << "f.tif" << int(W) << int(H) << 8 << 1;
        QTest::newRow("16-bit frame") << "f.tif" << int(W) << int(H) << 16 << 1;
        QTest::newRow("16-bit RGB, bands not whole") << "f.tif" << 1500 << 1001 << 16 << 3;
        QTest::newRow("16-bit, smaller than a band") << "f.tif" << 100 << 37 << 16 << 1;
        QTest::newRow("8-bit RGB") << "f.tif" << 100 << 36 << 8 << 3;
        QTest::newRow("RAW") << "f.raw" << int(W) << int(H) << 16 << 1;
        QTest::newRow("PNG, through a copy") << "f.png" << 100 << 36 << 8 << 1;
    }
    void writeSamplesWritesWhatLoadAndWriteWrite()
    {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bits);
        QFETCH(int, spp);
        TestRoot root;
        const QByteArray text = "Instrument: VANTOR S;Time: 00:00:04";
        const QByteArray given = samples(quint32(width), quint32(height), bits, spp, 11);
        const QByteArray caller = given;
        const auto photo = quint16(spp == 3 ? 2 : 1);
        ImReaderWriter copying;
        QVERIFY(copying.load(given.constData(), quint32(width), quint32(height), quint16(bits), quint16(spp), 1, photo, 1));
        QVERIFY(copying.write(QFile::encodeName(root.path() + "/loaded-" + name), text));
        ImReaderWriter direct;
        QVERIFY(direct.describe(quint32(width), quint32(height), quint16(bits), quint16(spp), 1, photo, 1));
        // The bands come in order, whole multiples of the unit but the last, from the caller's array.
        const int rowBytes = width * spp * bits / 8;
        int next = 0;
        const ImReaderWriter::Band band = [&](int pass, quint32 row, quint32 rows, const void *samples) {
            const bool inOrder = pass == 0 && int(row) == next && (rows % 8 == 0 || int(row + rows) == height);
            next += int(rows);
            return inOrder && samples == caller.constData() + int(row) * rowBytes;
        };
        QVERIFY2(direct.writeSamples(caller.constData(), QFile::encodeName(root.path() + "/" + name), text, band, 8),
                 qPrintable(direct.errorString()));
        QCOMPARE(next, height);
        QVERIFY(readAll(root.path() + "/" + name) == readAll(root.path() + "/loaded-" + name));
        QVERIFY(caller == given);
        QCOMPARE(filesIn(root.path()).size(), 2);
        // Without bands, the same file.
        QVERIFY(direct.writeSamples(caller.constData(), QFile::encodeName(root.path() + "/again-" + name), text));
        QVERIFY(readAll(root.path() + "/again-" + name) == readAll(root.path() + "/loaded-" + name));
        QVERIFY(QFile::remove(root.path() + "/again-" + name));
        // Refused depths and places, and a band that stops the write, leave nothing behind.
        QVERIFY(!direct.writeSamples(caller.constData(), QFile::encodeName(root.path() + "/missing/" + name), text));
        QVERIFY(!direct.writeSamples(caller.constData(), QFile::encodeName(root.path() + "/stopped-" + name), text,
                                     [](int, quint32, quint32, const void *) { return false; }));
        QVERIFY(!direct.errorString().isEmpty());
        QVERIFY(!direct.describe(8, 8, 12, 1, 1, 1, 1));
        QVERIFY(!direct.writeSamples(caller.constData(), QFile::encodeName(root.path() + "/d.tif"), text));
        QCOMPARE(filesIn(root.path()).size(), 2);
        QVERIFY(caller == given);
    }

    // The thumbnail of a frame halved band by band is the one of the frame halved whole; the
    // first byte of each 16-bit camera word gives the thumbnail of its 8 most significant bits.
    void thumbnailsOfBands_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("size");
        QTest::newRow("frame to 80 x 60") << QSize(W, H) << QSize(80, 60);
        QTest::newRow("three halvings, no rest") << QSize(640, 480) << QSize(80, 60);
        QTest::newRow("rows not a whole band") << QSize(1500, 1008) << QSize(80, 60);
        QTest::newRow("no halving") << QSize(100, 37) << QSize(80, 30);
    }
    void thumbnailsOfBands()
    {
        QFETCH(QSize, frame);
        QFETCH(QSize, size);
        const QByteArray words = samples(quint32(frame.width()), quint32(frame.height()), 16, 1, 3);
        const cv::Mat high(frame.height(), frame.width(), CV_8UC2, const_cast<char *>(words.constData()));
        cv::Mat plane, expected;
        cv::extractChannel(high, plane, 0);
        const cv::Mat coarse = FrameThumbnail::halved(plane, size);
        const bool lessThanHalving = coarse.cols < 2 * size.width() && coarse.rows < 2 * size.height();
        cv::resize(coarse, expected, cv::Size(size.width(), size.height()), 0, 0, lessThanHalving ? cv::INTER_LINEAR : cv::INTER_AREA);
        const QImage fromPlane = FrameThumbnail::makeImage(plane.data, frame.width(), frame.height(), int(plane.step), {}, size);
        const QImage fromWords = FrameThumbnail::makeImage(reinterpret_cast<const uchar *>(words.constData()), frame.width(),
                                                           frame.height(), frame.width() * 2, {}, size, 2);
        QCOMPARE(fromPlane.size(), size);
        for (int y = 0; y < size.height(); ++y)
            QVERIFY2(std::memcmp(fromPlane.constScanLine(y), expected.ptr(y), size_t(size.width())) == 0, qPrintable(QString::number(y)));
        QVERIFY(fromWords == fromPlane);
        QCOMPARE(fromPlane.pixel(0, 0), qRgb(expected.at<uchar>(0, 0), expected.at<uchar>(0, 0), expected.at<uchar>(0, 0)));
    }

    // Files written by other programs: strips of any height (the last one short), compressed,
    // big-endian; the samples come back as written.
    void stripLayouts_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("spp");
        QTest::addColumn<int>("rowsPerStrip");
        QTest::addColumn<int>("compression");
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("8-bit, a row a strip") << 8 << 1 << 1 << COMPRESSION_NONE << QByteArray("w");
        QTest::newRow("16-bit, 7 rows a strip") << 16 << 1 << 7 << COMPRESSION_NONE << QByteArray("w");
        QTest::newRow("16-bit RGB big-endian") << 16 << 3 << 7 << COMPRESSION_NONE << QByteArray("wb");
        QTest::newRow("16-bit big-endian LZW") << 16 << 1 << 5 << COMPRESSION_LZW << QByteArray("wb");
        QTest::newRow("8-bit RGB deflate, one strip") << 8 << 3 << 37 << COMPRESSION_ADOBE_DEFLATE << QByteArray("w");
    }
    void stripLayouts()
    {
        QFETCH(int, bits);
        QFETCH(int, spp);
        QFETCH(int, rowsPerStrip);
        QFETCH(int, compression);
        QFETCH(QByteArray, mode);
        constexpr quint32 w = 100, h = 37;
        TestRoot root;
        const QByteArray written = samples(w, h, bits, spp);
        const QByteArray path = writeStrips(root.path() + "/strips.tif", w, h, bits, spp, rowsPerStrip, compression, mode, written);
        QVERIFY(!path.isEmpty());

        ImReaderWriter in;
        QVERIFY2(in.read(path), qPrintable(in.errorString()));
        QCOMPARE(QList<int>({int(in.width), int(in.height), in.bitsPerSample, in.samplesPerPixel}),
                 QList<int>({int(w), int(h), bits, spp}));
        QVERIFY(held(in) == written);

        // Straight into the caller's array, chosen once the geometry is known; or, declined, into
        // the reader's own.
        QByteArray into(written.size(), '\0');
        ImReaderWriter direct;
        void *samples = nullptr;
        const auto caller = [&](const ImReaderWriter &file) -> void * {
            return file.sampleCount * quint64(file.bitsPerSample / 8) == quint64(into.size()) ? into.data() : nullptr;
        };
        QVERIFY2(direct.read(path, caller, samples), qPrintable(direct.errorString()));
        QVERIFY(samples == into.data() && into == written);
        QVERIFY(!direct.data(bits)); // the reader's own array was never made
        QVERIFY(direct.read(path, [](const ImReaderWriter &) -> void * { return nullptr; }, samples));
        QVERIFY(samples == direct.data(bits) && held(direct) == written);
    }

    // Read band by band (bands cross strips): the whole image as read gives it, with the
    // brightest sample of 16-bit grey; halved, as FrameThumbnail halves the whole image.
    void bandsOfStripLayouts_data() { stripLayouts_data(); }
    void bandsOfStripLayouts()
    {
        QFETCH(int, bits);
        QFETCH(int, spp);
        QFETCH(int, rowsPerStrip);
        QFETCH(int, compression);
        QFETCH(QByteArray, mode);
        constexpr quint32 w = 640, h = 512;
        TestRoot root;
        const QByteArray written = samples(w, h, bits, spp, 5);
        const QByteArray path = writeStrips(root.path() + "/bands.tif", w, h, bits, spp, rowsPerStrip, compression, mode, written);
        QVERIFY(!path.isEmpty());
        quint16 brightest = 0;
        if (bits == 16 && spp == 1)
            brightest = *std::max_element(reinterpret_cast<const quint16 *>(written.constData()),
                                          reinterpret_cast<const quint16 *>(written.constData()) + w * h);

        ImReaderWriter whole;
        quint16 maximum = 1;
        QVERIFY2(whole.readHalved(path, QSize(), &maximum), qPrintable(whole.errorString()));
        QVERIFY(held(whole) == written);
        QCOMPARE(maximum, bits == 16 && spp == 1 ? brightest : quint16(1));

        const int type = CV_MAKETYPE(bits == 16 ? CV_16U : CV_8U, spp);
        const cv::Mat full(int(h), int(w), type, const_cast<char *>(written.constData()));
        const cv::Mat expected = FrameThumbnail::halved(full, QSize(64, 51));
        ImReaderWriter halved;
        maximum = 0;
        QVERIFY2(halved.readHalved(path, QSize(64, 51), &maximum), qPrintable(halved.errorString()));
        QCOMPARE(QSize(int(halved.width), int(halved.height)), QSize(80, 64));
        QCOMPARE(int(halved.sampleCount), 80 * 64 * spp);
        QVERIFY(held(halved) == QByteArray(reinterpret_cast<const char *>(expected.data), int(expected.total() * expected.elemSize())));
        QCOMPARE(maximum, brightest);

        // Two passes give every row twice, in order, in bands of whole multiples of the unit.
        QList<quint32> rows;
        const ImReaderWriter::Band record = [&](int pass, quint32 row, quint32 count, const void *) {
            rows << quint32(pass) << row << count;
            return count % 64 == 0;
        };
        QVERIFY(whole.readBands(path, record, 2, 64));
        quint32 next = 0;
        for (int i = 0; i < rows.size(); i += 3) {
            QCOMPARE(rows[i + 1], next % h);
            next += rows[i + 2];
        }
        QCOMPARE(next, 2 * h);
        QCOMPARE(rows[rows.size() / 2 - 3], 0u); // the second pass begins half-way
        QCOMPARE(rows[rows.size() / 2], 1u);
        // A band that refuses ends the read.
        QVERIFY(!whole.readBands(path, [](int, quint32, quint32, const void *) { return false; }));
        QVERIFY(!whole.errorString().isEmpty());
    }

    void rawFilesKeepTheCameraLayout()
    {
        TestRoot root;
        for (int bits : {8, 16}) {
            const QString path = root.path() + QStringLiteral("/Temp_%1.raw").arg(bits);
            ImReaderWriter out;
            const QByteArray loaded = loadFrame(out, bits, 1);
            QVERIFY(out.write(QFile::encodeName(path), "ignored"));
            QVERIFY(readAll(path) == loaded);
            ImReaderWriter in; // starts 8-bit; the file's size decides
            QVERIFY(in.read(QFile::encodeName(path)));
            QCOMPARE(int(in.bitsPerSample), bits);
            QVERIFY(held(in) == loaded);
            // A RAW file goes to the reader's own array: the caller is not asked.
            void *samples = nullptr;
            bool asked = false;
            QVERIFY(in.read(QFile::encodeName(path), [&](const ImReaderWriter &) -> void * { asked = true; return nullptr; },
                            samples));
            QVERIFY(!asked && samples == in.data(bits));
        }
        // A short file is refused; a longer one of another size reads its beginning at the depth held.
        ImReaderWriter rw;
        QVERIFY(!rw.read(QFile::encodeName(root.writeFile("/short.raw", QByteArray(1000, 'x')))));
        QVERIFY(!rw.read(QFile::encodeName(root.path() + "/missing.raw")));
        QVERIFY(!rw.read(QFile::encodeName(root.path())));
        const QByteArray longer = samples(W, H, 16, 1) + QByteArray(10, 'z');
        QVERIFY(!loadFrame(rw, 16, 1).isEmpty());
        QVERIFY(rw.read(QFile::encodeName(root.writeFile("/long.raw", longer))));
        QVERIFY(held(rw) == longer.left(int(W * H * 2)));
    }

    void imagesAsPngJpgBmp()
    {
        TestRoot root;
        for (int spp : {1, 3}) {
            ImReaderWriter rw;
            const QByteArray loaded = loadFrame(rw, 8, spp, 11);
            for (const QString ext : {"png", "bmp", "jpg"}) {
                const QString path = root.path() + QStringLiteral("/Bild ärger %1.%2").arg(spp).arg(ext);
                QVERIFY2(rw.write(path.toUtf8(), "text"), qPrintable(rw.errorString()));
                const QImage back = QImage(path).convertToFormat(QImage::Format_RGB888);
                QCOMPARE(back.size(), QSize(int(W), int(H)));
                for (int i = 0; i < 9 && ext != "jpg"; ++i) { // jpg is lossy
                    const int x = (i % 3) * 639, y = (i / 3) * 511, at = (y * int(W) + x) * spp;
                    const QRgb p = back.pixel(x, y);
                    QCOMPARE(QList<int>({qRed(p), qGreen(p), qBlue(p)}),
                             QList<int>({quint8(loaded[at]), quint8(loaded[at + spp / 3]), quint8(loaded[at + 2 * (spp / 3)])}));
                }
                QVERIFY(!ImReaderWriter().read(path.toUtf8())); // these formats are not read
            }
        }
        // 16-bit images go to TIFF and RAW only: no file is created.
        ImReaderWriter wide;
        QVERIFY(!loadFrame(wide, 16, 1).isEmpty());
        for (const char *ext : {"png", "bmp", "jpg"})
            QVERIFY(!wide.write(QFile::encodeName(root.path() + "/wide." + ext), {}));
        QCOMPARE(filesIn(root.path()).size(), 6);
    }

    void malformedTiffsAreRefused()
    {
        TestRoot root;
        const QString dir = root.path();
        ImReaderWriter good;
        QVERIFY(!loadFrame(good, 16, 1).isEmpty() && good.write(QFile::encodeName(dir + "/good.tif"), "t"));
        const QByteArray goodBytes = readAll(dir + "/good.tif");
        const auto field = [](ttag_t tag, int value) { return [=](TIFF *t) { TIFFSetField(t, tag, value); }; };
        root.writeFile("/garbage.tif", QByteArray(4096, '\x17'));
        root.writeFile("/empty.tif", {});
        // Cut inside the samples (the directory lies behind them) and inside the header.
        root.writeFile("/truncated.tif", goodBytes.left(goodBytes.size() / 2));
        root.writeFile("/header-only.tif", goodBytes.left(6));
        // A tiny image whose one strip holds 100 of its 4096 bytes.
        QVERIFY(makeTiff(dir + "/short-strip.tif", 64, 64, 8, 1, {}, Samples::ShortStrip));
        // Two strips, the first holding 100 of its 2048 bytes while the file goes on behind it.
        QVERIFY(makeTiff(dir + "/short-strip-of-two.tif", 64, 64, 8, 1, [](TIFF *t) {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 32);
            QByteArray bytes(2048, 'b');
            TIFFWriteRawStrip(t, 0, bytes.data(), 100);
            TIFFWriteRawStrip(t, 1, bytes.data(), bytes.size());
        }, Samples::None));
        QVERIFY(makeTiff(dir + "/tiled.tif", 64, 64, 8, 1, [](TIFF *t) { TIFFSetField(t, TIFFTAG_TILEWIDTH, 16); TIFFSetField(t, TIFFTAG_TILELENGTH, 16); },
                         Samples::Tiles));
        QVERIFY(makeTiff(dir + "/planes.tif", 16, 16, 8, 3, field(TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE)));
        QVERIFY(makeTiff(dir + "/12bit.tif", 16, 16, 12, 1));
        QVERIFY(makeTiff(dir + "/bilevel.tif", 16, 16, 1, 1));
        QVERIFY(makeTiff(dir + "/float.tif", 16, 16, 16, 1, field(TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP)));
        // A directory that claims 60000 x 60000 x 3 x 16 bits without any data.
        QVERIFY(makeTiff(dir + "/oversized.tif", 60000, 60000, 16, 3, {}, Samples::None));

        for (const QString &name : filesIn(dir)) {
            if (name == "good.tif")
                continue;
            ImReaderWriter rw;
            QVERIFY(!loadFrame(rw, 8, 1).isEmpty());
            const quint8 *before = rw.buffer8.get();
            QVERIFY2(!rw.read(QFile::encodeName(dir + "/" + name)), qPrintable(name + " was accepted"));
            QVERIFY2(!rw.errorString().isEmpty(), qPrintable(name));
            // Refusals before the samples leave the arrays alone.
            if (name != "truncated.tif" && !name.startsWith("short-strip"))
                QCOMPARE(rw.buffer8.get(), before);
            // So does reading by bands, whole or halved.
            for (const QSize size : {QSize(), QSize(8, 8)}) {
                ImReaderWriter bands;
                quint16 maximum = 0;
                QVERIFY2(!bands.readHalved(QFile::encodeName(dir + "/" + name), size, &maximum), qPrintable(name + " was accepted in bands"));
                QVERIFY2(!bands.errorString().isEmpty(), qPrintable(name));
            }
        }
        QVERIFY(good.read(QFile::encodeName(dir + "/good.tif"))); // the intact file still reads
    }

    // Hostile files: each refused with its reason and whether it is a sound file of a kind not
    // read, never taken for another image; none blocks (the FIFO), whole or in bands.
    void hostileFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason"); // empty: read
        QTest::addColumn<bool>("unsupported");
        QTest::newRow("good") << "good.tif" << "" << false;
        QTest::newRow("6 MB description") << "long-description.tif" << "" << false;
        QTest::newRow("corrupt deflate") << "deflate-corrupt.tif" << "ZIPDecode" << false;
        QTest::newRow("12-bit") << "12bit.tif" << "12-bit samples" << true;
        QTest::newRow("int16") << "int16.tif" << "signed samples" << true;
        QTest::newRow("MinIsWhite") << "miniswhite.tif" << "white-is-zero" << true;
        QTest::newRow("tiled") << "tiled.tif" << "tiled" << true;
        QTest::newRow("planar") << "planar.tif" << "separate colour planes" << true;
        QTest::newRow("float") << "float.tif" << "32-bit samples" << true;
        QTest::newRow("100000 x 100000") << "huge.tif" << "too large (100000 x 100000)" << true;
        QTest::newRow("FIFO") << "fifo.tif" << "not a regular file" << true;
        QTest::newRow("strip at offset 0") << "strip-offset-zero.tif" << "strip 0 lies outside the file's data" << false;
        QTest::newRow("PackBits overrun") << "packbits-overrun.tif" << "Discarding 100 bytes" << false;
        QTest::newRow("1 x 1 without data") << "one-pixel-no-data.tif" << "lies in the file's directory" << false;
        QTest::newRow("tags sharing one block") << "tags-4m-shared.tif" << "more than the file holds" << false;
        QTest::newRow("tags past an image's need") << "tags-ascii-apart.tif" << "more than an image read needs" << false;
        QTest::newRow("strip in the description") << "strip-in-description.tif" << "lies in the value of tag 270" << false;
        QTest::newRow("description ending in zeros") << "nul-ended-description.tif" << "" << false;
        QTest::newRow("big-endian BigTIFF") << "big-endian-bigtiff.tif" << "" << false;
        QTest::newRow("BigTIFF strip in the description") << "bigtiff-strip-in-description.tif"
                                                            << "lies in the value of tag" << false;
    }

    // The reader of the analysis and the tools on the same files: each damaged file, and each
    // file that is not what its name says, refused with its reason; the sound ones read as the
    // sound TIFF (JPEG within its loss).
    void fileReaderOnHostileFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        for (const HostileImages::Expected &file : HostileImages::expected())
            QTest::newRow(qPrintable(file.name)) << file.name << file.reason;
    }
    void fileReaderOnHostileFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString folder = HostileImages::folder();
        QVERIFY2(!folder.isEmpty(), "no hostile files");
        cv::Mat image;
        QString why;
        QVERIFY2(HostileImages::returnsWithin([&] { image = ImageFileReader::read(QFile::encodeName(folder + "/" + name), &why); },
                                              folder + "/fifo.tif", kHangBoundMs), "the read blocked");
        if (!reason.isEmpty()) {
            QVERIFY(image.empty());
            QVERIFY2(why.contains(reason), qPrintable(why));
            return;
        }
        const cv::Mat sound = ImageFileReader::read(QFile::encodeName(folder + "/good.tif"), &why);
        QCOMPARE(image.type(), CV_8UC1);
        QCOMPARE(image.size(), sound.size());
        cv::Mat difference;
        cv::absdiff(image, sound, difference);
        QVERIFY2(cv::mean(difference)[0] <= (name.endsWith(".jpg") ? 2.0 : 0.0), qPrintable(name));
    }

    // Sound progressive JPEG files are read whole, up to 300 scans and however often they refine
    // a coefficient (up to the 14 passes of a refinement bit by bit from 13 bits dropped), at the
    // largest size read: mid-grey, as their scans hold no coefficient but DC 0.
    void soundProgressionsRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("300 scans") << "scans-300.jpg" << QSize(640, 512);
        QTest::newRow("17 scans of 8192 x 8192") << "scans-17-of-8192.jpg" << QSize(8192, 8192);
        QTest::newRow("4 passes over 8192 x 8192") << "coefficients-4-passes.jpg" << QSize(8192, 8192);
        QTest::newRow("14 passes over 8192 x 8192") << "coefficients-14-passes.jpg" << QSize(8192, 8192);
    }
    void soundProgressionsRead()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QString why;
        const cv::Mat image = ImageFileReader::read(QFile::encodeName(HostileImages::folder() + "/" + name), &why);
        QVERIFY2(!image.empty(), qPrintable(why));
        QCOMPARE(QSize(image.cols, image.rows), size);
        QCOMPARE(cv::mean(image)[0], 128.0);
    }

    // A JPEG wanted at a size comes reduced by libjpeg to the smallest eighth, quarter or half
    // that still covers it (sizes rounded up), and shows what the whole image shows.
    void jpegReducedToCover_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<QSize>("decoded");
        QTest::newRow("photo to a thumbnail") << QSize(4000, 3000) << QSize(128, 102) << QSize(500, 375);
        QTest::newRow("frame to a thumbnail") << QSize(1280, 1024) << QSize(128, 102) << QSize(160, 128);
        QTest::newRow("a quarter") << QSize(640, 480) << QSize(128, 102) << QSize(160, 120);
        QTest::newRow("odd sizes round up") << QSize(1001, 777) << QSize(126, 97) << QSize(126, 98);
        QTest::newRow("a half") << QSize(300, 250) << QSize(128, 102) << QSize(150, 125);
        QTest::newRow("too small: whole") << QSize(200, 150) << QSize(128, 102) << QSize(200, 150);
        QTest::newRow("nothing wanted: whole") << QSize(640, 480) << QSize() << QSize(640, 480);
    }
    void jpegReducedToCover()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, wanted);
        QFETCH(QSize, decoded);
        QTemporaryDir dir;
        cv::Mat picture(size.height(), size.width(), CV_8UC3);
        for (int y = 0; y < picture.rows; ++y)
            for (int x = 0; x < picture.cols; ++x)
                picture.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(x * 255 / picture.cols), uchar(y * 255 / picture.rows), 90);
        const QByteArray path = QFile::encodeName(dir.path() + "/photo.jpg");
        QVERIFY(cv::imwrite(path.toStdString(), picture));
        QString why;
        const cv::Mat image = ImageFileReader::read(path, &why, wanted);
        QVERIFY2(!image.empty(), qPrintable(why));
        QCOMPARE(QSize(image.cols, image.rows), decoded);
        cv::Mat whole = ImageFileReader::read(path, &why), reduced;
        cv::resize(whole, reduced, image.size(), 0, 0, cv::INTER_AREA);
        QVERIFY2(cv::norm(image, reduced, cv::NORM_L1) / double(image.total() * 3) < 3.0, "not the same picture");
    }

    // A 32-bit BMP in the standard colour masks reads as the grey picture it holds, in colour.
    void standardColourMasksRead()
    {
        QString why;
        const cv::Mat image =
            ImageFileReader::read(QFile::encodeName(HostileImages::folder() + "/bitfields-standard.bmp"), &why);
        QVERIFY2(!image.empty(), qPrintable(why));
        QCOMPARE(image.type(), CV_8UC3);
        const cv::Mat sound = ImageFileReader::read(QFile::encodeName(HostileImages::folder() + "/good.tif"), &why);
        std::vector<cv::Mat> channels;
        cv::split(image, channels);
        for (const cv::Mat &channel : channels)
            QCOMPARE(cv::norm(channel, sound, cv::NORM_INF), 0.0);
    }

    // BMP files of the headers and uncompressed layouts other programs write read as the colour
    // picture they hold: the old 12-byte header, colour masks behind the 40-byte header or inside
    // the longer ones (where what follows the header is pixels, however much it looks like masks).
    void bmpLayoutsReadAsWritten_data()
    {
        using Masks = QVector<quint32>;
        const Masks m565{0xF800, 0x7E0, 0x1F}, m555{0x7C00, 0x3E0, 0x1F}, m888{0xFF0000, 0xFF00, 0xFF};
        QTest::addColumn<int>("header");
        QTest::addColumn<int>("bits");
        QTest::addColumn<Masks>("masks");
        QTest::addColumn<bool>("topDown");
        QTest::addColumn<bool>("decoy");
        QTest::newRow("old header, 24 bits") << 12 << 24 << Masks() << false << false;
        QTest::newRow("old header, colour palette") << 12 << 8 << Masks() << false << false;
        QTest::newRow("V5, 5-6-5") << 124 << 16 << m565 << false << false;
        QTest::newRow("V5, 5-5-5") << 124 << 16 << m555 << false << false;
        QTest::newRow("V5, 5-5-5 whose pixels look like 5-6-5 masks") << 124 << 16 << m555 << false << true;
        QTest::newRow("V4, 5-6-5 from the top") << 108 << 16 << m565 << true << false;
        QTest::newRow("V5, 32 bits in masks") << 124 << 32 << m888 << false << false;
        QTest::newRow("5-6-5 masks behind the header") << 40 << 16 << m565 << false << false;
        QTest::newRow("plain 16 bits") << 40 << 16 << Masks() << true << false;
        QTest::newRow("plain 32 bits") << 40 << 32 << Masks() << false << false;
        QTest::newRow("4-bit colour palette") << 40 << 4 << Masks() << false << false;
    }
    void bmpLayoutsReadAsWritten()
    {
        QFETCH(int, header);
        QFETCH(int, bits);
        QFETCH(QVector<quint32>, masks);
        QFETCH(bool, topDown);
        QFETCH(bool, decoy);
        TestRoot root;
        cv::Mat picture;
        const QString path = root.writeFile("/layout.bmp", bmpFile(header, bits, masks, topDown, decoy, &picture));
        QString why;
        const cv::Mat image = ImageFileReader::read(QFile::encodeName(path), &why);
        QVERIFY2(!image.empty(), qPrintable(why));
        QCOMPARE(image.type(), CV_8UC3);
        QCOMPARE(image.size(), picture.size());
        // A narrow field widened by repeating its bits lies within 1 of its rounded share.
        QVERIFY2(cv::norm(image, picture, cv::NORM_INF) <= (bits == 16 ? 1 : 0), qPrintable(why));
    }

    // Sound files of every layout the reader takes decode as OpenCV decodes them.
    void soundFilesDecodeAsOpenCvDoes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        for (const char *ext : {"png", "jpg", "bmp"}) {
            QTest::addRow("%s grey", ext) << QString("grey.%1").arg(ext) << CV_8UC1;
            QTest::addRow("%s colour", ext) << QString("colour.%1").arg(ext) << CV_8UC3;
        }
        QTest::newRow("png grey 16-bit") << "grey16.png" << CV_16UC1;
        QTest::newRow("png colour 16-bit") << "colour16.png" << CV_16UC3;
        QTest::newRow("png with alpha") << "alpha.png" << CV_8UC4;
        QTest::newRow("png palette") << "palette.png" << CV_8UC3;
    }
    void soundFilesDecodeAsOpenCvDoes()
    {
        QFETCH(QString, name);
        QFETCH(int, type);
        TestRoot root;
        const QString path = root.path() + "/" + name;
        cv::Mat samples(48, 64, type);
        cv::randu(samples, 0, CV_MAT_DEPTH(type) == CV_16U ? 65536 : 256);
        if (name.startsWith("palette")) {
            QImage indexed(64, 48, QImage::Format_Indexed8);
            indexed.setColorTable({qRgb(250, 10, 0), qRgb(0, 120, 30), qRgb(5, 6, 200)});
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x)
                    indexed.setPixel(x, y, uint((x * 7 + y) % 3));
            QVERIFY(indexed.save(path, "PNG"));
        } else {
            QVERIFY(cv::imwrite(path.toStdString(), samples));
        }
        QString why;
        const cv::Mat image = ImageFileReader::read(QFile::encodeName(path), &why);
        const cv::Mat reference = cv::imread(path.toStdString(), cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
        QVERIFY2(!image.empty(), qPrintable(why));
        QCOMPARE(image.type(), reference.type());
        QCOMPARE(image.size(), reference.size());
        QCOMPARE(cv::countNonZero(image.reshape(1) != reference.reshape(1)), 0);
    }
    void hostileFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QFETCH(bool, unsupported);
        const QString folder = HostileImages::folder();
        QVERIFY2(!folder.isEmpty(), "no hostile files");
        const QString path = folder + "/" + name, fifo = folder + "/fifo.tif";
        // Whole, whole in bands, halved in bands.
        for (const QSize size : {QSize(-1, -1), QSize(0, 0), QSize(8, 8)}) {
            ImReaderWriter rw;
            bool ok = false;
            QVERIFY2(HostileImages::returnsWithin([&] {
                ok = size.width() < 0 ? rw.read(QFile::encodeName(path))
                                      : rw.readHalved(QFile::encodeName(path), size, nullptr);
            }, fifo, kHangBoundMs), "the read blocked");
            QCOMPARE(ok, reason.isEmpty());
            if (ok) {
                QVERIFY(rw.width >= 8 && rw.height >= 8 && rw.width <= 640 && rw.height <= 512);
                QCOMPARE(rw.description.size() > 6000000, name.startsWith("long"));
                if (name.startsWith("nul-ended"))
                    QCOMPARE(rw.description, QByteArray("Z Position: 0 um"));
                continue;
            }
            QVERIFY2(rw.errorString().contains(reason), qPrintable(rw.errorString()));
            QCOMPARE(rw.unsupported(), unsupported);
        }
    }

    // A write that fails half-way (the file-size limit reached mid-file, as on a full drive)
    // never replaces the file that was there, and leaves no temporary file behind.
    void aFailedWriteNeverReplacesTheOldFile()
    {
        TestRoot root;
        const QString path = root.writeFile("/media/USB/old.bin", "previous");
        SafeFileWriter out(QFile::encodeName(path));
        QVERIFY(out.open());
        {
            FileSizeLimit full(1000);
            QVERIFY(out.write(QByteArray(600, 'a').constData(), 600));
            QVERIFY(!out.write(QByteArray(4096, 'b').constData(), 4096));
        }
        QVERIFY(!out.commit());
        QVERIFY(out.errorString().contains("old.bin"));
        QCOMPARE(readAll(path), QByteArray("previous"));
        QCOMPARE(filesIn(root.path() + "/media/USB"), QStringList("old.bin"));
    }

    void failedImageWritesLeaveNoPartialFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("bits");
        QTest::addColumn<quint64>("limit");
        QTest::addColumn<bool>("fromCaller");
        // Limits that stop the write at the header, inside the samples, and at the directory.
        for (const char *name : {"a.tif", "a.raw", "a.png", "a.bmp"})
            for (quint64 limit : {0, 100000})
                QTest::addRow("%s at %llu", name, limit) << QString(name) << 8 << limit << false;
        QTest::addRow("16-bit tif samples") << "a.tif" << 16 << quint64(100000) << false;
        QTest::addRow("tif directory") << "a.tif" << 8 << quint64(W * H + 8 + 4) << false;
        QTest::addRow("caller's 16-bit samples, first band") << "a.tif" << 16 << quint64(100000) << true;
        QTest::addRow("caller's 16-bit samples, last band") << "a.tif" << 16 << quint64(W * H * 2 - 1000) << true;
        QTest::addRow("caller's 8-bit samples, directory") << "a.tif" << 8 << quint64(W * H + 8 + 4) << true;
        QTest::addRow("caller's RAW") << "a.raw" << 16 << quint64(100000) << true;
    }
    void failedImageWritesLeaveNoPartialFile()
    {
        QFETCH(QString, name);
        QFETCH(int, bits);
        QFETCH(quint64, limit);
        QFETCH(bool, fromCaller);
        TestRoot root;
        const QString path = root.writeFile("/media/USB/" + name, "previous");
        ImReaderWriter rw;
        const QByteArray frame = loadFrame(rw, bits, 1);
        QVERIFY(!frame.isEmpty());
        bool ok = true;
        {
            FileSizeLimit full(limit);
            ok = fromCaller ? rw.writeSamples(frame.constData(), QFile::encodeName(path), "text")
                            : rw.write(QFile::encodeName(path), "text");
        }
        QVERIFY(!ok && !rw.errorString().isEmpty());
        QCOMPARE(readAll(path), QByteArray("previous"));
        // Once there is room again the same object writes the file.
        QVERIFY(rw.write(QFile::encodeName(path), "text"));
        QVERIFY(QFileInfo(path).size() > 1000000);
        QCOMPARE(filesIn(root.path() + "/media/USB"), QStringList(name));
    }

    void writesToPlacesThatRefuseThem()
    {
        TestRoot root;
        ImReaderWriter rw;
        QVERIFY(!loadFrame(rw, 8, 1).isEmpty());
        // A folder that does not exist, a place nobody may create files in, a folder as target.
        for (const QByteArray &path : {QFile::encodeName(root.path() + "/missing/a.tif"), QByteArray("/proc/vantor-test.tif"),
                                       QByteArray("/proc/vantor-test.raw"), QFile::encodeName(root.path())})
            QVERIFY2(!rw.write(path, "t"), path.constData());
        // A device is never replaced or removed, even when written to through a link.
        QVERIFY(QFile::link("/dev/full", root.path() + "/full.tif"));
        QVERIFY(!rw.write(QFile::encodeName(root.path() + "/full.tif"), "t"));
        QCOMPARE(filesIn(root.path()), QStringList("full.tif"));
        QVERIFY(QFileInfo(root.path() + "/full.tif").isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestImReaderWriter)
#include "tst_imreaderwriter.moc"
