#pragma once
#include <QImage>
#include <QSize>
#include <QString>

class ImReaderWriter;

// Pictures of the image files the file manager lists, for its thumbnails and its viewer; safe on
// any thread. TIFF is read from
// its samples (ImReaderWriter, which refuses malformed files and images over its sample limit)
// and converted as the viewer shows it (ViewerConversion); PNG, JPG and BMP go through
// QImageReader, scaled while decoding where the format allows. Only regular files are opened
// (nothing waits on a FIFO or a device). A file that cannot be decoded, or whose header declares
// a size over ImReaderWriter's cap, gives a null image.
class ImageThumbnailReader
{
public:

    // The picture brought to size (aspect ratio ignored), or whole when size is empty.
    static QImage read(const QString &path, const QSize &size);
    // As read, through the caller's samples, whose array is kept from image to image. Where the
    // file is sound but of a kind not shown (a TIFF the reader does not read, not a regular file),
    // unshown receives why; it is empty for a damaged or unreadable file.
    static QImage readWith(const QString &path, const QSize &size, ImReaderWriter &samples,
                           QString *unshown = nullptr);
    static bool isTiff(const QString &path);
};
