#pragma once
#include <QPixmap>
#include <QRgb>
#include <QSize>
#include <QVector>
#include <opencv2/core/mat.hpp>

// Thumbnails of the series pages, made from the 8-bit samples already in memory: the frame is
// area-averaged down by halvings, interpolated the last bit to the thumbnail size (aspect ratio
// ignored) and only then coloured through the grey or pseudo-colour table, so a frame costs one
// pass over its samples.
class FrameThumbnail
{
public:
    // samples: width x height bytes, rows bytesPerLine apart. An empty table gives grey.
    static QImage makeImage(const uchar *samples, int width, int height, int bytesPerLine,
                            const QVector<QRgb> &colorTable, QSize size);
    static QPixmap make(const uchar *samples, int width, int height, int bytesPerLine,
                        const QVector<QRgb> &colorTable, QSize size);
    // The frame (any depth) halved by OpenCV's vectorised 2 x 2 averaging while both sides stay
    // even and at least twice the size; the frame itself when no halving fits. Throws cv::Exception.
    static cv::Mat halved(const cv::Mat &frame, QSize size);
    // How many such halvings a frame of that size takes on the way to size.
    static int halvings(QSize frame, QSize size);
};
