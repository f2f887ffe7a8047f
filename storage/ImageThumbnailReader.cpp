#include "ImageThumbnailReader.h"

#include "ImReaderWriter.h"
#include "RegularFile.h"
#include "ViewerConversion.h"

#include <QFile>
#include <QImageReader>

#include <exception>
#include <unistd.h>

bool ImageThumbnailReader::isTiff(const QString &path)
{
    const QString suffix = path.section('/', -1).section('.', -1);
    return suffix.compare("tif", Qt::CaseInsensitive) == 0 || suffix.compare("tiff", Qt::CaseInsensitive) == 0;
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
        bool notRegular = false;
        const int fd = RegularFile::openForReading(QFile::encodeName(path), &why, &notRegular);
        QFile file(path); // the name gives the reader its format hint, as a path would
        if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            if (fd >= 0)
                ::close(fd);
            if (unshown && notRegular)
                *unshown = why;
            return QImage();
        }
        QImageReader reader(&file);
        reader.setAutoTransform(false);
        // The declared size within the cap of every image reader, for the samples the header
        // promises (one grey sample or three colour ones, of one or two bytes).
        const QSize declared = reader.size();
        const QImage::Format kind = reader.imageFormat();
        const bool grey = kind == QImage::Format_Grayscale8 || kind == QImage::Format_Grayscale16;
        const bool wide = kind == QImage::Format_Grayscale16 || kind == QImage::Format_RGBX64
                          || kind == QImage::Format_RGBA64 || kind == QImage::Format_RGBA64_Premultiplied;
        if (!declared.isValid()
            || !ImReaderWriter::withinSizeCap(quint64(declared.width()), quint64(declared.height()), grey ? 1 : 3,
                                              wide ? 2 : 1))
            return QImage();
        if (!whole && reader.supportsOption(QImageIOHandler::ScaledSize))
            reader.setScaledSize(size);
        QImage picture = reader.read();
        if (picture.isNull() || whole)
            return picture;
        return picture.size() == size ? picture
                                      : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } catch (const std::exception &) {
        return QImage();
    }
}
