#pragma once
#include <QString>
#include <cstdint>
#include <string>

// The second counting engine's protocol: its name, its file "Protocol_<name>_BF.ini" and the seven
// settings of that file (ProtocolFile::readSecondEngine).
struct protocol_t
{
    QString name;
    std::string path; // UTF-8

    int32_t nDilutionFactor = 0;
    int32_t nNoiseReduction = 0;    // 1-based level
    int32_t nLiveCellDetection = 0; // 1-based level
    int32_t nRoundness = 0;
    int32_t nMinCellSize = 0;
    int32_t nMaxCellSize = 0;
    int32_t nDeclusteringLevel = 0; // above 0: declustering on
};
