#include "ImageThumbnail.h"

#include "FrameThumbnail.h"
#include "ImReaderWriter.h"

#include <array>
#include <cstring>
#include <opencv2/imgproc.hpp>

namespace {

// round(v x 255 / 4094) for every 16-bit value, computed exactly in integers.
const std::array<uchar, 65536> &scaleTable()
{
    static const std::array<uchar, 65536> table = [] {
        std::array<uchar, 65536> t{};
        for (quint32 v = 0; v < t.size(); ++v) {
            const quint32 n = v * 255, d = 4094;
            quint32 k = n / d;
            const quint32 twice = 2 * (n % d);
            if (twice > d || (twice == d && (k & 1)))
                ++k;
            t[v] = uchar(std::min<quint32>(k, 255));
        }
        return t;
    }();
    return table;
}

bool usable(const ImReaderWriter &image)
{
    const int bits = image.bitsPerSample;
    return (bits == 8 || bits == 16) && (image.samplesPerPixel == 1 || image.samplesPerPixel == 3) && image.width > 0
           && image.height > 0 && image.sampleCount == quint64(image.width) * image.height * image.samplesPerPixel
           && (bits == 8 ? image.buffer8 != nullptr : image.buffer16 != nullptr);
}

} // namespace

uchar ImageThumbnail::scaled(quint16 value)
{
    return scaleTable()[value];
}

QImage ImageThumbnail::eightBit(const ImReaderWriter &image)
{
    if (!usable(image))
        return QImage();
    const int width = int(image.width), height = int(image.height), spp = image.samplesPerPixel;
    QImage out(width, height, spp == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (out.isNull())
        return out;
    const size_t rowSamples = size_t(width) * size_t(spp);
    if (image.bitsPerSample == 8) {
        for (int y = 0; y < height; ++y)
            std::memcpy(out.scanLine(y), image.buffer8.get() + y * rowSamples, rowSamples);
        return out;
    }
    const uchar *table = scaleTable().data();
    uchar *bits = out.bits();
    const size_t stride = size_t(out.bytesPerLine());
    cv::parallel_for_(cv::Range(0, height), [&](const cv::Range &rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const quint16 *in = image.buffer16.get() + y * rowSamples;
            uchar *line = bits + y * stride;
            for (size_t i = 0; i < rowSamples; ++i)
                line[i] = table[in[i]];
        }
    });
    return out;
}

// 16 bits: the samples are area-averaged at full depth first and only the small picture goes
// through the 8-bit scale, so a frame costs one pass over its samples.
QImage ImageThumbnail::fromSixteenBits(const ImReaderWriter &image, const QVector<QRgb> &colorTable, QSize size)
{
    const int spp = image.samplesPerPixel;
    cv::Mat small;
    try {
        const cv::Mat frame(int(image.height), int(image.width), CV_16UC(spp), image.buffer16.get());
        small = FrameThumbnail::areaScaled(FrameThumbnail::halved(frame, size), size);
    } catch (const cv::Exception &) {
        return QImage();
    }
    QImage out(size, spp == 1 ? QImage::Format_Indexed8 : QImage::Format_RGB888);
    const uchar *table = scaleTable().data();
    for (int y = 0; y < size.height(); ++y) {
        const auto *in = small.ptr<quint16>(y);
        uchar *line = out.scanLine(y);
        for (int i = 0; i < size.width() * spp; ++i)
            line[i] = table[in[i]];
    }
    if (spp == 1) {
        QVector<QRgb> grey(256);
        for (int i = 0; i < 256; ++i)
            grey[i] = qRgb(i, i, i);
        out.setColorTable(colorTable.size() == 256 ? colorTable : grey);
    }
    return out;
}

QImage ImageThumbnail::makeImage(const ImReaderWriter &image, const QVector<QRgb> &colorTable, QSize size)
{
    if (size.isEmpty() || !usable(image))
        return QImage();
    if (image.bitsPerSample == 16)
        return fromSixteenBits(image, colorTable, size);
    // 8 bits: the reader's own samples, rows packed, with no copy of the frame.
    const int width = int(image.width), height = int(image.height);
    if (image.samplesPerPixel == 1)
        return FrameThumbnail::makeImage(image.buffer8.get(), width, height, width, colorTable, size);
    QImage thumbnail(size, QImage::Format_RGB888);
    try {
        const cv::Mat frame(height, width, CV_8UC3, image.buffer8.get());
        cv::Mat small(size.height(), size.width(), CV_8UC3, thumbnail.bits(), size_t(thumbnail.bytesPerLine()));
        cv::resize(frame, small, small.size(), 0, 0, cv::INTER_AREA);
    } catch (const cv::Exception &) {
        return QImage();
    }
    return thumbnail;
}

QPixmap ImageThumbnail::make(const ImReaderWriter &image, const QVector<QRgb> &colorTable, QSize size)
{
    return QPixmap::fromImage(makeImage(image, colorTable, size));
}
