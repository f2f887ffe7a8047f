#include "ImageFileReader.h"

#include "ImReaderWriter.h"
#include "JpegReader.h"
#include "PngReader.h"
#include "RegularFile.h"

#include <QtEndian>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>

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

cv::Mat readTiff(const QByteArray &path, QString *why)
{
    ImReaderWriter file;
    if (!file.read(path))
        return ImageFileReader::refused(why, file.errorString());
    const int depth = file.bitsPerSample == 16 ? CV_16U : CV_8U;
    const cv::Mat samples(int(file.height), int(file.width), CV_MAKETYPE(depth, file.samplesPerPixel),
                          file.data(file.bitsPerSample));
    cv::Mat image;
    if (file.samplesPerPixel == 3)
        cv::cvtColor(samples, image, cv::COLOR_RGB2BGR);
    else
        image = samples.clone();
    return image;
}

// A BMP through OpenCV, once its header says it is within the cap, its pixel data begin behind
// its header, colour masks and palette, and the file holds all its rows: OpenCV would read
// header bytes as pixels, and prints to standard error on a cut file or a palette it cannot
// hold. Only uncompressed rows are read.
cv::Mat readBmp(const QByteArray &bytes, QString *why)
{
    const auto *header = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 infoSize = bytes.size() >= 18 ? qFromLittleEndian<quint32>(header + 14) : 0;
    if (bytes.size() < 26 || (infoSize != 12 && (infoSize < 40 || bytes.size() < 50)))
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("the header is cut"));
    // The old 12-byte header holds 16-bit sizes and no compression; the others signed 32-bit
    // sizes (a negative height: rows from the top), the compression and the palette's size.
    const bool old = infoSize == 12;
    const qint64 width = old ? qFromLittleEndian<quint16>(header + 18) : qFromLittleEndian<qint32>(header + 18);
    const qint64 height =
        old ? qFromLittleEndian<quint16>(header + 20) : std::abs(qint64(qFromLittleEndian<qint32>(header + 22)));
    const quint64 bits = qFromLittleEndian<quint16>(header + (old ? 24 : 28));
    const quint32 compression = old ? 0 : qFromLittleEndian<quint32>(header + 30);
    const quint64 colours = old ? 0 : qFromLittleEndian<quint32>(header + 46);
    if (width < 0)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("a negative width"));
    if (!ImReaderWriter::withinSizeCap(quint64(width), quint64(height), 3, 1))
        return ImageFileReader::refused(why, ImReaderWriter::tooLarge(quint64(width), quint64(height)));
    if (compression != 0 && compression != 3) // BI_RGB, BI_BITFIELDS
        return ImageFileReader::refused(why, QStringLiteral("compressed BMP images are not supported"));
    if (bits <= 8 && colours > 256)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("a palette of %1 colours").arg(colours));
    // Behind the header: three colour masks (BI_BITFIELDS with the 40-byte header), then for up
    // to 8 bits a pixel the palette (all 2^bits colours when the header gives no number).
    const quint64 palette = bits > 8 ? 0 : (colours != 0 ? colours : quint64(1) << bits) * (old ? 3 : 4);
    const quint64 dataStart = 14 + quint64(infoSize) + (compression == 3 && infoSize == 40 ? 12 : 0) + palette;
    const quint64 offset = qFromLittleEndian<quint32>(header + 10);
    if (quint64(bytes.size()) < dataStart)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("the header is cut"));
    if (offset < dataStart)
        return ImageFileReader::damaged(
            why, "BMP", QStringLiteral("the pixel data begin at byte %1, inside the header and palette").arg(offset));
    const quint64 rowBytes = (quint64(width) * bits + 31) / 32 * 4;
    if (quint64(bytes.size()) < offset + rowBytes * quint64(height))
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("the file ends before its last row"));
    const cv::Mat image = cv::imdecode(cv::Mat(1, bytes.size(), CV_8UC1, const_cast<char *>(bytes.constData())),
                                       cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
    if (image.empty())
        return ImageFileReader::damaged(why, "BMP", QString());
    return image;
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

cv::Mat ImageFileReader::read(const QByteArray &path, QString *why, QSize atLeast)
{
    try {
        const Format &format = formatOf(path);
        if (format.kind == Kind::Unknown)
            return refused(why, QStringLiteral("not a name of an image read: it must end in .tif, .tiff, .png, .jpg, "
                                              ".jpeg or .bmp"));
        if (format.kind == Kind::Tiff)
            return readTiff(path, why);
        QByteArray bytes;
        QString reason;
        if (!RegularFile::readAll(path, MaxFileBytes, bytes, &reason))
            return refused(why, reason);
        if (!bytes.startsWith(format.signature))
            return refused(why, QStringLiteral("not a %1 image, as its name says").arg(QLatin1String(format.name)));
        cv::Mat image = format.kind == Kind::Png ? PngReader::decode(bytes, why)
                        : format.kind == Kind::Jpeg ? JpegReader::decode(bytes, why, atLeast)
                                                    : readBmp(bytes, why);
        const int depth = image.depth(), channels = image.channels();
        if (!image.empty() && ((depth != CV_8U && depth != CV_16U) || (channels != 1 && channels != 3)))
            return refused(why,
                           QStringLiteral("%1 channels of OpenCV depth %2 are not supported").arg(channels).arg(depth));
        return image;
    } catch (const std::exception &e) {
        return refused(why, QString::fromLocal8Bit(e.what()));
    }
}
