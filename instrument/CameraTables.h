#pragma once

// Slider rows of the control panel turned into camera register values. The first column of
// each row is the value shown to the user and written into image metadata.
//   GainLUT:       {gain in dB, register 28 (analog gain), register 30 (digital gain)}
//   ExposureLUT8/16: {exposure in ms, register 6 (frame count), register 8 (line count)}
// ExposureLUT8 serves 8-bit mode, ExposureLUT16 16-bit mode; the registers are sent as listed.
constexpr int kGainRows = 22;
constexpr int kExposureRows = 56;

extern const int GainLUT[kGainRows][3];
extern const int ExposureLUT8[kExposureRows][3];
extern const int ExposureLUT16[kExposureRows][3];

// Rows read from the configuration may lie outside the tables: these bring them back in.
int clampGainRow(int row);
int clampExposureRow(int row);

// The exposure table of a camera mode (16 gives ExposureLUT16, anything else ExposureLUT8).
const int (*exposureTable(int cameraMode))[3];
