#include "DeconvFocus_alg.h"

#include <QThread>

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

bool interrupted()
{
    return QThread::currentThread()->isInterruptionRequested();
}

bool oddPositive(int k)
{
    return k > 0 && k % 2 == 1;
}

// Sum of the w x h rectangle at (x, y) from an integral image (CV_64F, exact for 8-bit data).
inline double rectSum(const cv::Mat& integral, int x, int y, int w, int h)
{
    const double* top = integral.ptr<double>(y);
    const double* bottom = integral.ptr<double>(y + h);
    return bottom[x + w] - bottom[x] - top[x + w] + top[x];
}

} // namespace

void DeconvFocus_alg::set_load_image(unsigned char* data, int width, int height)
{
    m_width = width;
    m_height = height;
    m_bytesPerPixel = 1;
    cv::Mat slice(height, width, CV_8UC1);
    std::memcpy(slice.data, data, size_t(width) * size_t(height));
    m_slices.push_back(slice);
}

void DeconvFocus_alg::free_load_image()
{
    m_slices.clear();
}

bool DeconvFocus_alg::get_result_image(unsigned char* out) const
{
    if (!m_result.data || m_result.total() == 0 || m_slices.empty())
        return false;
    std::memcpy(out, m_result.data, m_result.total() * m_result.elemSize());
    return true;
}

bool DeconvFocus_alg::parametersValid(int matchingSize, int medianKernel, int meanKernel,
                                      int sobelKernel, bool sr, float scaleFactor, int patchSize,
                                      int patchMoving, int width, int height)
{
    if (matchingSize <= 2 || !oddPositive(matchingSize))
        return false;
    // The filters run on 32-bit float data, where OpenCV takes these apertures only.
    if (medianKernel != 1 && medianKernel != 3 && medianKernel != 5)
        return false;
    if (sobelKernel != 1 && sobelKernel != 3 && sobelKernel != 5 && sobelKernel != 7)
        return false;
    if (!oddPositive(meanKernel))
        return false;
    if (sr) {
        if (patchSize < 0 || patchMoving < 0)
            return false;
        if (!(scaleFactor > 0.0f))
            return false;
        const int wu = int(float(width) * scaleFactor);
        const int hu = int(float(height) * scaleFactor);
        if (wu < 2 || hu < 2)
            return false;
    }
    return true;
}

cv::Mat DeconvFocus_alg::focusMap(const cv::Mat& slice, int matchingSize, int medianKernel,
                                  int meanKernel, int sobelKernel, FocusBuffers& work)
{
    // The buffers are reused from slice to slice, so a merge holds a fixed few frames of
    // working memory whatever the number of slices.
    const int r = matchingSize / 2;
    cv::copyMakeBorder(slice, work.padded, r, r, r, r, cv::BORDER_REPLICATE);
    work.padded.convertTo(work.a, CV_32F);
    cv::medianBlur(work.a, work.b, medianKernel);
    cv::blur(work.b, work.a, cv::Size(meanKernel, meanKernel));
    cv::Sobel(work.a, work.b, CV_32F, 1, 0, sobelKernel);
    cv::Sobel(work.a, work.c, CV_32F, 0, 1, sobelKernel);
    cv::magnitude(work.b, work.c, work.a);
    // The window maximum: a dilation by a square kernel centred on each pixel. Every window of
    // the unpadded area lies inside the padded image, so the border rule does not matter.
    cv::dilate(work.a, work.b, cv::getStructuringElement(cv::MORPH_RECT,
                                                         cv::Size(matchingSize, matchingSize)));
    return work.b(cv::Rect(r, r, slice.cols, slice.rows));
}

bool DeconvFocus_alg::run(int matchingSize, int medianKernel, int meanKernel, int sobelKernel,
                          bool sr, float scaleFactor, int patchSize, int patchMoving,
                          double freqWeight)
{
    const int n = int(m_slices.size());
    const int W = m_width, H = m_height;
    if (n == 0 || W <= 0 || H <= 0 || m_bytesPerPixel == 0)
        return false;
    if (!parametersValid(matchingSize, medianKernel, meanKernel, sobelKernel, sr, scaleFactor,
                         patchSize, patchMoving, W, H))
        return false;
    for (const cv::Mat& slice : m_slices)
        if (slice.cols != W || slice.rows != H)
            return false;

    // Each focus map goes into the composite as soon as it is made; a strictly greater focus
    // takes the pixel, so on equal focus the earlier slice keeps it.
    cv::Mat composite, bestFocus, mask;
    FocusBuffers work;
    double brightnessSum = 0.0;
    for (int i = 0; i < n; ++i) {
        if (interrupted())
            return false;
        const cv::Mat& slice = m_slices[size_t(i)];
        brightnessSum += cv::mean(slice)[0];
        const cv::Mat focus = focusMap(slice, matchingSize, medianKernel, meanKernel, sobelKernel, work);
        if (i == 0) {
            composite = slice.clone();
            bestFocus = focus.clone();
            continue;
        }
        cv::compare(focus, bestFocus, mask, cv::CMP_GT);
        slice.copyTo(composite, mask);
        focus.copyTo(bestFocus, mask);
    }
    work = FocusBuffers();
    bestFocus.release();
    mask.release();
    if (!sr) {
        m_result = composite;
        return true;
    }

    const int P = patchSize;
    cv::Mat upscaled, blurred, detail;
    cv::resize(composite, upscaled,
               cv::Size(int(float(W) * scaleFactor), int(float(H) * scaleFactor)), 0, 0,
               cv::INTER_LINEAR);
    cv::GaussianBlur(upscaled, blurred, cv::Size(3, 3), 1.5, 1.5);
    cv::subtract(upscaled, blurred, detail, cv::noArray(), CV_32S);

    cv::Mat padComposite, padUpscaled, padDetail;
    cv::copyMakeBorder(detail, padDetail, P, P, P, P, cv::BORDER_REPLICATE);
    cv::copyMakeBorder(upscaled, padUpscaled, P, P, P, P, cv::BORDER_REPLICATE);
    cv::copyMakeBorder(composite, padComposite, P, P, P, P, cv::BORDER_REPLICATE);
    cv::Mat accum = cv::Mat::zeros(padComposite.size(), CV_32S);
    cv::Mat count = cv::Mat::zeros(padComposite.size(), CV_32S);
    if (!Find_Patching_Block_Accumulation(padComposite, padUpscaled, padDetail, accum, count, P,
                                          scaleFactor, patchMoving))
        return false;
    const cv::Rect area(P, P, W, H);
    const cv::Mat accumArea = accum(area);
    const cv::Mat countArea = count(area);

    // A black composite has no brightness to correct: the ratio stays 1.
    const double compositeMean = cv::mean(composite)[0];
    const double ratio = compositeMean > 0.0 ? (brightnessSum / n) / compositeMean : 1.0;
    m_result = Final_Patching_make_Result(composite, accumArea, countArea, ratio, freqWeight);
    return true;
}

bool DeconvFocus_alg::Find_Patching_Block_Accumulation(cv::Mat composite, cv::Mat upscaled,
                                                       cv::Mat detail, cv::Mat accum,
                                                       cv::Mat count, int patchSize,
                                                       float scaleFactor, int patchMoving)
{
    const int P = patchSize, M = patchMoving, B = 2 * P + 1;
    const int Rc = composite.rows, Cc = composite.cols;
    const int Ru = upscaled.rows, Cu = upscaled.cols;
    // Block and candidate sums from integral images: exact integers, so every comparison
    // below decides as a direct sum would.
    cv::Mat blockIntegral, patchIntegral;
    cv::integral(composite, blockIntegral, CV_64F);
    cv::integral(upscaled, patchIntegral, CV_64F);

    for (int y = P; y <= Rc - P - 1; ++y) {
        if (interrupted())
            return false;
        for (int x = P; x <= Cc - P - 1; ++x) {
            const double b = rectSum(blockIntegral, x - P, y - P, B, B);
            if (b == 0.0)
                continue;
            int cx = int(float(x) * scaleFactor);
            int cy = int(float(y) * scaleFactor);
            if (cx >= Cu - P) cx = Cu - P;
            if (cx < P) cx = P;
            if (cy >= Ru - P) cy = Ru - P;
            if (cy < P) cy = P;

            int bestU = cx, bestV = cy;
            if (M >= 0) {
                double smallest = 1000000.0;
                bool done = false;
                for (int v = cy - P - M; v <= cy - P + M && !done; ++v) {
                    if (v < 0 || v >= Ru - B)
                        continue;
                    for (int u = cx - P - M; u <= cx - P + M; ++u) {
                        if (u < 0 || u >= Cu - B)
                            continue;
                        const double d = std::fabs(b - rectSum(patchIntegral, u, v, B, B));
                        if (d < smallest) {
                            smallest = d;
                            bestU = u;
                            bestV = v;
                        }
                        if (smallest <= 10.0) {
                            done = true;
                            break;
                        }
                    }
                }
            }
            // A patch that would reach outside the detail image is not transferred.
            if (bestU < 0 || bestV < 0 || bestU + B > detail.cols || bestV + B > detail.rows)
                continue;
            for (int j = 0; j < B; ++j) {
                const int* src = detail.ptr<int>(bestV + j) + bestU;
                int* acc = accum.ptr<int>(y - P + j) + (x - P);
                int* cnt = count.ptr<int>(y - P + j) + (x - P);
                for (int k = 0; k < B; ++k) {
                    acc[k] += src[k];
                    cnt[k] += 1;
                }
            }
        }
    }
    return true;
}

cv::Mat DeconvFocus_alg::Final_Patching_make_Result(cv::Mat composite, cv::Mat accum,
                                                    cv::Mat count, double brightnessWeight,
                                                    double detailWeight)
{
    // One pass, no full-size temporaries: the weighted sum in double, rounded and clamped as
    // a conversion to 8 bits rounds it.
    cv::Mat result(composite.size(), CV_8UC1);
    for (int y = 0; y < composite.rows; ++y) {
        const uchar* c = composite.ptr<uchar>(y);
        const int* a = accum.ptr<int>(y);
        const int* n = count.ptr<int>(y);
        uchar* out = result.ptr<uchar>(y);
        for (int x = 0; x < composite.cols; ++x) {
            const double quotient = n[x] != 0 ? double(a[x]) / double(n[x]) : 0.0;
            out[x] = cv::saturate_cast<uchar>(brightnessWeight * c[x] + detailWeight * quotient + 0.0);
        }
    }
    return result;
}
