#include "ImReaderWriter.h"
#include "SafeFileWriter.h"
#include "TestRoot.h"

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QtConcurrent>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

constexpr quint32 W = 1280;
constexpr quint32 H = 1024;

// Seeded samples of a w x h image; 16-bit samples in the camera layout (12 bits shifted left by 4,
// read as a native word: (v >> 4) | ((v & 15) << 12)).
QByteArray samples(quint32 w, quint32 h, int bits, int spp, quint32 seed = 7)
{
    QRandomGenerator gen(seed);
    const int n = int(w * h * quint32(spp));
    QByteArray out(n * (bits / 8), Qt::Uninitialized);
    auto *words = reinterpret_cast<quint16 *>(out.data());
    for (int i = 0; i < n; ++i) {
        const quint16 v = quint16(gen.bounded(bits == 8 ? 256 : 4096));
        if (bits == 8)
            out[i] = char(v);
        else
            words[i] = quint16((v >> 4) | ((v & 15) << 12));
    }
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

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

// A loaded 1280 x 1024 image of the given depth; its samples, empty when refused.
QByteArray loadFrame(ImReaderWriter &rw, int bits, int spp, quint32 seed = 7)
{
    const QByteArray s = samples(W, H, bits, spp, seed);
    return rw.load(s.constData(), W, H, quint16(bits), quint16(spp), 1, spp == 3 ? 2 : 1, 1) ? s : QByteArray();
}

// Writes a small TIFF with libtiff directly; setup sets further tags before the samples.
bool makeTiff(const QString &path, quint32 w, quint32 h, int bits, int spp, const std::function<void(TIFF *)> &setup = {},
              bool tiled = false)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
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
    QByteArray data(int(tiled ? TIFFTileSize(tif) : TIFFScanlineSize(tif)), 0x55);
    for (quint32 i = 0; i < (tiled ? TIFFNumberOfTiles(tif) : h); ++i)
        ok = ok && (tiled ? TIFFWriteEncodedTile(tif, i, data.data(), data.size()) : TIFFWriteScanline(tif, data.data(), i, 0)) >= 0;
    TIFFClose(tif);
    return ok;
}

// Replaces single SHORT or LONG values in the first directory of a little-endian TIFF.
bool patchTiffTags(const QString &path, const QMap<quint16, quint32> &values)
{
    QByteArray b = readAll(path);
    if (b.size() < 8 || !b.startsWith("II"))
        return false;
    const quint32 ifd = qFromLittleEndian<quint32>(b.constData() + 4);
    int patched = 0;
    for (int e = 0; e < qFromLittleEndian<quint16>(b.constData() + ifd); ++e) {
        char *entry = b.data() + ifd + 2 + 12 * e;
        const quint16 tag = qFromLittleEndian<quint16>(entry);
        if (!values.contains(tag) || qFromLittleEndian<quint32>(entry + 4) != 1)
            continue;
        if (qFromLittleEndian<quint16>(entry + 2) == TIFF_SHORT)
            qToLittleEndian<quint16>(quint16(values[tag]), entry + 8);
        else
            qToLittleEndian<quint32>(values[tag], entry + 8);
        ++patched;
    }
    return patched == values.size() && writeAll(path, b);
}

// Limits the size of any file this process writes (as a full disk would) while it lives; writes
// beyond it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes) : m_oldHandler(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    void (*m_oldHandler)(int);
    rlimit m_old{};
};

} // namespace

class TestImReaderWriter : public QObject
{
    Q_OBJECT
private slots:
    void formatFollowsTheLastPoint_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("format");
        const int tiff = int(ImReaderWriter::Format::Tiff);
        QTest::newRow("TIF") << QByteArray("/m/a.TIF") << tiff;
        QTest::newRow("JPG") << QByteArray("/m/a.JPG") << tiff;
        QTest::newRow("point in folder") << QByteArray("/m/a.b/scan") << tiff;
        QTest::newRow("jpg") << QByteArray("/m/a.jpg") << int(ImReaderWriter::Format::Jpg);
        QTest::newRow("png") << QByteArray("x.y.png") << int(ImReaderWriter::Format::Png);
        QTest::newRow("bmp") << QByteArray("a.bmp") << int(ImReaderWriter::Format::Bmp);
        QTest::newRow("raw") << QByteArray("/m/Temp_000001.raw") << int(ImReaderWriter::Format::Raw);
    }
    void formatFollowsTheLastPoint()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, format);
        QCOMPARE(int(ImReaderWriter::formatOf(path)), format);
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
        QCOMPARE(filesIn(root.path()), QStringList("frame_0001.tif"));

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

        // Read by other tools as written.
        QProcess info;
        info.start("tiffinfo", {path});
        QVERIFY(info.waitForFinished(30000));
        const QString report = QString::fromUtf8(info.readAllStandardOutput() + info.readAllStandardError());
        QVERIFY2(info.exitCode() == 0 && !report.contains("Warning", Qt::CaseInsensitive), qPrintable(report));
        const char *script = R"(
import json, sys, tifffile
with tifffile.TiffFile(sys.argv[1]) as f:
    a = f.pages[0].asarray()
    print(json.dumps({"shape": list(a.shape), "description": f.pages[0].description, "sum": int(a.sum(dtype='uint64'))}))
)";
        QProcess py;
        py.start("/usr/bin/python3", {"-c", script, path});
        QVERIFY(py.waitForFinished(60000));
        if (py.exitCode() != 0 && py.readAllStandardError().contains("No module named"))
            QSKIP("python3 with tifffile is not installed");
        const QJsonObject o = QJsonDocument::fromJson(py.readAllStandardOutput()).object();
        quint64 sum = 0;
        for (quint32 k = 0; k < in.sampleCount; ++k)
            sum += bits == 16 ? in.buffer16[k] : in.buffer8[k];
        QVariantList shape{int(H), int(W)};
        if (spp == 3)
            shape << 3;
        QCOMPARE(o["shape"].toVariant().toList(), shape);
        QCOMPARE(o["description"].toString(), QString::fromLatin1(text));
        QCOMPARE(quint64(o["sum"].toDouble()), sum);
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
        QVERIFY(writeAll(dir + "/garbage.tif", QByteArray(4096, '\x17')));
        QVERIFY(writeAll(dir + "/empty.tif", {}));
        // Cut inside the samples (the directory lies behind them) and inside the header.
        QVERIFY(writeAll(dir + "/truncated.tif", goodBytes.left(goodBytes.size() / 2)));
        QVERIFY(writeAll(dir + "/header-only.tif", goodBytes.left(6)));
        // The strip of a tiny image re-pointed so that it runs past the end of the file.
        QVERIFY(makeTiff(dir + "/short-strip.tif", 64, 64, 8, 1));
        QVERIFY(patchTiffTags(dir + "/short-strip.tif", {{TIFFTAG_STRIPOFFSETS, 64 * 64 - 100}}));
        QVERIFY(makeTiff(dir + "/tiled.tif", 64, 64, 8, 1, [](TIFF *t) { TIFFSetField(t, TIFFTAG_TILEWIDTH, 16); TIFFSetField(t, TIFFTAG_TILELENGTH, 16); }, true));
        QVERIFY(makeTiff(dir + "/planes.tif", 16, 16, 8, 3, field(TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE)));
        QVERIFY(makeTiff(dir + "/12bit.tif", 16, 16, 12, 1));
        QVERIFY(makeTiff(dir + "/two-samples.tif", 16, 16, 8, 2));
        QVERIFY(makeTiff(dir + "/bilevel.tif", 16, 16, 1, 1));
        QVERIFY(makeTiff(dir + "/float.tif", 16, 16, 16, 1, field(TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP)));
        // A directory that claims 60000 x 60000 x 3 x 16 bits over a few bytes of data.
        QVERIFY(makeTiff(dir + "/oversized.tif", 16, 16, 16, 3));
        QVERIFY(patchTiffTags(dir + "/oversized.tif", {{TIFFTAG_IMAGEWIDTH, 60000}, {TIFFTAG_IMAGELENGTH, 60000}}));

        for (const QString &name : filesIn(dir)) {
            if (name == "good.tif")
                continue;
            ImReaderWriter rw;
            QVERIFY(!loadFrame(rw, 8, 1).isEmpty());
            const quint8 *before = rw.buffer8.get();
            QVERIFY2(!rw.read(QFile::encodeName(dir + "/" + name)), qPrintable(name + " was accepted"));
            QVERIFY2(!rw.errorString().isEmpty(), qPrintable(name));
            // Refusals before the samples leave the arrays alone.
            if (name != "truncated.tif" && name != "short-strip.tif")
                QCOMPARE(rw.buffer8.get(), before);
        }
        QVERIFY(good.read(QFile::encodeName(dir + "/good.tif"))); // the intact file still reads
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
        // Limits that stop the write at the header, inside the samples, and at the directory.
        for (const char *name : {"a.tif", "a.raw", "a.png", "a.bmp"}) {
            QTest::addRow("%s nothing", name) << QString(name) << 8 << quint64(0);
            QTest::addRow("%s samples", name) << QString(name) << 8 << quint64(100000);
        }
        QTest::addRow("16-bit tif samples") << "a.tif" << 16 << quint64(100000);
        QTest::addRow("tif directory") << "a.tif" << 8 << quint64(W * H + 8 + 4);
    }
    void failedImageWritesLeaveNoPartialFile()
    {
        QFETCH(QString, name);
        QFETCH(int, bits);
        QFETCH(quint64, limit);
        TestRoot root;
        const QString path = root.writeFile("/media/USB/" + name, "previous");
        ImReaderWriter rw;
        QVERIFY(!loadFrame(rw, bits, 1).isEmpty());
        bool ok = true;
        {
            FileSizeLimit full(limit);
            ok = rw.write(QFile::encodeName(path), "text");
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
        struct stat st;
        QVERIFY(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
        QCOMPARE(filesIn(root.path()), QStringList("full.tif"));
        QVERIFY(QFileInfo(root.path() + "/full.tif").isSymLink());
    }

    void objectsWorkInSeveralThreadsAtOnce()
    {
        TestRoot root;
        const QString dir = root.path();
        const std::function<bool(int)> task = [dir](int i) {
            ImReaderWriter rw, in;
            const QByteArray s = samples(320, 256, 16, 1, quint32(i));
            const QByteArray path = QFile::encodeName(dir + QStringLiteral("/f_%1.tif").arg(i));
            return rw.load(s.constData(), 320, 256, 16, 1, 1, 1, 1) && rw.write(path, "t") && in.read(path)
                && held(in) == rotated(s) && !ImReaderWriter().read(QFile::encodeName(dir + "/none.tif"));
        };
        const QList<bool> results = QtConcurrent::blockingMapped<QList<bool>>(QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), task);
        QCOMPARE(results.count(true), 12);
    }
};

QTEST_GUILESS_MAIN(TestImReaderWriter)
#include "tst_imreaderwriter.moc"
