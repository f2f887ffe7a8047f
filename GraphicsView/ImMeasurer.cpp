#include "ImMeasurer.h"

#include <QDebug>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const cv::Rect kFrameRect(0, 0, ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight);
constexpr uchar kMaskValue = 255; // masks are 8-bit whatever the frame depth

bool refuseRegion()
{
    qDebug() << "== error ROI Rect";
    return false;
}

void logOpenCvError(const char *where, const cv::Exception &e)
{
    qWarning() << "ImMeasurer::" << where << "failed:" << e.what();
}

// Two-point corners lie within 0..1280 x 0..1024 (one past the last pixel).
cv::Point clampCorner(cv::Point p)
{
    p.x = std::clamp(p.x, 0, ImMeasurer::kFrameWidth);
    p.y = std::clamp(p.y, 0, ImMeasurer::kFrameHeight);
    return p;
}

// Number of pixels of an 8-bit image whose 4-neighbour Laplacian (aperture 1, reflected border)
// exceeds limit (0 or more). This is the count of non-zero pixels that an 8-bit Laplacian
// followed by a binary threshold at limit gives, in one pass and without a work image.
int countStrongEdges(const cv::Mat &img, int limit)
{
    const int rows = img.rows;
    const int cols = img.cols;
    int count = 0;
    for (int y = 0; y < rows; ++y) {
        const uchar *up = img.ptr<uchar>(y == 0 ? 1 : y - 1);
        const uchar *row = img.ptr<uchar>(y);
        const uchar *down = img.ptr<uchar>(y == rows - 1 ? rows - 2 : y + 1);
        auto strong = [&](int x) {
            const int left = row[x == 0 ? 1 : x - 1];
            const int right = row[x == cols - 1 ? cols - 2 : x + 1];
            return up[x] + down[x] + left + right - 4 * row[x] > limit;
        };
        count += strong(0) + strong(cols - 1);
        int x = 1;
#if CV_SIMD
        // Sums stay below 1021 and 4 x centre + limit below 1021 + limit, so they compare as
        // 16-bit signed values; a hit is a mask of -1, subtracted from the lane's count.
        const cv::v_uint16 bias = cv::vx_setall_u16(ushort(limit));
        cv::v_int16 hits = cv::vx_setzero_s16();
        for (; x + cv::v_uint8::nlanes < cols; x += cv::v_uint8::nlanes) {
            cv::v_uint16 u[2], d[2], l[2], r[2], c[2];
            cv::v_expand(cv::vx_load(up + x), u[0], u[1]);
            cv::v_expand(cv::vx_load(down + x), d[0], d[1]);
            cv::v_expand(cv::vx_load(row + x - 1), l[0], l[1]);
            cv::v_expand(cv::vx_load(row + x + 1), r[0], r[1]);
            cv::v_expand(cv::vx_load(row + x), c[0], c[1]);
            for (int h = 0; h < 2; ++h)
                hits -= cv::v_reinterpret_as_s16(u[h] + d[h] + l[h] + r[h])
                        > cv::v_reinterpret_as_s16((c[h] << 2) + bias);
        }
        cv::v_int32 wide[2];
        cv::v_expand(hits, wide[0], wide[1]);
        count += cv::v_reduce_sum(wide[0] + wide[1]);
#endif
        for (; x < cols - 1; ++x)
            count += strong(x);
    }
#if CV_SIMD
    cv::vx_cleanup();
#endif
    return count;
}

} // namespace

ImMeasurer::ImMeasurer()
    : m_Image8(kFrameHeight, kFrameWidth, CV_8UC1, cv::Scalar(0))
    , m_Image16(kFrameHeight, kFrameWidth, CV_16UC1, cv::Scalar(0))
    , m_Blurred(kFrameHeight, kFrameWidth, CV_8UC1)
{
}

ImMeasurer::~ImMeasurer() = default;

void ImMeasurer::setImageData(void *data, int width, int height, int bits)
{
    if (!data) {
        qWarning() << "ImMeasurer::setImageData: no frame data";
        return;
    }
    m_Width = width;
    m_Height = height;
    m_Bits = bits;
    if (bits == 8) {
        m_MaxValue = 255;
        m_CvType = CV_8U;
        std::memcpy(m_Image8.data, data, m_Image8.total());
    } else {
        m_MaxValue = 65535;
        m_CvType = CV_16U;
        if (bits == 16) {
            // Camera words: most significant byte first, 12 bits shifted left by four.
            const uchar *src = static_cast<const uchar *>(data);
            ushort *dst = m_Image16.ptr<ushort>();
            const size_t n = m_Image16.total();
            for (size_t i = 0; i < n; ++i)
                dst[i] = ushort((src[2 * i] << 4) | (src[2 * i + 1] >> 4));
        }
    }
    followFrame();
}

void ImMeasurer::setCurrentMeasurementTool(TMeasurementTool tool)
{
    m_Tool = tool;
}

const cv::Mat &ImMeasurer::frame() const
{
    return m_Bits == 8 ? m_Image8 : m_Image16;
}

void ImMeasurer::followFrame()
{
    if (!m_RoiRect.empty())
        m_Roi = frame()(m_RoiRect);
}

void ImMeasurer::setRegion(const cv::Rect &rect)
{
    m_RoiRect = rect;
    m_Roi = frame()(rect);
    m_Mask = cv::Mat::zeros(rect.size(), CV_8UC1);
}

bool ImMeasurer::setROIImage(cv::Point p1, cv::Point p2)
{
    p1 = clampCorner(p1);
    p2 = clampCorner(p2);
    const int dx = std::abs(p1.x - p2.x);
    const int dy = std::abs(p1.y - p2.y);
    if (dx == 0 && dy == 0)
        return refuseRegion();

    m_LinePoints[0] = p1;
    m_LinePoints[1] = p2;
    cv::Rect rect(std::min(p1.x, p2.x), std::min(p1.y, p2.y), std::max(dx, 1), std::max(dy, 1));
    // A region without extent along the far edge is the last column or row, not one past it.
    if (dx == 0)
        rect.x = std::min(rect.x, kFrameWidth - 1);
    if (dy == 0)
        rect.y = std::min(rect.y, kFrameHeight - 1);

    try {
        setRegion(rect);
        const int w = rect.width;
        const int h = rect.height;
        if (m_Tool == TOOL_RECTANGLE || m_Tool == TOOL_WHOLE_IMAGE)
            m_Mask.setTo(kMaskValue);
        else if (m_Tool == TOOL_ELLIPSE)
            cv::ellipse(m_Mask, cv::Point(w / 2, h / 2), cv::Size(w / 2, h / 2), 0.0, 0.0, 360.0,
                        cv::Scalar(kMaskValue), cv::FILLED, cv::LINE_8);
    } catch (const cv::Exception &e) {
        logOpenCvError("setROIImage", e);
        return false;
    }
    return true;
}

bool ImMeasurer::setROIImage(std::vector<cv::Point> &points)
{
    if (points.empty())
        return refuseRegion();
    const cv::Rect bounds = cv::boundingRect(points);
    const cv::Rect rect = bounds & kFrameRect;
    if (rect.empty())
        return refuseRegion();

    try {
        setRegion(rect);
        if (m_Tool == TOOL_POLYGON) {
            std::vector<cv::Point> shifted(points.size());
            std::transform(points.begin(), points.end(), shifted.begin(),
                           [&rect](const cv::Point &p) { return p - rect.tl(); });
            cv::fillConvexPoly(m_Mask, shifted, cv::Scalar(kMaskValue), cv::LINE_8);
        }
    } catch (const cv::Exception &e) {
        logOpenCvError("setROIImage", e);
        return false;
    }
    return true;
}

TSMeasurementItem ImMeasurer::measure(std::vector<cv::Point> points)
{
    m_Points = std::move(points);
    TSMeasurementItem item;
    item.tool = m_Tool;
    item.roi = m_RoiRect;
    item.points = m_Points;

    try {
        switch (m_Tool) {
        case TOOL_LINE:
            item.length = length();
            applyLineProfile(item);
            break;
        case TOOL_ANGLE:
            item.angle = angle();
            item.minIntensity = item.maxIntensity = 0.0;
            break;
        case TOOL_POLYGON:
        case TOOL_ELLIPSE:
            item.area = float(m_Mask.empty() ? 0 : cv::countNonZero(m_Mask));
            item.length = length();
            applyRegionFigures(item);
            item.circularity = circularity(item.area);
            break;
        case TOOL_RECTANGLE:
            item.area = float(m_RoiRect.width) * float(m_RoiRect.height);
            item.length = length();
            applyRegionFigures(item);
            break;
        case TOOL_SEGMENT_LINE:
        case TOOL_FREE_HAND:
            item.length = length();
            item.minIntensity = item.maxIntensity = 0.0;
            break;
        case TOOL_MULTI_COUNT:
        case TOOL_CIRCLE_COUNT:
            item.count = int(m_Points.size());
            item.minIntensity = item.maxIntensity = 0.0;
            break;
        case TOOL_WHOLE_IMAGE:
            applyRegionFigures(item);
            break;
        default: // none, text, delete: nothing to measure
            break;
        }
    } catch (const cv::Exception &e) {
        logOpenCvError("measure", e);
    }
    return item;
}

void ImMeasurer::applyRegionFigures(TSMeasurementItem &item) const
{
    if (m_Roi.empty())
        return;
    applyHistogram(item);
    cv::minMaxLoc(m_Roi, &item.minIntensity, &item.maxIntensity);
    cv::Scalar mean, stddev;
    cv::meanStdDev(m_Roi, mean, stddev);
    item.meanIntensity = float(mean[0]);
    item.stdIntensity = float(stddev[0]);
}

void ImMeasurer::applyHistogram(TSMeasurementItem &item) const
{
    if (m_Roi.empty() || (m_Bits != 8 && m_Bits != 16))
        return;
    const int bins = m_Bits == 8 ? 256 : 4096;
    const int channel = 0;
    const float range[] = {0.0f, float(bins)};
    const float *ranges[] = {range};
    cv::Mat counts;
    cv::calcHist(&m_Roi, 1, &channel, cv::Mat(), counts, 1, &bins, ranges);
    // Counts stay below 2^24, so the float bins hold them exactly.
    counts.convertTo(counts, CV_32S);
    item.histogram.assign(counts.ptr<int>(), counts.ptr<int>() + bins);
    const auto [lowest, highest] = std::minmax_element(item.histogram.begin(), item.histogram.end());
    item.histogramMinCount = *lowest;
    item.histogramMaxCount = *highest;
}

void ImMeasurer::applyLineProfile(TSMeasurementItem &item) const
{
    const int n = int(std::lrint(item.length)); // nearest, ties to even
    item.profile.clear();
    item.profile.reserve(size_t(n) + 1);
    double lowest = 100000.0;
    double highest = -1.0;
    double x = m_LinePoints[0].x;
    double y = m_LinePoints[0].y;
    const double stepX = n > 0 ? (m_LinePoints[1].x - x) / n : 0.0;
    const double stepY = n > 0 ? (m_LinePoints[1].y - y) / n : 0.0;
    float sum = 0.0f;
    for (int i = 0; i <= n; ++i) {
        // Corners may lie one past the last pixel: samples stay on the frame.
        const int col = std::clamp(int(x), 0, kFrameWidth - 1);
        const int row = std::clamp(int(y), 0, kFrameHeight - 1);
        const int v = m_Bits == 8 ? m_Image8.at<uchar>(row, col) : m_Image16.at<ushort>(row, col);
        item.profile.push_back(v);
        sum += float(v);
        lowest = std::min(lowest, double(v));
        highest = std::max(highest, double(v));
        x += stepX;
        y += stepY;
    }
    const float count = float(item.profile.size());
    const float mean = sum / count;
    float squares = 0.0f;
    for (int v : item.profile)
        squares += (float(v) - mean) * (float(v) - mean);
    item.minIntensity = lowest;
    item.maxIntensity = highest;
    item.meanIntensity = mean;
    item.stdIntensity = std::sqrt(squares / count);
}

float ImMeasurer::length() const
{
    const int w = m_RoiRect.width;
    const int h = m_RoiRect.height;
    if (m_Tool == TOOL_ELLIPSE) {
        const float root = std::sqrt(float(((w * 0.5) * (w * 0.5) + (h * 0.5) * (h * 0.5)) * 0.5));
        return float(6.283185307179586 * root);
    }
    if (m_Tool == TOOL_RECTANGLE)
        return float(w + h + w + h);
    // An open path: a closed outline repeats its first point to include the closing side.
    float sum = 0.0f;
    for (size_t i = 1; i < m_Points.size(); ++i) {
        const cv::Point d = m_Points[i] - m_Points[i - 1];
        sum += float(std::hypot(double(d.x), double(d.y)));
    }
    return sum;
}

float ImMeasurer::angle() const
{
    if (m_Points.size() != 3)
        return 0.0f;
    const cv::Point arm1 = m_Points[0] - m_Points[1];
    const cv::Point arm2 = m_Points[2] - m_Points[1];
    const float a = float(std::hypot(double(arm1.x), double(arm1.y)));
    const float b = float(std::hypot(double(arm2.x), double(arm2.y)));
    if (a == 0.0f || b == 0.0f)
        return 0.0f; // an arm without length has no direction
    const double dot = double(arm2.x) * arm1.x + double(arm2.y) * arm1.y;
    // Rounding of the arm lengths can push the cosine of collinear arms just past +-1.
    const double cosine = std::clamp(dot / (double(a) * double(b)), -1.0, 1.0);
    const float radians = float(std::acos(cosine));
    return float(radians * 57.29577951308232);
}

float ImMeasurer::circularity(float area) const
{
    if (m_Points.empty())
        return 0.0f;
    const double perimeter = cv::arcLength(m_Points, true);
    if (!(perimeter > 0.0))
        return 0.0f;
    return float(area * 12.566368f / (perimeter * perimeter));
}

int ImMeasurer::intensity(cv::Point point) const
{
    if (!kFrameRect.contains(point))
        return 0;
    if (m_Bits == 8)
        return m_Image8.at<uchar>(point.y, point.x);
    if (m_Bits == 16)
        return m_Image16.at<ushort>(point.y, point.x);
    return 0;
}

double ImMeasurer::GetFocusValue(bool)
{
    if (m_Bits != 8)
        return 0.0;
    try {
        // Blurred into the spare frame, which then becomes the frame (an in-place blur would
        // copy the frame first).
        cv::GaussianBlur(m_Image8, m_Blurred, cv::Size(5, 5), 2.0, 0.0, cv::BORDER_DEFAULT);
        std::swap(m_Image8, m_Blurred);
        followFrame();
        // The sum of the 8-bit Laplacian thresholded at 5 to 255: 255 per strong-edge pixel.
        return 255.0 * countStrongEdges(m_Image8, 5);
    } catch (const cv::Exception &e) {
        logOpenCvError("GetFocusValue", e);
        return 0.0;
    }
}

double ImMeasurer::GetAveIntensityValue() const
{
    return cv::mean(frame())[0];
}
