#pragma once
#include <QByteArray>
#include <QString>
#include <opencv2/core.hpp>

// A JPEG file's bytes decoded through libjpeg: 8-bit grey, or colour in blue, green, red as
// OpenCV orders it. The declared size is checked against the image readers' cap before anything
// is decoded; CMYK images are refused, and so is a file on which libjpeg gives any warning (data
// cut, skipped or filled in: "Premature end of JPEG file", "Corrupt JPEG data: ..."), which a
// decoder would otherwise pass over. libjpeg's messages are kept for the reason, never printed.
// Safe on any thread.
class JpegReader
{
public:
    // The image; an empty matrix with why set on any failure.
    static cv::Mat decode(const QByteArray &bytes, QString *why);
};
