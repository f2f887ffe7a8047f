#include "CountTool.h"
#include "CountToolChannels.h"

#include "CountToolProtocol.h"

#include "CommandLineTool.h"

#include "CellCount_alg.h"
#include "CellCounter.h"
#include "ImReaderWriter.h"
#include "ImageFileReader.h"

#include <QFile>
#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using namespace CellCountDefaults;

constexpr int kMinSide = 64, kMaxSide = 4096;

int refuse(FILE *err, const QString &why)
{
    return CommandLineTool::refuse(err, "vantor-count", why);
}

} // namespace

bool CountTool::readProtocol(const QString &path, Protocol &protocol, QString *why)
{
    return CountToolProtocol::read(path, protocol, why);
}

int CountTool::countPipeline(const unsigned char *grey, int width, int height, const Protocol &protocol,
                             float objectiveMagnification, Result &result)
{
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<unsigned char> threshold(pixels), tag(pixels * 3);
    std::vector<int> labels(pixels, 0);
    std::vector<_MainDeclusterCountInfo_NimboS> records(CellCount_alg::kLabelLimit + 1);
    std::memset(static_cast<void *>(records.data()), 0, records.size() * sizeof(records[0]));
    const float totalMagnification = objectiveMagnification * kReductionLens;
    const int minPixels = sizeToPixels(float(protocol.minSizeUm), kCellSizeOffsetUm, kCameraPixelUm,
                                       totalMagnification);
    const int maxPixels = sizeToPixels(float(protocol.maxSizeUm), kCellSizeOffsetUm, kCameraPixelUm,
                                       totalMagnification);

    auto engine = std::make_unique<CellCount_alg>();
    const int n = engine->CellCounting_NimboS(
        grey, threshold.data(), tag.data(), labels.data(), width, height, records.data(), kOutsideMinSize,
        kOutsideMaxSize, kOutsideThresholdOffset, kOutsideKernelSize, kOutsideGain, kInsideMinSize, kInsideMaxSize,
        kInsideThresholdOffset, protocol.mustDetectIntensity, kNrKernelSize, kPostMinIntensity, kPostMaxIntensity,
        protocol.roundness, minPixels, maxPixels, kDeclusterTolerance, kClusterDistance, kIntensityRatio,
        kCenterRange, kWholeRange, kLiveMinIntensity);
    if (n < 0)
        return n;
    CellCount_alg::ProcessTag_Filtering_NimboS(tag.data(), records.data(), width, height, n, &result.total,
                                               &result.live, &result.dead, false);
    const float volume = countedVolumeMl(kCameraPixelUm, totalMagnification, width, height);
    const float factor = float(protocol.dilutionFactor);
    result.concentration = double(CellCount_alg::getConcentration(result.live, factor, volume))
                           + double(CellCount_alg::getConcentration(result.dead, factor, volume));
    result.viability = CellCount_alg::getViability(result.live, result.dead);
    // Sizes as the page shows them: the long axis less the cell-size offset.
    const float umPerPixel = kCameraPixelUm / totalMagnification;
    result.cells.clear();
    for (int i = 1; i <= n; ++i) {
        const _MainDeclusterCountInfo_NimboS &r = records[size_t(i)];
        for (int k = 1; k <= r.nCellNum && k <= r.kMaxCells; ++k) {
            if (r.bValid[k])
                result.cells.push_back({r.nCenterX[k], r.nCenterY[k], r.fLongAxis[k] * umPerPixel - kCellSizeOffsetUm,
                                        r.bLive[k] != 0});
        }
    }
    return n;
}

bool CountTool::isFinder(const QString &engine)
{
    return engine == "finder4" || engine == "finder3" || engine == "finder2";
}

protocol_t CountTool::finderFallBacks()
{
    protocol_t p;
    p.nDilutionFactor = kFinderDilutionFactor;
    p.nNoiseReduction = kFinderNoiseReduction;
    p.nLiveCellDetection = kFinderLiveCellDetection;
    p.nRoundness = kFinderRoundness;
    p.nMinCellSize = kFinderMinCellSizeUm;
    p.nMaxCellSize = kFinderMaxCellSizeUm;
    p.nDeclusteringLevel = kFinderDeclusteringLevel;
    return p;
}

double CountTool::countFinder(const QString &engine, const unsigned char *grey, int width, int height,
                              float objectiveMagnification, const protocol_t &levels, Result &result)
{
    result = Result();
    const float totalMagnification = objectiveMagnification * kReductionLens;
    const bool colour = engine == "finder3";
    Quorvan::CellCounter counter(colour ? 4 : 5, height, width,
                                 countedVolumeMl(kCameraPixelUm, totalMagnification, width, height),
                                 totalMagnification, kCameraPixelUm);
    counter.setSizeCalibration(1.0f, 0.0f);
    counter.setCircleThickness(2);
    if (colour) {
        cv::Mat bgr;
        cv::cvtColor(cv::Mat(height, width, CV_8UC1, const_cast<unsigned char *>(grey)), bgr, cv::COLOR_GRAY2BGR);
        counter.setImageData(bgr.data, 0, false);
        counter.setImageData(bgr.data, 19, false);
    } else {
        counter.setImageData(const_cast<unsigned char *>(grey), 0, false);
    }
    const int minSize = levels.nMinCellSize, maxSize = levels.nMaxCellSize, roundness = levels.nRoundness;
    const int maxMean = noiseReductionValue(levels.nNoiseReduction);
    const float *live = liveCellDetection(levels.nLiveCellDetection);
    const float tolerance = float(levels.nDeclusteringLevel);
    const bool split = levels.nDeclusteringLevel > 0;
    float avgSize = 0, meanIntensity = 0;
    const double seconds =
        engine == "finder2"
            ? counter.findObjects2(minSize, maxSize, roundness, kFinderClusterFactor, maxMean, kFinderBrightThreshold,
                                   kFinderConcaveAreaLimit, tolerance, kFinderReserved, result.live, result.dead,
                                   avgSize, meanIntensity, split, false, false, 0)
            : std::invoke(colour ? &Quorvan::CellCounter::findObjects3 : &Quorvan::CellCounter::findObjects4,
                          counter, minSize, maxSize, roundness, kFinderClusterFactor, maxMean, kFinderBrightThreshold,
                  kFinderConcaveAreaLimit, tolerance, kFinderReserved, live[0], live[1], result.live, result.dead,
                  avgSize, meanIntensity, split, false, 0);
    if (seconds < 0.0) {
        result.live = result.dead = 0;
        return seconds;
    }
    result.total = result.live + result.dead;
    counter.getViability(result.live, result.dead, result.viability);
    for (int count : {result.live, result.dead}) {
        float mantissa = 0;
        int exponent = 0;
        counter.getConcentration(count, float(levels.nDilutionFactor), mantissa, exponent);
        result.concentration += double(mantissa) * std::pow(10.0, exponent);
    }
    for (const Quorvan::TObj &o : counter.getFoundCellInformation())
        if (Quorvan::CellCounter::isTallied(o, minSize, maxSize, roundness, false))
            result.cells.push_back({o.nX, o.nY, o.fSize, o.fGreen == 1.0f});
    return seconds;
}

int CountTool::run(const QList<QByteArray> &arguments, FILE *out, FILE *err)
{
    QString engine = QStringLiteral("pipeline"), protocolPath;
    QByteArray image; // the name as the file system holds it, UTF-8 or not
    float magnification = 10.0f;
    for (int a = 0; a < arguments.size(); ++a) {
        const QString arg = QFile::decodeName(arguments[a]);
        const bool takesValue = arg == "--engine" || arg == "--magnification" || arg == "--protocol";
        if (takesValue && a + 1 >= arguments.size())
            return refuse(err, QStringLiteral("%1 needs a value").arg(arg));
        const QString value = takesValue ? QFile::decodeName(arguments[++a]) : QString();
        if (arg == "--engine") {
            engine = value;
        } else if (arg == "--magnification") {
            bool ok = false;
            const double m = value.toDouble(&ok);
            if (!ok || !std::isfinite(m) || !(m > 0.0) || m > 1000.0)
                return refuse(err, QStringLiteral("magnification %1 is not a number above 0").arg(value));
            magnification = float(m);
        } else if (arg == "--protocol") {
            protocolPath = value;
        } else if (arg.startsWith("-") || !image.isEmpty()) {
            return refuse(err, QStringLiteral("unknown option %1; usage: vantor-count [--engine NAME] "
                                              "[--magnification M] [--protocol FILE] IMAGE.tif")
                                   .arg(arg));
        } else {
            image = arguments[a];
        }
    }
    if (image.isEmpty())
        return refuse(err, QStringLiteral("no image given"));
    if (engine != "pipeline" && !isFinder(engine) && !CountToolChannels::isEngine(engine))
        return refuse(err, QStringLiteral("unknown engine %1").arg(engine));
    Protocol protocol;
    QStringList notes;
    if (!protocolPath.isEmpty()) {
        QString why;
        if (!readProtocol(protocolPath, protocol, &why))
            return refuse(err, why);
        notes = CountToolChannels::isEngine(engine)
                    ? QStringList{QStringLiteral("the %1 engine counts with fixed values; %2 is not used")
                                      .arg(engine, protocolPath)}
                    : CountToolProtocol::notes(protocolPath, isFinder(engine));
    }

    const QString name = QFile::decodeName(image);
    ImReaderWriter reader;
    if (!ImageFileReader::isTiffName(image))
        return refuse(err, QStringLiteral("cannot read %1: the count reads TIFF images (.tif, .tiff)").arg(name));
    if (!reader.read(image))
        return refuse(err, QStringLiteral("cannot read %1 as a TIFF image: %2").arg(name, reader.errorString()));
    if (CountToolChannels::isEngine(engine))
        return CountToolChannels::run(engine, reader, name, magnification, notes, out, err);
    const int width = int(reader.width), height = int(reader.height);
    if (reader.samplesPerPixel != 1)
        return refuse(err, QStringLiteral("%1 is not a grey image").arg(name));
    if (width < kMinSide || height < kMinSide || width > kMaxSide || height > kMaxSide)
        return refuse(err, QStringLiteral("%1 is %2 x %3 pixels; 64 to 4096 a side are counted")
                               .arg(name, QString::number(width), QString::number(height)));
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<unsigned char> grey(pixels);
    if (reader.bitsPerSample == 16) {
        // A camera frame: the top 8 of its 12 bits, as the cell-count page counts it.
        const quint16 *words = reader.buffer16.get();
        for (size_t i = 0; i < pixels; ++i)
            grey[i] = static_cast<unsigned char>(std::min(words[i] >> 4, 255));
    } else {
        std::copy(reader.buffer8.get(), reader.buffer8.get() + pixels, grey.begin());
    }

    Result result;
    const int n = isFinder(engine) ? 0 : countPipeline(grey.data(), width, height, protocol, magnification, result);
    if (n == CellCount_alg::kTooManyBlobs)
        return refuse(err, QStringLiteral("%1 holds too many objects to count").arg(name));
    if (n < 0)
        return refuse(err, QStringLiteral("the counter refused %1").arg(name));
    if (isFinder(engine))
        countFinder(engine, grey.data(), width, height, magnification, protocol.secondEngine, result);
    CountToolProtocol::print(err, notes);
    if (!writeCells(result.cells, out, err))
        return 1;
    std::fprintf(err, "total=%d live=%d dead=%d viability=%.1f concentration=%.3e\n", result.total, result.live,
                 result.dead, double(result.viability), result.concentration);
    return 0;
}

bool CountTool::writeCells(const std::vector<Cell> &cells, FILE *out, FILE *err)
{
    QByteArray rows = "x,y,diameter_um,live\n";
    char row[64];
    for (const Cell &c : cells) {
        const int n = std::snprintf(row, sizeof row, "%d,%d,%.2f,%d\n", c.x, c.y, double(c.diameterUm), c.live ? 1 : 0);
        rows.append(row, std::min(n, int(sizeof row) - 1));
    }
    return CommandLineTool::written(out, rows, err, "vantor-count", "the cells");
}
