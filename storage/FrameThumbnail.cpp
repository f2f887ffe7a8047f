#include "FrameThumbnail.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

QImage FrameThumbnail::image(const uchar *grey, int width, int height, int stride, const QVector<QRgb> &colorTable,
                             QSize size)
{
    if (!grey || width <= 0 || height <= 0 || stride < width || size.isEmpty())
        return QImage();
    QImage out(size, QImage::Format_Indexed8);
    try {
        const cv::Mat source(height, width, CV_8UC1, const_cast<uchar *>(grey), size_t(stride));
        cv::Mat target(size.height(), size.width(), CV_8UC1, out.bits(), size_t(out.bytesPerLine()));
        // Area averaging: first by the largest whole factor that divides both sides (OpenCV's
        // fast path), then the rest.
        int factor = std::max(1, std::min(width / size.width(), height / size.height()));
        while (factor > 1 && (width % factor || height % factor))
            --factor;
        if (factor > 1) {
            cv::Mat reduced;
            cv::resize(source, reduced, cv::Size(width / factor, height / factor), 0, 0, cv::INTER_AREA);
            cv::resize(reduced, target, target.size(), 0, 0, cv::INTER_AREA);
        } else {
            cv::resize(source, target, target.size(), 0, 0, cv::INTER_AREA);
        }
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
