#include "CountToolChannels.h"

#include "CellCountDefaults.h"
#include "CommandLineTool.h"
#include "CellCounter.h"
#include "CountToolProtocol.h"
#include "ImReaderWriter.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

using namespace CellCountDefaults;

constexpr int kMinSide = 64, kMaxSide = 4096;
constexpr int kMinSizeUm = 3, kMaxSizeUm = 60;
constexpr float kClusterFactor = 1.5f;
constexpr int kStainThreshold = 20;
constexpr float kPeakTolerance = 50.0f;

double concentration(Quorvan::CellCounter &counter, int count)
{
    float mantissa = 0;
    int exponent = 0;
    counter.getConcentration(count, float(kFinderDilutionFactor), mantissa, exponent);
    return double(mantissa) * std::pow(10.0, exponent);
}

} // namespace

bool CountToolChannels::isEngine(const QString &engine)
{
    return engine == "twocolour" || engine == "quick";
}

CountToolChannels::Result CountToolChannels::count(const QString &engine, const unsigned char *rgb, int width,
                                                   int height, float objectiveMagnification)
{
    Result result;
    const float totalMagnification = objectiveMagnification * kReductionLens;
    Quorvan::CellCounter counter(1, height, width, countedVolumeMl(kCameraPixelUm, totalMagnification, width, height),
                                 totalMagnification, kCameraPixelUm);
    counter.setSizeCalibration(1.0f, 0.0f);
    counter.setCircleThickness(2);
    const cv::Mat frame(height, width, CV_8UC3, const_cast<unsigned char *>(rgb));
    // Plane of the RGB frame for each engine channel; the engine takes its byte of 3-byte pixels.
    for (const auto &[channel, plane] : {std::pair{1, 2}, {2, 1}, {3, 0}, {5, 2}}) {
        cv::Mat grey, pixels;
        cv::extractChannel(frame, grey, plane);
        cv::cvtColor(grey, pixels, cv::COLOR_GRAY2BGR);
        counter.setImageData(pixels.data, channel, false);
    }
    counter.makeOverlayMaskImageData(0, 0, 0, 0, 0, 0);

    if (engine == "quick") {
        int n = 0;
        result.found = counter.findObjects(n) >= 0.0;
        result.total = result.found ? n : 0;
        result.concentration = concentration(counter, result.total);
        return result;
    }
    float avgSize = 0, avgGreen = 0, avgRed = 0, avgLiveGreen = 0, avgDeadRed = 0;
    result.found = counter.findObjects(kMinSizeUm, kMaxSizeUm, kClusterFactor, kStainThreshold, kStainThreshold,
                                       kPeakTolerance, 0, result.live, result.dead, avgSize, avgGreen, avgRed,
                                       avgLiveGreen, avgDeadRed, false, 0) >= 0.0;
    if (!result.found)
        return result;
    result.total = result.live + result.dead;
    counter.getViability(result.live, result.dead, result.viability);
    result.concentration = concentration(counter, result.live) + concentration(counter, result.dead);
    for (const Quorvan::TObj &o : counter.getFoundCellInformation()) {
        const int kind = Quorvan::CellCounter::twoColourClass(o, kMinSizeUm, kMaxSizeUm, float(kStainThreshold),
                                                              float(kStainThreshold));
        if (kind == 1 || kind == 2)
            result.cells.push_back({o.nX, o.nY, o.fSize, kind == 2});
    }
    return result;
}

int CountToolChannels::run(const QString &engine, const ImReaderWriter &reader, const QString &image,
                           float objectiveMagnification, const QStringList &notes, FILE *out, FILE *err)
{
    const int width = int(reader.width), height = int(reader.height);
    auto refuse = [err](const QString &why) { return CommandLineTool::refuse(err, "vantor-count", why); };
    if (reader.samplesPerPixel != 3 || reader.bitsPerSample != 8 || !reader.buffer8)
        return refuse(QStringLiteral("%1 is not an 8-bit RGB image").arg(image));
    if (width < kMinSide || height < kMinSide || width > kMaxSide || height > kMaxSide)
        return refuse(QStringLiteral("%1 is %2 x %3 pixels; 64 to 4096 a side are counted")
                          .arg(image, QString::number(width), QString::number(height)));
    const Result r = count(engine, reader.buffer8.get(), width, height, objectiveMagnification);
    CountToolProtocol::print(err, notes);
    if (!CountTool::writeCells(r.cells, out, err))
        return 1;
    if (engine == "quick")
        std::fprintf(err, "total=%d live= dead= viability= concentration=%.3e\n", r.total, r.concentration);
    else
        std::fprintf(err, "total=%d live=%d dead=%d viability=%.1f concentration=%.3e\n", r.total, r.live, r.dead,
                     double(r.viability), r.concentration);
    return 0;
}
