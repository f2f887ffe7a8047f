#pragma once
#include <QImage>
#include <QSize>
#include <QString>

class ImReaderWriter;

// Pictures of the image files the file manager lists, for its thumbnails and its viewer; safe on
// any thread. TIFF is read from its samples (ImReaderWriter, which refuses malformed files and
// images over its sample limit); PNG, JPG and BMP through ImageFileReader, the reader of the
// analyses and the tools, so that what they refuse is not shown either. Both are converted as the
// viewer shows them (ViewerConversion); a TIFF brought to size is halved while read, a JPEG
// reduced by libjpeg while decoded. Only regular files are opened (nothing waits on a FIFO or a
// device). A file that cannot be decoded, or whose header declares a size over
// ImReaderWriter's cap, gives a null image.
class ImageThumbnailReader
{
public:

    // The picture brought to size (aspect ratio ignored), or whole when size is empty.
    static QImage read(const QString &path, const QSize &size);
    // As read, through the caller's samples, whose array is kept from image to image. Where the
    // file is not shown for another reason than damaged data (a kind of image not read, a file
    // not of the format its name says, not a regular file, and for PNG, JPG and BMP a file that
    // cannot be read), unshown receives why; it is empty for a damaged file.
    static QImage readWith(const QString &path, const QSize &size, ImReaderWriter &samples,
                           QString *unshown = nullptr);
    static bool isTiff(const QString &path);
};
