#pragma once
#include <cstdint>

// The simulated camera's registers and mode, kept in the VirtualInstrument beside the stage,
// turrets and LEDs so that a frame is rendered from one consistent state.
struct SimCameraState
{
    int bitDepth = 8;          // 8 or 16
    uint16_t registers[256] = {};
};
