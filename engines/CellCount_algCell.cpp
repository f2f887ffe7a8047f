// Per-cell measures of the counter: axes and box from the fitted ellipse, and the live/dead test.
#include "CellCount_alg.h"
#include "Utilities.h"

#include <QDebug>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {

// A fitted ellipse that can stand for the cell: finite, with two sides of some extent. OpenCV's
// fit of (nearly) collinear outline points gives a side of 0 or of 1e-13 and a wrong other side.
bool usable(const cv::RotatedRect &r)
{
    constexpr float kLeastSide = 1e-3f;
    return std::isfinite(r.center.x) && std::isfinite(r.center.y) && std::isfinite(r.size.width)
           && std::isfinite(r.size.height) && r.size.width > kLeastSide && r.size.height > kLeastSide;
}

// Half the extent of a box side scaled by a range, as the test sizes its boxes; a range that is
// not a number or negative gives 0, and no half-size exceeds what any image can hold.
int halfSize(float extent, float range)
{
    const float scaled = extent * range;
    if (!(scaled > 0.0f))
        return 0;
    return int(std::min(scaled, float(INT16_MAX))) / 2;
}

} // namespace

void CellCount_alg::NimboS_Declustering_Partial_LongShort(const cv::Mat &mask, float *longAxis, float *shortAxis,
                                                          int *left, int *top, int *right, int *bottom,
                                                          bool fitEllipse)
{
    *longAxis = 0.0f;
    *shortAxis = 0.0f;
    cv::RotatedRect box;
    try {
        std::vector<std::vector<cv::Point>> outlines;
        std::vector<cv::Vec4i> hierarchy;
        cv::findContours(mask, outlines, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE, cv::Point(0, 0));
        if (outlines.empty())
            return;
        size_t largest = 0;
        double bestArea = 0.0;
        for (size_t i = 0; i < outlines.size(); ++i) {
            const double a = cv::contourArea(outlines[i]);
            if (a > bestArea) {
                bestArea = a;
                largest = i;
            }
        }
        const std::vector<cv::Point> &outline = outlines[largest];
        if (fitEllipse && outline.size() >= 5)
            box = cv::fitEllipse(outline);
        if (!fitEllipse || outline.size() < 5 || !usable(box))
            box = cv::minAreaRect(outline);
    } catch (const cv::Exception &) {
        return; // a mask OpenCV refuses has no outline
    }

    cv::Point2f p[4];
    box.points(p);
    int l = mask.cols - 1, r = 0, t = mask.rows - 1, b = 0;
    for (const cv::Point2f &c : p) {
        if (l > c.x)
            l = c.x < 0.0f ? 0 : int(c.x);
        if (c.x > r)
            r = c.x >= float(mask.cols) ? mask.cols - 1 : int(c.x);
        if (t > c.y)
            t = c.y < 0.0f ? 0 : int(c.y);
        if (c.y > b)
            b = c.y >= float(mask.rows) ? mask.rows - 1 : int(c.y);
    }
    *left = l;
    *top = t;
    *right = r;
    *bottom = b;

    float longest = 0.0f, shortest = 9999.0f;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2f side = p[(i + 1) % 4] - p[i];
        const float d = std::sqrt(side.x * side.x + side.y * side.y) + 1.0f;
        longest = d > longest ? d : longest;
        shortest = d < shortest ? d : shortest;
    }
    *longAxis = longest;
    *shortAxis = shortest;
}

void CellCount_alg::NimboS_Declustering_Partial_LongShort(const cv::Mat &mask, float *longAxis, float *shortAxis,
                                                          int *left, int *top, int *right, int *bottom)
{
    NimboS_Declustering_Partial_LongShort(mask, longAxis, shortAxis, left, top, right, bottom, true);
}

int CellCount_alg::NimboS_Decluster_is_Live(const cv::Mat &grey, const cv::Mat &mask, int left, int right, int top,
                                            int bottom, int centerX, int centerY, int minIntensity,
                                            int maxIntensity, int liveMinIntensity, float intensityRatio,
                                            float centerRange, float wholeRange)
{
    const float w = float(right - left), h = float(bottom - top);
    const int a = halfSize(w, wholeRange), b = halfSize(h, wholeRange);
    const int ac = halfSize(w, centerRange), bc = halfSize(h, centerRange);
    if (isEnableSerialLog()) {
        qDebug() << "live test whole box rows" << centerY - b << centerY + b;
        qDebug() << "live test whole box columns" << centerX - a << centerX + a;
        qDebug() << "live test mask" << static_cast<const void *>(mask.data) << "image"
                 << static_cast<const void *>(grey.data);
    }

    // Both boxes are read only where both images have pixels.
    long long wholeSum = 0, wholeCount = 0, centerSum = 0, centerCount = 0;
    if (grey.type() == CV_8UC1 && mask.type() == CV_8UC1) {
        const int rows = std::min(grey.rows, mask.rows), cols = std::min(grey.cols, mask.cols);
        const int y0 = std::max(centerY - b, 0), y1 = std::min(centerY + b, rows - 1);
        const int x0 = std::max(centerX - a, 0), x1 = std::min(centerX + a, cols - 1);
        for (int y = y0; y <= y1; ++y) {
            const uchar *g = grey.ptr<uchar>(y), *m = mask.ptr<uchar>(y);
            const bool centerRow = y >= centerY - bc && y <= centerY + bc;
            for (int x = x0; x <= x1; ++x) {
                if (!m[x])
                    continue;
                wholeSum += g[x];
                ++wholeCount;
                if (centerRow && x >= centerX - ac && x <= centerX + ac) {
                    centerSum += g[x];
                    ++centerCount;
                }
            }
        }
    }
    const long long wholeMean = wholeCount ? wholeSum / wholeCount : 0;
    const long long centerMean = centerCount ? centerSum / centerCount : 0;
    const float scaled = float(wholeMean) * intensityRatio;
    // Compared as a real number with the integer bounds, this is the truncated value's test, and a
    // ratio that is not a number rejects the cell.
    if (!(std::trunc(scaled) >= float(minIntensity) && std::trunc(scaled) <= float(maxIntensity)))
        return -1;
    return centerMean >= liveMinIntensity && float(centerMean) >= std::trunc(scaled) ? 1 : 0;
}
