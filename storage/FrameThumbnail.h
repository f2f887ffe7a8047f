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
    // A 16-bit frame (any number of channels) area-averaged down to size: each sample the mean of
    // the input it covers, with INTER_AREA's weights (within one 16-bit step of cv::resize); a
    // size larger on an axis goes to cv::resize. Throws cv::Exception.
    // OpenCV's own code for a ratio that is not whole costs more than all the halvings before it.
    static cv::Mat areaScaled(const cv::Mat &frame, QSize size);
    // How many such halvings a frame of that size takes on the way to size.
    static int halvings(QSize frame, QSize size);
};
