#pragma once
#include <cstdint>
#include <type_traits>

// The own counter's result for one blob (one object of the whole-frame detection), which may hold
// several cells after declustering. The cell-count page owns an array of these, indexed by blob
// number from 1, and zeroes it as raw memory before every count; fields the counter does not write
// therefore read as 0. Per-cell arrays are indexed by cell number 1..nCellNum (entry 0 is never
// used), so a blob holds at most kMaxCells cells. Coordinates are frame pixels, origin top left.
struct _MainDeclusterCountInfo_NimboS
{
    static constexpr int kCellSlots = 50;
    static constexpr int kMaxCells = kCellSlots - 1;

    uint8_t bDeclustered;             // 1 when the watershed split the blob into two or more cells
    int16_t nCellNum;                 // cells of the blob: 0, 1 or the marker count
    int16_t nBlobMinX;                // blob box, inclusive
    int16_t nBlobMinY;
    int16_t nBlobMaxX;
    int16_t nBlobMaxY;
    int16_t nCellMinX[kCellSlots];    // per-cell box, inclusive
    int16_t nCellMinY[kCellSlots];
    int16_t nCellMaxX[kCellSlots];
    int16_t nCellMaxY[kCellSlots];
    int32_t nCellArea[kCellSlots];    // pixels
    uint8_t bValid[kCellSlots];       // 1 when the cell passed every gate and is counted
    int16_t nCenterX[kCellSlots];
    int16_t nCenterY[kCellSlots];
    float fLongAxis[kCellSlots];      // cell size: long side of its fitted box plus 1, pixels
    float fShortAxis[kCellSlots];     // short side plus 1, pixels
    float fRoundness[kCellSlots];     // 100 x short / long, percent
    uint8_t bLive[kCellSlots];        // 1 live, 0 dead
};

static_assert(std::is_trivially_copyable<_MainDeclusterCountInfo_NimboS>::value
                  && std::is_standard_layout<_MainDeclusterCountInfo_NimboS>::value,
              "blob records are zeroed and copied as raw memory");
