#pragma once
#include <QByteArray>
#include <QString>
#include <opencv2/core.hpp>

// A BMP file's bytes decoded here once its header is checked: uncompressed rows of 1, 2, 4, 8, 16,
// 24 or 32 bits under any of the headers (the old 12-byte one, 40 bytes, or the longer ones that
// hold the colour masks), the declared size within the image readers' cap, the pixel data behind
// the header, the colour masks and the palette (of at most 256 colours), every row in the file and
// every palette index within the palette. Colour masks are read in the standard layouts only (16
// bits 5-5-5 or 5-6-5, 32 bits 8-8-8 in blue, green, red order), a field of fewer than 8 bits
// widened by repeating its bits (0 stays 0, the largest value becomes 255); masks that are empty,
// overlap or have gaps mark the file as damaged. A palette of greys gives a grey image, anything
// else blue, green, red. Nothing is printed. Safe on any thread.
class BmpReader
{
public:
    // The image (grey or blue, green, red); an empty matrix with why set on any failure.
    static cv::Mat decode(const QByteArray &bytes, QString *why);
};
