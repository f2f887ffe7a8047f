// Distance-map seeds and local maxima: candidates near the top of a map, strongest first, thinned
// so that no two kept points share a square window.
#include "CellCounter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>

namespace Quorvan {

namespace {

// The points kept so far, one grid cell of side radius each. Two points in one cell lie less than
// radius apart in both directions, so each would cover the other: a cell holds at most one kept
// point, and a window of 2 x radius meets at most 3 x 3 cells. The test is then the pairwise
// window rule at constant cost per point.
class KeptGrid
{
public:
    // Points lie in [0, size.width) x [0, size.height). A window covers q from point p when
    // q - p lies in [-radius, radius) per axis (lowerIncluded) or in (-radius, radius].
    KeptGrid(cv::Size size, int radius, bool lowerIncluded)
        // A radius beyond the image covers the whole image either way; capping it keeps the
        // arithmetic in int.
        : m_Radius(std::min(radius, std::max(size.width, size.height) + 1)),
          m_Low(lowerIncluded ? -m_Radius : 1 - m_Radius), m_High(lowerIncluded ? m_Radius - 1 : m_Radius)
    {
        if (m_Radius > 0) {
            m_Columns = (size.width + m_Radius - 1) / m_Radius;
            m_Rows = (size.height + m_Radius - 1) / m_Radius;
            m_Cells.assign(size_t(m_Columns) * size_t(m_Rows), cv::Point(-1, -1));
        }
    }

    // Keeps p unless a point kept before covers it; true when kept. A radius of 0 or less keeps all.
    bool keep(cv::Point p)
    {
        if (m_Radius <= 0)
            return true;
        const int column = p.x / m_Radius, row = p.y / m_Radius;
        cv::Point &own = m_Cells[size_t(row) * size_t(m_Columns) + size_t(column)];
        if (own.x >= 0)
            return false; // same cell: closer than the radius both ways
        for (int r = std::max(row - 1, 0); r <= std::min(row + 1, m_Rows - 1); ++r)
            for (int c = std::max(column - 1, 0); c <= std::min(column + 1, m_Columns - 1); ++c) {
                const cv::Point q = m_Cells[size_t(r) * size_t(m_Columns) + size_t(c)];
                if (q.x >= 0 && q.x - p.x >= m_Low && q.x - p.x <= m_High && q.y - p.y >= m_Low &&
                    q.y - p.y <= m_High)
                    return false;
            }
        own = p;
        return true;
    }

private:
    int m_Radius;
    int m_Low, m_High;
    int m_Columns = 0, m_Rows = 0;
    std::vector<cv::Point> m_Cells;
};

// [x - half, x + half) x [y - half, y + half) clipped to an image of size.
cv::Rect meanWindow(cv::Point p, int half, cv::Size size)
{
    const auto x0 = std::max<int64_t>(0, int64_t(p.x) - half), x1 = std::min<int64_t>(size.width, int64_t(p.x) + half);
    const auto y0 = std::max<int64_t>(0, int64_t(p.y) - half), y1 = std::min<int64_t>(size.height, int64_t(p.y) + half);
    if (x1 <= x0 || y1 <= y0)
        return {};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

// Sum of the pixels in window from their integral image.
double windowSum(const cv::Mat &sums, const cv::Rect &window)
{
    const int x0 = window.x, y0 = window.y, x1 = window.x + window.width, y1 = window.y + window.height;
    return sums.at<double>(y1, x1) - sums.at<double>(y0, x1) - sums.at<double>(y1, x0) + sums.at<double>(y0, x0);
}

} // namespace

std::vector<std::pair<float, cv::Point>> CellCounter::getDistanceMap(cv::Mat distanceImage, float peakTolerance,
                                                                     int windowRadius)
{
    std::vector<std::pair<float, cv::Point>> seeds;
    if (distanceImage.empty() || distanceImage.type() != CV_32FC1)
        return seeds;
    try {
        double max = 0;
        cv::minMaxLoc(distanceImage, nullptr, &max);
        std::vector<std::pair<float, cv::Point>> candidates;
        for (int y = 0; y < distanceImage.rows; ++y) {
            const float *row = distanceImage.ptr<float>(y);
            for (int x = 0; x < distanceImage.cols; ++x)
                if (max - double(row[x]) < double(peakTolerance))
                    candidates.emplace_back(row[x], cv::Point(x, y));
        }
        // Descending as compare_func2 orders, stable: equal values stay row-major on every
        // library version.
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const auto &a, const auto &b) { return a.first > b.first; });
        KeptGrid kept(distanceImage.size(), windowRadius, true);
        for (const auto &candidate : candidates)
            if (kept.keep(candidate.second))
                seeds.push_back(candidate);
    } catch (const std::exception &) {
        seeds.clear();
    }
    return seeds;
}

std::vector<std::pair<float, cv::Point>> CellCounter::getVorelLocalMaxima(cv::Mat image, cv::Mat mask, int minPeak,
                                                                          float peakTolerance, int windowRadius,
                                                                          float minMeanIntensity, int meanHalfSize,
                                                                          cv::Point)
{
    std::vector<std::pair<float, cv::Point>> maxima;
    if (image.empty() || image.channels() != 1 || mask.size() != image.size() || mask.type() != image.type() ||
        meanHalfSize < 0)
        return maxima;
    try {
        cv::GaussianBlur(image, image, cv::Size(3, 3), 3.0, 0.0);
        double maxValue = 0;
        cv::minMaxLoc(image, nullptr, &maxValue);
        if (double(minPeak) > maxValue)
            return maxima;
        cv::Mat normalised;
        cv::normalize(image, normalised, 0.0, 255.0, cv::NORM_MINMAX, CV_32F);

        // Keys are 0-255: a counting sort keeps equal keys row-major in linear time.
        std::array<std::vector<cv::Point>, 256> byKey;
        for (int y = 0; y < normalised.rows; ++y) {
            const float *row = normalised.ptr<float>(y);
            for (int x = 0; x < normalised.cols; ++x)
                if (maxValue - double(row[x]) < double(peakTolerance))
                    byKey[size_t(int(std::clamp(row[x], 0.0f, 255.0f)))].emplace_back(x, y);
        }

        // Window means from the sums of (smoothed AND mask): one pass over the image however many
        // maxima remain. Sums of integer pixels are exact, so the means equal cv::mean's.
        cv::Mat masked, sums;
        cv::bitwise_and(image, mask, masked);
        cv::integral(masked, sums, CV_64F);
        KeptGrid kept(image.size(), windowRadius, false);
        for (int key = 255; key >= 0; --key)
            for (const cv::Point &p : byKey[size_t(key)]) {
                if (!kept.keep(p))
                    continue;
                const cv::Rect window = meanWindow(p, meanHalfSize, image.size());
                const double mean = window.empty() ? 0.0 : windowSum(sums, window) * (1.0 / window.area());
                if (!(mean < double(minMeanIntensity)))
                    maxima.emplace_back(255.0f, p);
            }
    } catch (const std::exception &) {
        maxima.clear();
    }
    return maxima;
}

} // namespace Quorvan
