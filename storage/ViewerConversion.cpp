#include "ViewerConversion.h"

#include "ImReaderWriter.h"
#include "ImageThumbnail.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// 16-bit grey to its maximum; the maximum is taken over the whole image so that a thumbnail
// matches the viewer.
QImage greyToItsMaximum(const ImReaderWriter &image, QSize size)
{
    const cv::Mat frame(int(image.height), int(image.width), CV_16UC1, image.buffer16.get());
    double maximum = 0;
    cv::minMaxLoc(frame, nullptr, &maximum);
    cv::Mat source = frame;
    if (size.isValid() && !size.isEmpty() && size != QSize(frame.cols, frame.rows))
        cv::resize(frame, source, cv::Size(size.width(), size.height()), 0, 0, cv::INTER_AREA);
    QImage out(source.cols, source.rows, QImage::Format_Grayscale8);
    if (out.isNull())
        return out;
    cv::Mat target(source.rows, source.cols, CV_8UC1, out.bits(), size_t(out.bytesPerLine()));
    source.convertTo(target, CV_8U, maximum > 0 ? 255.0 / maximum : 0.0);
    return out;
}

} // namespace

QImage ViewerConversion::toImage(const ImReaderWriter &image, QSize size)
{
    const bool whole = !size.isValid() || size.isEmpty();
    try {
        if (image.bitsPerSample == 16 && image.samplesPerPixel == 1 && image.buffer16
            && image.sampleCount == quint64(image.width) * image.height && image.width > 0 && image.height > 0)
            return greyToItsMaximum(image, size);
    } catch (const cv::Exception &) {
        return QImage();
    }
    if (whole)
        return ImageThumbnail::eightBit(image);
    QImage small = ImageThumbnail::makeImage(image, {}, size);
    return small.format() == QImage::Format_Indexed8 ? small.convertToFormat(QImage::Format_Grayscale8) : small;
}
