#include "FrameThumbnail.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {

// The mean of every factor x factor block (whole blocks only), in one pass over the samples: rows
// are summed into a line of column sums, each run of factor sums then gives one output sample.
cv::Mat blockMean(const uchar *grey, int width, int height, int stride, int factor)
{
    const int outW = width / factor, outH = height / factor;
    cv::Mat out(outH, outW, CV_8UC1);
    std::vector<quint32> columns(size_t(outW) * factor);
    const quint32 area = quint32(factor) * quint32(factor);
    for (int y = 0; y < outH; ++y) {
        std::fill(columns.begin(), columns.end(), 0u);
        for (int r = 0; r < factor; ++r) {
            const uchar *row = grey + size_t(y * factor + r) * size_t(stride);
            for (size_t x = 0; x < columns.size(); ++x)
                columns[x] += row[x];
        }
        uchar *target = out.ptr<uchar>(y);
        for (int x = 0; x < outW; ++x) {
            quint32 sum = 0;
            for (int k = 0; k < factor; ++k)
                sum += columns[size_t(x) * factor + k];
            target[x] = uchar((sum + area / 2) / area);
        }
    }
    return out;
}

} // namespace

QImage FrameThumbnail::image(const uchar *grey, int width, int height, int stride, const QVector<QRgb> &colorTable,
                             QSize size)
{
    if (!grey || width <= 0 || height <= 0 || stride < width || size.isEmpty())
        return QImage();
    QImage out(size, QImage::Format_Indexed8);
    try {
        const cv::Mat source(height, width, CV_8UC1, const_cast<uchar *>(grey), size_t(stride));
        cv::Mat target(size.height(), size.width(), CV_8UC1, out.bits(), size_t(out.bytesPerLine()));
        // Smooth reduction: block means by the largest whole factor that still leaves at least the
        // thumbnail's size, then area weights for the small remainder.
        const int factor = std::max(1, std::min(width / size.width(), height / size.height()));
        if (factor > 1)
            cv::resize(blockMean(grey, width, height, stride, factor), target, target.size(), 0, 0, cv::INTER_LINEAR);
        else
            cv::resize(source, target, target.size(), 0, 0, cv::INTER_AREA);
    } catch (const cv::Exception &) {
        return QImage();
    }
    if (colorTable.size() == 256) {
        out.setColorTable(colorTable);
    } else {
        QVector<QRgb> grey256(256);
        for (int i = 0; i < 256; ++i)
            grey256[i] = qRgb(i, i, i);
        out.setColorTable(grey256);
    }
    return out;
}

QPixmap FrameThumbnail::pixmap(const uchar *grey, int width, int height, int stride, const QVector<QRgb> &colorTable,
                               QSize size)
{
    return QPixmap::fromImage(image(grey, width, height, stride, colorTable, size));
}
