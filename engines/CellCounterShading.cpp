// Shading correction, automatic threshold, channel pixel shift and image statistics of the engine.
#include "CellCounter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <vector>

namespace Quorvan {

namespace {

bool isGrey(const cv::Mat &m)
{
    return !m.empty() && m.type() == CV_8UC1;
}

bool sameGreyGrid(const cv::Mat &a, const cv::Mat &b)
{
    return isGrey(a) && isGrey(b) && a.size() == b.size();
}

// A pixel function of two 8-bit images as a table: out = table[second << 8 | first]. Looking up
// 65,536 prepared entries is cheaper than evaluating the function pixel by pixel.
using PairTable = std::vector<uchar>;

void applyPairTable(const cv::Mat &first, const cv::Mat &second, const PairTable &table, cv::Mat &out)
{
    const uchar *t = table.data();
    for (int y = 0; y < first.rows; ++y) {
        const uchar *a = first.ptr<uchar>(y), *b = second.ptr<uchar>(y);
        uchar *d = out.ptr<uchar>(y);
        int x = 0;
        for (; x + 4 <= first.cols; x += 4) { // four independent look-ups per step
            const uchar r0 = t[unsigned(b[x]) << 8 | a[x]], r1 = t[unsigned(b[x + 1]) << 8 | a[x + 1]];
            const uchar r2 = t[unsigned(b[x + 2]) << 8 | a[x + 2]], r3 = t[unsigned(b[x + 3]) << 8 | a[x + 3]];
            d[x] = r0;
            d[x + 1] = r1;
            d[x + 2] = r2;
            d[x + 3] = r3;
        }
        for (; x < first.cols; ++x)
            d[x] = t[unsigned(b[x]) << 8 | a[x]];
    }
}

// Flat-field correction s x mean / f, saturated at 255 and truncated; where f is 0 that is 255,
// or 0 for the not-a-number of 0 / 0. The table depends on the flat field's mean alone, so a
// series of frames corrected against one flat field builds it once (per thread).
const PairTable &flatFieldTable(double m)
{
    thread_local PairTable table;
    thread_local double tableMean = -1;
    if (table.empty() || tableMean != m) {
        tableMean = -1; // no mean: a build cut short is never taken for a finished one
        table.assign(65536, 0);
        for (int s = 1; s < 256; ++s)
            table[size_t(s)] = s * m > 0 ? 255 : 0;
        double v[256];
        for (int f = 1; f < 256; ++f) {
            for (int s = 0; s < 256; ++s) // kept free of branches so that it runs in vector registers
                v[s] = s * m / f;
            uchar *row = &table[size_t(f) << 8];
            for (int s = 0; s < 256; ++s)
                row[s] = v[s] > 255 ? uchar(255) : uchar(v[s]);
        }
        tableMean = m;
    }
    return table;
}

// Background blend of a source pixel s with its blurred background b, in integers:
// a = s(255 - b) / 255, out = 255 - (255 - a)(255 - s) / 255.
const PairTable &backgroundBlendTable()
{
    static const PairTable table = [] {
        PairTable t(65536);
        for (int b = 0; b < 256; ++b)
            for (int s = 0; s < 256; ++s) {
                const int a = s * (255 - b) / 255;
                t[size_t(b) << 8 | size_t(s)] = uchar(255 - (255 - a) * (255 - s) / 255);
            }
        return t;
    }();
    return table;
}

// The iterative intermeans level of an 8-bit image, ignoring levels 0 and 255; 128 when fewer
// than two other levels occur. The scan from the darkest level settles where the midpoint of the
// two class means falls below t + 2. A sparse stain on a noisy dark field settles twice: first
// inside the background's own noise (half the field above the level), then between background and
// stain. Of the places it settles, the one that separates its two classes best (largest
// n1 x n2 x (mean2 - mean1)^2) gives the level; with one place, that is the first, as before.
int intermeansLevel(const cv::Mat &source)
{
    // Four partial histograms keep neighbouring equal pixels from waiting on each other.
    std::array<std::array<double, 256>, 4> part{};
    for (int y = 0; y < source.rows; ++y) {
        const uchar *p = source.ptr<uchar>(y);
        int x = 0;
        for (; x + 4 <= source.cols; x += 4) {
            ++part[0][p[x]];
            ++part[1][p[x + 1]];
            ++part[2][p[x + 2]];
            ++part[3][p[x + 3]];
        }
        for (; x < source.cols; ++x)
            ++part[0][p[x]];
    }
    std::array<double, 256> hist{};
    for (int i = 1; i < 255; ++i)
        hist[i] = part[0][i] + part[1][i] + part[2][i] + part[3][i];
    int lo = 1, hi = 254;
    while (lo <= 254 && hist[lo] == 0)
        ++lo;
    while (hi >= 1 && hist[hi] == 0)
        --hi;
    if (lo > 254 || lo >= hi)
        return 128;
    double total = 0, totalSum = 0;
    for (int i = lo; i <= hi; ++i) {
        total += hist[i];
        totalSum += hist[i] * i;
    }
    double n1 = 0, s1 = 0, m = 0, bestScore = -1, best = 0;
    bool settled = false;
    for (int t = lo;; ++t) {
        n1 += hist[t];
        s1 += hist[t] * t;
        const double below = s1 / n1, above = (totalSum - s1) / (total - n1);
        m = (below + above) / 2;
        const bool settles = m < t + 2;
        if (settles && !settled) {
            const double score = n1 * (total - n1) * (above - below) * (above - below);
            if (score > bestScore) {
                bestScore = score;
                best = m;
            }
        }
        settled = settles;
        if (t + 1 >= hi - 1)
            break;
    }
    return int(std::nearbyint(bestScore >= 0 ? best : m));
}

// 0/1 flags of the pixels of a row that pass cv::threshold's rule at level u: greater than u
// ("above"), or not.
void passFlags(const uchar *__restrict row, uchar *__restrict flags, int cols, uchar u, bool above)
{
    if (above)
        for (int x = 0; x < cols; ++x)
            flags[x] = uchar(row[x] > u);
    else
        for (int x = 0; x < cols; ++x)
            flags[x] = uchar(row[x] <= u);
}

// One mask row: 255 where at least five of the nine flags around a pixel are set. counts has
// cols + 2 places (the edges repeated). Byte arithmetic throughout, so that it runs in vectors.
void majorityRow(const uchar *__restrict above, const uchar *__restrict row, const uchar *__restrict below,
                 uchar *__restrict counts, uchar *__restrict out, int cols)
{
    for (int x = 0; x < cols; ++x)
        counts[x + 1] = uchar(above[x] + row[x] + below[x]);
    counts[0] = counts[1];
    counts[cols + 1] = counts[cols];
    for (int x = 0; x < cols; ++x) {
        const uchar sum = uchar(counts[x] + counts[x + 1] + counts[x + 2]);
        out[x] = uchar(0u - unsigned(sum > 4));
    }
}

// The threshold of an 8-bit image followed by the 3 x 3 median of the binary result, in one pass:
// a pixel of the mask is 255 where at least five of the nine pixels around it (edges repeated, as
// cv::medianBlur repeats them) pass the threshold, which is what the median of 0s and 255s is.
// Counting is several times cheaper than OpenCV's sorting network. The mask may be the source.
void thresholdedMedian(const cv::Mat &source, int level, bool above, cv::Mat &mask)
{
    const int rows = source.rows, cols = source.cols;
    mask.create(rows, cols, CV_8UC1);
    if (rows == 0 || cols == 0)
        return;
    const int t = std::clamp(level, -1, 255);
    auto flags = [&](int y, uchar *out) {
        if (t < 0 || t == 255) // every value on one side
            std::fill_n(out, cols, uchar((t < 0) == above));
        else
            passFlags(source.ptr<uchar>(y), out, cols, uchar(t), above);
    };
    // The flags of rows y - 1, y and y + 1, kept round-robin; a row is read before the mask row
    // two above it is written.
    std::vector<uchar> passes(size_t(cols) * 3), counts(size_t(cols) + 2);
    uchar *window[3] = {passes.data(), passes.data() + cols, passes.data() + 2 * cols};
    flags(0, window[1]);
    std::copy_n(window[1], cols, window[0]);
    if (rows > 1)
        flags(1, window[2]);
    else
        std::copy_n(window[1], cols, window[2]);
    for (int y = 0; y < rows; ++y) {
        majorityRow(window[0], window[1], window[2], counts.data(), mask.ptr<uchar>(y), cols);
        std::rotate(window, window + 1, window + 3);
        if (y + 2 < rows)
            flags(y + 2, window[2]);
        else
            std::copy_n(window[1], cols, window[2]); // the last row repeated
    }
}

} // namespace

void CellCounter::autoThreshold(int index, int level)
{
    if (m_Mode == 0 || m_Mode == 3 || m_Mode == 4 || m_Mode == 5) {
        if (index == 0 || index == 4)
            _autoThreshold(index, m_Mask, level);
    } else if (m_Mode == 1 || m_Mode == 2) {
        if (index == 1 || index == 5)
            _autoThreshold(index, m_Mask1, level);
        else if (index == 2)
            _autoThreshold(index, m_Mask2, level);
        else if (index == 3)
            _autoThreshold(index, m_Mask3, level);
    }
}

void CellCounter::_autoThreshold(int index, cv::Mat &mask, int level)
{
    const cv::Mat &source = getImage(index);
    if (!isGrey(source))
        return;
    try {
        // Channels 2 and 3 hold bright objects; every other image dark objects on a bright field.
        const bool above = index == 2 || index == 3;
        thresholdedMedian(source, level != 0 ? level : intermeansLevel(source), above, mask);
    } catch (const std::exception &) {
    }
}

void CellCounter::correctShading(int which)
{
    cv::Mat *target = nullptr;
    if ((m_Mode == 0 || m_Mode == 3 || m_Mode == 4) && which == 0)
        target = &m_Corrected;
    else if ((m_Mode == 1 || m_Mode == 2) && which == 1)
        target = &m_Corrected1;
    if (!target)
        return;
    const cv::Mat &source = getImage(which);
    if (!sameGreyGrid(source, m_FlatField) || !sameGreyGrid(*target, source))
        return;
    try {
        const PairTable &table = flatFieldTable(cv::mean(m_FlatField)[0]);
        applyPairTable(source, m_FlatField, table, *target);
    } catch (const std::exception &) {
    }
}

void CellCounter::correctShading(int index, int ksize, double sigmaX, double sigmaY)
{
    if (m_Mode != 0 && m_Mode != 3 && m_Mode != 4)
        return;
    const cv::Mat &source = getImage(index);
    if (!sameGreyGrid(source, m_Corrected))
        return;
    try {
        cv::Mat background;
        cv::GaussianBlur(source, background, cv::Size(ksize, ksize), sigmaX, sigmaY);
        applyPairTable(source, background, backgroundBlendTable(), m_Corrected);
    } catch (const std::exception &) {
    }
}

void CellCounter::setPixelShiftOffset(int channel, int dx, int dy)
{
    if (channel != 2 && channel != 3)
        return;
    const cv::Mat &source = channel == 2 ? m_Channel2 : m_Channel3;
    cv::Mat &shifted = channel == 2 ? m_Shifted2 : m_Shifted3;
    if (!sameGreyGrid(source, shifted) || m_ShiftMatrix.size() != cv::Size(3, 2) || m_ShiftMatrix.type() != CV_32FC1)
        return;
    try {
        const cv::Mat matrix = (cv::Mat_<float>(2, 3) << 1, 0, float(dx), 0, 1, float(dy));
        cv::warpAffine(source, shifted, matrix, source.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
        matrix.copyTo(m_ShiftMatrix);
        (channel == 2 ? m_ShiftX2 : m_ShiftX3) = dx;
        (channel == 2 ? m_ShiftY2 : m_ShiftY3) = dy;
    } catch (const std::exception &) {
    }
}

void CellCounter::getAvgStdDev(unsigned char *data, float &mean, float &deviation, int width, int height)
{
    if (!data || width <= 0 || height <= 0)
        return;
    try {
        const cv::Mat frame(height, width, CV_8UC3, data);
        cv::Scalar m, s;
        cv::meanStdDev(frame, m, s);
        mean = float(m[0]);
        deviation = float(s[0]);
    } catch (const std::exception &) {
    }
}

void CellCounter::setBlackBalance(int index, float)
{
    const cv::Mat &image = getImage(index);
    if (image.empty())
        return;
    try {
        cv::Scalar m, s;
        cv::meanStdDev(image, m, s);
    } catch (const std::exception &) {
    }
}

} // namespace Quorvan
