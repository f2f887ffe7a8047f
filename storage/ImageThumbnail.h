#pragma once
#include <QImage>
#include <QPixmap>
#include <QRgb>
#include <QSize>
#include <QVector>

class ImReaderWriter;

// Pictures of an image read from a file (ImReaderWriter), made from its samples, so that no
// image-format plugin is involved: 8 or 16 bits, 1 or 3 samples a pixel. 16-bit samples hold
// 12-bit intensities and are brought to 8 bits as round(v x 255 / 4094), saturated at 255 (ties
// to even), the scaling the series pages use for display.
class ImageThumbnail
{
public:
    // The whole image in 8 bits: Format_Grayscale8 for one sample, Format_RGB888 for three; a null
    // image for any other geometry or for an image without samples.
    static QImage eightBit(const ImReaderWriter &image);
    // The image area-averaged down to size (aspect ratio ignored); a single-sample image is
    // coloured through colorTable (grey when the table is not 256 entries).
    static QImage makeImage(const ImReaderWriter &image, const QVector<QRgb> &colorTable, QSize size);
    static QPixmap make(const ImReaderWriter &image, const QVector<QRgb> &colorTable, QSize size);
    // The 8-bit value of one 16-bit sample.
    static uchar scaled(quint16 value);

private:
    static QImage fromSixteenBits(const ImReaderWriter &image, const QVector<QRgb> &colorTable, QSize size);
};
