#pragma once
#include <platform/CameraProtocol.h>

#include <cstdint>

// What can go wrong with the simulated camera; tests set it, or VANTOR_SIM_CAMERA does (see
// SimulatedCamera.h).
enum class SimCameraFault {
    None,          // a healthy camera
    NoDevice,      // not on the bus: open fails, every transfer reports LIBUSB_ERROR_NO_DEVICE
    Stall,         // frames are announced but the bulk read never delivers (ends at its time-out)
    ShortRead,     // the bulk read delivers half a frame
    ZeroFirstByte  // frames arrive on time but their first byte is 0
};

// The simulated camera's registers and mode, kept in the VirtualInstrument beside the stage,
// turrets and LEDs so that a frame is rendered from one consistent state. Power-on values:
// 8-bit read-out, 10 ms exposure, 0 dB gain.
struct SimCameraState
{
    static constexpr int RegisterCount = 256;
    static constexpr int RegFrameCount = kRegisterFrameCount;   // exposure: whole frame lengths
    static constexpr int RegLineCount = kRegisterLineCount;     // exposure: shutter delay in lines
    static constexpr int RegAnalogGain = kRegisterAnalogGain;   // 4096 = unity, falls as the gain rises
    static constexpr int RegDigitalGain = kRegisterDigitalGain; // doubles the signal per step
    static constexpr int RegGainControl = kRegisterGainControl;

    int bitDepth = 8;          // 8 or 16, set by the bit-depth request
    int readoutMode = kReadoutMode8; // value of the last read-out-mode request
    uint16_t registers[RegisterCount] = {};

    SimCameraFault fault = SimCameraFault::None;
    bool markerPixel = false;  // test hook: a marker value in the sensor's first pixel
    uint64_t framesDelivered = 0;

    SimCameraState()
    {
        registers[RegFrameCount] = 0;
        registers[RegLineCount] = 993;
        registers[RegAnalogGain] = 4096;
        registers[RegGainControl] = 17;
    }

    int frameBytes() const { return bitDepth == 16 ? kFrameBytes16 : kFrameBytes8; }
};
