#include "ConfluencyAnalysis.h"

#include <opencv2/imgproc.hpp>

#include <array>
#include <climits>
#include <vector>

namespace {

// Union-find over provisional labels. A root is always the smallest label of its set and labels
// are opened in raster order, so numbering the roots in increasing order numbers the regions by
// their first pixel.
class Regions
{
public:
    explicit Regions(size_t expected)
    {
        m_parent.reserve(expected);
        m_pixels.reserve(expected);
        m_parent.push_back(0);
        m_pixels.push_back(0);
    }
    int open()
    {
        const int label = int(m_parent.size());
        m_parent.push_back(label);
        m_pixels.push_back(0);
        return label;
    }
    // Counts pixels of a provisional label.
    void add(int label, int pixels) { m_pixels[size_t(label)] += pixels; }
    // The pixels of every final region (index 0 unused), from flatten's numbers.
    std::vector<qint64> areas(const std::vector<int> &final, int count) const
    {
        std::vector<qint64> area(size_t(count) + 1, 0);
        for (size_t i = 1; i < final.size(); ++i)
            area[size_t(final[i])] += m_pixels[i];
        return area;
    }
    int find(int label)
    {
        while (m_parent[size_t(label)] != label) {
            m_parent[size_t(label)] = m_parent[size_t(m_parent[size_t(label)])];
            label = m_parent[size_t(label)];
        }
        return label;
    }
    void merge(int a, int b)
    {
        a = find(a);
        b = find(b);
        if (a < b)
            m_parent[size_t(b)] = a;
        else if (b < a)
            m_parent[size_t(a)] = b;
    }
    // The final number (1..count) of every provisional label, 0 for 0; returns count. A parent
    // is always smaller than its child, so one ascending sweep resolves every chain.
    int flatten(std::vector<int> &final)
    {
        final.assign(m_parent.size(), 0);
        int count = 0;
        for (size_t i = 1; i < m_parent.size(); ++i)
            final[i] = m_parent[i] == int(i) ? ++count : final[size_t(m_parent[i])];
        return count;
    }
    size_t size() const { return m_parent.size(); }

private:
    std::vector<int> m_parent;
    std::vector<qint64> m_pixels;
};

// First labelling pass, 4-connected through the upper and the left neighbour, over rows and
// columns from 1, one run of object pixels at a time: a run takes the label of the first labelled
// pixel above it (joining every other one it touches) or opens a new one. rowTest(y) gives the
// object test of row y (a callable of the column). Fills provisional (CV_32S of size) completely,
// 0 for everything not labelled. Each pixel's test is made before that pixel is written, so the
// test may read provisional itself.
template <typename RowTest>
Regions firstPass(cv::Size size, cv::Mat &provisional, RowTest rowTest)
{
    provisional.create(size, CV_32S);
    Regions regions(size_t(size.area()) / 8 + 1);
    if (size.area() == 0)
        return regions;
    std::fill_n(provisional.ptr<int>(0), size.width, 0);
    for (int y = 1; y < size.height; ++y) {
        int *row = provisional.ptr<int>(y);
        const int *up = provisional.ptr<int>(y - 1);
        const auto isObject = rowTest(y);
        row[0] = 0;
        int x = 1;
        while (x < size.width) {
            if (!isObject(x)) {
                row[x++] = 0;
                continue;
            }
            const int start = x;
            int label = 0, lastUp = 0;
            for (; x < size.width && isObject(x); ++x) {
                const int u = up[x];
                if (u && u != lastUp) {
                    if (!label)
                        label = u;
                    else if (u != label)
                        regions.merge(u, label);
                    lastUp = u;
                }
            }
            if (!label)
                label = regions.open();
            std::fill(row + start, row + x, label);
            regions.add(label, x - start);
        }
    }
    return regions;
}

auto maskTest(const cv::Mat &mask)
{
    return [&mask](int y) {
        const uchar *m = mask.ptr<uchar>(y);
        return [m](int x) { return m[x] != 0; };
    };
}

std::vector<cv::Vec3b> drawColours(int count)
{
    std::vector<cv::Vec3b> colours(size_t(std::max(count, 0)));
    cv::RNG &rng = cv::theRNG();
    for (cv::Vec3b &c : colours) {
        c[0] = uchar(rng.uniform(0, 255));
        c[1] = uchar(rng.uniform(0, 255));
        c[2] = uchar(rng.uniform(0, 255));
    }
    return colours;
}

// The last pass: object(y, row, x) tells the object number (1-based) or 0 of a pixel. Objects take
// their colour in the count image and their grey value in the segmentation image; everything
// else keeps the source colour and becomes 0.
template <typename RowObject>
void paint(const cv::Mat &grey, const cv::Mat &colour, const std::vector<cv::Vec3b> &colours,
           ConfluencyAnalysis::Result &result, RowObject rowObject)
{
    result.segmentation.create(grey.size(), CV_8U);
    result.countImage.create(grey.size(), CV_8UC3);
    qint64 covered = 0;
    for (int y = 0; y < grey.rows; ++y) {
        const uchar *g = grey.ptr<uchar>(y);
        const cv::Vec3b *c = colour.ptr<cv::Vec3b>(y);
        uchar *seg = result.segmentation.ptr<uchar>(y);
        cv::Vec3b *out = result.countImage.ptr<cv::Vec3b>(y);
        const auto object = rowObject(y);
        for (int x = 0; x < grey.cols; ++x) {
            const int v = object(x);
            out[x] = v ? colours[size_t(v - 1)] : c[x];
            seg[x] = v ? g[x] : 0;
            covered += v != 0;
        }
    }
    result.covered = covered;
}

// 16-bit camera values as the views show them: v x 255 / 4094, rounded half up, saturated.
const std::array<uchar, 65536> &sixteenToEight()
{
    static const std::array<uchar, 65536> table = [] {
        std::array<uchar, 65536> t{};
        for (int v = 0; v < 65536; ++v)
            t[size_t(v)] = uchar(std::min<qint64>(255, (qint64(v) * 510 + 4094) / 8188));
        return t;
    }();
    return table;
}

// Small-object removal: the regions (labelled from row 1 and column 1) with at least minArea
// pixels. keep[provisional label] tells whether that pixel stays.
struct Kept
{
    cv::Mat provisional;
    std::vector<uchar> keep;
};

Kept removeSmall(const cv::Mat &mask, int minArea)
{
    Kept kept;
    Regions regions = firstPass(mask.size(), kept.provisional, maskTest(mask));
    std::vector<int> final;
    const int count = regions.flatten(final);
    const std::vector<qint64> area = regions.areas(final, count);
    kept.keep.resize(final.size());
    kept.keep[0] = 0;
    for (size_t i = 1; i < final.size(); ++i)
        kept.keep[i] = area[size_t(final[i])] >= minArea;
    return kept;
}

void countPlain(const cv::Mat &grey, const cv::Mat &colour, cv::Mat &mask, Kept *kept,
                ConfluencyAnalysis::Result &result)
{
    // The outline of the image rectangle (2 pixels thick, centred on the frame's edges) clears rows
    // 0, 1 and the last and columns 0, 1 and the last before counting.
    const cv::Point corner(grey.cols, grey.rows);
    // With removal the counting labels overwrite the removal's labels in place: a pixel's old
    // label is read before its new one is written, and only the new ones are read above and left.
    cv::Mat provisional = kept ? kept->provisional : cv::Mat();
    auto count = [&](Regions regions) {
        std::vector<int> final;
        const int n = regions.flatten(final);
        paint(grey, colour, drawColours(n), result, [&](int y) {
            const int *p = provisional.ptr<int>(y);
            const int *f = final.data();
            return [p, f](int x) { return f[p[x]]; };
        });
        result.count = n;
    };
    if (kept) {
        cv::rectangle(kept->provisional, cv::Point(0, 0), corner, cv::Scalar(0), 2, cv::LINE_8, 0);
        const cv::Mat &before = kept->provisional;
        const uchar *keep = kept->keep.data();
        count(firstPass(grey.size(), provisional, [&before, keep](int y) {
            const int *p = before.ptr<int>(y);
            return [p, keep](int x) { return keep[p[x]] != 0; };
        }));
    } else {
        cv::rectangle(mask, cv::Point(0, 0), corner, cv::Scalar(0), 2, cv::LINE_8, 0);
        count(firstPass(grey.size(), provisional, maskTest(mask)));
    }
}

void countWatershed(const cv::Mat &grey, const cv::Mat &colour, cv::Mat &m, double level,
                    ConfluencyAnalysis::Result &result)
{
    const cv::Mat kernel = cv::Mat::ones(3, 3, CV_8U);
    const cv::Point centre(-1, -1);
    cv::Mat opened, surrounding, ring, distance, seeds;
    cv::morphologyEx(m, opened, cv::MORPH_OPEN, kernel, centre, 2, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
    cv::dilate(opened, surrounding, kernel, centre, 3, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    cv::subtract(surrounding, m, ring);
    cv::distanceTransform(m, distance, cv::DIST_L2, 3);
    cv::normalize(distance, distance, 0.0, 1.0, cv::NORM_MINMAX);
    cv::threshold(distance, distance, level, 1.0, cv::THRESH_BINARY);
    distance.convertTo(seeds, CV_8U);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(seeds, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE, cv::Point(0, 0));
    const int k = int(contours.size());
    // Each seed from a list of its own: the drawing sets up every contour of the list it is given.
    cv::Mat markers = cv::Mat::zeros(grey.size(), CV_32S);
    for (int i = 0; i < k; ++i)
        cv::drawContours(markers, std::vector<cv::Mat>{cv::Mat(contours[size_t(i)], false)}, 0, cv::Scalar(i + 1),
                         cv::FILLED, cv::LINE_8, cv::noArray(), INT_MAX, cv::Point(0, 0));
    // The band around the objects is a region of its own, above every seed.
    cv::add(markers, cv::Scalar(k + 1), markers, ring);
    // Without seeds every pixel stays background: the flooding could change nothing.
    if (k > 0)
        cv::watershed(colour, markers);
    // The region under row 1, column 1 is the background. Watershed marks the image's outer frame
    // as a dividing line, so no pixel before that probe can belong to a seed region.
    int background = 0;
    if (grey.rows > 1 && grey.cols > 1) {
        const int v = markers.at<int>(1, 1);
        if (v >= 1 && v <= k)
            background = v;
    }
    paint(grey, colour, drawColours(k), result, [&](int y) {
        const int *mk = markers.ptr<int>(y);
        return [mk, k, background](int x) {
            const int v = mk[x];
            return v >= 1 && v <= k && v != background ? v : 0;
        };
    });
    result.count = background ? k - 1 : k;
}

} // namespace

bool ConfluencyAnalysis::toAnalysisImages(const cv::Mat &decoded, cv::Mat &grey, cv::Mat &colour)
{
    if (decoded.empty() || decoded.dims != 2)
        return false;
    const int channels = decoded.channels();
    if (channels != 1 && channels != 3 && channels != 4)
        return false;
    cv::Mat eight;
    if (decoded.depth() == CV_16U) {
        eight.create(decoded.size(), CV_MAKETYPE(CV_8U, channels));
        const auto &table = sixteenToEight();
        const size_t perRow = size_t(decoded.cols) * size_t(channels);
        for (int y = 0; y < decoded.rows; ++y) {
            const ushort *in = decoded.ptr<ushort>(y);
            uchar *out = eight.ptr<uchar>(y);
            for (size_t i = 0; i < perRow; ++i)
                out[i] = table[in[i]];
        }
    } else if (decoded.depth() == CV_8U) {
        eight = decoded;
    } else {
        return false; // floating-point or signed samples are no camera values
    }
    if (channels == 1) {
        grey = eight;
        cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    } else {
        if (channels == 4)
            cv::cvtColor(eight, colour, cv::COLOR_BGRA2BGR);
        else
            colour = eight;
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    }
    return true;
}

void ConfluencyAnalysis::run(const cv::Mat &grey, const cv::Mat &colour, GrowthMonitorParameter &parameter,
                             Result &result)
{
    CV_Assert(grey.type() == CV_8UC1 && colour.type() == CV_8UC3 && grey.size() == colour.size());
    const bool white = parameter.background == 1;
    cv::Mat mask;
    if (parameter.thresholdType == 0) {
        // White background: the grey values up to the computed threshold are cells.
        const double t = cv::threshold(grey, mask, 0, 255, (white ? cv::THRESH_BINARY_INV : cv::THRESH_BINARY) | cv::THRESH_OTSU);
        parameter.thresholdValue = int(t);
    } else {
        // White background: below the threshold; dark background: at or above it.
        cv::threshold(grey, mask, double(parameter.thresholdValue) - 1.0, 255,
                      white ? cv::THRESH_BINARY_INV : cv::THRESH_BINARY);
    }
    if (parameter.dilate == 1)
        cv::dilate(mask, mask, cv::getStructuringElement(cv::MORPH_CROSS, cv::Size(3, 3)), cv::Point(-1, -1), 1,
                   cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());

    Kept kept;
    const bool removal = parameter.minArea > 0;
    if (removal)
        kept = removeSmall(mask, parameter.minArea);

    if (parameter.watershed > 0.0) {
        if (removal) {
            for (int y = 0; y < mask.rows; ++y) {
                const int *p = kept.provisional.ptr<int>(y);
                uchar *m = mask.ptr<uchar>(y);
                for (int x = 0; x < mask.cols; ++x)
                    m[x] = kept.keep[size_t(p[x])] ? 255 : 0;
            }
        }
        countWatershed(grey, colour, mask, parameter.watershed, result);
    } else {
        countPlain(grey, colour, mask, removal ? &kept : nullptr, result);
    }
}

int ConfluencyAnalysis::label(const cv::Mat &image, int threshold, cv::Mat &labels)
{
    cv::Mat object;
    if (image.channels() == 1) {
        cv::compare(image, double(threshold), object, cv::CMP_GT);
    } else {
        // The sum of the first three channels.
        cv::Mat wide, sum64;
        image.convertTo(wide, CV_MAKETYPE(CV_64F, image.channels()));
        cv::Mat weights = cv::Mat::zeros(1, image.channels(), CV_64F);
        weights(cv::Rect(0, 0, std::min(image.channels(), 3), 1)).setTo(1.0);
        cv::transform(wide, sum64, weights);
        cv::compare(sum64, double(threshold), object, cv::CMP_GT);
    }
    cv::Mat provisional;
    Regions regions = firstPass(image.size(), provisional, maskTest(object));
    std::vector<int> final;
    const int count = regions.flatten(final);
    labels.create(image.size(), CV_32S);
    for (int y = 0; y < image.rows; ++y) {
        const int *p = provisional.ptr<int>(y);
        int *out = labels.ptr<int>(y);
        for (int x = 0; x < image.cols; ++x)
            out[x] = final[size_t(p[x])];
    }
    return count;
}
