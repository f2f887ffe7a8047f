#pragma once
// The savers driven as the pages drive them: the dialog handed its frames through its setters,
// scale bar of the configured 10X objective, the user's choices made in the dialog, OK pressed;
// every file read back by Python (tifffile, Pillow) and compared with the frames handed over.
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

constexpr int W = 1280;
constexpr int H = 1024;
constexpr QPointF kBar(100, 950);
// 100 um with the 10X objective: 3.63 um camera pixels behind a 0.655 reduction lens.
inline const float kBarPixels = 100.0f / (3.63f / (10 * 0.655f));
inline const QRect kTextArea(595, 270, 260, 40); // the annotation line at (600, 300)

inline const QString kComplete = MessageDlg::presetText(MSG_SAVE_COMPLETE);
inline const QString kFailed = MessageDlg::presetText(MSG_SAVE_FAILED);
inline const QString kNotDetected = MessageDlg::presetText(MSG_USB_NOT_DETECTED);

inline quint16 cameraWord(int v)
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

inline QVector<int> sampleAt(const QByteArray &bytes, int bits, int samples, int x, int y)
{
    QVector<int> out;
    for (int k = 0; k < samples; ++k) {
        const int at = (y * W + x) * samples + k;
        out << (bits == 16 ? reinterpret_cast<const quint16 *>(bytes.constData())[at] : quint8(bytes[at]));
    }
    return out;
}

// The mark's value in the file: 255 grey or the red bar, at 16 bits rotated into 4080.
inline QVector<int> markValue(int bits, int samples)
{
    const int full = bits == 16 ? 4080 : 255;
    return samples == 1 ? QVector<int>{full} : QVector<int>{full, 0, 0};
}

// Empty when the file read by Python is the frame with the expected marks, else what differs.
inline QString mismatch(const Expected &e, const PythonImage &image)
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

inline void setConfig(const char *section, const char *key, const QString &value)
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
inline void verifyFiles(const QList<Expected> &expected, const QString &scratch)
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
inline QList<Frame> writeWorkFiles(const QString &fixedFolder, int count, int bits)
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
inline void writeTiff(const QString &path, const Frame &frame, const QByteArray &text, int orientation = 1)
{
    ImReaderWriter tiff;
    tiff.load(frame.handed.constData(), W, H, quint16(frame.bits), quint16(frame.samples), 1,
              frame.samples == 3 ? 2 : 1, orientation);
    QVERIFY(tiff.write(QFile::encodeName(path), text));
}
