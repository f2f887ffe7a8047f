#include "ViewerConversion.h"

#include "FrameThumbnail.h"
#include "ImReaderWriter.h"
#include "ImageThumbnail.h"

#include <algorithm>
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

namespace {

#if defined(__GNUC__) && defined(__x86_64__)
#define VANTOR_AVX2 1
const bool hasAvx2 = __builtin_cpu_supports("avx2");

// The loop below vectorised by the compiler for AVX2, sixteen samples at a time: less than half
// the time of the eight-sample loop on processors that have it.
__attribute__((target("avx2"))) quint16 brightestAvx2(const quint16 *samples, size_t count)
{
    quint16 largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = std::max(largest, samples[i]);
    return largest;
}

// Samples times scale to 8 bits exactly as convertTo makes them (the single-precision product
// rounded to the nearest, ties to even, saturated at 255), 32 samples a step with fewer
// instructions than its 16: about four fifths of its time.
__attribute__((target("avx2"), always_inline)) inline __m256i scaledEight(const quint16 *in, __m256 k)
{
    const __m256i words = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in)));
    return _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(words), k));
}

__attribute__((target("avx2"))) void scaleAvx2(const quint16 *in, uchar *out, size_t count, float scale)
{
    const __m256 k = _mm256_set1_ps(scale);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i low = _mm256_packs_epi32(scaledEight(in + i, k), scaledEight(in + i + 8, k));
        const __m256i high = _mm256_packs_epi32(scaledEight(in + i + 16, k), scaledEight(in + i + 24, k));
        // The packs work within 128-bit lanes: groups of four samples are put back in order.
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(low, high), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), bytes);
    }
    for (; i < count; ++i)
        out[i] = cv::saturate_cast<uchar>(float(in[i]) * scale);
}
#endif

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
    const double scale = maximum > 0 ? 255.0 / maximum : 0.0;
#ifdef VANTOR_AVX2
    if (hasAvx2 && source.isContinuous() && target.isContinuous()) {
        scaleAvx2(source.ptr<quint16>(), target.data, source.total(), float(scale));
        return out;
    }
#endif
    source.convertTo(target, CV_8U, scale);
    return out;
}


} // namespace

// Eight samples at a time through OpenCV's vector types: its minMaxLoc, which tracks positions,
// and the compiler's scalar loop take several times as long.
quint16 ViewerConversion::brightest(const quint16 *samples, size_t count)
{
#ifdef VANTOR_AVX2
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
