#pragma once
#include <cmath>
#include <climits>

// What the cell-count page hands the own counter (CellCount_alg::CellCounting_NimboS) besides the
// frame: the detection values it fixes for every count, the fall-backs of the protocol values it
// takes from the user's protocol, the page's default calibration and the conversions from
// micrometres to pixels and from the imaged field to the counted volume.
namespace CellCountDefaults {

// Fixed for every count, whatever the protocol says.
constexpr int kOutsideThresholdOffset = 30;
constexpr int kOutsideMinSize = 10;
constexpr int kOutsideMaxSize = 9999;
constexpr int kNrKernelSize = 3;
constexpr int kOutsideKernelSize = 53;
constexpr double kOutsideGain = 4.0;
constexpr int kInsideThresholdOffset = 10;
constexpr int kInsideMinSize = 1;
constexpr int kInsideMaxSize = 80;
constexpr int kPostMinIntensity = 10;
constexpr int kPostMaxIntensity = 251;
constexpr double kDeclusterTolerance = 0.1;
constexpr int kClusterDistance = 10;
constexpr float kCenterRange = 0.1f;
constexpr float kWholeRange = 0.7f;
constexpr float kIntensityRatio = 1.1f;
constexpr int kLiveMinIntensity = 90;

// Taken from the user's protocol; these stand in for a missing file or key.
constexpr int kMustDetectIntensity = 165;
constexpr int kMustDetectIntensityCap = 220; // a larger protocol value reads as this
constexpr float kRoundness = 10.0f;          // percent
constexpr int kMinCellSizeUm = 5;
constexpr int kMaxCellSizeUm = 60;
constexpr int kDilutionFactor = 2;

// The page's calibration before it reads the configuration.
constexpr float kCameraPixelUm = 3.63f;
constexpr float kReductionLens = 0.655f;
constexpr float kCellSizeOffsetUm = 5.0f; // added to the size limits before conversion
constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 1024;
constexpr double kChamberDepthMm = 0.1;

// A cell size in micrometres as whole pixels: the nearest integer to (size + offset) / (camera
// pixel size / total magnification); 0 when size + offset is not above 0.
inline int sizeToPixels(float sizeUm, float offsetUm, float cameraPixelUm, float totalMagnification)
{
    const float sum = sizeUm + offsetUm;
    if (!(sum > 0.0f))
        return 0;
    const float pixels = sum / (cameraPixelUm / totalMagnification);
    if (!std::isfinite(pixels))
        return 0;
    return pixels < float(INT_MAX / 2) ? int(std::lround(pixels)) : INT_MAX / 2;
}

// Millilitres under the imaged field of a width x height frame: the field times the chamber depth.
inline float countedVolumeMl(float cameraPixelUm, float totalMagnification, int width = kFrameWidth,
                             int height = kFrameHeight)
{
    const float a = cameraPixelUm / 1000.0f; // mm per camera pixel
    const float squareMm = a * float(width) / totalMagnification * float(height) * a / totalMagnification;
    return float(double(squareMm) * kChamberDepthMm / 1000.0);
}

// The second engine (Quorvan::CellCounter) as the page runs it: fixed values of findObjects4, the
// fall-backs of its protocol file and its two level tables. A level outside a table is clamped into it.
constexpr float kFinderClusterFactor = 1.5f;
constexpr int kFinderBrightThreshold = 200;
constexpr float kFinderConcaveAreaLimit = 50.0f;
constexpr int kFinderReserved = 6;
constexpr int kFinderDilutionFactor = 2;
constexpr int kFinderNoiseReduction = 5;
constexpr int kFinderLiveCellDetection = 1;
constexpr int kFinderRoundness = 60;
constexpr int kFinderMinCellSizeUm = 3;
constexpr int kFinderMaxCellSizeUm = 60;
constexpr int kFinderDeclusteringLevel = 0;

// Highest grey mean of a kept object for noise-reduction levels 1 to 10.
constexpr int NoiseReductionMap[10] = {150, 125, 100, 90, 80, 70, 60, 50, 40, 30};
// Centre-circle radius factor and live intensity ratio for live-cell detection levels 1 to 9.
constexpr float LiveCellDetectionTable[9][2] = {{1.0f, 2.0f}, {0.8f, 1.8f}, {0.8f, 1.6f}, {0.8f, 1.4f}, {0.8f, 1.2f},
                                                {0.8f, 1.0f}, {0.8f, 0.8f}, {0.8f, 0.6f}, {0.8f, 0.4f}};

inline int noiseReductionValue(int level)
{
    return NoiseReductionMap[level < 1 ? 0 : level > 10 ? 9 : level - 1];
}

inline const float *liveCellDetection(int level)
{
    return LiveCellDetectionTable[level < 1 ? 0 : level > 9 ? 8 : level - 1];
}

} // namespace CellCountDefaults
