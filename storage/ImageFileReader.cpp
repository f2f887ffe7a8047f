#include "ImageFileReader.h"

#include "BmpReader.h"
#include "JpegReader.h"
#include "PngReader.h"
#include "RegularFile.h"
#include "TiffReader.h"

#include <opencv2/imgproc.hpp>

namespace {

enum class Kind { Tiff, Png, Jpeg, Bmp, Unknown };

struct Format
{
    Kind kind;
    const char *name;
    QByteArray signature; // the bytes a file of the format begins with
};

const Format &formatOf(const QByteArray &path)
{
    static const Format tiff{Kind::Tiff, "TIFF", {}}, png{Kind::Png, "PNG", QByteArray("\x89PNG\r\n\x1a\n", 8)},
        jpeg{Kind::Jpeg, "JPEG", QByteArray("\xff\xd8\xff", 3)}, bmp{Kind::Bmp, "BMP", QByteArray("BM")},
        unknown{Kind::Unknown, "", {}};
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1), extension = name.mid(name.lastIndexOf('.') + 1).toLower();
    if (!name.contains('.'))
        return unknown;
    if (extension == "tif" || extension == "tiff")
        return tiff;
    if (extension == "png")
        return png;
    if (extension == "jpg" || extension == "jpeg")
        return jpeg;
    return extension == "bmp" ? bmp : unknown;
}

} // namespace

cv::Mat ImageFileReader::refused(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return cv::Mat();
}

cv::Mat ImageFileReader::damaged(QString *why, const char *format, const QString &detail)
{
    const QString text = QStringLiteral("damaged %1 data").arg(QLatin1String(format));
    return refused(why, detail.isEmpty() ? text : text + QStringLiteral(": ") + detail);
}

bool ImageFileReader::isDamaged(const QString &why)
{
    return why.startsWith(QLatin1String("damaged "));
}

bool ImageFileReader::isTiffName(const QByteArray &path)
{
    return formatOf(path).kind == Kind::Tiff;
}

cv::Mat ImageFileReader::read(const QByteArray &path, QString *why, QSize atLeast)
{
    try {
        const Format &format = formatOf(path);
        if (format.kind == Kind::Unknown)
            return refused(why, QStringLiteral("not a name of an image read: it must end in .tif, .tiff, .png, .jpg, "
                                              ".jpeg or .bmp"));
        if (format.kind == Kind::Tiff) {
            // The samples are held by an ImReaderWriter, read straight by the TIFF reader.
            ImReaderWriter file;
            void *samples = nullptr;
            if (!TiffReader::read(path, file, {}, samples))
                return refused(why, file.errorString());
            const int depth = file.bitsPerSample == 16 ? CV_16U : CV_8U;
            const cv::Mat held(int(file.height), int(file.width), CV_MAKETYPE(depth, file.samplesPerPixel), samples);
            cv::Mat image;
            if (file.samplesPerPixel == 3)
                cv::cvtColor(held, image, cv::COLOR_RGB2BGR);
            else
                image = held.clone();
            return image;
        }
        QByteArray bytes;
        QString reason;
        if (!RegularFile::readAll(path, MaxFileBytes, bytes, &reason))
            return refused(why, reason);
        if (!bytes.startsWith(format.signature))
            return refused(why, QStringLiteral("not a %1 image, as its name says").arg(QLatin1String(format.name)));
        cv::Mat image = format.kind == Kind::Png ? PngReader::decode(bytes, why)
                        : format.kind == Kind::Jpeg ? JpegReader::decode(bytes, why, atLeast)
                                                    : BmpReader::decode(bytes, why);
        const int depth = image.depth(), channels = image.channels();
        if (!image.empty() && ((depth != CV_8U && depth != CV_16U) || (channels != 1 && channels != 3)))
            return refused(why,
                           QStringLiteral("%1 channels of OpenCV depth %2 are not supported").arg(channels).arg(depth));
        return image;
    } catch (const std::exception &e) {
        return refused(why, QString::fromLocal8Bit(e.what()));
    }
}

bool ImageFileReader::readTiff(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Destination &where,
                               void *&samples)
{
    return TiffReader::read(path, image, where, samples);
}

bool ImageFileReader::readTiffBands(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Band &band,
                                    int passes, quint32 rowUnit)
{
    return TiffReader::readBands(path, image, band, passes, rowUnit);
}

bool ImageFileReader::readTiffHalved(const QByteArray &path, ImReaderWriter &image, QSize size, quint16 *maximum,
                                     QSize *fileSize)
{
    return TiffReader::readHalved(path, image, size, maximum, fileSize);
}
