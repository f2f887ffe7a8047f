#pragma once
#include <cstdint>

// The instrument camera's USB protocol: what the camera access sends and what a camera (the real
// one or the simulated one) answers.
//
// Frames come on the bulk endpoint as 1280 x 1024 pixels, rows back to back: one byte per pixel in
// 8-bit mode, in 16-bit mode a big-endian word holding the 12-bit sample shifted left by four.
// The sensor's first row and column are the upright image's last; a frame whose first byte is 0
// is invalid.

// Device.
constexpr uint16_t kCameraVendorId = 0x2B25;
constexpr uint16_t kCameraProductId = 0x1209;
constexpr int kCameraInterface = 0;
constexpr uint8_t kCameraBulkEndpoint = 0x86;

// Frame geometry.
constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 1024;
constexpr int kFrameBytes8 = kFrameWidth * kFrameHeight;      // 1,310,720
constexpr int kFrameBytes16 = kFrameWidth * kFrameHeight * 2; // 2,621,440

// Control transfers: vendor requests to the device, without data unless stated.
constexpr uint8_t kRequestTypeVendorOut = 0x40;
constexpr uint8_t kRequestTypeVendorIn = 0xC0;
constexpr unsigned int kControlTimeoutMs = 100;
constexpr unsigned char kRequestRegisterWrite = 0xC5; // value: register value, index: register
constexpr unsigned char kRequestReadoutMode = 0xC1;   // value: read-out mode, index kReadoutModeIndex
constexpr unsigned char kRequestBitDepth = 0xB3;      // value: 0 for 8-bit, 1 for 16-bit
constexpr unsigned char kRequestFrameReady = 0xE0;    // in, one byte: 0 = a frame is ready

// Read-out mode values of the two bit depths.
constexpr int kReadoutMode8 = 15;
constexpr int kReadoutMode16 = 24;
constexpr int kReadoutModeIndex = 12;

// Sensor registers.
constexpr int kRegisterFrameCount = 6;   // exposure: frame count of a table row
constexpr int kRegisterLineCount = 8;    // exposure: line count of a table row
constexpr int kRegisterAnalogGain = 28;  // 4096 at 0 dB, falls as the gain rises
constexpr int kRegisterDigitalGain = 30; // 0 to 3
constexpr int kRegisterGainControl = 31; // 60 while the digital gain is not 0, else 17

// Sensor timing. A line takes the read-out-mode value x 4.6184 us; a frame length is 1137.5 lines.
// The sensor reads its rows one after the other (rolling shutter): its first row starts and ends
// its exposure one read-out of the rows before its last, and the camera reports the frame ready
// once the last row is read.
constexpr double kSensorLineUsPerReadoutUnit = 4.6184;
constexpr double kSensorFrameLines = 1137.5;

constexpr double sensorReadoutUs(int readoutMode)
{
    return kFrameHeight * (readoutMode > 0 ? readoutMode : 1) * kSensorLineUsPerReadoutUnit;
}
