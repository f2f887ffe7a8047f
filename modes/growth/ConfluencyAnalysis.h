#pragma once
#include "GrowthMonitorParameter.h"

#include <QtGlobal>
#include <opencv2/core.hpp>

// The image work of one confluency analysis on decoded images: threshold, optional dilation,
// small-object removal, object count (optionally split by a distance-transform watershed), the
// segmentation image (the grey source with the background at 0) and the count image (the source
// in colour with every counted object painted in a colour of its own, drawn from cv::theRNG()).
// Throws what OpenCV and the allocator throw; GrowthMonitor turns that into its failure value.
class ConfluencyAnalysis
{
public:
    struct Result
    {
        int count = 0;
        qint64 covered = 0;   // pixels of counted objects
        cv::Mat segmentation; // 8-bit grey
        cv::Mat countImage;   // 8-bit BGR
    };

    // A decoded file (1, 3 or 4 channels of 8 or 16 bits) as the 8-bit grey and BGR images the
    // analysis works on. 16-bit samples are camera values 0..4095 shown as 8 bits: v x 255 / 4094,
    // rounded half up and saturated. False for any other channel count or depth, or an empty image.
    static bool toAnalysisImages(const cv::Mat &decoded, cv::Mat &grey, cv::Mat &colour);

    // Measures grey; colour (its BGR twin, same size) is painted into the count image. In
    // automatic mode parameter.thresholdValue receives the computed threshold.
    static void run(const cv::Mat &grey, const cv::Mat &colour, GrowthMonitorParameter &parameter, Result &result);

    // Labels the 4-connected regions of the pixels whose value (the sum of the channels) is above
    // threshold, visiting rows and columns from 1 (row 0 and column 0 keep label 0). Regions are
    // numbered 1, 2, ... by their first pixel in raster order; labels becomes CV_32S of the image's
    // size. Returns the number of regions.
    static int label(const cv::Mat &image, int threshold, cv::Mat &labels);
};
