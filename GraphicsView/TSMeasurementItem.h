#pragma once
#include "TMeasurementTool.h"

#include <opencv2/core/types.hpp>
#include <vector>

// One measurement result, in pixels and raw intensity values. Fields a tool does not compute
// keep the start values below.
struct TSMeasurementItem
{
    unsigned int key = 0;             // annotation item measured; 0 when not tied to an item
    TMeasurementTool tool = TOOL_NONE; // tool of the measurer when the record was made
    cv::Rect roi;                     // region of interest x, y, width, height
    float area = 0.0f;                // pixels inside the shape, or width x height (rectangle)
    float angle = 0.0f;               // degrees (angle tool)
    float length = 0.0f;              // path length, or the perimeter figure of rectangle and ellipse
    float circularity = 0.0f;         // 4 pi area / perimeter squared (polygon, ellipse)
    double minIntensity = 1000000.0;
    double maxIntensity = -1.0;
    float meanIntensity = 0.0f;
    float stdIntensity = 0.0f;
    int count = 0;                    // markers of the count tools
    std::vector<int> histogram;       // 256 bins (8-bit frame) or 4096 (16-bit frame)
    int histogramMaxCount = -1;
    int histogramMinCount = 1310721;  // one more than the pixels of a frame
    std::vector<int> profile;         // intensities along the line (line tool)
    int profileMin = 100000;
    int profileMax = -1;
    std::vector<cv::Point> points;    // the points the record was measured from
};
