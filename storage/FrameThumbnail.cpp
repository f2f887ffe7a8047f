#include "FrameThumbnail.h"

#include <QImage>
#include <opencv2/imgproc.hpp>

QImage FrameThumbnail::makeImage(const uchar *samples, int width, int height, int bytesPerLine,
                                 const QVector<QRgb> &colorTable, QSize size)
{
    if (!samples || width <= 0 || height <= 0 || size.isEmpty())
        return QImage();
    QImage thumbnail(size, QImage::Format_Indexed8);
    try {
        const cv::Mat frame(height, width, CV_8UC1, const_cast<uchar *>(samples), size_t(bytesPerLine));
        cv::Mat small(size.height(), size.width(), CV_8UC1, thumbnail.bits(), size_t(thumbnail.bytesPerLine()));
        cv::resize(frame, small, small.size(), 0, 0, cv::INTER_AREA);
    } catch (const cv::Exception &) {
        return QImage();
    }
    if (colorTable.size() == 256) {
        thumbnail.setColorTable(colorTable);
    } else {
        QVector<QRgb> grey(256);
        for (int i = 0; i < 256; ++i)
            grey[i] = qRgb(i, i, i);
        thumbnail.setColorTable(grey);
    }
    return thumbnail;
}

QPixmap FrameThumbnail::make(const uchar *samples, int width, int height, int bytesPerLine,
                             const QVector<QRgb> &colorTable, QSize size)
{
    return QPixmap::fromImage(makeImage(samples, width, height, bytesPerLine, colorTable, size));
}
