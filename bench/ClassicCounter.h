#pragma once
// The classic counter, the floor of the counting benchmarks: Gaussian 3 x 3, inverted Otsu
// threshold, holes filled, opening, exact distance transform, markers at its regional maxima,
// watershed, and each region's area, centroid and central mean.
#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <vector>

inline void classicCount(const cv::Mat &grey)
{
    static const cv::Mat ellipse3 = cv::getStructuringElement(cv::MORPH_ELLIPSE, {3, 3});
    static const cv::Mat disc = cv::getStructuringElement(cv::MORPH_ELLIPSE, {11, 11});
    cv::Mat smooth, mask, framed, distance, largest, peaks, markers, relief, colour;
    cv::GaussianBlur(grey, smooth, {3, 3}, 0);
    cv::threshold(smooth, mask, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::copyMakeBorder(mask, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, 0);
    cv::floodFill(framed, {0, 0}, 255);
    mask |= ~framed(cv::Rect(1, 1, mask.cols, mask.rows));
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, ellipse3);
    cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    cv::dilate(distance, largest, disc);
    peaks = (distance == largest) & (distance >= 2.0f);
    const int n = cv::connectedComponents(peaks, markers, 8, CV_32S);
    markers.setTo(n, mask == 0);
    cv::normalize(-distance, relief, 0, 255, cv::NORM_MINMAX, CV_8U);
    cv::cvtColor(relief, colour, cv::COLOR_GRAY2BGR);
    cv::watershed(colour, markers);
    std::vector<double> area(size_t(n) + 1), sx(area.size()), sy(area.size()), sum(area.size());
    for (int y = 0; y < markers.rows; ++y) {
        const int *m = markers.ptr<int>(y);
        const uchar *g = grey.ptr<uchar>(y);
        for (int x = 0; x < markers.cols; ++x)
            if (m[x] > 0 && m[x] < n) {
                area[size_t(m[x])] += 1;
                sx[size_t(m[x])] += x;
                sy[size_t(m[x])] += y;
                sum[size_t(m[x])] += g[x];
            }
    }
    benchmark::DoNotOptimize(area.data());
    benchmark::DoNotOptimize(sum.data());
}
