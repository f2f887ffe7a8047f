// Results of the last count: concentration, viability, mean size, histograms and object lists.
#include "CellCounter.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace Quorvan {

namespace {

void copyObjects(const std::vector<TObj> &objects, TObj *out)
{
    if (out)
        std::copy(objects.begin(), objects.end(), out);
}

} // namespace

void CellCounter::getConcentration(int count, float factor, float &mantissa, int &exponent)
{
    float c = float(count) / m_Volume * factor;
    if (count < 0) {
        mantissa = -1.0f;
        exponent = -1;
        return;
    }
    mantissa = 0.0f;
    exponent = 0;
    // No volume or no finite concentration reads 0 x 10^0.
    if (!(m_Volume > 0) || !std::isfinite(c) || c <= 1.0f)
        return;
    // Each division by ten keeps one decimal; a finite float has at most 39 decimal digits.
    for (int guard = 0; guard < 64; ++guard) {
        const float q = round3(float(c / 10.0));
        mantissa = q;
        if (q < 1.0f) {
            mantissa = c;
            return;
        }
        ++exponent;
        c = q;
        if (q == 1.0f)
            return;
    }
}

void CellCounter::getViability(int live, int dead, float &viability)
{
    const long long all = (long long)live + dead;
    viability = all == 0 ? 0.0f : float(float(live) / float(all) * 100.0);
}

float CellCounter::getAvgCellSize(int min, int max)
{
    float sum = 0;
    int n = 0;
    for (const TObj &o : m_FoundCells)
        if (float(min) <= o.fSize && o.fSize <= float(max)) {
            sum += o.fSize;
            ++n;
        }
    return n ? sum / float(n) : 0.0f;
}

int *CellCounter::getHistogram(int which)
{
    switch (which) {
    case 0: return m_LiveHistogram;
    case 1: return m_DeadHistogram;
    case 2: return m_ClusterHistogram;
    default: return nullptr;
    }
}

int CellCounter::getFoundCells()
{
    return int(m_FoundCells.size());
}

std::vector<TObj> CellCounter::getFoundCellInformation()
{
    return m_FoundCells;
}

void CellCounter::getFoundCellInformation(TObj *out)
{
    copyObjects(m_FoundCells, out);
}

int CellCounter::getFoundNegativeControl()
{
    return int(m_NegativeControl.size());
}

std::vector<TObj> CellCounter::getFoundNegativeControlInformation()
{
    return m_NegativeControl;
}

void CellCounter::getFoundNegativeControlInformation(TObj *out)
{
    copyObjects(m_NegativeControl, out);
}

int CellCounter::getFoundGFP()
{
    return int(m_FoundGFP.size());
}

std::vector<TObj> CellCounter::getFoundGFPInformation()
{
    return m_FoundGFP;
}

void CellCounter::getFoundGFPInformation(TObj *out)
{
    copyObjects(m_FoundGFP, out);
}

bool CellCounter::compare_func1(std::pair<int, cv::Point> a, std::pair<unsigned char, cv::Point> b)
{
    return a.first > int(b.first);
}

bool CellCounter::compare_func2(std::pair<float, cv::Point> a, std::pair<float, cv::Point> b)
{
    return a.first > b.first;
}

int CellCounter::round(float x)
{
    if (std::isnan(x))
        return 0;
    const double r = std::trunc(x < 0 ? double(x) - 0.5 : double(x) + 0.5);
    return r <= double(INT_MIN) ? INT_MIN : r >= double(INT_MAX) ? INT_MAX : int(r);
}

float CellCounter::round3(float x)
{
    const float t = x * 10.0f;
    if (t > 999.0f)
        return float(double(float(std::trunc(double(t) + 0.5))) / 10.0);
    return x;
}

} // namespace Quorvan
