// Two-colour work of the engine (modes 1 and 2): the overlay mask of the green and red stains,
// the green/red/unstained and live/dead counts with their object list, and the quick count.
#include "CellCounter.h"
#include "CellCounterGeometry.h"

#include <QDebug>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <exception>
#include <fstream>
#include <limits>
#include <locale>

namespace Quorvan {

using namespace finder;

namespace {

constexpr int kObjectThreshold = 95;     // channel-5 level at or below which a pixel is a cell
constexpr float kQuickFactor = 1.4f;     // quick count: threshold = (mean + deviation) x this
constexpr float kQuickMinSize = 3.0f;    // micrometres, inclusive
constexpr float kQuickMaxSize = 60.0f;
constexpr float kNoLimit = std::numeric_limits<float>::infinity();

double secondsSince(double start)
{
    return std::max(0.0, (double(cv::getTickCount()) - start) / cv::getTickFrequency());
}

} // namespace

bool CellCounter::hasChannelImages(bool needsScale) const
{
    if (m_Mode != 1 && m_Mode != 2)
        return false;
    const cv::Size frame(m_Width, m_Height);
    for (const cv::Mat *m : {&m_Channel1, &m_Channel2, &m_Channel3, &m_Corrected1, &m_Shifted3, &m_ShiftedMask3,
                             &m_Mask1, &m_Mask2, &m_Mask3, &m_OverlayMask})
        if (m->size() != frame || m->type() != CV_8UC1)
            return false;
    if (m_TagImage.size() != frame || m_TagImage.type() != CV_8UC3)
        return false;
    return !needsScale || (m_MicronsPerPixel > 0.0f && std::isfinite(m_MicronsPerPixel));
}

int CellCounter::meanRadius(const cv::Mat &mask, float minSize, float maxSize, float &mean) const
{
    std::vector<Contour> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    if (contours.empty())
        return -1;
    float sum = 0;
    int count = 0;
    for (const Contour &c : contours) {
        const float r = enclosingCircle(c).radius;
        const float size = cellSize(r, 1);
        if (size < minSize || size > maxSize)
            continue;
        sum += r;
        ++count;
    }
    if (count > 0)
        mean = sum / float(count);
    return count;
}

void CellCounter::makeOverlayMaskImageData(int level2, int level3, int, int, int dx, int dy)
{
    if (!hasChannelImages(false))
        return;
    try {
        autoThreshold(2, level2);
        autoThreshold(3, level3);
        const cv::Mat matrix = (cv::Mat_<float>(2, 3) << 1, 0, float(dx), 0, 1, float(dy));
        cv::warpAffine(m_Mask3, m_ShiftedMask3, matrix, m_Mask3.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                       cv::Scalar(0));
        cv::warpAffine(m_Channel3, m_Shifted3, matrix, m_Channel3.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                       cv::Scalar(0));
        matrix.copyTo(m_ShiftMatrix);
        cv::add(m_Mask2, m_ShiftedMask3, m_OverlayMask); // saturating: the union of the two masks
    } catch (const std::exception &) {
    }
}

bool CellCounter::startTwoColour(int maxSize, cv::Mat &matched, float &matchedRadius, float &allRadius)
{
    clearCount();
    autoThreshold(5, kObjectThreshold);
    cv::bitwise_and(m_OverlayMask, m_Mask1, matched);
    return meanRadius(matched, 0.0f, float(maxSize), matchedRadius) > 0 &&
           meanRadius(m_OverlayMask, -kNoLimit, kNoLimit, allRadius) > 0;
}

bool CellCounter::findFluorescentObjects(const TwoColourSettings &settings, float matchedRadius, float allRadius)
{
    std::vector<Contour> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(m_OverlayMask, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
    const float clumpCellSize = cellSize(matchedRadius, 1);
    bool searched = false;
    for (int i : outerContours(hierarchy)) {
        const Contour &contour = contours[size_t(i)];
        const Circle c = enclosingCircle(contour);
        const cv::Rect box = objectBox(cv::minAreaRect(contour));
        if (box.empty())
            continue;
        const cv::Mat mask = objectMask(contour, box);
        const cv::Mat green = m_Channel2(box), red = m_Shifted3(box);
        auto record = [&](float radius, float size, const cv::Mat &where, cv::Point at) {
            TObj o;
            o.fRadius = radius;
            o.fSize = size;
            o.fGreen = float(cv::mean(green, where)[0]);
            o.fRed = float(cv::mean(red, where)[0]);
            o.nX = at.x;
            o.nY = at.y;
            if (size < 0.0f || (o.fGreen < settings.minIntensity && o.fRed < settings.minIntensity))
                return false;
            m_FoundCells.push_back(o);
            return true;
        };

        if (allRadius * settings.clusterFactor > c.radius) {
            // A single cell, sized by the widest channel-5 object in a window round it.
            const int side = truncated(4.0f * matchedRadius);
            const int x0 = std::max(truncated(c.centre.x - 2.0f * matchedRadius), 0);
            const int y0 = std::max(truncated(c.centre.y - 2.0f * matchedRadius), 0);
            const int w = x0 + side > m_Width ? m_Width - x0 : side;
            const int h = y0 + side > m_Height ? m_Height - y0 : side;
            float diameter = settings.emptyWindowDiameter;
            if (w > 0 && h > 0) {
                std::vector<Contour> around;
                cv::findContours(m_Mask1(cv::Rect(x0, y0, w, h)), around, cv::RETR_EXTERNAL,
                                 cv::CHAIN_APPROX_SIMPLE);
                if (!around.empty())
                    diameter = -1.0f;
                for (const Contour &a : around)
                    diameter = std::max(diameter, 2.0f * enclosingCircle(a).radius);
            }
            if (record(c.radius, cellSize(0.5f * diameter, 1), mask,
                       cv::Point(roundEven(c.centre.x), roundEven(c.centre.y))))
                ++m_ClusterHistogram[1];
            continue;
        }
        if (!settings.split)
            continue;
        searched = true;
        const auto seeds = objectSeeds(mask, settings.peakTolerance, roundEven(allRadius));
        if (seeds.empty())
            continue;
        int cells = 0;
        for (const auto &seed : seeds)
            cells += record(allRadius, clumpCellSize, disc(box.size(), seed.second, truncated(matchedRadius)),
                            seed.second + box.tl());
        ++m_ClusterHistogram[std::min(cells, ClusterClasses - 1)];
    }
    return searched;
}

void CellCounter::findUnstainedObjects(const cv::Mat &matched, int minRoundness, int maxMeanIntensity,
                                       float clusterFactor, float peakTolerance, int windowRadius, bool split,
                                       float matchedRadius)
{
    cv::Mat unstained;
    cv::subtract(m_Mask1, matched, unstained);
    std::vector<Contour> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(unstained, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
    auto append = [this](float radius, float size, cv::Point at) {
        TObj o;
        o.fRadius = radius;
        o.fSize = size;
        o.fGreen = o.fRed = -1.0f;
        o.nX = at.x;
        o.nY = at.y;
        m_FoundCells.push_back(o);
    };
    for (int i : outerContours(hierarchy)) {
        const Contour &contour = contours[size_t(i)];
        const Circle c = enclosingCircle(contour);
        const cv::RotatedRect area = cv::minAreaRect(contour);
        if (roundness(area) < minRoundness)
            continue;
        const cv::Rect box = objectBox(area);
        if (box.empty())
            continue;
        const cv::Mat mask = objectMask(contour, box);
        if (float(cv::mean(m_Channel1(box), mask)[0]) > float(maxMeanIntensity))
            continue;
        if (matchedRadius * clusterFactor > c.radius) {
            const float size = cellSize(c.radius, 1);
            if (size >= 0.0f)
                append(c.radius, size, cv::Point(roundEven(c.centre.x), roundEven(c.centre.y)));
        } else if (split) {
            const float size = cellSize(matchedRadius, 1);
            for (const auto &seed : objectSeeds(mask, peakTolerance, windowRadius))
                if (size >= 0.0f)
                    append(matchedRadius, size, seed.second + box.tl());
        }
    }
}

int CellCounter::twoColourClass(const TObj &o, int minSize, int maxSize, float greenThreshold, float redThreshold)
{
    const int s = roundEven(o.fSize);
    if (s < minSize || s > maxSize)
        return 0;
    if (o.fGreen == -1.0f && o.fRed == -1.0f)
        return 3;
    if (o.fGreen > o.fRed)
        return o.fGreen > greenThreshold ? 2 : 0;
    return o.fRed > redThreshold ? 1 : 0;
}

CellCounter::Tally CellCounter::tallyColours(int minSize, int maxSize, float greenThreshold, float redThreshold,
                                             int *redHistogram)
{
    Tally t;
    m_TagImage.setTo(cv::Scalar::all(0));
    for (const TObj &o : m_FoundCells) {
        t.greenSum += o.fGreen;
        t.redSum += o.fRed;
        const int kind = twoColourClass(o, minSize, maxSize, greenThreshold, redThreshold);
        if (kind == 0)
            continue;
        // A size beyond the histograms is counted but not binned.
        const int s = roundEven(o.fSize);
        int *histogram = kind == 2 ? m_LiveHistogram : kind == 1 ? redHistogram : m_DeadHistogram;
        if (int *b = bin(histogram, s, SizeClasses))
            ++*b;
        if (kind == 3) {
            ++t.unstained;
            continue;
        }
        const bool green = kind == 2;
        ++(green ? t.green : t.red);
        (green ? t.liveGreenSum : t.deadRedSum) += green ? o.fGreen : o.fRed;
        t.sizeSum += o.fSize;
        drawTag(m_TagImage, cv::Point(o.nX, o.nY), o.fRadius, green ? cv::Scalar(0, 255, 0, 0) : cv::Scalar(0, 0, 255, 0),
                m_CircleThickness);
    }
    return t;
}

double CellCounter::findObjects(int minSize, int maxSize, int minRoundness, int maxMeanIntensity, float clusterFactor,
                                float peakTolerance, int windowRadius, int &greenCount, int &redCount,
                                int &unstainedCount, float &avgSize, bool, int noDistanceSplit)
{
    if (!hasChannelImages(true))
        return -1.0;
    try {
        const double start = double(cv::getTickCount());
        cv::Mat matched;
        float matchedRadius = 0, allRadius = 0;
        if (!startTwoColour(maxSize, matched, matchedRadius, allRadius))
            return -1.0;
        const bool split = noDistanceSplit == 0;
        if (findFluorescentObjects({clusterFactor, peakTolerance, split, 2.0f * matchedRadius, -kNoLimit},
                                   matchedRadius, allRadius))
            windowRadius = roundEven(allRadius);
        findUnstainedObjects(matched, minRoundness, maxMeanIntensity, clusterFactor, peakTolerance, windowRadius,
                             split, matchedRadius);
        const Tally t = tallyColours(minSize, maxSize, -kNoLimit, -kNoLimit, m_LiveHistogram);
        greenCount = t.green;
        redCount = t.red;
        unstainedCount = t.unstained;
        avgSize = t.green + t.red > 0 ? t.sizeSum / float(t.green + t.red) : 0.0f;
        return secondsSince(start);
    } catch (const std::exception &) {
        clearCount();
        return -1.0;
    }
}

double CellCounter::findObjects(int minSize, int maxSize, float clusterFactor, int greenThreshold, int redThreshold,
                                float peakTolerance, int, int &liveCount, int &deadCount, float &avgSize,
                                float &avgGreen, float &avgRed, float &avgLiveGreen, float &avgDeadRed,
                                bool writeList, int noDistanceSplit)
{
    if (!hasChannelImages(true))
        return -1.0;
    try {
        const double start = double(cv::getTickCount());
        cv::Mat matched;
        float matchedRadius = 0, allRadius = 0;
        if (!startTwoColour(maxSize, matched, matchedRadius, allRadius))
            return -1.0;
        findFluorescentObjects({clusterFactor, peakTolerance, noDistanceSplit == 0, -1.0f, 1.0f}, matchedRadius,
                               allRadius);
        for (TObj &o : m_FoundCells)
            o.nGreenClass = logClass(o.fGreen + 1.0f);
        const Tally t = tallyColours(minSize, maxSize, float(greenThreshold), float(redThreshold), m_DeadHistogram);
        const int n = int(m_FoundCells.size());
        liveCount = t.green;
        deadCount = t.red;
        avgSize = t.green + t.red > 0 ? t.sizeSum / float(t.green + t.red) : 0.0f;
        avgGreen = n > 0 ? t.greenSum / float(n) : 0.0f;
        avgRed = n > 0 ? t.redSum / float(n) : 0.0f;
        avgLiveGreen = t.green > 0 ? t.liveGreenSum / float(t.green) : 0.0f;
        avgDeadRed = t.red > 0 ? t.deadRedSum / float(t.red) : 0.0f;
        if (writeList)
            writeObjectList();
        return secondsSince(start);
    } catch (const std::exception &) {
        clearCount();
        return -1.0;
    }
}

void CellCounter::writeObjectList() const
{
    std::ofstream file(kObjectListFile, std::ios::out | std::ios::trunc);
    file.imbue(std::locale::classic()); // a point for the decimal point whatever the user's locale
    file << "cell size, green intensity, red intensity, x, y, radius, log10 green intensity\n" << std::flush;
    // The stream's default notation: six significant digits, as printf's %g.
    for (const TObj &o : m_FoundCells)
        file << double(o.fSize) << ',' << double(o.fGreen) << ',' << double(o.fRed) << ',' << o.nX << ',' << o.nY
             << ',' << double(o.fRadius) << ',' << o.nGreenClass << '\n'
             << std::flush;
    file.close();
    if (file.fail())
        qWarning() << "Cannot write the object list" << kObjectListFile;
}

double CellCounter::findObjects(int &count)
{
    if (!hasChannelImages(true))
        return -1.0;
    try {
        const double start = double(cv::getTickCount());
        // Mean and deviation of the engine's own channel-2 frame.
        cv::Scalar mean, deviation;
        cv::meanStdDev(m_Channel2, mean, deviation);
        autoThreshold(2, roundEven((float(mean[0]) + float(deviation[0])) * kQuickFactor));
        float radius = 0;
        const int n = meanRadius(m_Mask2, kQuickMinSize, kQuickMaxSize, radius);
        if (n < 0)
            return -1.0;
        count = n;
        return secondsSince(start);
    } catch (const std::exception &) {
        return -1.0;
    }
}

} // namespace Quorvan
