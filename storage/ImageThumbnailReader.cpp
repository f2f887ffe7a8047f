#include "ImageThumbnailReader.h"

#include "ImReaderWriter.h"
#include "ImageFileReader.h"
#include "ViewerConversion.h"

#include <QFile>
#include <opencv2/imgproc.hpp>

#include <exception>

namespace {

// Decoded samples (OpenCV's blue, green, red order) in the red, green, blue order of image's
// array, brought to a picture as a TIFF's are.
QImage pictureOf(const cv::Mat &decoded, QSize size, ImReaderWriter &image)
{
    const int channels = decoded.channels();
    const quint16 bits = decoded.depth() == CV_16U ? 16 : 8;
    void *samples = image.reserve(quint32(decoded.cols), quint32(decoded.rows), bits, quint16(channels), 1,
                                  channels == 3 ? 2 : 1, 1);
    if (!samples)
        return QImage();
    cv::Mat into(decoded.rows, decoded.cols, decoded.type(), samples);
    if (channels == 3)
        cv::cvtColor(decoded, into, cv::COLOR_BGR2RGB);
    else
        decoded.copyTo(into);
    image.cameraLayout = false;
    return ViewerConversion::toImage(image, size);
}

} // namespace

bool ImageThumbnailReader::isTiff(const QString &path)
{
    return ImageFileReader::isTiffName(QFile::encodeName(path));
}

QImage ImageThumbnailReader::read(const QString &path, const QSize &size)
{
    ImReaderWriter samples;
    return readWith(path, size, samples);
}

QImage ImageThumbnailReader::readWith(const QString &path, const QSize &size, ImReaderWriter &image, QString *unshown)
{
    const bool whole = !size.isValid() || size.isEmpty();
    if (unshown)
        unshown->clear();
    try {
        if (isTiff(path)) {
            // Read band by band: a thumbnail is halved while reading, so the whole image is
            // never held, and the brightest sample is taken while each band is in the cache.
            quint16 maximum = 0;
            if (!image.readHalved(QFile::encodeName(path), whole ? QSize() : size, &maximum)) {
                if (unshown && image.unsupported())
                    *unshown = image.errorString();
                return QImage();
            }
            return ViewerConversion::toImage(image, whole ? QSize() : size, maximum);
        }
        QString why;
        const cv::Mat decoded = ImageFileReader::read(QFile::encodeName(path), &why, whole ? QSize() : size);
        if (decoded.empty()) {
            if (unshown && !ImageFileReader::isDamaged(why))
                *unshown = why;
            return QImage();
        }
        return pictureOf(decoded, whole ? QSize() : size, image);
    } catch (const std::exception &) {
        return QImage();
    }
}
