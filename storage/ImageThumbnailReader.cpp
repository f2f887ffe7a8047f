#include "ImageThumbnailReader.h"

#include "ImReaderWriter.h"
#include "ViewerConversion.h"

#include <QFile>
#include <QImageReader>

#include <exception>

bool ImageThumbnailReader::isTiff(const QString &path)
{
    const QString suffix = path.section('/', -1).section('.', -1);
    return suffix.compare("tif", Qt::CaseInsensitive) == 0 || suffix.compare("tiff", Qt::CaseInsensitive) == 0;
}

QImage ImageThumbnailReader::read(const QString &path, const QSize &size)
{
    const bool whole = !size.isValid() || size.isEmpty();
    try {
        if (isTiff(path)) {
            ImReaderWriter image;
            if (!image.read(QFile::encodeName(path)))
                return QImage();
            if (qint64(image.width) * image.height > maxPixels)
                return QImage();
            return ViewerConversion::toImage(image, whole ? QSize() : size);
        }
        QImageReader reader(path);
        reader.setAutoTransform(false);
        const QSize declared = reader.size();
        if (!declared.isValid() || qint64(declared.width()) * declared.height() > maxPixels)
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
