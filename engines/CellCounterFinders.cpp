// The brightfield object finders: dark-bordered objects of the thresholded frame, told apart as
// single cells and clumps by holes, bright centres and size, split into cells, marked live or dead,
// then tallied into counts, size histograms and tag circles.
#include "CellCounter.h"
#include "CellCounterGeometry.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>

namespace Quorvan {

using namespace finder;

namespace {

constexpr int kObjectThreshold = 95; // grey level at or below which a pixel belongs to an object

} // namespace

void CellCounter::clearCount()
{
    m_FoundCells.clear();
    std::fill(std::begin(m_LiveHistogram), std::end(m_LiveHistogram), 0);
    std::fill(std::begin(m_DeadHistogram), std::end(m_DeadHistogram), 0);
    std::fill(std::begin(m_ClusterHistogram), std::end(m_ClusterHistogram), 0);
}

bool CellCounter::isTallied(const TObj &record, int minSize, int maxSize, int minRoundness, bool mergeStates)
{
    const int s = roundEven(record.fSize);
    if (s < minSize || s > maxSize)
        return false;
    if (record.nRoundness != -1 && record.nRoundness < minRoundness)
        return false;
    return mergeStates || record.fGreen == 1.0f || record.fRed == 1.0f;
}

float CellCounter::cellSize(float radius, int cells) const
{
    return m_SizeOffset + ((2.0f * radius * m_MicronsPerPixel) / float(cells)) * m_SizeGain;
}

cv::Rect CellCounter::objectBox(const cv::RotatedRect &area) const
{
    cv::Rect box = area.boundingRect();
    auto clip = [](int &origin, int &extent, int limit) {
        origin = std::clamp(origin, 0, limit);
        if (extent > limit - origin)
            extent = limit - origin;
    };
    clip(box.x, box.width, m_Width);
    clip(box.y, box.height, m_Height);
    if (box.width <= 0 || box.height <= 0)
        return {};
    return box;
}

cv::Mat CellCounter::objectMask(const Contour &contour, const cv::Rect &box)
{
    // A list of the one contour: the drawing sets up every contour of the list it is given.
    cv::Mat mask = cv::Mat::zeros(box.size(), CV_8UC1);
    const cv::Mat points(contour, false);
    cv::drawContours(mask, std::vector<cv::Mat>{points}, 0, cv::Scalar(255), cv::FILLED, cv::LINE_8, cv::noArray(), 0,
                     -box.tl());
    return mask;
}

cv::Mat CellCounter::holeClearedMask(const cv::Mat &objectMask, const std::vector<Contour> &contours,
                                     const std::vector<cv::Vec4i> &hierarchy, int index, const cv::Rect &box)
{
    cv::Mat cleared = objectMask.clone();
    for (int hole : childrenOf(hierarchy, index)) {
        const Circle c = enclosingCircle(contours[size_t(hole)]);
        cv::circle(cleared, cv::Point(truncated(c.centre.x) - box.x, truncated(c.centre.y) - box.y),
                   truncated(c.radius), cv::Scalar(0), cv::FILLED, cv::LINE_8, 0);
    }
    return cleared;
}

std::vector<std::pair<float, cv::Point>> CellCounter::objectSeeds(const cv::Mat &objectMask, float peakTolerance,
                                                                  int windowRadius)
{
    cv::Mat distance;
    cv::distanceTransform(objectMask, distance, cv::DIST_L2, 3, CV_32F);
    cv::normalize(distance, distance, 0.0, 255.0, cv::NORM_MINMAX);
    return getDistanceMap(distance, peakTolerance, windowRadius);
}

void CellCounter::recordObject(const FinderSettings &settings, const std::vector<Contour> &contours,
                               const std::vector<cv::Vec4i> &hierarchy, int index, const cv::Mat &grey,
                               float meanRadius, float &intensitySum)
{
    const Contour &contour = contours[size_t(index)];
    const Circle circle = enclosingCircle(contour);
    const float R = circle.radius;
    const cv::RotatedRect area = cv::minAreaRect(contour);
    const cv::Rect box = objectBox(area);
    if (box.empty())
        return;
    const cv::Mat region = grey(box);
    const cv::Mat mask = objectMask(contour, box);
    const std::vector<int> holes = childrenOf(hierarchy, index);

    const float objectMean = float(cv::mean(region, holeClearedMask(mask, contours, hierarchy, index, box))[0]);
    intensitySum += objectMean;
    if (objectMean > float(settings.maxMeanIntensity))
        return;

    // Bright centres: grey above the threshold inside the convex hull.
    Contour hull;
    cv::convexHull(contour, hull, true, true);
    Contour boxHull(hull);
    for (cv::Point &p : boxHull)
        p -= box.tl();
    cv::Mat bright = cv::Mat::zeros(box.size(), CV_8UC1);
    cv::fillConvexPoly(bright, boxHull, cv::Scalar(255), cv::LINE_8, 0);
    cv::bitwise_and(region, bright, bright);
    cv::threshold(bright, bright, double(settings.brightThreshold), 255.0, cv::THRESH_BINARY);
    cv::medianBlur(bright, bright, 3);
    std::vector<Contour> centres;
    std::vector<cv::Vec4i> centreLinks;
    cv::findContours(bright, centres, centreLinks, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
    const int h = int(holes.size()), c = int(centres.size());
    std::vector<int> topCentres;
    for (int i = c > 0 ? 0 : -1; i >= 0 && i < c && int(topCentres.size()) < c; i = centreLinks[size_t(i)][0])
        topCentres.push_back(i);
    const int t = int(topCentres.size());

    const int score = roundness(area);

    auto record = [&](float radius, int cells, int roundness, bool live, cv::Point at) {
        TObj o;
        o.fRadius = radius / float(cells);
        o.fSize = cellSize(radius, cells);
        o.nRoundness = roundness;
        o.fGreen = live ? 1.0f : 0.0f;
        o.fRed = live ? 0.0f : 1.0f;
        o.nX = at.x;
        o.nY = at.y;
        return o;
    };
    auto append = [&](const TObj &o) {
        const bool kept = o.fSize >= 0.0f;
        if (kept)
            m_FoundCells.push_back(o);
        return kept;
    };
    auto countSplit = [&](int cells) { ++m_ClusterHistogram[std::min(cells, ClusterClasses - 1)]; };
    const cv::Point centre(roundEven(circle.centre.x), roundEven(circle.centre.y));
    auto boxCentre = [&](const Contour &part) {
        const Circle pc = enclosingCircle(part);
        return cv::Point(truncated(pc.centre.x) + box.x, truncated(pc.centre.y) + box.y);
    };
    // Live when the centre disc is brighter than liveIntensityRatio x the object mean.
    auto centreTest = [&]() {
        if (!settings.circleTest)
            return false;
        const float scaled = float(truncated(R)) * settings.centreRadiusFactor;
        const int radius = std::clamp(truncated(scaled), 1, box.width + box.height);
        cv::Mat disc = cv::Mat::zeros(box.size(), CV_8UC1);
        cv::circle(disc, cv::Point(truncated(circle.centre.x) - box.x, truncated(circle.centre.y) - box.y), radius,
                   cv::Scalar(255), cv::FILLED, cv::LINE_8, 0);
        return cv::mean(region, disc)[0] > double(objectMean * settings.liveIntensityRatio);
    };
    // Kept whole and marked by the centre disc.
    auto keepWhole = [&]() {
        TObj o = record(R, 1, score, true, centre);
        if (o.fSize < 0.0f)
            return;
        if (!centreTest())
            o.fGreen = 0.0f, o.fRed = 1.0f;
        append(o);
        countSplit(1);
    };

    const float largeRadius = meanRadius * settings.clusterFactor;
    if (h >= 2 && (c == 0 || t <= h)) {
        for (int hole : holes) {
            const Circle hc = enclosingCircle(contours[size_t(hole)]);
            append(record(R, h, -1, true, cv::Point(roundEven(hc.centre.x), roundEven(hc.centre.y))));
        }
        countSplit(h);
    } else if (h == 1 && (c == 0 || t == 1)) {
        if (append(record(R, 1, score, true, centre)))
            countSplit(1);
    } else if (c > 0 && t == 1 && h == 0) {
        if (append(record(R, 1, score, true, boxCentre(centres[0]))))
            countSplit(1);
    } else if (c > 0 && t >= 2) {
        for (int i : topCentres)
            append(record(R, t, -1, true, boxCentre(centres[size_t(i)])));
        countSplit(t);
    } else if (c == 0 && h == 0 && largeRadius > R) {
        TObj o = record(R, 1, -1, true, centre);
        if (o.fSize < 0.0f)
            return;
        const float concave = float(cv::contourArea(hull) - cv::contourArea(contour));
        if (!(concave > settings.concaveAreaLimit) && !centreTest())
            o.fGreen = 0.0f, o.fRed = 1.0f;
        append(o);
        countSplit(1);
    } else if (c == 0 && h == 0 && R >= largeRadius && !settings.distanceSplit) {
        keepWhole();
    } else if (c == 0 && h == 0 && R >= largeRadius) {
        const auto seeds = objectSeeds(mask, settings.peakTolerance, roundEven(meanRadius));
        const int n = int(seeds.size());
        if (n == 0) {
            ++m_ClusterHistogram[0];
        } else if (n == 1) {
            keepWhole();
        } else {
            for (const auto &seed : seeds)
                append(record(R, n, -1, false, seed.second + box.tl()));
            countSplit(n);
        }
    }
}

double CellCounter::findBrightfieldObjects(const FinderSettings &settings, int &liveCount, int &deadCount,
                                           float &avgSize, float &meanObjectIntensity)
{
    // The mode's images and a scale, or no count at all.
    const bool greyMode = m_Mode == 0 || m_Mode == 3 || m_Mode == 4 || m_Mode == 5;
    const bool colourTag = settings.colourTag && (m_Mode == 3 || m_Mode == 4);
    cv::Mat &grey = settings.useChannel4 ? m_Corrected : m_Image;
    const cv::Size frame(m_Width, m_Height);
    auto fits = [&](const cv::Mat &m, int type) { return m.size() == frame && m.type() == type; };
    if (!greyMode || (settings.useChannel4 && m_Mode == 5) || !fits(grey, CV_8UC1) || !fits(m_Mask, CV_8UC1) ||
        !fits(m_TagImage, CV_8UC3) || (colourTag && !fits(m_ColorSource, CV_8UC3)) ||
        !(m_MicronsPerPixel > 0.0f) || !std::isfinite(m_MicronsPerPixel))
        return -1.0;

    try {
        const double start = double(cv::getTickCount());
        clearCount();
        autoThreshold(settings.useChannel4 ? 4 : 0, kObjectThreshold);
        if (colourTag)
            m_ColorSource.copyTo(m_TagImage);
        else
            cv::cvtColor(grey, m_TagImage, cv::COLOR_GRAY2BGR);

        std::vector<Contour> contours;
        std::vector<cv::Vec4i> hierarchy;
        cv::findContours(m_Mask.clone(), contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
        const std::vector<int> outer = outerContours(hierarchy);
        if (outer.empty())
            return -1.0;
        float radiusSum = 0;
        for (int i : outer)
            radiusSum += enclosingCircle(contours[size_t(i)]).radius;
        const float meanRadius = radiusSum / float(outer.size());

        float intensitySum = 0;
        for (int i : outer)
            recordObject(settings, contours, hierarchy, i, grey, meanRadius, intensitySum);

        int live = 0, dead = 0;
        float sizeSum = 0;
        for (const TObj &o : m_FoundCells) {
            if (!isTallied(o, settings.minSize, settings.maxSize, settings.minRoundness, settings.mergeStates))
                continue;
            const bool isLive = settings.mergeStates || o.fGreen == 1.0f;
            const cv::Scalar &colour = settings.mergeStates ? m_ThirdColor : isLive ? m_LiveColor : m_DeadColor;
            ++(isLive ? live : dead);
            // A size beyond the histograms is counted but not binned.
            if (int *b = bin(isLive ? m_LiveHistogram : m_DeadHistogram, roundEven(o.fSize), SizeClasses))
                ++*b;
            sizeSum += o.fSize;
            drawTag(m_TagImage, cv::Point(o.nX, o.nY), o.fRadius, colour, m_CircleThickness);
        }

        liveCount = live;
        deadCount = dead;
        avgSize = live + dead > 0 ? sizeSum / float(live + dead) : 0.0f;
        meanObjectIntensity = m_FoundCells.empty() ? 0.0f : intensitySum / float(m_FoundCells.size());
        return std::max(0.0, (double(cv::getTickCount()) - start) / cv::getTickFrequency());
    } catch (const std::exception &) {
        // Nothing counted: no records, empty histograms, the outputs as they were.
        clearCount();
        return -1.0;
    }
}

double CellCounter::findObjects4(int minSize, int maxSize, int minRoundness, float clusterFactor,
                                 int maxMeanIntensity, int brightThreshold, float concaveAreaLimit,
                                 float peakTolerance, int, float centreRadiusFactor, float liveIntensityRatio,
                                 int &liveCount, int &deadCount, float &avgSize, float &meanObjectIntensity,
                                 bool distanceSplit, bool mergeStates, int)
{
    return findBrightfieldObjects({minSize, maxSize, minRoundness, clusterFactor, maxMeanIntensity, brightThreshold,
                                   concaveAreaLimit, peakTolerance, centreRadiusFactor, liveIntensityRatio,
                                   distanceSplit, mergeStates, false, false, true},
                                  liveCount, deadCount, avgSize, meanObjectIntensity);
}

double CellCounter::findObjects3(int minSize, int maxSize, int minRoundness, float clusterFactor,
                                 int maxMeanIntensity, int brightThreshold, float concaveAreaLimit,
                                 float peakTolerance, int, float centreRadiusFactor, float liveIntensityRatio,
                                 int &liveCount, int &deadCount, float &avgSize, float &meanObjectIntensity,
                                 bool distanceSplit, bool mergeStates, int)
{
    return findBrightfieldObjects({minSize, maxSize, minRoundness, clusterFactor, maxMeanIntensity, brightThreshold,
                                   concaveAreaLimit, peakTolerance, centreRadiusFactor, liveIntensityRatio,
                                   distanceSplit, mergeStates, true, false, true},
                                  liveCount, deadCount, avgSize, meanObjectIntensity);
}

double CellCounter::findObjects2(int minSize, int maxSize, int minRoundness, float clusterFactor,
                                 int maxMeanIntensity, int brightThreshold, float concaveAreaLimit,
                                 float peakTolerance, int, int &liveCount, int &deadCount, float &avgSize,
                                 float &meanObjectIntensity, bool distanceSplit, bool mergeStates, bool useChannel4,
                                 int)
{
    return findBrightfieldObjects({minSize, maxSize, minRoundness, clusterFactor, maxMeanIntensity, brightThreshold,
                                   concaveAreaLimit, peakTolerance, 0.0f, 0.0f, distanceSplit, mergeStates, true,
                                   useChannel4, false},
                                  liveCount, deadCount, avgSize, meanObjectIntensity);
}

} // namespace Quorvan
