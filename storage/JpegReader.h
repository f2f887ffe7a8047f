#pragma once
#include "ImReaderWriter.h"

#include <QByteArray>
#include <QString>
#include <opencv2/core.hpp>

// A JPEG file's bytes decoded through libjpeg: 8-bit grey, or colour in blue, green, red as
// OpenCV orders it. The declared size is checked against the image readers' cap before anything
// is decoded; CMYK images are refused, and so is a file on which libjpeg gives any warning (data
// cut, skipped or filled in: "Premature end of JPEG file", "Corrupt JPEG data: ..."), which a
// decoder would otherwise pass over, and so is a file whose scans are more, or pass over more
// blocks, than MaxScans and MaxScannedBlocks allow: the decode stops as soon as the file is
// condemned, so that no file holds its caller long. libjpeg's messages are kept for the reason,
// never printed. Safe on any thread.
class JpegReader
{
public:
    // Scans of one file; a progressive file of libjpeg's own has 10, hardly any real one 50.
    static constexpr int MaxScans = 300;
    // Blocks all scans together pass over (each scan: the blocks of its components): 16 passes
    // over the largest image read, a few times what a progressive file needs.
    static constexpr quint64 MaxScannedBlocks = 16ull * (ImReaderWriter::MaxSamples / 64);

    // The image; an empty matrix with why set on any failure.
    static cv::Mat decode(const QByteArray &bytes, QString *why);
};
