// The own counter's pipeline: the whole-frame stage, then per blob its mask, inside spots,
// markers, watershed split and the measurement of every cell.
#include "CellCount_alg.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kFrame = 15;    // frame around a blob's crops
constexpr int kSpotFrame = 5; // frame around the inside-spot image
constexpr int kCells = _MainDeclusterCountInfo_NimboS::kMaxCells;
constexpr int kBorderType = cv::BORDER_CONSTANT | cv::BORDER_ISOLATED;

cv::Mat framed(const cv::Mat &image, int border, int value)
{
    cv::Mat out;
    cv::copyMakeBorder(image, out, border, border, border, border, kBorderType, cv::Scalar(value));
    return out;
}

void morph(const cv::Mat &src, cv::Mat &dst, int op, const cv::Mat &element, int iterations)
{
    cv::morphologyEx(src, dst, op, element, cv::Point(-1, -1), iterations, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
}

bool oddPositive(int aperture)
{
    return aperture > 0 && aperture % 2 == 1;
}

} // namespace

struct CellCount_alg::CountParameters
{
    int insideMinSize, insideMaxSize, insideThresholdOffset, mustDetectIntensity;
    int postMinIntensity, postMaxIntensity;
    float roundness;
    int minCellSize, maxCellSize;
    double declusterTolerance;
    int clusterDistance;
    float intensityRatio, centerRange, wholeRange;
    int liveMinIntensity;
    cv::Mat ellipse3, ellipse5;
};

int CellCount_alg::CellCounting_NimboS(const unsigned char *grey, unsigned char *thresholdOut, unsigned char *tagOut,
                                       int *labels, int width, int height, _MainDeclusterCountInfo_NimboS *records,
                                       int outsideMinSize, int outsideMaxSize, int outsideThresholdOffset,
                                       int outsideKernelSize, double outsideGain, int insideMinSize,
                                       int insideMaxSize, int insideThresholdOffset, int mustDetectIntensity,
                                       int nrKernelSize, int postMinIntensity, int postMaxIntensity, float roundness,
                                       int minCellSize, int maxCellSize, double declusterTolerance,
                                       int clusterDistance, float intensityRatio, float centerRange,
                                       float wholeRange, int liveMinIntensity)
{
    // Coordinates are 16-bit, and the blob tables start their minima at 9999.
    if (!grey || !thresholdOut || !tagOut || !labels || !records || width < 1 || height < 1
        || width > kLabelLimit || height > kLabelLimit || !oddPositive(nrKernelSize)
        || !oddPositive(outsideKernelSize))
        return kRefused;

    // Everything is worked out in private images and records and copied to the outputs at the
    // end, so that a failure leaves them as they were.
    try {
        const cv::Mat input(height, width, CV_8UC1, const_cast<unsigned char *>(grey));
        cv::Mat smoothed = input.clone();
        cv::Mat tag;
        cv::merge(std::vector<cv::Mat>{smoothed, smoothed, smoothed}, tag);
        const double sigma = nrKernelSize / 2.0;
        cv::GaussianBlur(smoothed, smoothed, cv::Size(nrKernelSize, nrKernelSize), sigma, sigma);
        cv::Mat background;
        cv::medianBlur(smoothed, background, outsideKernelSize);
        // One expression: gain x (background - smoothed), rounded and saturated, so that what is
        // darker than its surroundings becomes bright.
        const cv::Mat enhanced = (smoothed - background) * (-outsideGain);
        background.release();

        const cv::Mat entropyCopy = enhanced.clone();
        int t = Get_MaxEntropy_Threshold(entropyCopy.data, width, height, 0) + outsideThresholdOffset;
        t = std::min(std::max(t, 1), 255);
        cv::Mat threshold;
        cv::threshold(enhanced, threshold, t - 1, 255, cv::THRESH_BINARY);
        const long long foreground = cv::countNonZero(threshold);
        const long long backgroundPixels = (long long)width * height - foreground;

        auto writeFrameImages = [&] {
            std::memcpy(thresholdOut, threshold.data, size_t(width) * height);
            std::memcpy(tagOut, tag.data, size_t(width) * height * 3);
        };
        if (foreground <= 3 || backgroundPixels <= 3) {
            writeFrameImages();
            return 0;
        }

        std::fill_n(m_BlobMinX, kLabelLimit + 1, int16_t(9999));
        std::fill_n(m_BlobMinY, kLabelLimit + 1, int16_t(9999));
        std::fill_n(m_BlobMaxX, kLabelLimit + 1, int16_t(0));
        std::fill_n(m_BlobMaxY, kLabelLimit + 1, int16_t(0));
        std::fill_n(m_BlobArea, kLabelLimit + 1, 0);
        if (outsideMinSize <= 0 || outsideMaxSize <= 0 || outsideMinSize > outsideMaxSize) {
            writeFrameImages();
            return 0;
        }
        cv::Mat blobLabels(height, width, CV_32SC1);
        std::memcpy(blobLabels.data, labels, size_t(width) * height * sizeof(int));
        bool tooMany = false;
        const int n = NormalLabeling_ver_2(threshold.data, blobLabels.ptr<int>(), width, height, outsideMinSize,
                                           outsideMaxSize, m_BlobMinX, m_BlobMinY, m_BlobMaxX, m_BlobMaxY,
                                           m_BlobArea, &tooMany);
        if (n <= 0) {
            writeFrameImages();
            return tooMany ? kTooManyBlobs : 0;
        }

        const CountParameters p{insideMinSize, insideMaxSize, insideThresholdOffset, mustDetectIntensity,
                                postMinIntensity, postMaxIntensity, roundness, minCellSize, maxCellSize,
                                declusterTolerance, clusterDistance, intensityRatio, centerRange, wholeRange,
                                liveMinIntensity,
                                cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3)),
                                cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5))};
        std::vector<_MainDeclusterCountInfo_NimboS> result(size_t(n) + 1);
        std::memset(static_cast<void *>(result.data()), 0, result.size() * sizeof(result[0]));
        for (int i = 1; i <= n; ++i)
            countBlob(i, p, smoothed, threshold, blobLabels.ptr<int>(), width, height, result[i]);

        writeFrameImages();
        std::memcpy(labels, blobLabels.data, size_t(width) * height * sizeof(int));
        std::memcpy(static_cast<void *>(records + 1), result.data() + 1, size_t(n) * sizeof(result[0]));
        return n;
    } catch (const std::exception &) { // OpenCV's errors and bad_alloc
        return kRefused;
    }
}

void CellCount_alg::countBlob(int i, const CountParameters &p, const cv::Mat &smoothed, const cv::Mat &threshold,
                              const int *labels, int width, int height, _MainDeclusterCountInfo_NimboS &record)
{
    // The blob mask: its own pixels of the threshold, closed along a cut frame edge, holes filled.
    const int x0 = m_BlobMinX[i], y0 = m_BlobMinY[i], x1 = m_BlobMaxX[i], y1 = m_BlobMaxY[i];
    const int bw = x1 - x0 + 1, bh = y1 - y0 + 1;
    const cv::Rect box(x0, y0, bw, bh);
    cv::Mat s = smoothed(box).clone();
    cv::Mat crop = threshold(box).clone();
    record.nBlobMinX = int16_t(x0);
    record.nBlobMinY = int16_t(y0);
    record.nBlobMaxX = int16_t(x1);
    record.nBlobMaxY = int16_t(y1);

    // A blob cut by the frame edge is closed along it, so that the hole filling fills it.
    const bool left = x0 == 0, right = x1 == width - 1, top = y0 == 0, bottom = y1 == height - 1;
    auto closeEdge = [&](bool cut, const cv::Rect &line) {
        if (cut) {
            crop(line).setTo(255);
            s(line).setTo(0);
        }
    };
    closeEdge(left, cv::Rect(0, 0, 1, bh));
    closeEdge(right, cv::Rect(bw - 1, 0, 1, bh));
    closeEdge(top, cv::Rect(0, 0, bw, 1));
    closeEdge(bottom, cv::Rect(0, bh - 1, bw, 1));
    for (int r = 0; r < bh; ++r) {
        const int *l = labels + size_t(y0 + r) * width + x0;
        uchar *c = crop.ptr<uchar>(r);
        const bool edgeRow = (top && r == 0) || (bottom && r == bh - 1);
        for (int col = 0; col < bw; ++col) {
            const bool edge = edgeRow || (left && col == 0) || (right && col == bw - 1);
            if (l[col] != i && !edge)
                c[col] = 0;
        }
    }
    cv::Mat closed;
    morph(crop, closed, cv::MORPH_CLOSE, p.ellipse3, 1);
    const cv::Mat framedMask = framed(closed, kFrame, 0);
    cv::Mat flood = framedMask.clone();
    cv::floodFill(flood, cv::Point(0, 0), cv::Scalar(255), nullptr, cv::Scalar(0), cv::Scalar(0), 4);
    cv::Mat h = framedMask | ~flood;
    morph(h, h, cv::MORPH_OPEN, p.ellipse3, 2);
    const cv::Mat q = framed(s, kFrame, 0);

    // Inside spots: pixels brighter than the box mean plus the offset, in spots of usable size,
    // plus everything brighter than the must-detect level. Pixels of other blobs are masked.
    const double t = cv::mean(s)[0] + p.insideThresholdOffset;
    const cv::Mat r = framed(s, kSpotFrame, int(t) + 2);
    cv::Mat spots;
    cv::threshold(r, spots, t, 255, cv::THRESH_BINARY);
    for (int row = 0; row < bh; ++row) {
        const int *l = labels + size_t(y0 + row) * width + x0;
        for (int col = 0; col < bw; ++col) {
            if (l[col] != 0 && l[col] != i && spots.at<uchar>(row + kSpotFrame, col + kSpotFrame) == 0)
                spots(cv::Rect(col + 3, row + 3, 5, 5)).setTo(255);
        }
    }
    if (p.insideMinSize > 0 && p.insideMaxSize > 0 && p.insideMinSize <= p.insideMaxSize) {
        short minX[kCells + 1], minY[kCells + 1], maxX[kCells + 1], maxY[kCells + 1];
        int area[kCells + 1];
        std::fill_n(minX, kCells + 1, short(9999));
        std::fill_n(minY, kCells + 1, short(9999));
        std::fill_n(maxX, kCells + 1, short(0));
        std::fill_n(maxY, kCells + 1, short(0));
        std::fill_n(area, kCells + 1, 0);
        const cv::Mat copy = spots.clone();
        cv::Mat spotLabels = cv::Mat::zeros(spots.size(), CV_32SC1);
        NormalLabeling_ver_2(copy.data, spotLabels.ptr<int>(), copy.cols, copy.rows, p.insideMinSize,
                             p.insideMaxSize, minX, minY, maxX, maxY, area, nullptr, kCells);
        spotLabels.convertTo(spots, CV_8U, 255); // dropped components (-1) saturate to 0
    } else {
        spots.setTo(0);
    }
    if (p.mustDetectIntensity > 0) {
        cv::Mat bright;
        cv::threshold(r, bright, p.mustDetectIntensity, 255, cv::THRESH_BINARY);
        spots = spots + bright;
    }
    const cv::Mat x = framed(spots(cv::Rect(kSpotFrame, kSpotFrame, bw, bh)), kFrame, 0);

    // The blob mask grows by the spots' parts that stick out of it.
    cv::Mat grown, w;
    morph(x, grown, cv::MORPH_DILATE, p.ellipse5, 3);
    morph(grown - h, w, cv::MORPH_OPEN, p.ellipse5, 1);
    morph(h + w, h, cv::MORPH_CLOSE, p.ellipse5, 1);
    cv::Mat v;
    morph(h, v, cv::MORPH_ERODE, p.ellipse3, 1);

    // Markers: distance peaks far enough from the spots and from each other, and the spots.
    cv::Mat distance, d8;
    cv::distanceTransform(v, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    cv::normalize(distance, d8, 0, 255, cv::NORM_MINMAX, CV_8U);
    double highest = 0;
    cv::minMaxLoc(d8, nullptr, &highest);
    cv::Mat markers = DistancePeaks(d8, int(p.declusterTolerance * highest), bw / 4, bh / 4);
    SuppressMarkers(markers, x, p.clusterDistance);
    morph(markers + x, markers, cv::MORPH_DILATE, p.ellipse3, 1);
    const cv::Mat cut = markers(cv::Rect(kFrame, kFrame, bw, bh)).clone();
    std::fill_n(record.nCellMinX, kCells + 1, int16_t(9999));
    std::fill_n(record.nCellMinY, kCells + 1, int16_t(9999));
    cv::Mat markerLabels = cv::Mat::zeros(cut.size(), CV_32SC1);
    const int nm = NormalLabeling_ver_2(cut.data, markerLabels.ptr<int>(), bw, bh, 1, 99999, record.nCellMinX,
                                        record.nCellMinY, record.nCellMaxX, record.nCellMaxY, record.nCellArea,
                                        nullptr, kCells);
    record.bDeclustered = nm >= 2 ? 1 : 0;
    record.nCellNum = int16_t(nm);
    if (nm == 0)
        return;
    if (nm == 1) {
        if (!measureCell(1, h, cv::countNonZero(h), true, p, q, x0, y0, x1, y1, record))
            record.nCellNum = 0;
        return;
    }

    // Two or more markers: the watershed splits the blob mask between them.
    cv::Mat seeds = framed(markerLabels, kFrame, 0), colour, split;
    cv::cvtColor(h, colour, cv::COLOR_GRAY2BGR);
    cv::watershed(colour, seeds);
    seeds.convertTo(split, CV_8U);
    const cv::Mat cellLabels = (h / 255).mul(split);
    for (int j = 1; j <= nm; ++j) {
        cv::Mat cell;
        cv::inRange(cellLabels, cv::Scalar(j), cv::Scalar(j), cell);
        measureCell(j, cell, cv::countNonZero(cell), false, p, q, x0, y0, x1, y1, record);
    }
}

bool CellCount_alg::measureCell(int j, const cv::Mat &cellMask, int area, bool singleCell, const CountParameters &p,
                                const cv::Mat &framedSmoothed, int x0, int y0, int x1, int y1,
                                _MainDeclusterCountInfo_NimboS &record)
{
    float a = 0.0f, b = 0.0f;
    int left = 0, top = 0, right = 0, bottom = 0;
    NimboS_Declustering_Partial_LongShort(cellMask, &a, &b, &left, &top, &right, &bottom);
    record.bValid[j] = 0;
    if (a == 0.0f || b == 0.0f || a < float(p.minCellSize) || a > float(p.maxCellSize))
        return false;
    // The centre is the centre of the cell's marker.
    const int cx = (record.nCellMinX[j] + record.nCellMaxX[j]) / 2 + kFrame;
    const int cy = (record.nCellMinY[j] + record.nCellMaxY[j]) / 2 + kFrame;
    const int live = NimboS_Decluster_is_Live(framedSmoothed, cellMask, left, right, top, bottom, cx, cy,
                                              p.postMinIntensity, p.postMaxIntensity, p.liveMinIntensity,
                                              p.intensityRatio, p.centerRange, p.wholeRange);
    if (live < 0)
        return false;
    record.bLive[j] = live != 0 ? 1 : 0;
    record.nCellArea[j] = area;
    record.nCellMinX[j] = int16_t(singleCell ? x0 : x0 + left - kFrame);
    record.nCellMaxX[j] = int16_t(singleCell ? x1 : x0 + right - kFrame);
    record.nCellMinY[j] = int16_t(singleCell ? y0 : y0 + top - kFrame);
    record.nCellMaxY[j] = int16_t(singleCell ? y1 : y0 + bottom - kFrame);
    record.nCenterX[j] = int16_t(x0 + cx - kFrame);
    record.nCenterY[j] = int16_t(y0 + cy - kFrame);
    record.fLongAxis[j] = a;
    record.fShortAxis[j] = b;
    record.fRoundness[j] = 100.0f * b / a;
    record.bValid[j] = record.fRoundness[j] >= p.roundness ? 1 : 0;
    return true;
}

cv::Mat CellCount_alg::DistancePeaks(const cv::Mat &distance, int peakFloor, int rx, int ry)
{
    cv::Mat peaks;
    if (ry > 0) {
        // The largest neighbour, own value included: rows -ry..ry-1, columns -rx..rx.
        cv::Mat largest;
        const cv::Mat window = cv::Mat::ones(2 * ry, 2 * rx + 1, CV_8U);
        cv::dilate(distance, largest, window, cv::Point(rx, ry), 1, cv::BORDER_CONSTANT,
                   cv::morphologyDefaultBorderValue());
        peaks = distance >= largest;
    } else {
        peaks = cv::Mat(distance.size(), CV_8U, cv::Scalar(255));
    }
    return peaks & (distance > std::max(peakFloor, 0));
}

void CellCount_alg::SuppressMarkers(cv::Mat &markers, const cv::Mat &spots, int d)
{
    if (d <= 0)
        return;
    const cv::Mat square = cv::Mat::ones(2 * d + 1, 2 * d + 1, CV_8U);
    cv::Mat nearSpot;
    cv::dilate(spots, nearSpot, square, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
               cv::morphologyDefaultBorderValue());
    markers.setTo(0, nearSpot);

    // The markers are few: each one still standing is looked for among the others still standing.
    std::vector<cv::Point> points;
    cv::findNonZero(markers, points); // row after row
    std::vector<char> standing(points.size(), 1);
    for (size_t k = 0; k < points.size(); ++k) {
        for (size_t o = 0; o < points.size(); ++o) {
            if (o != k && standing[o] && std::abs(points[o].x - points[k].x) <= d
                && std::abs(points[o].y - points[k].y) <= d) {
                standing[k] = 0;
                markers.at<uchar>(points[k]) = 0;
                break;
            }
        }
    }
}
