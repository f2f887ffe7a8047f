#include "ImReaderWriter.h"
#include "TestRoot.h"

#include <QDir>
#include <QFile>
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
    const quint64 n = quint64(w) * h * spp;
    QByteArray out(int(n * (bits / 8)), Qt::Uninitialized);
    if (bits == 8) {
        for (quint64 i = 0; i < n; ++i)
            out[int(i)] = char(gen.bounded(256));
    } else {
        auto *words = reinterpret_cast<quint16 *>(out.data());
        for (quint64 i = 0; i < n; ++i) {
            const quint16 v = quint16(gen.bounded(4096));
            words[i] = quint16((v >> 4) | ((v & 15) << 12));
        }
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
    const int bytes = int(rw.sampleCount) * (rw.bitsPerSample == 16 ? 2 : 1);
    return QByteArray(static_cast<const char *>(rw.data(rw.bitsPerSample)), bytes);
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

// A python interpreter that has tifffile, or empty.
QString pythonWithTifffile()
{
    for (const QString &python : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess p;
        p.start(python, {"-c", "import tifffile, numpy"});
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return python;
    }
    return {};
}

// Writes a small TIFF with libtiff directly; setup sets the tags, then the strip is written.
using TagSetup = std::function<void(TIFF *)>;
bool makeTiff(const QString &path, quint32 w, quint32 h, int bits, int spp, const TagSetup &setup, bool tiled = false)
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
    if (tiled) {
        QByteArray tile(int(TIFFTileSize(tif)), 0);
        for (ttile_t t = 0; t < TIFFNumberOfTiles(tif); ++t)
            ok = ok && TIFFWriteEncodedTile(tif, t, tile.data(), tile.size()) >= 0;
    } else {
        const QByteArray data(int(TIFFScanlineSize(tif)), 0x55);
        for (quint32 r = 0; r < h; ++r)
            ok = ok && TIFFWriteScanline(tif, const_cast<char *>(data.constData()), r, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
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

// Replaces single SHORT or LONG values in the first directory of a little-endian TIFF.
bool patchTiffTags(const QString &path, const QMap<quint16, quint32> &values)
{
    QByteArray b = readAll(path);
    if (b.size() < 8 || !b.startsWith("II"))
        return false;
    const quint32 ifd = qFromLittleEndian<quint32>(b.constData() + 4);
    const int entries = qFromLittleEndian<quint16>(b.constData() + ifd);
    int patched = 0;
    for (int e = 0; e < entries; ++e) {
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

// Limits the size of any file this process writes (as a full disk would) while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
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
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

} // namespace

class TestImReaderWriter : public QObject
{
    Q_OBJECT
private:
    // A loaded 1280 x 1024 image of the given depth and its samples.
    QByteArray loadFrame(ImReaderWriter &rw, int bits, int spp, quint32 seed = 7)
    {
        const QByteArray s = samples(W, H, bits, spp, seed);
        if (!rw.load(s.constData(), W, H, quint16(bits), quint16(spp), 1, spp == 3 ? 2 : 1, 1))
            return {};
        return s;
    }

private slots:
    void formatFollowsTheLastPoint_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("format");
        const int tiff = int(ImReaderWriter::Format::Tiff);
        QTest::newRow("tif") << QByteArray("/m/a.tif") << tiff;
        QTest::newRow("TIF") << QByteArray("/m/a.TIF") << tiff;
        QTest::newRow("tiff") << QByteArray("/m/a.tiff") << tiff;
        QTest::newRow("jpeg") << QByteArray("/m/a.jpeg") << tiff;
        QTest::newRow("JPG") << QByteArray("/m/a.JPG") << tiff;
        QTest::newRow("PNG") << QByteArray("/m/a.PNG") << tiff;
        QTest::newRow("point in folder") << QByteArray("/m/a.b/scan") << tiff;
        QTest::newRow("jpg") << QByteArray("/m/a.jpg") << int(ImReaderWriter::Format::Jpg);
        QTest::newRow("png") << QByteArray("x.y.png") << int(ImReaderWriter::Format::Png);
        QTest::newRow("bmp") << QByteArray("a.bmp") << int(ImReaderWriter::Format::Bmp);
        QTest::newRow("raw") << QByteArray("/m/Temp_000001.raw") << int(ImReaderWriter::Format::Raw);
        QTest::newRow("bare raw") << QByteArray("raw") << int(ImReaderWriter::Format::Raw);
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
        QCOMPARE(rw.sampleCount, 0u);
        QVERIFY(!rw.data(8) && !rw.data(16));
        const QByteArray s = loadFrame(rw, 8, 1);
        QVERIFY(!s.isEmpty());
        const quint8 *before = rw.buffer8.get();
        // 12 bits x 1 sample: refused, geometry replaced, arrays untouched.
        QVERIFY(!rw.load(s.constData(), W, H, 12, 1, 1, 1, 1));
        QCOMPARE(rw.bitsPerSample, quint16(12));
        QCOMPARE(rw.buffer8.get(), before);
        QVERIFY(!rw.buffer16);
        QVERIFY(!rw.load(s.constData(), W, H, 8, 2, 1, 1, 1));
        QVERIFY(!rw.load(nullptr, W, H, 8, 1, 1, 1, 1));
        QVERIFY(!rw.load(s.constData(), 0, H, 8, 1, 1, 1, 1));
        QVERIFY(!rw.load(s.constData(), 70000, 70000, 16, 3, 1, 2, 1));
        QCOMPARE(rw.buffer8.get(), before);
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
        const QByteArray meta = "Instrument: VANTOR S; Serial Number: 1; Version: 1.0; Camera Mode: 8 bit; "
                                "Filter: Trans; Objective: 10X; Light: 50 %; Exposure: 10 ms; Gain: 1; "
                                "Time: 12:34:56.789";
        QTest::newRow("8-bit grey") << 8 << 1 << meta;
        QTest::newRow("8-bit RGB") << 8 << 3 << meta;
        QTest::newRow("16-bit grey") << 16 << 1 << meta;
        QTest::newRow("16-bit RGB") << 16 << 3 << meta;
        QTest::newRow("8-bit grey, no text") << 8 << 1 << QByteArray();
        QTest::newRow("16-bit grey, no text") << 16 << 1 << QByteArray();
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
        QCOMPARE(in.width, W);
        QCOMPARE(in.height, H);
        QCOMPARE(int(in.bitsPerSample), bits);
        QCOMPARE(int(in.samplesPerPixel), spp);
        QCOMPARE(int(in.bitsPerPixel), bits * spp);
        QCOMPARE(int(in.photometric), spp == 3 ? 2 : 1);
        QCOMPARE(in.compression, quint16(1));
        QCOMPARE(in.orientation, quint16(1));
        QCOMPARE(in.sampleCount, W * H * spp);
        QCOMPARE(in.description, text);
        // 16-bit files hold plain intensities: the loaded camera words rotated left by four.
        const QByteArray expected = bits == 16 ? rotated(loaded) : loaded;
        QVERIFY(held(in) == expected);
        QVERIFY(held(out) == expected); // the rotation stays in the writing object
        // The file is one uncompressed strip: header, samples and directory only.
        QVERIFY(QFileInfo(path).size() > expected.size());
        QVERIFY(QFileInfo(path).size() < expected.size() + 1024 + text.size());
    }

    void tiffFilesAreReadByOtherTools()
    {
        TestRoot root;
        const QByteArray text = "Instrument: VANTOR S; Time: 01:02:03.004";
        struct Case
        {
            int bits, spp;
        };
        const QList<Case> cases{{8, 1}, {8, 3}, {16, 1}, {16, 3}};
        QStringList paths;
        for (const Case &c : cases) {
            ImReaderWriter rw;
            QVERIFY(!loadFrame(rw, c.bits, c.spp).isEmpty());
            paths << root.path() + QStringLiteral("/t%1x%2 ä.tif").arg(c.bits).arg(c.spp);
            QVERIFY(rw.write(paths.last().toUtf8(), text));

            QProcess info;
            info.start("tiffinfo", {paths.last()});
            QVERIFY(info.waitForFinished(30000));
            const QString out = QString::fromUtf8(info.readAllStandardOutput() + info.readAllStandardError());
            QVERIFY2(info.exitCode() == 0, qPrintable(out));
            QVERIFY2(!out.contains("Error", Qt::CaseInsensitive) && !out.contains("Warning", Qt::CaseInsensitive),
                     qPrintable(out));
            QVERIFY2(out.contains("Image Width: 1280 Image Length: 1024"), qPrintable(out));
            QVERIFY2(out.contains(QStringLiteral("Bits/Sample: %1").arg(c.bits)), qPrintable(out));
            QVERIFY2(out.contains(QStringLiteral("Samples/Pixel: %1").arg(c.spp)), qPrintable(out));
            QVERIFY2(out.contains("Compression Scheme: None"), qPrintable(out));
            QVERIFY2(out.contains("ImageDescription: " + text), qPrintable(out));
        }

        const QString python = pythonWithTifffile();
        if (python.isEmpty())
            QSKIP("python3 with tifffile is not installed");
        // For each file: shape, type, description and the sum and maximum of its samples.
        const char *script = R"(
import json, sys, tifffile
for path in sys.argv[1:]:
    with tifffile.TiffFile(path) as f:
        page = f.pages[0]
        a = page.asarray()
        print(json.dumps({"shape": list(a.shape), "dtype": str(a.dtype),
                          "description": page.description, "sum": int(a.sum(dtype='uint64')),
                          "max": int(a.max())}))
)";
        QProcess py;
        py.start(python, QStringList{"-c", script} + paths);
        QVERIFY(py.waitForFinished(60000));
        QVERIFY2(py.exitCode() == 0, py.readAllStandardError().constData());
        const QList<QByteArray> lines = py.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), cases.size());
        for (int i = 0; i < cases.size(); ++i) {
            const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
            ImReaderWriter rw;
            QVERIFY(rw.read(paths[i].toUtf8()));
            quint64 sum = 0, max = 0;
            for (quint32 k = 0; k < rw.sampleCount; ++k) {
                const quint64 v = rw.bitsPerSample == 16 ? rw.buffer16[k] : rw.buffer8[k];
                sum += v;
                max = std::max(max, v);
            }
            QVariantList shape{int(H), int(W)};
            if (cases[i].spp == 3)
                shape << 3;
            QCOMPARE(o["shape"].toVariant().toList(), shape);
            QCOMPARE(o["dtype"].toString(), QString(cases[i].bits == 16 ? "uint16" : "uint8"));
            QCOMPARE(o["description"].toString(), QString::fromLatin1(text));
            QCOMPARE(quint64(o["sum"].toDouble()), sum);
            QCOMPARE(quint64(o["max"].toInt()), max);
            if (cases[i].bits == 16)
                QVERIFY(max <= 4095); // plain 12-bit intensities
        }
    }

    void rawRoundTripsKeepTheCameraLayout()
    {
        TestRoot root;
        for (int bits : {8, 16}) {
            const QString path = root.path() + QStringLiteral("/Temp_%1.raw").arg(bits);
            ImReaderWriter out;
            const QByteArray loaded = loadFrame(out, bits, 1);
            QVERIFY(out.write(QFile::encodeName(path), "ignored"));
            QCOMPARE(QFileInfo(path).size(), qint64(W * H * bits / 8));
            QVERIFY(readAll(path) == loaded);

            ImReaderWriter in; // starts 8-bit; the file's size decides
            QVERIFY(in.read(QFile::encodeName(path)));
            QCOMPARE(int(in.bitsPerSample), bits);
            QCOMPARE(in.samplesPerPixel, quint16(1));
            QCOMPARE(in.sampleCount, W * H);
            QVERIFY(held(in) == loaded);
        }
    }

    void rawReadsOfOtherSizes()
    {
        TestRoot root;
        const QString shortFile = root.path() + "/short.raw";
        QVERIFY(writeAll(shortFile, QByteArray(1000, 'x')));
        ImReaderWriter rw;
        QVERIFY(!rw.read(QFile::encodeName(shortFile)));
        QCOMPARE(rw.bitsPerSample, quint16(8));
        QVERIFY(!rw.read(QFile::encodeName(root.path() + "/missing.raw")));

        // A longer file of another size reads its beginning at the depth already held.
        const QByteArray longer = samples(W, H, 16, 1) + QByteArray(10, 'z');
        const QString longFile = root.path() + "/long.raw";
        QVERIFY(writeAll(longFile, longer));
        QVERIFY(!loadFrame(rw, 16, 1).isEmpty());
        QVERIFY(rw.read(QFile::encodeName(longFile)));
        QCOMPARE(rw.bitsPerSample, quint16(16));
        QVERIFY(held(rw) == longer.left(int(W * H * 2)));
        QVERIFY(!rw.read(QFile::encodeName(root.path())));  // a folder is no frame
    }

    void imagesAsPngJpgBmp()
    {
        TestRoot root;
        for (int spp : {1, 3}) {
            ImReaderWriter rw;
            const QByteArray loaded = loadFrame(rw, 8, spp, 11);
            for (const char *ext : {"png", "bmp", "jpg"}) {
                const QString path = root.path() + QStringLiteral("/img%1.%2").arg(spp).arg(ext);
                QVERIFY2(rw.write(QFile::encodeName(path), "text"), qPrintable(rw.errorString()));
                QImage back(path);
                QVERIFY2(!back.isNull(), qPrintable(path));
                QCOMPARE(back.size(), QSize(int(W), int(H)));
                if (QByteArray(ext) == "jpg")
                    continue; // lossy
                const QImage rgb = back.convertToFormat(QImage::Format_RGB888);
                for (int y : {0, 511, 1023}) {
                    for (int x : {0, 640, 1279}) {
                        const int i = (y * int(W) + x) * spp;
                        const QRgb p = rgb.pixel(x, y);
                        const int r = quint8(loaded[i]);
                        QCOMPARE(qRed(p), r);
                        QCOMPARE(qGreen(p), spp == 3 ? int(quint8(loaded[i + 1])) : r);
                        QCOMPARE(qBlue(p), spp == 3 ? int(quint8(loaded[i + 2])) : r);
                    }
                }
                ImReaderWriter in;
                QVERIFY(!in.read(QFile::encodeName(path))); // these formats are not read
            }
        }
        // 16-bit images go to TIFF and RAW only: no file is created.
        ImReaderWriter wide;
        QVERIFY(!loadFrame(wide, 16, 1).isEmpty());
        for (const char *ext : {"png", "bmp", "jpg"})
            QVERIFY(!wide.write(QFile::encodeName(root.path() + "/wide." + ext), {}));
        QVERIFY(!filesIn(root.path()).contains("wide.png"));
        QVERIFY(!filesIn(root.path()).contains("wide.bmp"));
        QVERIFY(!filesIn(root.path()).contains("wide.jpg"));
    }

    void utf8PathsWithSpacesWorkForEveryFormat()
    {
        TestRoot root;
        const QString folder = root.makeDir(QStringLiteral("/media/VANTOR SSD/Zellkultur Größe 5µm"));
        ImReaderWriter rw;
        QVERIFY(!loadFrame(rw, 8, 1).isEmpty());
        for (const char *ext : {"tif", "png", "jpg", "bmp", "raw"}) {
            const QString path = folder + QStringLiteral("/Bild ärger №1.") + ext;
            QVERIFY2(rw.write(path.toUtf8(), "t"), qPrintable(path));
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
            if (QByteArray(ext) == "tif" || QByteArray(ext) == "raw") {
                ImReaderWriter in;
                QVERIFY(in.read(path.toUtf8()));
            }
        }
        QCOMPARE(filesIn(folder).size(), 5);
    }

    void malformedTiffsAreRefused()
    {
        TestRoot root;
        const QString dir = root.path();
        const QString good = dir + "/good.tif";
        {
            ImReaderWriter rw;
            QVERIFY(!loadFrame(rw, 16, 1).isEmpty());
            QVERIFY(rw.write(QFile::encodeName(good), "t"));
        }
        const QByteArray goodBytes = readAll(good);
        QMap<QString, QString> refused; // fixture name -> why it is refused

        QVERIFY(writeAll(dir + "/garbage.tif", QByteArray(4096, '\x17')));
        refused["garbage.tif"] = "not a TIFF";
        QVERIFY(writeAll(dir + "/empty.tif", {}));
        refused["empty.tif"] = "empty";
        // Cut inside the samples (the directory lies behind them) and inside the header.
        QVERIFY(writeAll(dir + "/truncated.tif", goodBytes.left(goodBytes.size() / 2)));
        refused["truncated.tif"] = "truncated";
        QVERIFY(writeAll(dir + "/header-only.tif", goodBytes.left(6)));
        refused["header-only.tif"] = "truncated header";
        // The directory survives but the samples stop short: the strip of a tiny image is
        // re-pointed so that it runs past the end of the file.
        QVERIFY(makeTiff(dir + "/short-strip.tif", 64, 64, 8, 1, nullptr));
        QVERIFY(patchTiffTags(dir + "/short-strip.tif", {{TIFFTAG_STRIPOFFSETS, 64 * 64 - 100}}));
        refused["short-strip.tif"] = "short strip";
        QVERIFY(makeTiff(dir + "/tiled.tif", 64, 64, 8, 1,
                         [](TIFF *t) { TIFFSetField(t, TIFFTAG_TILEWIDTH, 16); TIFFSetField(t, TIFFTAG_TILELENGTH, 16); },
                         true));
        refused["tiled.tif"] = "tiled";
        QVERIFY(makeTiff(dir + "/planes.tif", 16, 16, 8, 3,
                         [](TIFF *t) { TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE); }));
        refused["planes.tif"] = "separate planes";
        QVERIFY(makeTiff(dir + "/12bit.tif", 16, 16, 12, 1, nullptr));
        refused["12bit.tif"] = "12 bits";
        QVERIFY(makeTiff(dir + "/two-samples.tif", 16, 16, 8, 2, nullptr));
        refused["two-samples.tif"] = "two samples";
        QVERIFY(makeTiff(dir + "/bilevel.tif", 16, 16, 1, 1, nullptr));
        refused["bilevel.tif"] = "1 bit";
        QVERIFY(makeTiff(dir + "/float.tif", 16, 16, 16, 1,
                         [](TIFF *t) { TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP); }));
        refused["float.tif"] = "floating point";
        // A directory that claims 60000 x 60000 x 3 x 16 bits over a few bytes of data.
        QVERIFY(makeTiff(dir + "/oversized.tif", 16, 16, 16, 3, nullptr));
        QVERIFY(patchTiffTags(dir + "/oversized.tif", {{TIFFTAG_IMAGEWIDTH, 60000}, {TIFFTAG_IMAGELENGTH, 60000}}));
        refused["oversized.tif"] = "oversized";

        for (auto it = refused.cbegin(); it != refused.cend(); ++it) {
            ImReaderWriter rw;
            QVERIFY(!loadFrame(rw, 8, 1).isEmpty());
            const quint8 *before = rw.buffer8.get();
            const bool ok = rw.read(QFile::encodeName(dir + "/" + it.key()));
            QVERIFY2(!ok, qPrintable(it.key() + " (" + it.value() + ") was accepted"));
            QVERIFY2(!rw.errorString().isEmpty(), qPrintable(it.key()));
            // Refusals before the samples leave the arrays alone.
            if (it.key() != "truncated.tif" && it.key() != "short-strip.tif")
                QCOMPARE(rw.buffer8.get(), before);
        }
        ImReaderWriter rw;
        QVERIFY(rw.read(QFile::encodeName(good))); // the intact file still reads
    }

    void failedWritesLeaveNoPartialFile_data()
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
    void failedWritesLeaveNoPartialFile()
    {
        QFETCH(QString, name);
        QFETCH(int, bits);
        QFETCH(quint64, limit);
        TestRoot root;
        const QString dir = root.makeDir("/media/USB");
        const QString path = dir + "/" + name;
        // An older file of that name stays as it was.
        QVERIFY(writeAll(path, "previous"));
        ImReaderWriter rw;
        QVERIFY(!loadFrame(rw, bits, 1).isEmpty());
        bool ok = true;
        {
            FileSizeLimit full(limit);
            ok = rw.write(QFile::encodeName(path), "text");
        }
        QVERIFY(!ok);
        QVERIFY(!rw.errorString().isEmpty());
        QCOMPARE(filesIn(dir), QStringList(name));
        QCOMPARE(readAll(path), QByteArray("previous"));
        // Once there is room again the same object writes the file.
        QVERIFY(rw.write(QFile::encodeName(path), "text"));
        QVERIFY(QFileInfo(path).size() > 1000000);
        QCOMPARE(filesIn(dir), QStringList(name));
    }

    void writesToPlacesThatRefuseThem()
    {
        TestRoot root;
        ImReaderWriter rw;
        QVERIFY(!loadFrame(rw, 8, 1).isEmpty());
        // A folder that does not exist, a place nobody may create files in, a folder as target.
        QVERIFY(!rw.write(QFile::encodeName(root.path() + "/missing/a.tif"), "t"));
        QVERIFY(!rw.write("/proc/vantor-test.tif", "t"));
        QVERIFY(!rw.write("/proc/vantor-test.raw", "t"));
        QVERIFY(!rw.write(QFile::encodeName(root.path()), "t"));
        QVERIFY(filesIn(root.path()).isEmpty());
        // A device is never replaced or removed, even when written to through a link.
        QVERIFY(QFile::link("/dev/full", root.path() + "/full.tif"));
        QVERIFY(!rw.write(QFile::encodeName(root.path() + "/full.tif"), "t"));
        QVERIFY(QFileInfo(root.path() + "/full.tif").isSymLink());
        struct stat st;
        QVERIFY(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
        QCOMPARE(filesIn(root.path()), QStringList("full.tif"));

        // A read-only folder (only meaningful without root's override of permissions).
        const QString locked = root.makeDir("/locked");
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        if (::geteuid() != 0) {
            for (const char *name : {"/a.tif", "/a.raw", "/a.png"})
                QVERIFY(!rw.write(QFile::encodeName(locked + name), "t"));
            QVERIFY(filesIn(locked).isEmpty());
        }
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void objectsWorkInSeveralThreadsAtOnce()
    {
        TestRoot root;
        const QString dir = root.path();
        QList<int> tasks;
        for (int i = 0; i < 16; ++i)
            tasks << i;
        const std::function<bool(int)> task = [dir](int i) {
            ImReaderWriter rw;
            const QByteArray s = samples(320, 256, 16, 1, quint32(i));
            const QByteArray path = QFile::encodeName(dir + QStringLiteral("/f_%1.tif").arg(i, 4, 10, QChar('0')));
            ImReaderWriter bad;
            const bool refused = !bad.read(QFile::encodeName(dir + "/none.tif"));
            if (!rw.load(s.constData(), 320, 256, 16, 1, 1, 1, 1) || !rw.write(path, "t") || !refused)
                return false;
            ImReaderWriter in;
            return in.read(path) && held(in) == rotated(s);
        };
        const QList<bool> results = QtConcurrent::blockingMapped<QList<bool>>(tasks, task);
        QCOMPARE(results.count(true), tasks.size());
    }
};

QTEST_GUILESS_MAIN(TestImReaderWriter)
#include "tst_imreaderwriter.moc"
