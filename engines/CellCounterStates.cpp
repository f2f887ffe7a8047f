// Manual live/dead marking with its recount (colour modes), and the pixel shift between two
// channels estimated from paired object centres.
#include "CellCounter.h"
#include "CellCounterGeometry.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <exception>

namespace Quorvan {

using namespace finder;

namespace {

constexpr double kPairingRadius = 10.0;    // pixels, strictly less
constexpr size_t kMinPairs = 10;
constexpr double kProjectionX = 1296.0;    // the point the fitted mapping is evaluated at
constexpr double kProjectionY = 972.0;

// Integer centres of the outer contours of a mask.
std::vector<cv::Point> centres(const cv::Mat &mask)
{
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    std::vector<cv::Point> points;
    for (const auto &c : contours) {
        const Circle circle = enclosingCircle(c);
        points.emplace_back(roundEven(circle.centre.x), roundEven(circle.centre.y));
    }
    return points;
}

} // namespace

void CellCounter::setCellState(int channel, int x, int y, int state, int radius, int minSize, int maxSize, int score,
                               int &liveCount, int &deadCount, float &avgSize, bool mergeStates)
{
    if (m_Mode != 3 && m_Mode != 4)
        return;
    const cv::Mat &source = getImage(channel);
    if (source.empty() || source.depth() != CV_8U || (source.channels() != 1 && source.channels() != 3))
        return;
    try {
        std::fill(std::begin(m_LiveHistogram), std::end(m_LiveHistogram), 0);
        std::fill(std::begin(m_DeadHistogram), std::end(m_DeadHistogram), 0);
        // Always three channels: the picture getters hand out the tag image as 3-byte pixels.
        if (source.channels() == 1)
            cv::cvtColor(source, m_TagImage, cv::COLOR_GRAY2BGR);
        else
            source.copyTo(m_TagImage);

        auto mark = [state](TObj &o) {
            if (state == 0 || state == 1 || state == 2) {
                o.fGreen = state == 2 ? 1.0f : 0.0f;
                o.fRed = state == 1 ? 1.0f : 0.0f;
            }
        };
        // The first object whose box (round radius each way, clipped to the image) holds the point.
        auto hit = [&](const TObj &o) {
            const long long r = roundEven(o.fRadius);
            const long long left = std::max<long long>(o.nX - r, 0), top = std::max<long long>(o.nY - r, 0);
            const long long w = left + 2 * r > m_Width ? m_Width - left : 2 * r;
            const long long h = top + 2 * r > m_Height ? m_Height - top : 2 * r;
            return x >= left && x < left + w && y >= top && y < top + h;
        };
        const auto found = std::find_if(m_FoundCells.begin(), m_FoundCells.end(), hit);
        if (found != m_FoundCells.end()) {
            mark(*found);
        } else {
            TObj o;
            o.fRadius = float(radius);
            o.fSize = cellSize(float(radius), 1);
            o.nRoundness = score;
            mark(o);
            o.nX = x;
            o.nY = y;
            m_FoundCells.push_back(o);
        }

        // The tag colours of the mode's byte order, whatever setTagColor chose.
        const bool rgb = m_Mode == 3;
        const cv::Scalar liveColour(0, 255, 0, 0);
        const cv::Scalar deadColour = rgb ? cv::Scalar(255, 0, 0, 0) : cv::Scalar(0, 0, 255, 0);
        const cv::Scalar mergedColour = rgb ? cv::Scalar(255, 127, 0, 0) : cv::Scalar(0, 127, 255, 0);
        int live = 0, dead = 0;
        float sizeSum = 0;
        for (const TObj &o : m_FoundCells) {
            const int s = roundEven(o.fSize);
            if (s < minSize || s > maxSize)
                continue;
            const bool isLive = mergeStates ? (o.fGreen != 0.0f || o.fRed != 0.0f) : o.fGreen == 1.0f;
            const bool isDead = !mergeStates && !isLive && o.fRed == 1.0f;
            if (!isLive && !isDead)
                continue;
            ++(isLive ? live : dead);
            // A size beyond the histograms is counted but not binned.
            if (int *b = bin(isLive ? m_LiveHistogram : m_DeadHistogram, s, SizeClasses))
                ++*b;
            sizeSum += o.fSize;
            drawTag(m_TagImage, cv::Point(o.nX, o.nY), o.fRadius,
                    mergeStates ? mergedColour : isLive ? liveColour : deadColour, m_CircleThickness);
        }
        liveCount = live;
        deadCount = dead;
        avgSize = live + dead > 0 ? sizeSum / float(live + dead) : 0.0f;
    } catch (const std::exception &) {
    }
}

void CellCounter::getPixelShiftOffset(int referenceChannel, int referenceLevel, int movingChannel, int movingLevel,
                                      int &dx, int &dy)
{
    if (m_Mode != 1 && m_Mode != 2)
        return;
    try {
        _autoThreshold(referenceChannel, m_Work1, referenceLevel);
        _autoThreshold(movingChannel, m_Work2, movingLevel);
        const std::vector<cv::Point> reference = centres(m_Work1), moving = centres(m_Work2);

        // Greedy pairing in list order: each moving centre takes the nearest free reference centre
        // closer than the pairing radius (the earlier one of equal distances).
        std::vector<bool> used(reference.size(), false);
        std::vector<cv::Point2f> from, to;
        for (const cv::Point &m : moving) {
            int best = -1;
            double bestDistance = 100000.0;
            for (size_t k = 0; k < reference.size(); ++k) {
                if (used[k])
                    continue;
                const double d = std::hypot(double(m.x - reference[k].x), double(m.y - reference[k].y));
                if (d < kPairingRadius && d < bestDistance) {
                    bestDistance = d;
                    best = int(k);
                }
            }
            if (best >= 0) {
                used[size_t(best)] = true;
                from.emplace_back(m);
                to.emplace_back(reference[size_t(best)]);
            }
        }
        if (from.size() < kMinPairs)
            return;

        const cv::Mat H = cv::findHomography(from, to, cv::LMEDS, 3.0);
        if (H.rows != 3 || H.cols != 3 || H.type() != CV_64FC1)
            return; // no mapping found
        auto h = [&H](int r, int c) { return H.at<double>(r, c); };
        const double w = h(2, 0) * kProjectionX + h(2, 1) * kProjectionY + h(2, 2);
        const double px = (h(0, 0) * kProjectionX + h(0, 1) * kProjectionY + h(0, 2)) / w;
        const double py = (h(1, 0) * kProjectionX + h(1, 1) * kProjectionY + h(1, 2)) / w;
        const double limit = 1.0e9;
        if (w == 0.0 || !std::isfinite(px) || !std::isfinite(py) || std::abs(px) > limit || std::abs(py) > limit)
            return;
        dx = int(std::trunc(px) - kProjectionX);
        dy = int(std::trunc(py) - kProjectionY);
    } catch (const std::exception &) {
    }
}

} // namespace Quorvan
