#include "CSVReaderWriter.h"
#include "DialogRunner.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "PythonImage.h"
#include "SaveDlgUser.h"
#include "SaveOptionsDlg.h"
#include "SimStorage.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QtTest>
#include <cstring>
#include <utility>
#include <vector>

// The savers driven as the pages drive them: the dialog handed its frames through its setters,
// scale bar of the configured 10X objective, the user's choices made in the dialog, OK pressed;
// every file read back by Python (tifffile, Pillow) and compared with the frames handed over.

namespace {

constexpr int W = 1280;
constexpr int H = 1024;
constexpr QPointF kBar(100, 950);
// 100 um with the 10X objective: 3.63 um camera pixels behind a 0.655 reduction lens.
const float kBarPixels = 100.0f / (3.63f / (10 * 0.655f));
const QRect kTextArea(595, 270, 260, 40); // the annotation line at (600, 300)

const QString kComplete = MessageDlg::presetText(MSG_SAVE_COMPLETE);
const QString kFailed = MessageDlg::presetText(MSG_SAVE_FAILED);
const QString kNotDetected = MessageDlg::presetText(MSG_USB_NOT_DETECTED);

quint16 cameraWord(int v)
{
    return quint16((v >> 4) | ((v & 15) << 12));
}

// A frame as the page hands it over (camera layout at 16 bits) and as its file must hold it.
struct Frame
{
    int bits = 8;
    int samples = 1;
    QByteArray handed;
    QByteArray file;

    // Smooth, distinct per seed; 8-bit samples stay below 250 so that every mark shows.
    static Frame make(int bits, int samples, int seed)
    {
        Frame f{bits, samples, {}, {}};
        const int count = W * H * samples;
        f.handed.resize(count * bits / 8);
        f.file.resize(count * bits / 8);
        for (int i = 0; i < count; ++i) {
            const int p = i / samples, x = p % W, y = p / W, k = i % samples;
            const int v = bits == 8 ? (x + 2 * y + 37 * seed + 60 * k) % 250 : (3 * x + 2 * y + 101 * seed + 900 * k) % 4096;
            if (bits == 8) {
                f.handed[i] = f.file[i] = char(v);
            } else {
                reinterpret_cast<quint16 *>(f.handed.data())[i] = cameraWord(v);
                reinterpret_cast<quint16 *>(f.file.data())[i] = quint16(v);
            }
        }
        return f;
    }
    unsigned char *data() { return reinterpret_cast<unsigned char *>(handed.data()); }
};

// What one saved file must be.
struct Expected
{
    QString path;
    const Frame *frame;
    QString text;
    bool bar = false;     // the scale bar burnt in
    bool line = false;    // the annotation line burnt in
    int orientation = 1;
};

QVector<int> sampleAt(const QByteArray &bytes, int bits, int samples, int x, int y)
{
    QVector<int> out;
    for (int k = 0; k < samples; ++k) {
        const int at = (y * W + x) * samples + k;
        out << (bits == 16 ? reinterpret_cast<const quint16 *>(bytes.constData())[at] : quint8(bytes[at]));
    }
    return out;
}

// The mark's value in the file: 255 grey or the red bar, at 16 bits rotated into 4080.
QVector<int> markValue(int bits, int samples)
{
    const int full = bits == 16 ? 4080 : 255;
    return samples == 1 ? QVector<int>{full} : QVector<int>{full, 0, 0};
}

// Empty when the file read by Python is the frame with the expected marks, else what differs.
QString mismatch(const Expected &e, const PythonImage &image)
{
    const Frame &f = *e.frame;
    const QString shape = QString("%1x%2%3").arg(H).arg(W).arg(f.samples == 3 ? "x3" : "");
    if (image.shape != shape || image.dtype != (f.bits == 16 ? "uint16" : "uint8"))
        return QString("read as %1 %2").arg(image.shape, image.dtype);
    const bool tiff = e.path.endsWith(".tif");
    if (tiff && (image.description != e.text || image.orientation != e.orientation))
        return QString("description \"%1\", orientation %2").arg(image.description).arg(image.orientation);
    if (image.samples.size() != f.file.size())
        return "samples missing";
    if (e.path.endsWith(".jpg")) {
        double sum = 0;
        for (int i = 0; i < f.file.size(); ++i)
            sum += std::abs(int(quint8(image.samples[i])) - int(quint8(f.file[i])));
        return sum / f.file.size() < 8 ? QString() : QString("JPG differs by %1 on average").arg(sum / f.file.size());
    }
    const QRect barArea = QRectF(kBar.x() - 8, kBar.y() - 14, kBarPixels + 16, 45).toAlignedRect();
    const QVector<int> mark = markValue(f.bits, f.samples);
    const int rowBytes = f.file.size() / H;
    for (int y = 0; y < H; ++y) {
        if (std::memcmp(image.samples.constData() + y * rowBytes, f.file.constData() + y * rowBytes, size_t(rowBytes)) == 0)
            continue;
        for (int x = 0; x < W; ++x) {
            const QVector<int> now = sampleAt(image.samples, f.bits, f.samples, x, y);
            if (now == sampleAt(f.file, f.bits, f.samples, x, y))
                continue;
            const bool marked = (e.bar && barArea.contains(x, y)) || (e.line && kTextArea.contains(x, y));
            if (!marked || now != mark)
                return QString("pixel %1, %2 differs from the frame").arg(x).arg(y);
        }
    }
    if (e.bar)
        for (int x = int(kBar.x()) + 3; x < kBar.x() + kBarPixels - 3; ++x)
            for (int y = int(kBar.y()) - 1; y <= kBar.y() + 1; ++y)
                if (sampleAt(image.samples, f.bits, f.samples, x, y) != mark)
                    return QString("no bar at %1, %2").arg(x).arg(y);
    return QString();
}

void setConfig(const char *section, const char *key, const QString &value)
{
    WritePrivateProfileString(section, key, value.toStdString(), Paths::configFile().toStdString());
}

// The user and the instrument of every case: the drives of the simulated instrument, the 10X
// objective at position 1, a red 100 um bar, the filter cubes (one named with a "/").
struct Bench
{
    SaveDlgUser user{true};
    Bench()
    {
        setConfig("Lens", "1", "10X");
        setConfig("LensType", "1", "Quorva");
        setConfig("ScaleBar", "ScaleBarSize", "2");
        setConfig("ScaleBar", "ScaleBarColor", "0");
        const char *cubes[4] = {"Trans", "G/FP", "RFP", "DAPI"};
        for (int key = 0; key < 4; ++key)
            setConfig("Filter", QByteArray::number(key), cubes[key]);
        g_PreviouslySavedPath = user.usb;
    }

    // The user names the file on the keyboard, picks the format row and the colour, presses OK;
    // after a failed save, Cancel.
    void choose(const QString &name, int formatRow = 0, bool pseudo = false)
    {
        user.keyboardText = name;
        user.act = [formatRow, pseudo](SaveOptionsDlg *dialog) {
            QTest::mouseClick(dialog->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
            dialog->findChild<QComboBox *>("COMBO_IMAGE_FORMAT")->setCurrentIndex(formatRow);
            auto *radio = dialog->findChild<QAbstractButton *>(pseudo ? "RADIO_COLOR_PSEUDO_COLOR" : "RADIO_COLOR_MONOCHROME");
            if (radio->isEnabled())
                radio->click();
            DialogRunner::click(dialog, "BUTTON_APPLY");
            // The run is over: a saved dialog closes by itself, a failed one stays for Cancel.
            QTimer::singleShot(300, dialog, [dialog] {
                if (dialog->isVisible())
                    DialogRunner::click(dialog, "BUTTON_CANCEL");
            });
        };
    }

    // The page's part: option, depth, scale bar and where it stands.
    static void prepare(SaveOptionsDlg &dialog, TSaveOption option, int bits, bool pseudo = false,
                        TSubOption sub = SUB_OPTION_NONE)
    {
        dialog.setCurrentSaveOption(option, pseudo, sub);
        dialog.setImageBits(bits);
        dialog.setDrawingScaleBar(true, 1);
        dialog.m_ScaleBarPoint = kBar;
        dialog.generateCapturedImageMetaData();
    }

    QStringList files(const QString &folder) const
    {
        QStringList out = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        return out;
    }
};

// Checks every expected file with one Python run.
void verifyFiles(const QList<Expected> &expected, const QString &scratch)
{
    QStringList paths;
    for (const Expected &e : expected)
        paths << e.path;
    const QList<PythonImage> images = PythonImage::read(paths, scratch);
    for (int i = 0; i < expected.size(); ++i) {
        const QString why = mismatch(expected[i], images[i]);
        QVERIFY2(why.isEmpty(), qPrintable(QFileInfo(expected[i].path).fileName() + ": " + why));
    }
}

// A work folder of numbered raw frames, as the z-stack and time-lapse pages leave them.
QList<Frame> writeWorkFiles(const QString &fixedFolder, int count, int bits)
{
    QDir().mkpath(Paths::path(fixedFolder));
    QList<Frame> frames;
    for (int i = 0; i < count; ++i) {
        frames << Frame::make(bits, 1, 10 + i);
        ImReaderWriter raw;
        raw.load(frames[i].data(), W, H, quint16(bits), 1, 1, 1, 1);
        raw.write(QFile::encodeName(Paths::path(fixedFolder) + QString("Temp_%1.raw").arg(i, 6, 10, QChar('0'))), {});
    }
    return frames;
}

// A TIFF file as this system writes it: the frame in the file layout, orientation, text.
void writeTiff(const QString &path, const Frame &frame, const QByteArray &text, int orientation = 1)
{
    ImReaderWriter tiff;
    tiff.load(frame.handed.constData(), W, H, quint16(frame.bits), quint16(frame.samples), 1,
              frame.samples == 3 ? 2 : 1, orientation);
    QVERIFY(tiff.write(QFile::encodeName(path), text));
}

} // namespace

class TestSavers : public QObject
{
    Q_OBJECT
private slots:
    // Four channels, the overlay and the annotated image of the Multicolor page: one file each,
    // named after the filter cubes, with the bar where the page put it.
    void multicolor_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<int>("formatRow");
        QTest::newRow("8-bit monochrome tif") << 8 << false << 0;
        QTest::newRow("8-bit pseudo colour tif") << 8 << true << 0;
        QTest::newRow("16-bit monochrome") << 16 << false << 0;
        QTest::newRow("16-bit pseudo colour") << 16 << true << 0;
        QTest::newRow("8-bit monochrome png") << 8 << false << 1;
        QTest::newRow("8-bit pseudo colour jpg") << 8 << true << 2;
        QTest::newRow("8-bit monochrome bmp") << 8 << false << 3;
    }
    void multicolor()
    {
        QFETCH(int, bits);
        QFETCH(bool, pseudo);
        QFETCH(int, formatRow);
        Bench bench;
        const QString extension = QStringList{"tif", "png", "jpg", "bmp"}[formatRow];
        QList<Frame> grey, colour;
        for (int c = 0; c < 4; ++c) {
            grey << Frame::make(bits, 1, c);
            colour << Frame::make(bits, 3, c);
        }
        Frame overlay = Frame::make(bits, 3, 7), annotated = Frame::make(8, 3, 8);
        bench.choose("Cells", formatRow, pseudo);
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_MULTICOLOR, bits);
            for (int c = 0; c < 4; ++c) {
                if (bits == 8) {
                    dialog.setImageData8(c, grey[c].data());
                    dialog.setImageData24(c, colour[c].data());
                } else {
                    dialog.setImageData16(c, grey[c].data());
                    dialog.setImageData48(c, colour[c].data());
                }
            }
            if (bits == 8)
                dialog.setOverlayImageData24(overlay.data());
            else
                dialog.setOverlayImageData48(overlay.data());
            dialog.setAnnotationImageData(annotated.data());
            const bool all[4] = {true, true, true, true};
            dialog.generateOverlayImageMetaData(all);
            QCOMPARE(dialog.exec(), 1);
            QCOMPARE(dialog.savedCount(), 6);
        }
        QCOMPARE(bench.user.messages, QStringList{kComplete});
        QCOMPARE(bench.user.syncs(), 6);
        // Channel c is named by [Filter] key 0, 3, 2, 1.
        const QString base = bench.user.usb + "/Cells_";
        const char *names[4] = {"Trans", "DAPI", "RFP", "G_FP"};
        const TCapturedImageMetaData meta = capturedImageMetaData();
        QList<Expected> expected;
        for (int c = 0; c < 4; ++c)
            expected << Expected{base + names[c] + "." + extension, pseudo ? &colour[c] : &grey[c], meta.metaText(c), true};
        SaveOptionsDlg texts; // the overlay text as the page builds it
        const bool all[4] = {true, true, true, true};
        texts.generateOverlayImageMetaData(all);
        expected << Expected{base + "Overlay." + extension, &overlay, texts.overlayImageMetaData(), true}
                 << Expected{base + "Overlay_Annotation." + extension, &annotated, texts.overlayImageMetaData()};
        QStringList names8;
        for (const Expected &e : expected)
            names8 << QFileInfo(e.path).fileName();
        names8.sort();
        QCOMPARE(bench.files(bench.user.usb), names8);
        verifyFiles(expected, bench.user.root.path());
    }

    // The single page, the cell-count page and the growth monitor.
    void singleImage()
    {
        Bench bench;
        Frame grey = Frame::make(16, 1, 1), annotated = Frame::make(8, 3, 2);
        bench.choose("One");
        for (bool withAnnotation : {false, true}) {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_SINGLE, withAnnotation ? 8 : 16);
            dialog.setImageData16(0, grey.data());
            dialog.setAnnotationImageData(annotated.data());
            if (withAnnotation)
                dialog.findChild<QAbstractButton *>("CHKBOX_SAVE_WITH_ANNOTATION")->setChecked(true);
            QCOMPARE(dialog.exec(), 1);
        }
        // No bar on single images; the second save of the name gets "(1)".
        QCOMPARE(bench.files(bench.user.usb), (QStringList{"One(1).tif", "One.tif"}));
        const QString text = capturedImageMetaData().metaText(0);
        verifyFiles({{bench.user.usb + "/One.tif", &grey, text}, {bench.user.usb + "/One(1).tif", &annotated, text}},
                    bench.user.root.path());
    }

    void cellCount()
    {
        Bench bench;
        Frame grey = Frame::make(8, 1, 1), tagged = Frame::make(8, 3, 2);
        CSVReaderWriter csv;
        csv.setHeader("Index,Area,Intensity");
        csv.fillCSVData("1,120.5,88");
        bench.choose("Count1");
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_CELLCOUNT, 8, false, SUB_OPTION_CELLCOUNT_RESULT);
            dialog.setImageData8(0, grey.data());
            dialog.setOverlayImageData24(tagged.data());
            dialog.setCSVReaderWriter(csv);
            QCOMPARE(dialog.exec(), 1);
            QCOMPARE(dialog.savedCount(), 3);
        }
        QCOMPARE(bench.files(bench.user.usb), (QStringList{"Count1.csv", "Count1.tif", "Count1_TAG.tif"}));
        const QString text = capturedImageMetaData().metaText(0);
        verifyFiles({{bench.user.usb + "/Count1.tif", &grey, text}, {bench.user.usb + "/Count1_TAG.tif", &tagged, text}},
                    bench.user.root.path());
        QFile table(bench.user.usb + "/Count1.csv");
        QVERIFY(table.open(QIODevice::ReadOnly));
        QCOMPARE(table.readAll(), QByteArray("Index,Area,Intensity\n1,120.5,88"));
    }

    // Two analysed frames (16-bit raw, 8-bit segmentation, 8-bit RGB count) and one whose raw
    // frame is unreadable: written in the order segmentation, count, raw per result; the raw
    // frame keeps its intensities; the unreadable one is reported, never hidden.
    void growthMonitor_data()
    {
        QTest::addColumn<QString>("ticked"); // R raw, C count, S segmentation
        QTest::addColumn<QStringList>("written");
        QTest::newRow("all") << "RCS" << QStringList{"G_0001_segmentation.tif", "G_0001_count.tif", "G_0001.tif",
                                                      "G_0002_segmentation.tif", "G_0002_count.tif", "G_0002.tif"};
        QTest::newRow("raw only") << "R" << QStringList{"G_0001.tif", "G_0002.tif"};
        QTest::newRow("raw only, counts only") << "R-" << QStringList{"G_0001.tif", "G_0002.tif"};
        QTest::newRow("unreadable raw frame") << "RCSx" << QStringList{"G_0001_segmentation.tif", "G_0001_count.tif",
                                                                      "G_0001.tif", "G_0002_segmentation.tif", "G_0002_count.tif"};
    }
    void growthMonitor()
    {
        QFETCH(QString, ticked);
        QFETCH(QStringList, written);
        Bench bench;
        const QString work = Paths::path("/media/VANTOR SSD/.GrowthMonitor/");
        QDir().mkpath(work);
        QList<Frame> raw, segmentation, count;
        for (int i = 0; i < 2; ++i) {
            const QString stem = work + QString("R_count%1").arg(i + 1); // only the last "_count" goes
            raw << Frame::make(16, 1, i);
            segmentation << Frame::make(8, 1, 10 + i);
            count << Frame::make(8, 3, 20 + i);
            writeTiff(stem + ".tif", raw[i], "raw");
            if (!ticked.contains('-'))
                writeTiff(stem + "_result.tif", segmentation[i], "result");
            writeTiff(stem + "_count.tif", count[i], "count");
        }
        if (ticked.contains('x'))
            QFile::resize(work + "R_count2.tif", 5000);
        QStringList order;
        const QString folder = bench.user.usb + "/G";
        bench.user.onSync = [&] {
            for (const QString &file : QDir(folder).entryList(QDir::Files))
                if (!order.contains(file))
                    order << file;
        };
        bench.choose("G");
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_GROWTH_MONITOR, 8, true);
            dialog.findChild<QAbstractButton *>("CHKBOX_RESULT")->setChecked(ticked.contains('C'));
            dialog.findChild<QAbstractButton *>("CHKBOX_SEGMENTATION")->setChecked(ticked.contains('S'));
            QCOMPARE(dialog.exec(), ticked.contains('x') ? 0 : 1);
        }
        QCOMPARE(order, written);
        QCOMPARE(bench.user.messages, QStringList{ticked.contains('x')
            ? "<p><b>Save Incomplete</b><br/><br/>1 of 6 images could not be read.</p>" : kComplete});
        const QString text = capturedImageMetaData().metaText(0);
        QList<Expected> expected;
        for (const QString &name : written) {
            const int i = name.mid(2, 4).toInt() - 1;
            const Frame *frame = name.contains("segm") ? &segmentation[i] : name.contains("count") ? &count[i] : &raw[i];
            expected << Expected{folder + "/" + name, frame, text};
        }
        verifyFiles(expected, bench.user.root.path());
    }

    // Work files of a run turned into a numbered series in a folder of the run's name: grey with
    // the bar, or pseudo colour; a work file that cannot be read is passed over and reported.
    void series_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<int>("broken"); // index of a truncated work file, or -1
        QTest::newRow("time lapse, 8-bit grey") << int(SAVE_OPTION_TIMELAPSE) << 8 << false << -1;
        QTest::newRow("time lapse, 8-bit green") << int(SAVE_OPTION_TIMELAPSE) << 8 << true << -1;
        QTest::newRow("z-stack, 16-bit grey") << int(SAVE_OPTION_ZSTACK) << 16 << false << -1;
        QTest::newRow("z-stack, 16-bit green") << int(SAVE_OPTION_ZSTACK) << 16 << true << -1;
        QTest::newRow("time lapse, second unreadable") << int(SAVE_OPTION_TIMELAPSE) << 8 << false << 1;
    }
    void series()
    {
        QFETCH(int, option);
        QFETCH(int, bits);
        QFETCH(bool, pseudo);
        QFETCH(int, broken);
        Bench bench;
        const QString work = option == SAVE_OPTION_ZSTACK ? "/media/VANTOR SSD/.ZStack/" : "/media/VANTOR SSD/.TimeLapse/";
        const QList<Frame> frames = writeWorkFiles(work, 3, bits);
        if (broken >= 0)
            QFile::resize(Paths::path(work) + QString("Temp_%1.raw").arg(broken, 6, 10, QChar('0')), 1000);
        bench.choose("Run", 0, pseudo);
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, TSaveOption(option), bits, pseudo);
            dialog.setFilterColorIndex(1);
            QCOMPARE(dialog.exec(), broken < 0 ? 1 : 0);
        }
        QCOMPARE(bench.user.messages, QStringList{broken < 0 ? kComplete
            : "<p><b>Save Incomplete</b><br/><br/>1 of 3 images could not be read.</p>"});
        QList<Frame> green;
        QList<Expected> expected;
        QStringList names;
        for (int i = 0; i < 3; ++i) {
            Frame g = Frame::make(bits, 3, 0);
            const auto *words = reinterpret_cast<const quint16 *>(frames[i].file.constData());
            for (int p = 0; p < W * H * 3; ++p) {
                const int v = bits == 8 ? quint8(frames[i].file[p / 3]) : words[p / 3];
                if (bits == 8)
                    g.file[p] = char(p % 3 == 1 ? v : 0);
                else
                    reinterpret_cast<quint16 *>(g.file.data())[p] = quint16(p % 3 == 1 ? v : 0);
            }
            green << g;
        }
        for (int i = 0; i < 3; ++i) {
            if (i == broken)
                continue;
            names << QString("Run_%1.tif").arg(i + 1, 4, 10, QChar('0'));
            expected << Expected{bench.user.usb + "/Run/" + names.last(), pseudo ? &green[i] : &frames[i],
                                 capturedImageMetaData().metaText(0), true};
        }
        QCOMPARE(bench.files(bench.user.usb + "/Run"), names);
        verifyFiles(expected, bench.user.root.path());
    }

    // Stored images of a run written again: 16-bit files keep their intensities and orientation,
    // each gets the bar and its own annotation line (none past the last line), its own text.
    void imageList_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("samples");
        QTest::newRow("16-bit grey") << 16 << 1;
        QTest::newRow("8-bit grey") << 8 << 1;
        QTest::newRow("8-bit colour") << 8 << 3;
    }
    void imageList()
    {
        QFETCH(int, bits);
        QFETCH(int, samples);
        Bench bench;
        const QString stored = bench.user.usb + "/stored";
        QDir().mkpath(stored);
        QList<Frame> frames;
        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            frames << Frame::make(bits, samples, i);
            paths << stored + QString("/Z_%1.tif").arg(i + 1, 4, 10, QChar('0'));
            writeTiff(paths[i], frames[i], "Stored " + QByteArray::number(i), 3);
        }
        bench.choose("List");
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_ZSTACK_IMAGES, bits);
            dialog.m_AnnotationTextInfo.visible = true;
            dialog.m_AnnotationTextInfo.x = 600;
            dialog.m_AnnotationTextInfo.y = 300;
            dialog.m_AnnotationTextInfo.color = Qt::red;
            dialog.setLoadImagePathList(paths, {"Z 0 um", "Z 5 um"});
            QCOMPARE(dialog.exec(), 1);
        }
        QList<Expected> expected;
        for (int i = 0; i < 3; ++i)
            expected << Expected{bench.user.usb + QString("/List/List_%1.tif").arg(i + 1, 4, 10, QChar('0')), &frames[i],
                                 "Stored " + QString::number(i), true, i < 2, 3};
        verifyFiles(expected, bench.user.root.path());
    }

    // The drive pulled after the first file: the first file stays, "USB Drive Not Detected" then
    // "Save Failed", nothing more is written. A quick save says only the first.
    void pulledAfterFirstFile_data()
    {
        QTest::addColumn<bool>("quick");
        QTest::newRow("normal") << false;
        QTest::newRow("quick save") << true;
    }
    void pulledAfterFirstFile()
    {
        QFETCH(bool, quick);
        Bench bench;
        QList<Frame> grey;
        for (int c = 0; c < 4; ++c)
            grey << Frame::make(8, 1, c);
        const QString volume = quick ? Paths::path("/media/VANTOR SSD") : bench.user.usb;
        const QString contents = quick ? SimStorage::contentsPath(SimStorage::ssdName) + "/Quicksave"
                                       : SimStorage::contentsPath(SimStorage::usbName);
        bool pulled = false;
        bench.user.onSync = [&] {
            if (std::exchange(pulled, true))
                return;
            QVERIFY(SimStorage::pull(quick ? SimStorage::ssdName : SimStorage::usbName, nullptr));
            QVERIFY(QFile::remove(volume)); // its mount point goes with it
        };
        bench.choose("Cells");
        if (quick)
            bench.user.act = nullptr; // a quick save presses OK by itself
        int result = -1;
        {
            SaveOptionsDlg dialog(nullptr, quick);
            Bench::prepare(dialog, SAVE_OPTION_MULTICOLOR, 8);
            for (int c = 0; c < 4; ++c)
                dialog.setImageData8(c, grey[c].data());
            result = dialog.exec();
        }
        QCOMPARE(result, 0);
        const QStringList shown = quick ? QStringList{kNotDetected} : QStringList{kNotDetected, kFailed};
        QCOMPARE(bench.user.messages, shown);
        const QStringList kept = QDir(contents).entryList(QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY(kept[0].endsWith("_Trans.tif"));
    }

    // Frames a saver needs but was not handed, and names too long for the file system: found
    // before the first file, nothing written, "Save Failed".
    void refusedBeforeTheFirstFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("pseudo colour without colour frames") << "pseudo";
        QTest::newRow("tagged image without overlay") << "tagged";
        QTest::newRow("results without table") << "table";
        QTest::newRow("rendered image on a plain save") << "rendered";
        QTest::newRow("numbered name too long") << "long";
    }
    void refusedBeforeTheFirstFile()
    {
        QFETCH(QString, what);
        Bench bench;
        Frame grey = Frame::make(8, 1, 0), colour = Frame::make(8, 3, 1);
        CSVReaderWriter csv;
        QString name = "Bad";
        if (what == "long") {
            name = QString(248, 'n');
            writeWorkFiles("/media/VANTOR SSD/.TimeLapse/", 1, 8);
        }
        bench.choose(name, 0, what == "pseudo");
        {
            SaveOptionsDlg dialog;
            if (what == "pseudo") {
                Bench::prepare(dialog, SAVE_OPTION_MULTICOLOR, 8);
                dialog.setImageData8(0, grey.data());
                dialog.setImageData8(1, grey.data());
            } else if (what == "long") {
                Bench::prepare(dialog, SAVE_OPTION_TIMELAPSE, 8);
            } else {
                Bench::prepare(dialog, SAVE_OPTION_CELLCOUNT, 8, false, SUB_OPTION_CELLCOUNT_RESULT);
                dialog.setImageData8(0, grey.data());
                if (what != "tagged")
                    dialog.setOverlayImageData24(colour.data());
                if (what == "rendered")
                    dialog.setAnnotationImageData(colour.data());
                if (what != "table")
                    dialog.setCSVReaderWriter(csv);
            }
            QCOMPARE(dialog.exec(), 0);
        }
        QCOMPARE(bench.user.messages, QStringList{kFailed});
        QCOMPARE(bench.user.syncs(), 0);
        QStringList left = QDir(bench.user.usb).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        if (what == "long") { // the run's folder is made before its files
            QCOMPARE(left, QStringList{name});
            left = QDir(bench.user.usb + "/" + name).entryList(QDir::Files);
        }
        QCOMPARE(left, QStringList());
    }

    // The work-file lister: real names in name order, or names rebuilt from the count by index.
    void workFileLists()
    {
        Bench bench;
        const QString folder = bench.user.root.makeDir("/work") + "/";
        for (const char *name : {"Temp_000002.raw", "Temp_000000.raw", "a.tif", "Temp_000001.tif"})
            QFile(folder + name).open(QIODevice::WriteOnly);
        SaveOptionsDlg dialog;
        dialog.loadRAWFiles(folder, {"Temp_*.raw", "*.tif"}, QDir::Files, false);
        const QStringList real{folder + "Temp_000000.raw", folder + "Temp_000002.raw", folder + "Temp_000001.tif",
                               folder + "a.tif"};
        QCOMPARE(dialog.rawFileList(), real);
        dialog.loadRAWFiles(folder, {"Temp_*.raw", "*.tif", "*"}, QDir::Files, true);
        const QStringList rebuilt{folder + "Temp_000000.raw", folder + "Temp_000001.raw", folder + "Temp_000000.tif",
                                  folder + "Temp_000001.tif"};
        QCOMPARE(dialog.rawFileList(), rebuilt);
    }
};

QTEST_MAIN(TestSavers)
#include "tst_savers.moc"
