#pragma once
#include <QImage>
#include <QPixmap>
#include <QRgb>
#include <QSize>
#include <QVector>

// Thumbnails of series images made from the 8-bit samples in memory, without reading the written
// file back or going through an image-format plugin: an area-averaged reduction to the thumbnail
// size, shown through a colour table (the grey ramp or a pseudo-colour ramp).
class FrameThumbnail
{
public:
    static constexpr int kWidth = 132;
    static constexpr int kHeight = 100;

    // grey: width x height samples of 8 bits, rows stride bytes apart. colorTable: 256 entries;
    // an empty one gives the grey ramp. A null image for bad geometry.
    static QImage image(const uchar *grey, int width, int height, int stride, const QVector<QRgb> &colorTable,
                        QSize size = QSize(kWidth, kHeight));
    static QPixmap pixmap(const uchar *grey, int width, int height, int stride, const QVector<QRgb> &colorTable,
                          QSize size = QSize(kWidth, kHeight));
};
