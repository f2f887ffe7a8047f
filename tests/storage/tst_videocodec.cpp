// The FFmpeg encoder and decoder wrappers: a video of known frames written, read back by ffprobe
// and by the decoder (in order and by seeking), the own BT.601 conversion against swscale, and
// their failure results.
#include "HangBound.h"
#include "QVideoDecoder.h"
#include "QVideoEncoder.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 30;

// Frame i: a flat colour that tells the frame's number, with a smooth ramp over it.
QImage frame(int i)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x)
            line[x] = qRgb(i * 8, 64 + x / 8, 200 - y / 4);
    }
    return image;
}

// The planes of the encoder's picture frame.
QByteArray planes(const AVFrame *picture)
{
    QByteArray bytes;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? kWidth / 2 : kWidth, h = plane ? kHeight / 2 : kHeight;
        for (int y = 0; y < h; ++y)
            bytes.append(reinterpret_cast<const char *>(picture->data[plane] + y * picture->linesize[plane]), w);
    }
    return bytes;
}

} // namespace

class TestVideoCodec : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString video() const { return m_dir.filePath("frames.mp4"); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVideoEncoder encoder;
        QVERIFY(encoder.createFile(video(), kWidth, kHeight, 2000000, 10, 10));
        QVERIFY(encoder.isOk());
        for (int i = 0; i < kFrames; ++i)
            QVERIFY(encoder.encodeImage(frame(i)) >= 0);
        QVERIFY(encoder.close());
        QVERIFY(!encoder.isOk());
    }

    // ffprobe finds the size and the pixel format in the file's header and counts every frame.
    void probed()
    {
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                "stream=width,height,pix_fmt,nb_read_frames", "-of", "default=noprint_wrappers=1", video()});
        QVERIFY(probe.waitForFinished(kHangBoundMs));
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        for (const QString &line : {QString("width=%1").arg(kWidth), QString("height=%1").arg(kHeight),
                                    QString("pix_fmt=yuv420p"), QString("nb_read_frames=%1").arg(kFrames)})
            QVERIFY2(out.contains(line), qPrintable(out));
    }

    // Frames in order, then by number and by time, each the picture that was encoded.
    void decoded()
    {
        QVideoDecoder decoder;
        QCOMPARE(decoder.getVideoLengthMs(), -1);
        QVERIFY(!decoder.seekNextFrame());
        QVERIFY(decoder.openFile(video()));
        QVERIFY(qAbs(decoder.getVideoLengthMs() - 3000) <= 100);
        QImage image;
        int number = -1, time = -1;
        for (int i = 0; i < kFrames; ++i) {
            QVERIFY(decoder.seekNextFrame());
            QVERIFY(decoder.getFrame(image, &number, &time));
            QCOMPARE(number, i);
            QCOMPARE(time, i * 100);
            QVERIFY2(qAbs(qRed(image.pixel(100, 100)) - i * 8) <= 6, qPrintable(QString::number(i)));
        }
        QVERIFY(!decoder.seekNextFrame());

        int desired = -1;
        for (int target : {20, 5, 27}) {
            QVERIFY(decoder.seekFrame(target));
            QVERIFY(decoder.getFrame(image, &number, nullptr, &desired));
            QCOMPARE(number, target);
            QCOMPARE(desired, target);
            QVERIFY(qAbs(qRed(image.pixel(10, 10)) - target * 8) <= 6);
        }
        QVERIFY(decoder.seekMs(1500));
        QVERIFY(decoder.getFrame(image, &number, &time));
        QCOMPARE(number, 15);
        QCOMPARE(image.format(), QImage::Format_RGB888);

        // The PPM dump of the last picture.
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        decoder.saveFramePPM(decoder.rgbFrame(), kWidth, kHeight, 15);
        QDir::setCurrent(previous);
        QFile ppm(m_dir.filePath("frame15.ppm"));
        QVERIFY(ppm.open(QIODevice::ReadOnly));
        const QByteArray header = QByteArray("P6\n") + QByteArray::number(kWidth) + " " + QByteArray::number(kHeight) + "\n255\n";
        QVERIFY(ppm.read(header.size()) == header);
        QCOMPARE(ppm.size(), qint64(header.size()) + kWidth * kHeight * 3);
        decoder.close();
        QVERIFY(!decoder.isOk());
        QVERIFY(!decoder.openFile(m_dir.filePath("missing.mp4")));
    }

    // The own conversion agrees with swscale within 1 on smooth pictures; white and black land on
    // the studio range.
    void conversion()
    {
        QVideoEncoder encoder;
        QVERIFY(encoder.createFile(m_dir.filePath("conversion.mp4"), kWidth, kHeight, 1000000, 10, 10));
        QVERIFY(encoder.convertImage(frame(9)));
        const QByteArray own = planes(encoder.picture());
        QVERIFY(encoder.convertImage_sws(frame(9)));
        const QByteArray sws = planes(encoder.picture());
        int worst = 0;
        for (int i = 0; i < own.size(); ++i)
            worst = qMax(worst, qAbs(int(uchar(own[i])) - int(uchar(sws[i]))));
        QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));

        for (const auto &[colour, y, chroma] : {std::make_tuple(Qt::white, 235, 128), std::make_tuple(Qt::black, 16, 128)}) {
            QImage flat(kWidth, kHeight, QImage::Format_ARGB32);
            flat.fill(colour);
            QVERIFY(encoder.convertImage(flat));
            const AVFrame *picture = encoder.picture();
            QCOMPARE(int(picture->data[0][0]), y);
            QCOMPARE(int(picture->data[1][0]), chroma);
            QCOMPARE(int(picture->data[2][0]), chroma);
        }
        QVERIFY(!encoder.convertImage(frame(0).convertToFormat(QImage::Format_Indexed8)));
        QVERIFY(!encoder.convertImage(QImage(kWidth - 8, kHeight, QImage::Format_RGB32)));
        QVERIFY(encoder.close());
    }

    // A size that is no multiple of 8 leaves the encoder closed; a closed encoder encodes
    // nothing; an unknown extension falls back to the MPEG container.
    void failures()
    {
        QVideoEncoder encoder;
        QVERIFY(!encoder.createFile(m_dir.filePath("bad.mp4"), 1278, 1024, 1000000, 10));
        QVERIFY(!encoder.isOk());
        QCOMPARE(encoder.encodeImage(frame(0)), -1);
        QVERIFY(!encoder.createFile(m_dir.filePath("no/folder/x.mp4"), kWidth, kHeight, 1000000, 10));
        QVERIFY(encoder.createFile(m_dir.filePath("plain.xyz"), kWidth, kHeight, 1000000, 10));
        QVERIFY(encoder.encodeImage(frame(1)) >= 0);
        QCOMPARE(encoder.encodeImage(QImage(16, 16, QImage::Format_RGB32)), -1);
        QVERIFY(encoder.close());
        QVideoDecoder decoder(m_dir.filePath("plain.xyz"));
        QVERIFY(decoder.isOk());
        QVERIFY(decoder.seekNextFrame());
    }
};

QTEST_MAIN(TestVideoCodec)
#include "tst_videocodec.moc"
