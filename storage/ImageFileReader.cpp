#include "ImageFileReader.h"

#include "ImReaderWriter.h"
#include "RegularFile.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

bool isTiffName(const QByteArray &path)
{
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1).toLower();
    return name.endsWith(".tif") || name.endsWith(".tiff");
}

bool isTiffContent(const QByteArray &bytes)
{
    return bytes.startsWith(QByteArray("II*\0", 4)) || bytes.startsWith(QByteArray("MM\0*", 4))
           || bytes.startsWith(QByteArray("II+\0", 4)) || bytes.startsWith(QByteArray("MM\0+", 4));
}

cv::Mat failed(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return cv::Mat();
}

} // namespace

cv::Mat ImageFileReader::read(const QByteArray &path, QString *why)
{
    try {
        if (isTiffName(path)) {
            ImReaderWriter file;
            if (!file.read(path))
                return failed(why, file.errorString());
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
        QByteArray bytes;
        QString reason;
        if (!RegularFile::readAll(path, MaxFileBytes, bytes, &reason))
            return failed(why, reason);
        // OpenCV's own TIFF decoder passes over decoding errors: TIFF is read by name only.
        if (isTiffContent(bytes))
            return failed(why, QStringLiteral("a TIFF file is read only under a .tif or .tiff name"));
        const cv::Mat image = cv::imdecode(cv::Mat(1, bytes.size(), CV_8UC1, bytes.data()),
                                           cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
        if (image.empty())
            return failed(why, QStringLiteral("not an image OpenCV can decode"));
        return image;
    } catch (const std::exception &e) {
        return failed(why, QString::fromLocal8Bit(e.what()));
    }
}
