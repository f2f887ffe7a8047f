#include "FrameThumbnail.h"

#include <QImage>
#include <opencv2/imgproc.hpp>

int FrameThumbnail::halvings(QSize frame, QSize size)
{
    int count = 0;
    while (frame.width() >= 2 * size.width() && frame.height() >= 2 * size.height() && frame.width() % 2 == 0
           && frame.height() % 2 == 0 && !size.isEmpty()) {
        frame /= 2;
        ++count;
    }
    return count;
}

cv::Mat FrameThumbnail::halved(const cv::Mat &frame, QSize size)
{
    cv::Mat coarse = frame;
    for (int i = halvings(QSize(frame.cols, frame.rows), size); i > 0; --i) {
        cv::Mat half;
        cv::resize(coarse, half, cv::Size(coarse.cols / 2, coarse.rows / 2), 0, 0, cv::INTER_AREA);
        coarse = half;
    }
    return coarse;
}

QImage FrameThumbnail::makeImage(const uchar *samples, int width, int height, int bytesPerLine,
                                 const QVector<QRgb> &colorTable, QSize size)
{
    if (!samples || width <= 0 || height <= 0 || size.isEmpty())
        return QImage();
    QImage thumbnail(size, QImage::Format_Indexed8);
    try {
        const cv::Mat frame(height, width, CV_8UC1, const_cast<uchar *>(samples), size_t(bytesPerLine));
        cv::Mat small(size.height(), size.width(), CV_8UC1, thumbnail.bits(), size_t(thumbnail.bytesPerLine()));
        // A rest of less than a halving is interpolated (its samples are averages already;
        // OpenCV's area scaling by such a fraction costs more than all the halvings together);
        // any other rest is area-averaged.
        const cv::Mat coarse = halved(frame, size);
        const bool lessThanHalving = coarse.cols < 2 * small.cols && coarse.rows < 2 * small.rows;
        cv::resize(coarse, small, small.size(), 0, 0, lessThanHalving ? cv::INTER_LINEAR : cv::INTER_AREA);
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
