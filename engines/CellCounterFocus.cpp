// Focus measures and the focus-value list, image statistics and line profiles of the engine.
#include "CellCounter.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <exception>

namespace Quorvan {

namespace {

double secondsSince(int64 start)
{
    return double(cv::getTickCount() - start) / cv::getTickFrequency();
}

// Plane 1 of the centred window of a frame of 3-byte pixels; empty when the window does not fit.
cv::Mat centredPlane1(unsigned char *data, cv::Size imageSize, cv::Size windowSize)
{
    if (!data || imageSize.width <= 0 || imageSize.height <= 0 || windowSize.width <= 0 || windowSize.height <= 0)
        return {};
    const int x = imageSize.width / 2 - windowSize.width / 2, y = imageSize.height / 2 - windowSize.height / 2;
    if (x < 0 || y < 0 || x + windowSize.width > imageSize.width || y + windowSize.height > imageSize.height)
        return {};
    const cv::Mat frame(imageSize, CV_8UC3, data);
    cv::Mat plane;
    cv::extractChannel(frame(cv::Rect(cv::Point(x, y), windowSize)), plane, 1);
    return plane;
}

// Spread of the occupied grey levels: H - L, where L counts the empty levels 0..254 and
// H = 255 minus the empty levels above L.
double histogramSpread(const cv::Mat &window)
{
    int hist[256] = {};
    for (int y = 0; y < window.rows; ++y) {
        const uchar *p = window.ptr<uchar>(y);
        for (int x = 0; x < window.cols; ++x)
            ++hist[p[x]];
    }
    int low = 0;
    for (int i = 0; i < 255; ++i)
        low += hist[i] == 0;
    int emptyAbove = 0;
    for (int i = low + 1; i < 256; ++i)
        emptyAbove += hist[i] == 0;
    return double(255 - emptyAbove - low);
}

// Mean of the squared upward deviations from the mean, both in saturating 8-bit arithmetic.
double saturatedVariance(const cv::Mat &window)
{
    cv::Mat deviation, square;
    cv::subtract(window, cv::Scalar(cv::mean(window)[0]), deviation);
    cv::pow(deviation, 2.0, square);
    return cv::sum(square)[0] / (double(window.cols) * window.rows);
}

// Measures the centred window with measure; false (nothing written) when it does not fit.
bool measureWindow(double (*measure)(const cv::Mat &), unsigned char *data, cv::Size imageSize, cv::Size windowSize,
                   double &focusValue)
{
    try {
        const cv::Mat window = centredPlane1(data, imageSize, windowSize);
        if (window.empty())
            return false;
        focusValue = measure(window);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

// Mean (or standard deviation) of an image as red, green, blue; a grey image gives 0, 0, value.
void channelStatistics(const cv::Mat &image, bool deviation, float &first, float &second, float &third)
{
    first = second = third = 0.0f;
    if (image.empty())
        return;
    try {
        cv::Scalar m, s;
        cv::meanStdDev(image, m, s);
        const cv::Scalar &v = deviation ? s : m;
        const int cn = image.channels();
        first = cn > 2 ? float(v[2]) : 0.0f;
        second = cn > 1 ? float(v[1]) : 0.0f;
        third = float(v[0]);
    } catch (const std::exception &) {
        first = second = third = 0.0f;
    }
}

} // namespace

void CellCounter::init_focus_value_vec()
{
    m_FocusValues.clear();
}

std::vector<double> CellCounter::get_focus_value_vec()
{
    return m_FocusValues;
}

void CellCounter::get_best_focus_index_with_value(int &index, double &value)
{
    index = -1;
    value = -1.0;
    for (size_t i = 0; i < m_FocusValues.size(); ++i)
        if (m_FocusValues[i] > value) {
            value = m_FocusValues[i];
            index = int(i);
        }
}

void CellCounter::avg(int index, float &first, float &second, float &third)
{
    channelStatistics(getImage(index), false, first, second, third);
}

void CellCounter::std(int index, float &first, float &second, float &third)
{
    channelStatistics(getImage(index), true, first, second, third);
}

std::vector<int> CellCounter::getLineIntensity(cv::Mat &image, int direction, int channel)
{
    m_LineProfile.clear();
    if (image.empty() || image.type() != CV_8UC3 || direction < 0 || direction > 3 || channel < 0 || channel > 2)
        return {};
    try {
        auto at = [&](int y, int x) { m_LineProfile.push_back(image.at<cv::Vec3b>(y, x)[channel]); };
        if (direction == 0) {
            for (int x = 0; x < image.cols; ++x)
                at(image.rows / 2, x);
        } else if (direction == 1) {
            m_LineProfile.reserve(image.total());
            for (int y = 0; y < image.rows; ++y)
                for (int x = 0; x < image.cols; ++x)
                    at(y, x);
        } else if (direction == 2) {
            for (int y = 0; y < image.rows; ++y)
                at(y, image.cols / 2);
        }
        return m_LineProfile;
    } catch (const std::exception &) {
        m_LineProfile.clear();
        return {};
    }
}

void CellCounter::drawLineIntensity(std::string &, cv::Mat &image, int direction, int channel)
{
    getLineIntensity(image, direction, channel);
    if (image.empty() || image.type() != CV_8UC3)
        return;
    try {
        // The drawing is a view for a developer's eye only; the profile is what lasts.
        cv::Mat canvas = image.clone();
        if (m_LineProfile.size() > 1) {
            std::vector<cv::Point> curve;
            curve.reserve(m_LineProfile.size());
            for (size_t i = 0; i < m_LineProfile.size(); ++i)
                curve.emplace_back(int(i), int(std::lrint((255 - m_LineProfile[i]) * double(m_Height) / 255.0)));
            cv::polylines(canvas, curve, false, cv::Scalar(255, 0, 0), 1);
        }
        if (direction == 0)
            cv::line(canvas, cv::Point(0, canvas.rows / 2), cv::Point(canvas.cols - 1, canvas.rows / 2), cv::Scalar(0, 0, 255));
        else if (direction == 2)
            cv::line(canvas, cv::Point(canvas.cols / 2, 0), cv::Point(canvas.cols / 2, canvas.rows - 1), cv::Scalar(0, 0, 255));
    } catch (const std::exception &) {
    }
}

double CellCounter::find_best_focus(int method, unsigned char *data, cv::Size imageSize, cv::Size windowSize,
                                    double &focusValue)
{
    const int64 start = cv::getTickCount();
    if (method == 0 || method == 1) {
        if (!measureWindow(method == 0 ? histogramSpread : saturatedVariance, data, imageSize, windowSize, focusValue))
            return -1.0;
    }
    return secondsSince(start);
}

void CellCounter::find_best_focus_hist_distance(unsigned char *data, cv::Size imageSize, cv::Size windowSize,
                                                double &focusValue)
{
    measureWindow(histogramSpread, data, imageSize, windowSize, focusValue);
}

void CellCounter::find_focus_variance(unsigned char *data, cv::Size imageSize, cv::Size windowSize, double &focusValue)
{
    measureWindow(saturatedVariance, data, imageSize, windowSize, focusValue);
}

int CellCounter::find_fv_quorvan_dark_edge(cv::Mat &image, int colorMode, FOCUS_WINDOW_SIZE windowSize)
{
    if (image.empty() || image.type() != CV_8UC3 || (colorMode != 1 && colorMode != 3)
        || (windowSize != FOCUS_WINDOW_320X240 && windowSize != FOCUS_WINDOW_640X480))
        return -1;
    const int w = image.cols, h = image.rows;
    const cv::Size half = windowSize == FOCUS_WINDOW_320X240 ? cv::Size(160, 120) : cv::Size(320, 240);
    const cv::Rect window(w / 2 - half.width, h / 2 - half.height, 2 * half.width, 2 * half.height);
    if ((window & cv::Rect(0, 0, w, h)) != window)
        return -1;
    try {
        cv::Mat grey, dark;
        if (colorMode == 1)
            cv::extractChannel(image(window), grey, 1);
        else
            cv::cvtColor(image(window), grey, cv::COLOR_BGR2GRAY);
        cv::inRange(grey, cv::Scalar(5), cv::Scalar(35), dark);
        return cv::countNonZero(dark);
    } catch (const std::exception &) {
        return -1;
    }
}

double CellCounter::find_focus_value(unsigned char *data, int width, int height, double &focusValue,
                                     FOCUS_VALUE_CRITERIA criteria, int colorMode, FOCUS_WINDOW_SIZE windowSize)
{
    const int64 start = cv::getTickCount();
    if (criteria != FOCUS_VALUE_DARK_EDGE)
        return secondsSince(start);
    if (!data || width <= 0 || height <= 0)
        return -1.0;
    try {
        cv::Mat frame(height, width, CV_8UC3, data);
        const int n = find_fv_quorvan_dark_edge(frame, colorMode, windowSize);
        if (n < 0)
            return -1.0;
        m_FocusValues.push_back(double(n));
        focusValue = double(n);
    } catch (const std::exception &) {
        return -1.0;
    }
    return secondsSince(start);
}

} // namespace Quorvan
