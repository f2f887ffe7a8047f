#pragma once
#include "ImReaderWriter.h"

#include <QSize>
#include <QString>
#include <opencv2/core.hpp>

// The one door of image file reading. read gives an image file for analysis as an OpenCV
// matrix (8- or 16-bit, 1 or 3 channels in OpenCV's blue, green, red order), as cv::imread would
// give it, but only from a regular file and never wrong. The name says the format (.tif, .tiff,
// .png, .jpg, .jpeg or .bmp, in any case) and the file must hold that format; the declared size
// is checked against ImReaderWriter's cap before anything is decoded. TIFF goes to TiffReader,
// PNG to PngReader, JPEG to JpegReader and BMP to BmpReader, which refuse a damaged or cut file
// and sample formats they do not read. For PNG, JPEG and BMP the reason for a damaged or cut
// file begins with "damaged" (isDamaged tells it); any other names a file that cannot be read or
// is not of a kind read. ImReaderWriter's read operations come in by readTiff, readTiffBands and
// readTiffHalved. Nothing is printed. Safe on any thread.
class ImageFileReader
{
public:
    // Largest file read whole before decoding.
    static constexpr qint64 MaxFileBytes = 256ll * 1024 * 1024;

    // The image at path (a local 8-bit path); an empty matrix with why set on any failure. With
    // atLeast valid, a JPEG comes reduced while decoding to the smallest size that covers it.
    static cv::Mat read(const QByteArray &path, QString *why, QSize atLeast = QSize());
    // An empty matrix, with why (where asked) set to text: how the image decoders refuse a file.
    static cv::Mat refused(QString *why, const QString &text);
    // As refused, for a file whose data the decoder of format (PNG, JPEG, BMP) finds damaged or cut.
    static cv::Mat damaged(QString *why, const char *format, const QString &detail);
    // Whether why is the reason given for a damaged or cut PNG, JPEG or BMP file.
    static bool isDamaged(const QString &why);
    // Whether the name of path is a TIFF's (.tif or .tiff, in any case), as read takes it.
    static bool isTiffName(const QByteArray &path);

    // A TIFF file (whatever its name) into image, as ImReaderWriter's read, readBands and
    // readHalved give it.
    static bool readTiff(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Destination &where,
                         void *&samples);
    static bool readTiffBands(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Band &band,
                              int passes, quint32 rowUnit);
    static bool readTiffHalved(const QByteArray &path, ImReaderWriter &image, QSize size, quint16 *maximum,
                               QSize *fileSize);
};
