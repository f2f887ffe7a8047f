#include "ZStackSliceWriter.h"

#include "FrameThumbnail.h"

#include <QFile>
#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>

ZStackSliceWriter::ZStackSliceWriter()
    : m_Frame8(size_t(kWidth) * kHeight)
    , m_HalfBand(size_t(kWidth / 2) * (kBandRows / 2))
    , m_Quarter(size_t(kWidth / 4) * (kHeight / 4))
{
}

bool ZStackSliceWriter::setFrame(const uchar *frame, int bits)
{
    if (!frame || (bits != 8 && bits != 16))
        return false;
    auto *samples = static_cast<uchar *>(m_Image.reserve(kWidth, kHeight, quint16(bits), 1, 1, 1, 1));
    if (!samples) {
        m_nBits = 0;
        return false;
    }
    m_nBits = bits;
    const size_t bandPixels = size_t(kWidth) * kBandRows;
    const bool alignedWords = reinterpret_cast<quintptr>(frame) % alignof(quint16) == 0;
    uchar *view = bits == 16 ? m_Frame8.data() : samples;
    for (int y = 0; y < kHeight; y += kBandRows) {
        const size_t first = size_t(y) * kWidth;
        if (bits == 8) {
            std::memcpy(samples + first, frame + first, bandPixels);
        } else {
            // Held as plain intensities, so that the write has no pass of its own to make.
            const uchar *in = frame + 2 * first;
            quint16 *words = m_Image.buffer16.get() + first;
            if (alignedWords) {
                ImReaderWriter::toPlainIntensities(reinterpret_cast<const quint16 *>(in), words, bandPixels);
            } else {
                std::memcpy(words, in, 2 * bandPixels);
                ImReaderWriter::toPlainIntensities(words, words, bandPixels);
            }
            uchar *out = view + first;
            for (size_t i = 0; i < bandPixels; ++i) // the most significant byte of each word comes first
                out[i] = in[2 * i];
        }
        // A band this small is halved twice on this thread (OpenCV shares out only larger
        // images); 2 x 2 blocks never straddle two bands.
        const cv::Mat band(kBandRows, kWidth, CV_8UC1, view + first);
        cv::Mat half(kBandRows / 2, kWidth / 2, CV_8UC1, m_HalfBand.data());
        cv::Mat quarter(kBandRows / 4, kWidth / 4, CV_8UC1, m_Quarter.data() + first / 16);
        try {
            cv::resize(band, half, half.size(), 0, 0, cv::INTER_AREA);
            cv::resize(half, quarter, quarter.size(), 0, 0, cv::INTER_AREA);
        } catch (const cv::Exception &) {
            quarter.setTo(0); // the frame is held whole; only its thumbnail lacks the band
        }
    }
    m_Image.cameraLayout = false;
    return true;
}

const uchar *ZStackSliceWriter::frame8() const
{
    return m_nBits == 16 ? m_Frame8.data() : m_Image.buffer8.get();
}

bool ZStackSliceWriter::write(const QString &path, const QString &text)
{
    return m_nBits != 0 && m_Image.write(QFile::encodeName(path), text.toUtf8());
}

QPixmap ZStackSliceWriter::thumbnail(const QVector<QRgb> &colorTable) const
{
    if (m_nBits == 0)
        return QPixmap();
    return FrameThumbnail::make(m_Quarter.data(), kWidth / 4, kHeight / 4, kWidth / 4, colorTable,
                                QSize(kThumbnailWidth, kThumbnailHeight));
}

QString ZStackSliceWriter::slicePath(const QString &savePath, const QString &folder, int index, const QString &extension)
{
    const QString number = index < 10000 ? QString("%1").arg(index, 4, 10, QChar('0')) : QString::number(index);
    return QString("%1/%2/%2_%3.%4").arg(savePath, folder, number, extension);
}

QString ZStackSliceWriter::metaText(const QString &base, float z)
{
    // Rounded first, so that a position just below zero reads 0.0 rather than -0.0.
    double shown = std::round(double(z) * 10.0) / 10.0;
    if (shown == 0.0)
        shown = 0.0;
    return QString("%1;Z Position: %2 %3").arg(base, QString::number(shown, 'f', 1), QString::fromUtf8("µm"));
}
