#pragma once
#include "SampleScene.h"

#include <opencv2/core.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <vector>

// What the camera sees at one moment: optics, focus, light and sensor settings.
struct SampleView
{
    int filter = 0;            // 0 Trans, 1 to 3 fluorescence cubes
    int objective = 1;         // 1 to 5
    double stageSteps = 0;     // physical height of the focus stage, motor steps
    double exposureMs = 10;
    double gain = 1;           // linear sensor gain
    double light = 0.5;        // LED power of the filter's channel, 0 to 1 (0 when off or blocked)
};

// Renders the simulated specimen as the camera sees it: the seeded scene at the objective's
// scale, blurred by the distance from a slightly tilted focal plane, scaled by exposure, gain and
// light, with shot and read noise and a few fixed hot pixels. Images are upright (as the user sees
// them), 1280 x 1024, 12-bit values in CV_16UC1.
//
// Blur is fast because each filter/objective pair keeps a small stack of pre-blurred images;
// a frame interpolates between two of them per 64 x 64 block and adds noise from a table.
class SampleRenderer
{
public:
    static constexpr int Width = 1280;
    static constexpr int Height = 1024;
    static constexpr int MaxValue = 4095;
    static constexpr int BlackLevel = 64;       // dark offset, 12-bit units
    static constexpr double StepsPerUm = 51.2;  // focus motor
    static constexpr int ObjectiveCount = 5;
    static constexpr double DefaultFocusBase = 64000; // objective 1's focus, physical steps
    static constexpr double CameraPixelUm = 3.63;     // sensor pixel pitch

    explicit SampleRenderer(uint32_t seed = 4242);

    // Renders one frame into frame12 (allocated as needed).
    void render(const SampleView &view, cv::Mat &frame12);
    // Renders a frame exposed across a change of cube or objective: the sum of the views' pictures,
    // each by its light, with the noise of the sum. The views share the stage, exposure and gain of
    // the first; the brightest MaxParts are drawn, and no view at all gives a dark frame.
    void render(const std::vector<SampleView> &views, cv::Mat &frame12);
    static constexpr int MaxParts = 3;

    // Rendering without noise gives the expected image (tests of focus and brightness).
    void setNoise(bool on) { m_noise = on; }
    bool noise() const { return m_noise; }

    // A blank field (test hook): no specimen, only the even background and the hot pixels, so
    // that focus curves are flat.
    void setBlankField(bool blank);
    bool blankField() const { return m_blank; }

    // The stage height (physical motor steps) at which the specimen point xUm, yUm (stage
    // coordinates, micrometres from the optical axis) is sharp through an objective. The focal
    // plane is slightly tilted and each objective has its own parfocal offset.
    double trueFocusSteps(int objective, double xUm = 0, double yUm = 0) const;
    // The true focus under the image pixel x, y (upright image coordinates).
    double trueFocusStepsAtPixel(int objective, double x, double y) const;
    void setFocusBase(double steps) { m_focusBase = steps; }
    double focusBase() const { return m_focusBase; }

    // Optics of objective positions 1 to 5 (4X, 10X, 20X, 40X, 60X; out of range is clamped).
    static double magnification(int objective);
    static double numericalAperture(int objective);
    static double micrometresPerPixel(int objective);
    // How far above objective 1's focus this objective's focus lies (motor steps).
    static double parfocalSteps(int objective);
    // The smallest detail the objective resolves (Rayleigh), micrometres.
    static double resolutionUm(int objective);
    // Gaussian blur (sigma in pixels) at a defocus distance in motor steps: the lens's own spot
    // in focus, growing with the distance.
    static double blurSigma(int objective, double defocusSteps);

    // Fixed hot pixels in upright image coordinates (as still frames show them).
    const std::vector<cv::Point> &hotPixels() const { return m_hotPixels; }

    const SampleScene &scene() const { return m_scene; }

private:
    static constexpr int LevelCount = 8;
    static constexpr int Block = 64;
    struct BlurStack
    {
        int filter = -1;
        int objective = -1;
        std::array<cv::Mat, LevelCount> levels; // CV_16UC1, intensity x LevelScale
    };

    const BlurStack &stackFor(int filter, int objective); // with m_mutex held
    // Per block: level index and weight of the upper level.
    void blockBlend(const SampleView &view, std::vector<int> &level, std::vector<float> &weight) const;

    SampleScene m_scene;
    std::vector<cv::Point> m_hotPixels;
    std::vector<float> m_gauss;   // standard normal samples, 65536 of them
    uint64_t m_frameNumber = 0;
    std::atomic<double> m_focusBase{DefaultFocusBase}; // a test may drift it while frames render
    bool m_noise = true;
    bool m_blank = false;

    std::mutex m_mutex;
    std::list<BlurStack> m_stacks; // most recently used first
};
