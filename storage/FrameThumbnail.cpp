#include "FrameThumbnail.h"

#include <opencv2/imgproc.hpp>

QImage FrameThumbnail::image(const uchar *grey, int width, int height, int stride, const QVector<QRgb> &colorTable,
                             QSize size)
{
    if (!grey || width <= 0 || height <= 0 || stride < width || size.isEmpty())
        return QImage();
    QImage out(size, QImage::Format_Indexed8);
    try {
        const cv::Mat source(height, width, CV_8UC1, const_cast<uchar *>(grey), size_t(stride));
        cv::Mat target(size.height(), size.width(), CV_8UC1, out.bits(), size_t(out.bytesPerLine()));
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
