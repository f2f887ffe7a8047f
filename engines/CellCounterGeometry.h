#pragma once
// Small shared steps of the engine's object finders: rounding as the finders round, contour
// hierarchy walks, enclosing circles and guarded histogram bins.
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace Quorvan::finder {

// Nearest int, ties to even, saturated to the int range; NaN gives INT_MIN, which no window holds.
inline int roundEven(float x)
{
    if (std::isnan(x))
        return INT_MIN;
    if (x >= 2147483520.0f)
        return INT_MAX;
    if (x <= -2147483648.0f)
        return INT_MIN;
    return int(std::nearbyint(x));
}

// Toward zero, saturated to the int range (NaN gives 0).
inline int truncated(float x)
{
    if (std::isnan(x))
        return 0;
    return x >= 2147483520.0f ? INT_MAX : x <= -2147483648.0f ? INT_MIN : int(x);
}

// The outer contours of a hierarchy, walked from contour 0 along the next links.
inline std::vector<int> outerContours(const std::vector<cv::Vec4i> &hierarchy)
{
    std::vector<int> outer;
    const int n = int(hierarchy.size());
    for (int i = n > 0 ? 0 : -1; i >= 0 && i < n && int(outer.size()) < n; i = hierarchy[size_t(i)][0])
        if (hierarchy[size_t(i)][3] < 0)
            outer.push_back(i);
    return outer;
}

// The children of contour index (its holes), in chain order.
inline std::vector<int> childrenOf(const std::vector<cv::Vec4i> &hierarchy, int index)
{
    std::vector<int> children;
    const int n = int(hierarchy.size());
    for (int i = hierarchy[size_t(index)][2]; i >= 0 && i < n && int(children.size()) < n; i = hierarchy[size_t(i)][0])
        children.push_back(i);
    return children;
}

struct Circle
{
    cv::Point2f centre;
    float radius = 0;
};

inline Circle enclosingCircle(const std::vector<cv::Point> &contour)
{
    Circle c;
    cv::minEnclosingCircle(contour, c.centre, c.radius);
    return c;
}

// A histogram bin for a rounded value: the value itself within the histogram, else none.
inline int *bin(int *histogram, int value, int bins)
{
    return value >= 0 && value < bins ? &histogram[value] : nullptr;
}

// Fluorescence class of a summed intensity plus one: 10 x log10(v), rounded half to even.
inline int logClass(float v)
{
    return roundEven(std::log10(v) * 10.0f);
}

// A box-sized 0/255 image with a filled disc of 255 (not clipped to any object).
inline cv::Mat disc(cv::Size size, cv::Point centre, int radius)
{
    cv::Mat d = cv::Mat::zeros(size, CV_8UC1);
    cv::circle(d, centre, radius, cv::Scalar(255), cv::FILLED, cv::LINE_8, 0);
    return d;
}

// The sum of image where the 0/255 mask is set.
inline double maskedSum(const cv::Mat &image, const cv::Mat &mask)
{
    cv::Mat kept;
    cv::bitwise_and(image, mask, kept);
    return cv::sum(kept)[0];
}

// Roundness in percent of an area rectangle, shorter over longer side; 0 for a point.
inline int roundness(const cv::RotatedRect &area)
{
    const float longSide = std::max(area.size.width, area.size.height);
    const float shortSide = std::min(area.size.width, area.size.height);
    return longSide > 0.0f ? int(double(shortSide / longSide) * 100.0) : 0;
}

// A tag circle: radius truncated plus 5, drawn only where it can be.
inline void drawTag(cv::Mat &tag, cv::Point centre, float radius, const cv::Scalar &colour, int thickness)
{
    cv::circle(tag, centre, std::clamp(truncated(radius), 0, INT_MAX - 5) + 5, colour, std::min(thickness, 32767),
               cv::LINE_8, 0);
}

} // namespace Quorvan::finder
