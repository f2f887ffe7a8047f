#pragma once
#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

// One object of the simulated specimen, in stage coordinates (micrometres, the optical axis at 0,0).
struct SampleObject
{
    enum Kind { LiveCell, DeadCell, Debris };
    Kind kind = LiveCell;
    cv::Point2f centre;
    float radius = 0;            // micrometres (debris: half its size)
    float aspect = 1;            // minor / major axis of the outline
    float angle = 0;             // degrees
    cv::Point2f nucleusOffset;   // nucleus centre relative to the cell centre, micrometres
    float nucleusRadius = 0;
    float stain = 1;             // brightness of its fluorescence (0 to 1.3)
    bool tagged = false;         // member of the subset that the third cube shows
    std::vector<cv::Point2f> outline; // debris: polygon relative to the centre
};

// A seeded culture: live cells alone and in clumps, dead cells, debris. The same seed gives the
// same specimen on every run, so tests and autofocus runs can rely on it.
class SampleScene
{
public:
    explicit SampleScene(uint32_t seed, cv::Size2f areaUm = cv::Size2f(2000, 1600));

    const std::vector<SampleObject> &objects() const { return m_objects; }
    cv::Size2f area() const { return m_area; }

    // Sharp image of the field through one filter position (0 Trans, 1 nuclei, 2 cytoplasm,
    // 3 tagged subset) at umPerPixel, centred on the optical axis: relative intensity as
    // CV_32FC1 of the given size (Trans background about 1, fluorescence background about 0).
    // resolutionUm is the smallest detail the objective resolves (the width of a live cell's
    // dark rim in transmitted light is at least that).
    cv::Mat draw(int filter, double umPerPixel, cv::Size size, double resolutionUm) const;

private:
    cv::Size2f m_area;
    std::vector<SampleObject> m_objects;
};
