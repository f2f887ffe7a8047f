#pragma once
#include "SimulatedCamera.h"
#include "TestRoot.h"
#include "VirtualInstrument.h"

#include <QStringList>
#include <memory>

class VideoWidget;

// A simulated camera installed behind the camera transport, a fresh configuration root and the
// camera module's state as at program start. Message boxes are answered at once and recorded.
class CameraTestBench
{
public:
    explicit CameraTestBench(SimCameraFault fault = SimCameraFault::None);
    ~CameraTestBench();

    VirtualInstrument instrument;
    SimulatedCamera camera{instrument};
    TestRoot root;

    // Writes one key of the configuration file.
    void setConfig(const char *section, const char *key, const char *value);
    // A widget that has read its settings (camera mode from "Camera" / "Mode").
    std::unique_ptr<VideoWidget> makeWidget();

    // Preset texts of the message boxes shown since construction.
    QStringList messages() const { return *m_messages; }
    bool showedMessage(int type) const;

    // Vendor requests (type 0x40) logged since the last clear, as "request:value:index".
    QStringList vendorRequests() const;
    // Register writes logged since the last clear, as "value:register".
    QStringList registerWrites() const;

    static void resetCameraModule();

private:
    std::shared_ptr<QStringList> m_messages = std::make_shared<QStringList>();
};
