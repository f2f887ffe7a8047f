#include "SimulatedCamera.h"

#include "VirtualInstrument.h"

#include <platform/MonotonicClock.h>

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

double gainOf(const SimCameraState &camera)
{
    // Analog: 4096 is unity and the factor tops out at 8; digital: each step doubles.
    const int analog = std::max<int>(camera.registers[SimCameraState::RegAnalogGain], 1);
    const double analogFactor = std::clamp(4096.0 / analog, 1.0 / 8, 8.0);
    return analogFactor * double(1 << std::min<int>(camera.registers[SimCameraState::RegDigitalGain], 4));
}

} // namespace

SimulatedCamera::SimulatedCamera(VirtualInstrument &instrument) : m_instrument(instrument)
{
    const SimCameraFault fault = faultFromEnvironment();
    if (fault != SimCameraFault::None)
        m_instrument.updateCamera([fault](SimCameraState &c) { c.fault = fault; });
    std::lock_guard<std::mutex> lock(m_mutex);
    restartExposureLocked();
}

SimulatedCamera::~SimulatedCamera()
{
    close();
    if (CameraTransport::instance() == this)
        CameraTransport::setInstance(nullptr);
}

SimCameraFault SimulatedCamera::faultFromEnvironment()
{
    const char *text = std::getenv("VANTOR_SIM_CAMERA");
    if (!text)
        return SimCameraFault::None;
    if (!std::strcmp(text, "none"))
        return SimCameraFault::NoDevice;
    if (!std::strcmp(text, "stall"))
        return SimCameraFault::Stall;
    if (!std::strcmp(text, "short"))
        return SimCameraFault::ShortRead;
    if (!std::strcmp(text, "zero"))
        return SimCameraFault::ZeroFirstByte;
    return SimCameraFault::None;
}

int SimulatedCamera::open(uint16_t vendorId, uint16_t productId, int interfaceNumber)
{
    if (fault() == SimCameraFault::NoDevice || vendorId != VendorId || productId != ProductId)
        return LIBUSB_ERROR_NO_DEVICE;
    if (interfaceNumber != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    restartExposureLocked();
    return 0;
}

void SimulatedCamera::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = false;
    ++m_generation;
    m_wake.notify_all();
}

bool SimulatedCamera::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

double SimulatedCamera::exposureMs(int readoutMode, int frameCount, int lineCount)
{
    const double lines = (frameCount + 1) * kSensorFrameLines - lineCount;
    return std::max(lines, 0.0) * std::max(readoutMode, 1) * kSensorLineUsPerReadoutUnit / 1000.0;
}

double SimulatedCamera::framePeriodMs() const
{
    const SimCameraState c = m_instrument.camera();
    return std::max(MinFramePeriodMs, exposureMs(c.readoutMode, c.registers[SimCameraState::RegFrameCount],
                                                 c.registers[SimCameraState::RegLineCount]));
}

void SimulatedCamera::restartExposureLocked()
{
    const int64_t now = MonotonicClock::nowUs();
    m_periodUs = std::max<int64_t>(1, std::llround(framePeriodMs() * 1000));
    const SimCameraState c = m_instrument.camera();
    const double exposure = exposureMs(c.readoutMode, c.registers[SimCameraState::RegFrameCount],
                                       c.registers[SimCameraState::RegLineCount]);
    m_exposureUs = std::llround(exposure * 1000);
    m_readyAfterUs = m_exposureUs + std::llround(sensorReadoutUs(c.readoutMode));
    m_exposureStartUs = now;
    m_lastFrameIndex = 0;
    for (Scene &scene : m_scenes)
        scene.frame = 0;
    m_lastSceneFrame = 0;
    noteExposuresLocked(now);
}

int64_t SimulatedCamera::latestReadyLocked(int64_t nowUs) const
{
    const int64_t since = nowUs - m_exposureStartUs - m_readyAfterUs;
    return since < 0 ? 0 : since / m_periodUs + 1;
}

int64_t SimulatedCamera::nextFrameUsLocked() const
{
    const int64_t frame = std::max(latestReadyLocked(MonotonicClock::nowUs()), m_lastFrameIndex) + 1;
    return m_exposureStartUs + (frame - 1) * m_periodUs + m_readyAfterUs;
}

bool SimulatedCamera::frameReadyLocked(int64_t nowUs) const
{
    return latestReadyLocked(nowUs) > m_lastFrameIndex;
}

int64_t SimulatedCamera::nextExposureBeginUs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t begun = (MonotonicClock::nowUs() - m_exposureStartUs) / m_periodUs + 1;
    return m_exposureStartUs + begun * m_periodUs;
}

void SimulatedCamera::noteExposuresLocked(int64_t nowUs)
{
    const int64_t begun = nowUs < m_exposureStartUs ? 0 : (nowUs - m_exposureStartUs) / m_periodUs + 1;
    if (begun <= m_lastSceneFrame)
        return;
    // Frames that began unseen since the last request get the same scene.
    const VirtualInstrument::State now = m_instrument.state();
    for (int64_t frame = std::max(m_lastSceneFrame + 1, begun - SceneSlots + 1); frame <= begun; ++frame)
        m_scenes[frame % SceneSlots] = {frame, now};
    m_lastSceneFrame = begun;
}

VirtualInstrument::State SimulatedCamera::sceneOfLocked(int64_t frame) const
{
    const Scene &scene = m_scenes[frame % SceneSlots];
    return scene.frame == frame ? scene.state : m_instrument.state();
}

int SimulatedCamera::controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                     unsigned char *data, uint16_t length, unsigned int timeoutMs)
{
    const int rc = answerControl(requestType, request, value, index, data, length);
    if (request == RequestFrameReady)
        if (const int lateMs = m_answerDelayMs)
            MonotonicClock::sleepMs(lateMs);
    return rc;
}

int SimulatedCamera::answerControl(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                   unsigned char *data, uint16_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_logging)
        m_log.push_back({requestType, request, value, index});
    if (!m_open)
        return LIBUSB_ERROR_NO_DEVICE;
    if (m_instrument.camera().fault == SimCameraFault::NoDevice)
        return LIBUSB_ERROR_NO_DEVICE;
    noteExposuresLocked(MonotonicClock::nowUs());

    if (requestType == kRequestTypeVendorIn && request == RequestFrameReady) {
        if (!data || length < 1)
            return LIBUSB_ERROR_OVERFLOW;
        data[0] = frameReadyLocked(MonotonicClock::nowUs()) ? 0 : 1;
        return 1;
    }
    if (requestType != kRequestTypeVendorOut || length != 0)
        return LIBUSB_ERROR_PIPE;
    switch (request) {
    case RequestRegister:
        m_instrument.updateCamera([&](SimCameraState &c) { c.registers[index % SimCameraState::RegisterCount] = value; });
        if (index == SimCameraState::RegFrameCount || index == SimCameraState::RegLineCount)
            restartExposureLocked();
        return 0;
    case RequestReadoutMode:
        m_instrument.updateCamera([&](SimCameraState &c) { c.readoutMode = value; });
        restartExposureLocked();
        return 0;
    case RequestBitDepth:
        m_instrument.updateCamera([&](SimCameraState &c) { c.bitDepth = value ? 16 : 8; });
        restartExposureLocked();
        return 0;
    default:
        return LIBUSB_ERROR_PIPE;
    }
}

int SimulatedCamera::bulkRead(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                              unsigned int timeoutMs)
{
    if (transferred)
        *transferred = 0;
    if (endpoint != FrameEndpoint || !data || length < 0)
        return LIBUSB_ERROR_INVALID_PARAM;

    std::lock_guard<std::mutex> readLock(m_readMutex);
    SimCameraState camera;
    VirtualInstrument::State scene;
    int64_t beganUs = 0;
    int64_t exposureUs = 0;
    {
        // Wait for the next frame (a stall: until the time-out, a close or the fault's end).
        std::unique_lock<std::mutex> lock(m_mutex);
        const int64_t deadlineUs = MonotonicClock::nowUs() + int64_t(timeoutMs) * 1000;
        const uint64_t generation = m_generation;
        for (;;) {
            if (!m_open || m_generation != generation)
                return LIBUSB_ERROR_NO_DEVICE;
            camera = m_instrument.camera();
            if (camera.fault == SimCameraFault::NoDevice)
                return LIBUSB_ERROR_NO_DEVICE;
            const int64_t now = MonotonicClock::nowUs();
            noteExposuresLocked(now);
            const bool stalled = camera.fault == SimCameraFault::Stall;
            if (!stalled && frameReadyLocked(now))
                break;
            if (timeoutMs && now >= deadlineUs)
                return LIBUSB_ERROR_TIMEOUT;
            // Wake for the next exposure begin as well, to take its scene.
            const int64_t nextBeginUs = m_exposureStartUs + (m_lastSceneFrame) * m_periodUs;
            int64_t untilUs = stalled ? now + 3600LL * 1000000 : std::min(nextFrameUsLocked(), nextBeginUs);
            if (timeoutMs)
                untilUs = std::min(untilUs, deadlineUs);
            m_wake.wait_for(lock, std::chrono::microseconds(MonotonicClock::realUs(std::max<int64_t>(untilUs - now, 1))));
        }
        m_lastFrameIndex = latestReadyLocked(MonotonicClock::nowUs());
        scene = sceneOfLocked(m_lastFrameIndex);
        beganUs = m_exposureStartUs + (m_lastFrameIndex - 1) * m_periodUs;
        exposureUs = m_exposureUs;
    }

    const int frameBytes = camera.frameBytes();
    if (length < frameBytes)
        return LIBUSB_ERROR_OVERFLOW;
    m_renderer.render(viewsOf(scene, m_instrument.lightOver(beganUs, beganUs + exposureUs)), m_frame12);
    if (camera.markerPixel)
        m_frame12.at<uint16_t>(Height - 1, Width - 1) = MarkerValue12;
    if (m_frameLog)
        m_frameLog->add(m_frame12, beganUs, beganUs + exposureUs, m_instrument.opticsOver(beganUs, beganUs + exposureUs));
    packFrame(m_frame12, camera.bitDepth, data);
    if (const int lateMs = m_transferDelayMs)
        MonotonicClock::sleepMs(lateMs);
    switch (camera.fault) {
    case SimCameraFault::ZeroFirstByte:
        data[0] = 0;
        break;
    case SimCameraFault::ShortRead:
        if (transferred)
            *transferred = frameBytes / 2;
        return 0;
    default:
        break;
    }
    m_instrument.updateCamera([](SimCameraState &c) { ++c.framesDelivered; });
    if (transferred)
        *transferred = frameBytes;
    return 0;
}

void SimulatedCamera::packFrame(const cv::Mat &frame12, int bitDepth, unsigned char *out)
{
    CV_Assert(frame12.type() == CV_16UC1 && frame12.isContinuous());
    const size_t n = frame12.total();
    const uint16_t *src = frame12.ptr<uint16_t>();
    // The sensor's first pixel is the image's last.
    if (bitDepth == 16) {
        for (size_t i = 0; i < n; ++i) {
            const uint16_t word = uint16_t(src[n - 1 - i] << 4);
            out[2 * i] = uint8_t(word >> 8);
            out[2 * i + 1] = uint8_t(word & 0xFF);
        }
        if (out[0] == 0)
            out[0] = 1;
    } else {
        for (size_t i = 0; i < n; ++i)
            out[i] = uint8_t(src[n - 1 - i] >> 4);
        if (out[0] == 0)
            out[0] = 1;
    }
}

std::vector<SampleView> SimulatedCamera::viewsOf(const VirtualInstrument::State &s,
                                                 const std::vector<VirtualInstrument::LightShare> &light)
{
    const SimCameraState &camera = s.camera;
    SampleView view;
    view.stageSteps = s.stagePhysical();
    view.exposureMs = exposureMs(camera.readoutMode, camera.registers[SimCameraState::RegFrameCount],
                                 camera.registers[SimCameraState::RegLineCount]);
    view.gain = gainOf(camera);
    std::vector<SampleView> views;
    for (const VirtualInstrument::LightShare &share : light) {
        view.filter = share.filter;
        view.objective = share.objective;
        view.light = share.light;
        views.push_back(view);
    }
    return views;
}

void SimulatedCamera::setFault(SimCameraFault fault)
{
    m_instrument.updateCamera([fault](SimCameraState &c) { c.fault = fault; });
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake.notify_all();
}

SimCameraFault SimulatedCamera::fault() const
{
    return m_instrument.camera().fault;
}

void SimulatedCamera::setMarkerPixel(bool on)
{
    m_instrument.updateCamera([on](SimCameraState &c) { c.markerPixel = on; });
}

FrameLog &SimulatedCamera::logFrames(size_t capacity)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    if (!m_frameLog)
        m_frameLog = std::make_unique<FrameLog>(capacity);
    return *m_frameLog;
}

uint64_t SimulatedCamera::framesDelivered() const
{
    return m_instrument.camera().framesDelivered;
}

std::vector<SimulatedCamera::ControlRecord> SimulatedCamera::controlLog() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

void SimulatedCamera::clearControlLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

void SimulatedCamera::setLogging(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logging = on;
    if (!on)
        m_log.clear();
}
