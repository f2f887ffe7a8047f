#pragma once
#include <QString>
#include <cstdint>
#include <string>

// A counting protocol of the own counter: its name, the file it was read from or goes to, and the
// 22 detection settings in the order of the protocol file. A plain value; the name is carried on
// disk only by the file name (ProtocolFile).
struct nimbo_protocol_t
{
    QString name;
    std::string path; // UTF-8

    int32_t nDilutionFactor;
    int32_t nOutsideThresholdOffset;
    int32_t nOutsideMinSize;
    int32_t nOutsideMaxSize;
    int32_t nNRKernelSize;
    int32_t nOutsideKernelSize;
    double dOutsideGain;
    int32_t nInsideThresholdOffset;
    int32_t nInsideMinSize;
    int32_t nInsideMaxSize;
    int32_t nMustDetectIntensity;
    int32_t nPostMinIntensity;
    int32_t nPostMaxIntensity;
    float fRoundness; // percent
    int32_t nMinCellSize; // um
    int32_t nMaxCellSize; // um
    double dDeclusterTolerance;
    int32_t nClusterDistance;
    float fCenterRange;
    float fWholeRange;
    float fIntensityRatio;
    int32_t nLiveMinIntensity;

    nimbo_protocol_t() { Init(); }

    // Empty name and path, every setting at its value before any reading.
    void Init();
};
