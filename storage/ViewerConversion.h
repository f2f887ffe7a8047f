#pragma once
#include <QImage>
#include <QSize>
#include <cstddef>

class ImReaderWriter;

// The 8-bit picture the image viewer shows of an image read from a file, and the thumbnails made
// the same way: 8-bit samples as they are; 16-bit grey stretched so that its brightest sample
// is 255 (v x 255 / max, rounded; all black stays black); 16-bit colour as v x 255 / 4094,
// saturated. One or three samples a pixel; anything else gives a null image.
class ViewerConversion
{
public:
    // The whole image (size empty) or the image area-averaged down to size, aspect ratio ignored.
    // greyMaximum: the brightest sample of the file's image as ImReaderWriter::readHalved gives
    // it (image may hold it halved); -1 takes it from image.
    static QImage toImage(const ImReaderWriter &image, QSize size = QSize(), int greyMaximum = -1);
    // The brightest of 16-bit samples, which grey is stretched to.
    static quint16 brightest(const quint16 *samples, size_t count);
};
