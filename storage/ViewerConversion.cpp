#include "ViewerConversion.h"

#include "FrameThumbnail.h"
#include "ImReaderWriter.h"
#include "ImageThumbnail.h"

#include <algorithm>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// 16-bit grey to its maximum; the maximum is that of the whole image so that a thumbnail
// matches the viewer.
QImage greyToItsMaximum(const ImReaderWriter &image, QSize size, int greyMaximum)
{
    const cv::Mat frame(int(image.height), int(image.width), CV_16UC1, image.buffer16.get());
    const double maximum = greyMaximum >= 0 ? greyMaximum : ViewerConversion::brightest(image.buffer16.get(), frame.total());
    cv::Mat source = frame;
    if (size.isValid() && !size.isEmpty() && size != QSize(frame.cols, frame.rows)) {
        // As the series thumbnails: halvings, then less than one more interpolated.
        const cv::Mat coarse = FrameThumbnail::halved(frame, size);
        const bool lessThanHalving = coarse.cols < 2 * size.width() && coarse.rows < 2 * size.height();
        cv::resize(coarse, source, cv::Size(size.width(), size.height()), 0, 0,
                   lessThanHalving ? cv::INTER_LINEAR : cv::INTER_AREA);
    }
    QImage out(source.cols, source.rows, QImage::Format_Grayscale8);
    if (out.isNull())
        return out;
    cv::Mat target(source.rows, source.cols, CV_8UC1, out.bits(), size_t(out.bytesPerLine()));
    source.convertTo(target, CV_8U, maximum > 0 ? 255.0 / maximum : 0.0);
    return out;
}

#if defined(__GNUC__) && defined(__x86_64__)
// The same loop vectorised by the compiler for AVX2, sixteen samples at a time: less than half
// the time of the eight-sample loop below on processors that have it.
__attribute__((target("avx2"))) quint16 brightestAvx2(const quint16 *samples, size_t count)
{
    quint16 largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = std::max(largest, samples[i]);
    return largest;
}
const bool hasAvx2 = __builtin_cpu_supports("avx2");
#endif

} // namespace

// Eight samples at a time through OpenCV's vector types: its minMaxLoc, which tracks positions,
// and the compiler's scalar loop take several times as long.
quint16 ViewerConversion::brightest(const quint16 *samples, size_t count)
{
#if defined(__GNUC__) && defined(__x86_64__)
    if (hasAvx2)
        return brightestAvx2(samples, count);
#endif
    size_t i = 0;
    quint16 largest = 0;
#if CV_SIMD128
    cv::v_uint16x8 a = cv::v_setzero_u16(), b = a;
    for (; i + 16 <= count; i += 16) {
        a = cv::v_max(a, cv::v_load(samples + i));
        b = cv::v_max(b, cv::v_load(samples + i + 8));
    }
    largest = cv::v_reduce_max(cv::v_max(a, b));
#endif
    for (; i < count; ++i)
        largest = std::max(largest, samples[i]);
    return largest;
}

QImage ViewerConversion::toImage(const ImReaderWriter &image, QSize size, int greyMaximum)
{
    const bool whole = !size.isValid() || size.isEmpty();
    try {
        if (image.bitsPerSample == 16 && image.samplesPerPixel == 1 && image.buffer16
            && image.sampleCount == quint64(image.width) * image.height && image.width > 0 && image.height > 0)
            return greyToItsMaximum(image, size, greyMaximum);
    } catch (const cv::Exception &) {
        return QImage();
    }
    if (whole)
        return ImageThumbnail::eightBit(image);
    QImage small = ImageThumbnail::makeImage(image, {}, size);
    return small.format() == QImage::Format_Indexed8 ? small.convertToFormat(QImage::Format_Grayscale8) : small;
}
