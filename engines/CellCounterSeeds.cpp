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
            // Cell of each column and row, so that no point costs a division.
            m_ColumnOf.resize(size_t(size.width));
            m_RowOf.resize(size_t(size.height));
            for (int x = 0; x < size.width; ++x)
                m_ColumnOf[size_t(x)] = x / m_Radius;
            for (int y = 0; y < size.height; ++y)
                m_RowOf[size_t(y)] = y / m_Radius;
        }
    }

    // Keeps p unless a point kept before covers it; true when kept. A radius of 0 or less keeps all.
    bool keep(cv::Point p)
    {
        m_CellTaken = false;
        if (m_Radius <= 0)
            return true;
        const int column = m_ColumnOf[size_t(p.x)], row = m_RowOf[size_t(p.y)];
        cv::Point &own = m_Cells[size_t(row) * size_t(m_Columns) + size_t(column)];
        if (own.x >= 0) {
            m_CellTaken = true;
            return false; // same cell: closer than the radius both ways
        }
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

    // The next column of the row of the last point asked about that keep may take: past that
    // point's cell when its cell was taken, as each later point of the cell is refused too.
    int next(int x) const
    {
        return m_CellTaken ? (m_ColumnOf[size_t(x)] + 1) * m_Radius : x + 1;
    }

private:
    bool m_CellTaken = false;
    int m_Radius;
    int m_Low, m_High;
    int m_Columns = 0, m_Rows = 0;
    std::vector<cv::Point> m_Cells;
    std::vector<int> m_ColumnOf, m_RowOf;
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

// The end of the stretch of values equal to row[x] (equal values have equal keys: one test for
// each stretch), four at a time.
int stretchEnd(const float *row, int x, int cols)
{
    const float v = row[x];
    int n = x + 1;
    for (; n + 4 <= cols; n += 4)
        if (!((row[n] == v) & (row[n + 1] == v) & (row[n + 2] == v) & (row[n + 3] == v)))
            break;
    while (n < cols && row[n] == v)
        ++n;
    return n;
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

        // Candidates as runs of equal key along a row (a smoothed image has long ones). Keys are
        // 0-255: a counting sort of the runs orders the candidates by descending key, equal keys
        // row-major, in linear time.
        struct Run
        {
            int y, x0, x1; // [x0, x1) of row y
        };
        std::vector<Run> runs;
        std::vector<uint8_t> runKeys;
        std::array<size_t, 257> start{};
        for (int y = 0; y < normalised.rows; ++y) {
            const float *row = normalised.ptr<float>(y);
            int runKey = -1, x0 = 0;
            for (int x = 0, next = 0; x <= normalised.cols; x = next) {
                int k = -1;
                next = x + 1;
                if (x < normalised.cols) {
                    next = stretchEnd(row, x, normalised.cols);
                    if (maxValue - double(row[x]) < double(peakTolerance))
                        k = int(std::clamp(row[x], 0.0f, 255.0f));
                }
                if (k == runKey)
                    continue;
                if (runKey >= 0) {
                    runs.push_back({y, x0, x});
                    runKeys.push_back(uint8_t(runKey));
                    ++start[size_t(256 - runKey)];
                }
                runKey = k;
                x0 = x;
            }
        }
        // start[r + 1] counts the runs of descending rank r; make it the offset of rank r.
        size_t total = 0;
        for (size_t r = 1; r < start.size(); ++r) {
            const size_t n = start[r];
            start[r] = total;
            total += n;
        }
        std::vector<Run> ordered(total);
        for (size_t i = 0; i < runs.size(); ++i)
            ordered[start[size_t(255 - runKeys[i]) + 1]++] = runs[i];

        // Window means from the sums of (smoothed AND mask): one pass over the image however many
        // maxima remain. Integer sums are exact, so the means equal cv::mean's. A mean is never
        // below a limit of 0 or less, and then no sum is needed.
        const bool meanTest = double(minMeanIntensity) > 0.0;
        cv::Mat masked, sums;
        if (meanTest) {
            cv::bitwise_and(image, mask, masked);
            cv::integral(masked, sums, CV_64F);
        }
        KeptGrid kept(image.size(), windowRadius, false);
        for (const Run &run : ordered)
            for (int x = run.x0; x < run.x1; x = kept.next(x)) {
                const cv::Point p(x, run.y);
                if (!kept.keep(p))
                    continue;
                if (meanTest) {
                    const cv::Rect window = meanWindow(p, meanHalfSize, image.size());
                    const double mean = window.empty() ? 0.0 : windowSum(sums, window) * (1.0 / window.area());
                    if (mean < double(minMeanIntensity))
                        continue;
                }
                maxima.emplace_back(255.0f, p);
            }
    } catch (const std::exception &) {
        maxima.clear();
    }
    return maxima;
}

} // namespace Quorvan
