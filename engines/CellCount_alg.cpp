// Count statistics, the maximum-entropy threshold and the small image functions.
#include "CellCount_alg.h"

#include <array>
#include <cmath>
#include <cstdint>

float CellCount_alg::getConcentration(int count, float factor, float volume)
{
    if (!std::isfinite(volume) || !(volume > 0.0f))
        return 0.0f;
    return float(count) / volume * factor;
}

float CellCount_alg::getViability(int live, int dead)
{
    const float sum = float(live + dead);
    return sum == 0.0f ? 0.0f : float(live) / sum * 100.0f;
}

float CellCount_alg::getAvgCellSize(int n, const _MainDeclusterCountInfo_NimboS *records)
{
    if (n < 1 || !records)
        return 0.0f;
    int sum = 0, cells = 0;
    for (int i = 1; i <= n; ++i) {
        const _MainDeclusterCountInfo_NimboS &r = records[i];
        for (int k = 1; k <= r.nCellNum && k <= r.kMaxCells; ++k) {
            if (r.bValid[k]) {
                ++cells;
                sum = int(float(sum) + r.fLongAxis[k]);
            }
        }
    }
    return cells == 0 ? 0.0f : float(sum) / float(cells);
}

void CellCount_alg::getHistogram(int n, const _MainDeclusterCountInfo_NimboS *records, int *liveHistogram,
                                 int *deadHistogram, int *clusterHistogram, int bins)
{
    if (n < 1 || !records || bins < 1)
        return;
    for (int i = 1; i <= n; ++i) {
        const _MainDeclusterCountInfo_NimboS &r = records[i];
        bool clusterCounted = false;
        for (int k = 1; k <= r.nCellNum && k <= r.kMaxCells; ++k) {
            if (!r.bValid[k])
                continue;
            if (!clusterCounted) {
                ++clusterHistogram[r.nCellNum < bins ? r.nCellNum : bins - 1];
                clusterCounted = true;
            }
            // The comparison also turns away a size that is not a number.
            const float size = r.fLongAxis[k];
            if (size > -1.0f && size < float(bins))
                ++(r.bLive[k] ? liveHistogram : deadHistogram)[int(size)];
        }
    }
}

int CellCount_alg::Get_MaxEntropy_Threshold(const unsigned char *image, int width, int height, int offset)
{
    if (!image || width <= 0 || height <= 0)
        return 0;
    const size_t pixels = size_t(width) * size_t(height);

    // Four partial histograms keep neighbouring equal pixels from waiting on each other.
    uint32_t partial[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= pixels; i += 4) {
        ++partial[0][image[i]];
        ++partial[1][image[i + 1]];
        ++partial[2][image[i + 2]];
        ++partial[3][image[i + 3]];
    }
    for (; i < pixels; ++i)
        ++partial[0][image[i]];
    std::array<double, 256> count{};
    uint64_t greySum = 0;
    for (int g = 0; g < 256; ++g) {
        const uint64_t c = uint64_t(partial[0][g]) + partial[1][g] + partial[2][g] + partial[3][g];
        count[g] = double(c);
        greySum += c * uint64_t(g);
    }

    // The entropy of a part of the histogram with total C is -sum (h/C) ln(h/C); with the bins'
    // logarithms taken once, ln(h/C) = ln h - ln C is exact 0 for a part of one level, as it must be.
    std::array<double, 256> logCount{};
    for (int g = 0; g < 256; ++g)
        logCount[g] = count[g] > 0.0 ? std::log(count[g]) : 0.0;
    auto entropy = [&](int from, int to, double total) {
        if (total <= 0.0)
            return 0.0;
        const double logTotal = std::log(total);
        double sum = 0.0; // empty bins add 0 x (0 - ln C)
        for (int g = from; g <= to; ++g)
            sum += count[g] * (logCount[g] - logTotal);
        return -sum / total;
    };

    int threshold = 0;
    double best = 0.0, dark = 0.0;
    for (int t = 0; t < 255; ++t) {
        dark += count[t];
        const double total = entropy(0, t, dark) + entropy(t + 1, 255, double(pixels) - dark);
        if (t == 0 || total > best) {
            best = total;
            threshold = t;
        }
    }
    // Candidate 255 has both entropies 0: it wins only when every other total is negative, which
    // entropies never are, so it is never chosen.

    const long long meanFloor = (long long)(greySum / pixels) + offset;
    long long result = meanFloor > threshold ? meanFloor : threshold;
    return int(result < 0 ? 0 : result > 255 ? 255 : result);
}

int CellCount_alg::ProcessBinary(const unsigned char *src, unsigned char *dst, int width, int height, int stride,
                                 int threshold)
{
    if (threshold < 1 || height < 1 || !src || !dst)
        return 2;
    const int t = threshold < 255 ? threshold : 255;
    long long foreground = 0, background = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char *s = src + size_t(y) * stride;
        unsigned char *d = dst + size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            const bool on = s[x] >= t;
            d[x] = on ? 255 : 0;
            on ? ++foreground : ++background;
        }
    }
    return foreground < 4 ? 2 : background < 4 ? 1 : 0;
}

double CustomRound(double value, int decimals)
{
    const double f = std::pow(10.0, decimals);
    return std::floor(0.5 + value * f) / f;
}

int ImageWidthArrange(int width, bool grey)
{
    if (width <= 0)
        return 0;
    const int bytes = grey ? width : 3 * width;
    return (bytes + 3) / 4 * 4;
}
