#pragma once
#include "ImReaderWriter.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <opencv2/core.hpp>

// A JPEG file's bytes decoded through libjpeg: 8-bit grey, or colour in blue, green, red as
// OpenCV orders it, whole or reduced by libjpeg while decoding (1/2, 1/4, 1/8) to the smallest
// size that still covers a wanted one. The declared size is checked against the image readers'
// cap before anything is decoded; CMYK images are refused, and so is a file on which libjpeg
// gives any warning (data cut, skipped or filled in: "Premature end of JPEG file", "Corrupt JPEG
// data: ..."), which a decoder would otherwise pass over. The work of a progressive file is
// bounded by the image's own size: a scan may not code again from the start coefficients an
// earlier scan coded (libjpeg takes it, the format does not), and libjpeg holds each refinement
// to one more bit, so no coefficient is passed over more than 14 times; files of more than
// MaxScans scans are not read. The decode stops as soon as the file is condemned, so that no
// file holds its caller long. libjpeg's messages are kept for the reason, never printed. Safe on
// any thread.
class JpegReader
{
public:
    // Scans of one file: a progressive file of libjpeg's own has 10, cjpeg writes at most 100.
    static constexpr int MaxScans = 300;

    // The image, reduced to cover atLeast where it is valid and libjpeg can; an empty matrix with
    // why set on any failure.
    static cv::Mat decode(const QByteArray &bytes, QString *why, QSize atLeast = QSize());
};
