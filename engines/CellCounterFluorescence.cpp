// Fluorescence (GFP) work of the engine: the sample finder with its log-intensity histogram, the
// transfection efficiency and control class it feeds, the caller's GFP lists, and the mean red
// intensity per cell.
#include "CellCounter.h"
#include "CellCounterGeometry.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <exception>

namespace Quorvan {

using namespace finder;

namespace {

constexpr int kObjectThreshold = 95;       // channel-5 level at or below which a pixel is a cell
constexpr float kMaxClumpCellSize = 90.0f; // micrometres: larger clump cells yield nothing
constexpr float kRedClusterFactor = 1.5f;  // red intensity: clumps from 1.5 x the mean radius
constexpr float kRedPeakTolerance = 50.0f;
constexpr float kRedMinSize = 1.0f, kRedMaxSize = 90.0f;

} // namespace

double CellCounter::findObjects(int sampleType, int minSize, int maxSize, int minRoundness, int maxMeanIntensity,
                                float clusterFactor, float peakTolerance, int, float &avgRadius, int *histogramOut,
                                float &avgIntensity, int noDistanceSplit)
{
    if (!hasChannelImages(true))
        return -1.0;
    try {
        return fluorescenceSample(sampleType, minSize, maxSize, minRoundness, maxMeanIntensity, clusterFactor,
                                  peakTolerance, avgRadius, histogramOut, avgIntensity, noDistanceSplit == 0);
    } catch (const std::exception &) {
        m_FoundCells.clear();
        return -1.0;
    }
}

double CellCounter::fluorescenceSample(int sampleType, int minSize, int maxSize, int minRoundness,
                                       int maxMeanIntensity, float clusterFactor, float peakTolerance,
                                       float &avgRadius, int *histogramOut, float &avgIntensity, bool split)
{
    const double start = double(cv::getTickCount());
    m_FoundCells.clear();
    std::vector<TObj> *sample = sampleType == 0 ? &m_NegativeControl : sampleType == 1 ? &m_FoundGFP : nullptr;
    int *histogram = sampleType == 0 ? m_NegativeControlHistogram : m_GFPHistogram;
    if (sample) {
        sample->clear();
        std::fill(histogram, histogram + FluorescenceClasses, 0);
    }
    autoThreshold(5, kObjectThreshold);

    float radius = 0;
    if (meanRadius(m_Mask1, 0.0f, float(maxSize), radius) <= 0) {
        if (histogramOut)
            std::fill(histogramOut, histogramOut + FluorescenceClasses, 0);
        avgRadius = 0.0f;
        avgIntensity = 0.0f;
        return -1.0;
    }
    avgRadius = radius;

    std::vector<Contour> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(m_Mask1, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
    const float cellS = cellSize(radius, 1);
    const int discRadius = truncated(radius);
    for (int i : outerContours(hierarchy)) {
        const Contour &contour = contours[size_t(i)];
        const Circle c = enclosingCircle(contour);
        const cv::RotatedRect area = cv::minAreaRect(contour);
        const cv::Rect box = objectBox(area);
        if (box.empty())
            continue;
        cv::Mat mask = objectMask(contour, box);
        const cv::Mat cleared = holeClearedMask(mask, contours, hierarchy, i, box);
        if (float(cv::mean(m_Corrected1(box), cleared)[0]) > float(maxMeanIntensity))
            continue;
        const cv::Mat green = m_Channel2(box);
        const std::vector<int> holes = childrenOf(hierarchy, i);
        auto append = [&](float r, float size, const cv::Mat &where, cv::Point at) {
            if (size < 0.0f)
                return;
            TObj o;
            o.fRadius = r;
            o.fSize = size;
            o.fGreen = float(maskedSum(green, where));
            o.fRed = -1.0f;
            o.nX = at.x;
            o.nY = at.y;
            m_FoundCells.push_back(o);
        };
        // One cell per hole, measured in a disc of the mean radius at the hole.
        auto cellsAtHoles = [&] {
            for (int hole : holes) {
                const Circle hc = enclosingCircle(contours[size_t(hole)]);
                const cv::Point at(truncated(hc.centre.x) - box.x, truncated(hc.centre.y) - box.y);
                append(radius, cellS, disc(box.size(), at, discRadius),
                       cv::Point(roundEven(hc.centre.x), roundEven(hc.centre.y)));
            }
        };

        if (radius * clusterFactor <= c.radius) {
            if (cellS < 0.0f || cellS > kMaxClumpCellSize)
                continue;
            if (!holes.empty())
                cellsAtHoles();
            else if (split)
                for (const auto &seed : objectSeeds(mask, peakTolerance, roundEven(radius)))
                    append(radius, cellS, disc(box.size(), seed.second, discRadius), seed.second + box.tl());
        } else if (holes.size() >= 2) {
            cellsAtHoles();
        } else if (roundness(area) >= minRoundness) {
            cv::circle(mask, cv::Point(truncated(c.centre.x) - box.x, truncated(c.centre.y) - box.y),
                       truncated(c.radius), cv::Scalar(255), cv::FILLED, cv::LINE_8, 0);
            append(c.radius, cellSize(c.radius, 1), mask, cv::Point(roundEven(c.centre.x), roundEven(c.centre.y)));
        }
    }

    avgIntensity = 0.0f;
    if (sample) {
        for (const TObj &o : m_FoundCells) {
            const int s = roundEven(o.fSize);
            if (s >= minSize && s <= maxSize)
                sample->push_back(o);
        }
        for (TObj &o : *sample) {
            const float v = o.fGreen + 1.0f;
            o.fGreen = v;
            o.nGreenClass = logClass(v);
            // A class beyond the histogram is kept in the record but not binned.
            if (int *b = bin(histogram, o.nGreenClass, FluorescenceClasses))
                ++*b;
            if (sampleType == 1)
                avgIntensity += v;
        }
        if (sampleType == 1 && !sample->empty())
            avgIntensity /= float(sample->size());
        if (histogramOut)
            std::copy(histogram, histogram + FluorescenceClasses, histogramOut);
    }
    return std::max(0.0, (double(cv::getTickCount()) - start) / cv::getTickFrequency());
}

double CellCounter::findGFPTransfectionEfficiency(int minClass, int &total, int &positive, float &efficiency,
                                                  float &avgSize, float &avgGreen)
{
    if (m_Height <= 0 || m_Width <= 0 || m_TagImage.empty())
        return -1.0;
    try {
        const double start = double(cv::getTickCount());
        m_TagImage.create(m_Height, m_Width, CV_8UC3);
        m_TagImage.setTo(cv::Scalar::all(0));
        float sizeSum = 0, greenSum = 0;
        int n = 0;
        for (const TObj &o : m_FoundGFP) {
            if (o.nGreenClass < minClass)
                continue;
            sizeSum += o.fSize;
            greenSum += o.fGreen;
            ++n;
            drawTag(m_TagImage, cv::Point(o.nX, o.nY), o.fRadius, cv::Scalar(0, 255, 0), m_CircleThickness);
        }
        int all = 0, above = 0;
        for (int i = 0; i < FluorescenceClasses; ++i) {
            all += m_GFPHistogram[i];
            if (i >= minClass)
                above += m_GFPHistogram[i];
        }
        total = all;
        positive = above;
        avgSize = n > 0 ? sizeSum / float(n) : 0.0f;
        avgGreen = n > 0 ? greenSum / float(n) : 0.0f;
        efficiency = all >= 1 ? float(above) / float(all) * 100.0f : 0.0f;
        return std::max(0.0, (double(cv::getTickCount()) - start) / cv::getTickFrequency());
    } catch (const std::exception &) {
        return -1.0;
    }
}

int CellCounter::findControlIntensity(int *histogram)
{
    if (!histogram)
        return 0;
    for (int i = FluorescenceClasses - 1; i >= 3; --i)
        if (histogram[i] > 0 && histogram[i - 1] != 0 && histogram[i - 2] != 0)
            return i + 1;
    return 0;
}

void CellCounter::setFoundGFPInformation(TObj *objects, int count, int *histogram)
{
    if (!histogram || (count >= 1 && !objects))
        return;
    m_FoundGFP.clear();
    if (count >= 1)
        m_FoundGFP.assign(objects, objects + count);
    std::copy(histogram, histogram + FluorescenceClasses, m_GFPHistogram);
}

void CellCounter::setFoundGFPInformation(std::vector<TObj> objects, int *histogram)
{
    if (!histogram)
        return;
    m_FoundGFP = std::move(objects);
    std::copy(histogram, histogram + FluorescenceClasses, m_GFPHistogram);
}

void CellCounter::getAvgRedIntensity(int dx, int dy, float &avgRedIntensity, int &objectCount)
{
    auto nothing = [&] {
        avgRedIntensity = -1.0f;
        objectCount = 0;
    };
    if (!hasChannelImages(true))
        return nothing();
    try {
        setPixelShiftOffset(3, dx, dy);
        correctShading(1);
        autoThreshold(5, kObjectThreshold);
        float radius = 0;
        const int typical = meanRadius(m_Mask1, kRedMinSize, kRedMaxSize, radius);
        if (typical < 0)
            return nothing();
        objectCount = 0;
        if (typical == 0)
            return; // the entry value stays

        std::vector<Contour> contours;
        std::vector<cv::Vec4i> hierarchy;
        cv::findContours(m_Mask1, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
        float sum = avgRedIntensity; // added to, as callers accumulate over fields
        int cells = 0;
        for (int i : outerContours(hierarchy)) {
            const Circle c = enclosingCircle(contours[size_t(i)]);
            const cv::Rect box = objectBox(cv::minAreaRect(contours[size_t(i)]));
            if (box.empty())
                continue;
            const cv::Mat mask = objectMask(contours[size_t(i)], box);
            const cv::Mat red = m_Shifted3(box);
            if (kRedClusterFactor * radius > c.radius) {
                sum += float(maskedSum(red, mask));
                ++cells;
                continue;
            }
            for (const auto &seed : objectSeeds(mask, kRedPeakTolerance, roundEven(radius))) {
                sum += float(maskedSum(red, disc(box.size(), seed.second, truncated(radius))));
                ++cells;
            }
        }
        objectCount = cells;
        avgRedIntensity = cells > 0 ? sum / float(cells) : -1.0f;
    } catch (const std::exception &) {
        nothing();
    }
}

} // namespace Quorvan
