#pragma once
#include <QString>
#include <opencv2/core.hpp>

// An image file read for analysis as an OpenCV matrix (8- or 16-bit, 1 or 3 channels in OpenCV's
// blue, green, red order), as cv::imread would give it, but only from a regular file and never
// wrong: TIFF goes through ImReaderWriter, which refuses a damaged file or a sample format it
// does not read; PNG, JPG and BMP are decoded by OpenCV from the file's bytes. Safe on any thread.
class ImageFileReader
{
public:
    // Largest file decoded through OpenCV.
    static constexpr qint64 MaxFileBytes = 256ll * 1024 * 1024;

    // The image at path (a local 8-bit path); an empty matrix with why set on any failure.
    static cv::Mat read(const QByteArray &path, QString *why);
};
