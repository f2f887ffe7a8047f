#pragma once
#include <QByteArray>
#include <QString>
#include <opencv2/core.hpp>

// A BMP file's bytes decoded by OpenCV once its header is checked: uncompressed rows of 1 to 32
// bits, the declared size within the image readers' cap, the pixel data behind the header, the
// colour masks and the palette (of at most 256 colours), every row in the file, every palette
// index within the palette, and colour masks only in the standard layouts OpenCV decodes (16
// bits 5-5-5 or 5-6-5, 32 bits 8-8-8 in blue, green, red order); masks that are empty, overlap
// or have gaps mark the file as damaged. Nothing is printed. Safe on any thread.
class BmpReader
{
public:
    // The image (grey or blue, green, red); an empty matrix with why set on any failure.
    static cv::Mat decode(const QByteArray &bytes, QString *why);
};
