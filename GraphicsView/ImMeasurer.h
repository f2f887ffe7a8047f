#pragma once
#include "TMeasurementTool.h"
#include "TSMeasurementItem.h"

#include <opencv2/core.hpp>
#include <vector>

// Computes the figures of the measurement tools on one 1280 x 1024 camera frame (region, mask,
// length, angle, area, circularity, intensity statistics, histogram, line profile, marker
// count), plus the whole-frame focus value and mean intensity. All results are in pixels and raw
// intensity values. One measurer is used by one thread at a time.
//
// Calling order: setImageData (whenever the frame changes), setCurrentMeasurementTool, one
// setROIImage form where the tool needs a region, then measure.
class ImMeasurer
{
public:
    static constexpr int kFrameWidth = 1280;
    static constexpr int kFrameHeight = 1024;

    ImMeasurer();
    ~ImMeasurer();
    ImMeasurer(const ImMeasurer &) = delete;
    ImMeasurer &operator=(const ImMeasurer &) = delete;

    // Takes a frame: 8 bits are copied, 16 bits are decoded from the camera layout (big-endian
    // words holding a 12-bit value shifted left by four) to values 0..4095. Always reads a
    // whole 1280 x 1024 frame.
    void setImageData(void *data, int width, int height, int bits);
    void setCurrentMeasurementTool(TMeasurementTool tool);

    // Region from two corners (line, rectangle, ellipse, whole image). Corners are clamped to
    // the frame; false for a region without extent.
    bool setROIImage(cv::Point p1, cv::Point p2);
    // Region from a point list (polygon, segment line): the bounding rectangle clipped to the
    // frame; false for an empty list or a region wholly outside the frame.
    bool setROIImage(std::vector<cv::Point> &points);

    // The record of the current tool, from the current region and the given points.
    TSMeasurementItem measure(std::vector<cv::Point> points);

    // Frame value at column x, row y; 0 outside the frame or for an unsupported bit depth.
    int intensity(cv::Point point) const;

    // Focus figure of an 8-bit frame (255 x the number of strong-edge pixels); 0 for other
    // depths. Leaves the measurer's frame blurred. The flag has no effect.
    double GetFocusValue(bool flag = false);
    // Mean of the whole frame.
    double GetAveIntensityValue() const;

    // The shape mask of the current region: 8-bit, 255 inside the shape, 0 outside.
    const cv::Mat &mask() const { return m_Mask; }

private:
    const cv::Mat &frame() const;
    void setRegion(const cv::Rect &rect);
    // Points the region view at the matrix now holding the frame.
    void followFrame();
    // Minimum, maximum, mean, standard deviation and histogram of the region rectangle.
    void applyRegionFigures(TSMeasurementItem &item) const;
    void applyHistogram(TSMeasurementItem &item) const;
    void applyLineProfile(TSMeasurementItem &item) const;
    float length() const;
    float angle() const;
    float circularity(float area) const;

    TMeasurementTool m_Tool = TOOL_NONE;
    int m_Width = kFrameWidth;
    int m_Height = kFrameHeight;
    int m_Bits = 8;
    int m_MaxValue = 255; // largest value of the frame's element type
    int m_CvType = CV_8U;
    cv::Mat m_Image8;
    cv::Mat m_Image16;
    cv::Mat m_Blurred; // spare 8-bit frame: the focus value blurs into it and swaps it in
    cv::Rect m_RoiRect;
    cv::Mat m_Roi;
    cv::Mat m_Mask;
    cv::Point m_LinePoints[2];
    std::vector<cv::Point> m_Points;
};
