#pragma once
#include "FrameLog.h"
#include "SimCameraState.h"
#include "SampleRenderer.h"
#include "VirtualInstrument.h"

#include <platform/CameraTransport.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The instrument's USB camera, simulated behind the camera transport. It answers the vendor
// requests (0xC5 register write, 0xC1 read-out mode, 0xB3 bit depth, 0xE0 frame ready), keeps its
// registers in the VirtualInstrument, and delivers rendered frames of the specimen on bulk
// endpoint 0x86 in the wire layout of the real sensor:
//   - 1280 x 1024 pixels, rows back to back;
//   - 8-bit: one byte per pixel; 16-bit: a big-endian word holding the 12-bit sample << 4;
//   - the sensor is mounted turned by 180 degrees: its first pixel is the image's last;
//   - the first byte of a good frame is never 0.
//
// Frame timing follows the sensor: the exposure is ((register 6 + 1) x 1137.5 - register 8) line
// times, a line time being the read-out-mode value x 4.6184 us; a frame begins its exposure every
// exposure (at least every 5 ms) and is ready once it is exposed and its rows are read out (1024
// line times). Changing exposure, mode or depth restarts the exposure. A frame integrates the
// light over its exposure, as a sensor does: an LED that gives light for part of it lights the
// frame by that part, a turret that turns during it darkens it for that time, and a cube or
// objective changed during it mixes both pictures by their times. The stage and the sensor
// settings are those of the exposure's begin, taken at the first request after that moment (the
// capture side asks about once a millisecond).
//
// Faults come from setFault() or, at construction, from the environment:
//   VANTOR_SIM_CAMERA=none    no camera on the bus (open fails)
//   VANTOR_SIM_CAMERA=stall   frames are announced but bulk reads deliver nothing
//   VANTOR_SIM_CAMERA=short   bulk reads deliver half a frame
//   VANTOR_SIM_CAMERA=zero    frames whose first byte is 0
class SimulatedCamera : public CameraTransport
{
public:
    static constexpr uint16_t VendorId = kCameraVendorId;
    static constexpr uint16_t ProductId = kCameraProductId;
    static constexpr uint8_t FrameEndpoint = kCameraBulkEndpoint;
    static constexpr uint8_t RequestRegister = kRequestRegisterWrite;
    static constexpr uint8_t RequestReadoutMode = kRequestReadoutMode;
    static constexpr uint8_t RequestBitDepth = kRequestBitDepth;
    static constexpr uint8_t RequestFrameReady = kRequestFrameReady;
    static constexpr int Width = SampleRenderer::Width;
    static constexpr int Height = SampleRenderer::Height;
    // The marker pixel's value (test hook): 8-bit byte, 12-bit sample.
    static constexpr int MarkerValue8 = 0xA5;    // = MarkerValue12 >> 4
    static constexpr int MarkerValue12 = 0xA5A;
    static constexpr double MinFramePeriodMs = 5.0;

    struct ControlRecord
    {
        uint8_t requestType;
        uint8_t request;
        uint16_t value;
        uint16_t index;
        bool operator==(const ControlRecord &o) const
        {
            return requestType == o.requestType && request == o.request && value == o.value && index == o.index;
        }
    };

    // The camera reads and writes its state in instrument, which must outlive it.
    explicit SimulatedCamera(VirtualInstrument &instrument);
    ~SimulatedCamera() override;

    int open(uint16_t vendorId, uint16_t productId, int interfaceNumber) override;
    void close() override;
    bool isOpen() const override;
    int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        unsigned char *data, uint16_t length, unsigned int timeoutMs) override;
    // Waits for the next frame (timeoutMs 0: until it comes or the camera is closed).
    int bulkRead(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                 unsigned int timeoutMs) override;

    // Faults, kept in the instrument's camera state. Clearing a stall releases a waiting read.
    void setFault(SimCameraFault fault);
    SimCameraFault fault() const;
    // The fault VANTOR_SIM_CAMERA names (None when unset or unknown).
    static SimCameraFault faultFromEnvironment();

    // Test hook: the sensor's first pixel (the upright image's last) carries the marker value.
    void setMarkerPixel(bool on);

    // Test hook: a frame reaches the reader this long after it was exposed (a slow bus or a busy
    // machine), so that a frame in flight shows the instrument as it was.
    void setTransferDelayMs(int ms) { m_transferDelayMs = ms; }
    // Test hook: the frame-ready answer reaches the asker this long after the camera gave it (a
    // thread held off the processor on a busy machine).
    void setAnswerDelayMs(int ms) { m_answerDelayMs = ms; }

    // Test hook: from now on every delivered frame is noted in a log of this capacity (see
    // FrameLog), which lives as long as the camera.
    FrameLog &logFrames(size_t capacity = 4096);

    uint64_t framesDelivered() const;
    // Every control transfer since construction or the last clear, in order.
    std::vector<ControlRecord> controlLog() const;
    void clearControlLog();
    // Whether control transfers are logged (the default). A long simulated run turns it off: the
    // frame-ready polls alone would grow the log for as long as the application runs.
    void setLogging(bool on);

    // Sensor timing: exposure of a register pair in a read-out mode, and the current frame period.
    static double exposureMs(int readoutMode, int frameCount, int lineCount);
    double framePeriodMs() const;
    // Test hook: when the next frame begins its exposure (monotonic clock, us).
    int64_t nextExposureBeginUs() const;

    // Writes a 12-bit upright image in the wire layout (turned by 180 degrees; 8 or 16 bits).
    static void packFrame(const cv::Mat &frame12, int bitDepth, unsigned char *out);

    SampleRenderer &renderer() { return m_renderer; }

private:
    // Frames are numbered from 1 since the last exposure restart.
    struct Scene
    {
        int64_t frame = 0;
        VirtualInstrument::State state;
    };
    static constexpr int SceneSlots = 32; // more than the frames exposing or waiting at once

    int answerControl(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, unsigned char *data,
                      uint16_t length);
    int64_t latestReadyLocked(int64_t nowUs) const;
    bool frameReadyLocked(int64_t nowUs) const;
    int64_t nextFrameUsLocked() const;
    void restartExposureLocked();
    void noteExposuresLocked(int64_t nowUs);
    VirtualInstrument::State sceneOfLocked(int64_t frame) const;
    // The frame's scene (stage and sensor as its exposure began) with the light it integrated.
    static std::vector<SampleView> viewsOf(const VirtualInstrument::State &s,
                                           const std::vector<VirtualInstrument::LightShare> &light);

    VirtualInstrument &m_instrument;
    std::mutex m_readMutex;       // one bulk read renders at a time
    SampleRenderer m_renderer;
    cv::Mat m_frame12;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_open = false;
    uint64_t m_generation = 0;   // bumped by close() and fault changes to release waiting reads
    int64_t m_exposureStartUs = 0; // when frame 1 began its exposure
    int64_t m_periodUs = 10000;
    int64_t m_exposureUs = 10000;
    int64_t m_readyAfterUs = 10000; // from a frame's exposure begin to its ready: exposure and read-out
    int64_t m_lastFrameIndex = 0; // frames since the exposure start that were already read
    Scene m_scenes[SceneSlots];
    int64_t m_lastSceneFrame = 0; // the latest frame whose scene is kept
    std::vector<ControlRecord> m_log;
    bool m_logging = true;
    std::atomic<int> m_transferDelayMs{0};
    std::atomic<int> m_answerDelayMs{0};
    std::unique_ptr<FrameLog> m_frameLog; // set once, before frames are read
};
