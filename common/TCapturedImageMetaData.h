#pragma once
#include <QMutex>
#include <QString>

// Metadata of the current acquisition: the instrument, camera mode and, per filter-cube position,
// the cube, objective, light, exposure and gain. The start values are bare values; the control
// panel replaces them with "Key: value" texts such as "Instrument: VANTOR S".
struct TCapturedImageMetaData
{
    static constexpr int kChannels = 4;

    int channel = 0; // filter-cube position (0 to 3) whose fields describe the current image
    QString instrument = "VANTOR";
    QString serialNumber = "VTS-00-00000";
    QString version = "v0.0.0";
    QString cameraMode = "8 bit";
    QString filterCube[kChannels] = {"Trans", "DAPI", "RFP", "GFP"};
    QString objective[kChannels] = {"4X", "4X", "4X", "4X"};
    QString light[kChannels] = {"50", "50", "50", "50"};
    QString exposure[kChannels] = {"10 ms", "10 ms", "10 ms", "10 ms"};
    QString gain[kChannels] = {"1 dB", "1 dB", "1 dB", "1 dB"};

    // The metadata text of a saved image: instrument, serial number, version, camera mode, then
    // filter cube, objective, light, exposure and gain of the given channel (of `channel` when
    // negative or out of range), separated by ";".
    QString metaText(int forChannel = -1) const;
};

// The lock of g_CapturedImageMetaData, and a copy of it taken under that lock.
QMutex &capturedImageMetaDataLock();
TCapturedImageMetaData capturedImageMetaData();
