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
        : m_Radius(radius), m_Low(lowerIncluded ? -int64_t(radius) : 1 - int64_t(radius)),
          m_High(lowerIncluded ? int64_t(radius) - 1 : int64_t(radius))
    {
        if (radius > 0) {
            m_Columns = int((int64_t(size.width) + radius - 1) / radius);
            m_Rows = int((int64_t(size.height) + radius - 1) / radius);
            m_Cells.assign(size_t(m_Columns) * size_t(m_Rows), cv::Point(-1, -1));
        }
    }

    // Keeps p unless a point kept before covers it; true when kept. A radius of 0 or less keeps all.
    bool keep(cv::Point p)
    {
        if (m_Radius <= 0)
            return true;
        const int64_t x0 = p.x + m_Low, x1 = p.x + m_High, y0 = p.y + m_Low, y1 = p.y + m_High;
        const int c0 = cell(x0, m_Columns), c1 = cell(x1, m_Columns);
        const int r0 = cell(y0, m_Rows), r1 = cell(y1, m_Rows);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                const cv::Point q = m_Cells[size_t(r) * size_t(m_Columns) + size_t(c)];
                if (q.x >= 0 && q.x >= x0 && q.x <= x1 && q.y >= y0 && q.y <= y1)
                    return false;
            }
        m_Cells[size_t(p.y / m_Radius) * size_t(m_Columns) + size_t(p.x / m_Radius)] = p;
        return true;
    }

private:
    // The grid cell of coordinate v, clamped into [0, count).
    int cell(int64_t v, int count) const
    {
        return int(std::clamp<int64_t>(v < 0 ? 0 : v / m_Radius, 0, count - 1));
    }

    int m_Radius;
    int64_t m_Low, m_High;
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
        // Stable: equal values stay row-major on every library version.
        std::stable_sort(candidates.begin(), candidates.end(), compare_func2);
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

        cv::Mat masked;
        cv::bitwise_and(image, mask, masked);
        KeptGrid kept(image.size(), windowRadius, false);
        for (int key = 255; key >= 0; --key)
            for (const cv::Point &p : byKey[size_t(key)]) {
                if (!kept.keep(p))
                    continue;
                const cv::Rect window = meanWindow(p, meanHalfSize, image.size());
                const double mean = window.empty() ? 0.0 : cv::mean(masked(window))[0];
                if (!(mean < double(minMeanIntensity)))
                    maxima.emplace_back(255.0f, p);
            }
    } catch (const std::exception &) {
        maxima.clear();
    }
    return maxima;
}

} // namespace Quorvan
