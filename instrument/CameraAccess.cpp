#include "CameraAccess.h"

#include "CameraTransport.h"
#include "MonotonicClock.h"
#include "Utilities.h"

#include <QDebug>

#include <algorithm>

std::atomic<CameraTransport *> g_hCamera{nullptr};
std::atomic<bool> g_no_camera{false};
std::atomic<int> g_camera_mode{-1};
std::atomic<int> g_capture_buffer_size{0};
std::atomic<int> g_skip_index{1};
std::atomic<double> g_current_exposure_time{-1.0};
std::atomic<bool> g_skip_a_frame_80ms_exposure{false};
std::atomic<int> g_skip_frame_count{0};
std::atomic<int64_t> g_scene_changed_us{0};
std::atomic<int64_t> g_turret_reported_us{0};

std::atomic<int> g_capture{0};
std::atomic<int> g_display{0};
std::atomic<bool> g_is_running{false};
std::atomic<bool> g_out_of_grabbing_time{false};
std::atomic<bool> g_sld_display_is_running{false};
std::atomic<bool> g_captured{true};
std::atomic<int64_t> g_still_not_before_us{0};
std::atomic<int64_t> g_still_began_us{0};
std::atomic<bool> g_set_color{true};
std::atomic<int> g_pseudo_color_index{7};
std::atomic<bool> g_set_saturated_pixel{false};
std::atomic<bool> g_hotpixel_enabled{false};

cv::Mat g_mat8 = cv::Mat::zeros(kFrameHeight, kFrameWidth, CV_8UC1);
cv::Mat g_mat16 = cv::Mat::zeros(kFrameHeight, kFrameWidth, CV_16UC1);

namespace {
constexpr int kSettleMs = 10;
constexpr int kDefaultStallLimitMs = 3000;
constexpr int kStillMarginMs = 1000;

bool restartsExposure(int reg)
{
    return reg == kRegisterFrameCount || reg == kRegisterLineCount;
}

// The sensor starts its exposure over: the moment frames count from moves on, within the change
// that raised the drop.
void noteSensorRestart()
{
    g_scene_changed_us = MonotonicClock::nowUs();
}

int64_t exposureUs(double seconds)
{
    return seconds > 0 ? int64_t(seconds * 1e6) : 0;
}
}

int camera_init()
{
    CameraTransport *transport = CameraTransport::instance();
    if (!transport)
        return -1;
    if (transport->open(kCameraVendorId, kCameraProductId, kCameraInterface) < 0)
        return -1;
    g_hCamera = transport;
    return 0;
}

int camera_vr(unsigned char request, unsigned short value, unsigned short index)
{
    CameraTransport *camera = g_hCamera.load();
    if (!camera) {
        qDebug() << "===CAMERA ERROR";
        return -1;
    }
    return camera->controlTransfer(kRequestTypeVendorOut, request, value, index, nullptr, 0, kControlTimeoutMs);
}

void capture_stop()
{
    if (CameraTransport *camera = g_hCamera.exchange(nullptr))
        camera->close();
}

void camera_reset_state()
{
    g_camera_mode = -1;
    g_capture_buffer_size = 0;
    g_skip_index = 1;
    g_current_exposure_time = -1.0;
    g_skip_a_frame_80ms_exposure = false;
    g_skip_frame_count = 0;
    g_scene_changed_us = 0;
    g_turret_reported_us = 0;
    g_still_began_us = 0;
    g_out_of_grabbing_time = false;
    g_is_running = false;
    g_captured = true;
    g_no_camera = false;
}

bool camera_frame_ready()
{
    CameraTransport *camera = g_hCamera.load();
    if (!camera)
        return false;
    unsigned char status = 0xFF;
    const int rc = camera->controlTransfer(kRequestTypeVendorIn, kRequestFrameReady, 0, 0, &status, 1, kControlTimeoutMs);
    return rc == 1 && status == 0;
}

bool camera_read_frame(unsigned char *buffer, int size)
{
    CameraTransport *camera = g_hCamera.load();
    if (!camera || size <= 0)
        return false;
    int transferred = 0;
    const int rc = camera->bulkRead(kCameraBulkEndpoint, buffer, size, &transferred, kFrameReadTimeoutMs);
    return rc == 0 && transferred == size;
}

int sanitizedCameraMode(int mode)
{
    return mode == 16 ? 16 : 8;
}

void applyCameraMode()
{
    const bool deep = g_camera_mode == 16;
    if (!deep && g_camera_mode != 8)
        return;
    noteSensorRestart();
    camera_vr(kRequestReadoutMode, deep ? kReadoutMode16 : kReadoutMode8, kReadoutModeIndex);
    delay(kSettleMs);
    noteSensorRestart();
    camera_vr(kRequestBitDepth, deep ? 1 : 0, 0);
    delay(kSettleMs);
    g_capture_buffer_size = deep ? kFrameBytes16 : kFrameBytes8;
    g_skip_index = deep ? 2 : 1;
}

void writeCameraRegister(int reg, int value)
{
    // Before the request: the sensor starts over no earlier than the moment noted.
    if (restartsExposure(reg))
        noteSensorRestart();
    camera_vr(kRequestRegisterWrite, static_cast<unsigned short>(value & 0xFFFF), static_cast<unsigned short>(reg));
    delay(kSettleMs);
}

void applyExposure(int exposureMs, int frame, int line)
{
    // Before the new time: a shorter exposure's stall limit never counts from an older frame.
    noteSceneChange();
    g_current_exposure_time = exposureMs / 1000.0;
    writeCameraRegister(kRegisterFrameCount, frame);
    writeCameraRegister(kRegisterLineCount, line);
}

void applyGain(int again, int dgain)
{
    writeCameraRegister(kRegisterAnalogGain, again);
    writeCameraRegister(kRegisterDigitalGain, dgain);
    writeCameraRegister(kRegisterGainControl, dgain != 0 ? 60 : 17);
}

void noteSceneChange()
{
    noteSensorRestart();
    g_skip_frame_count = 0;
    g_skip_a_frame_80ms_exposure = true;
}

void noteTurretReport()
{
    g_turret_reported_us = MonotonicClock::nowUs();
}

int frameStallLimitMs()
{
    const double exposure = g_current_exposure_time;
    if (exposure <= 0)
        return kDefaultStallLimitMs;
    return int(exposure * 1000.0) + 1000;
}

int firstFrameWaitLimitMs()
{
    return frameStallLimitMs() + int(kControlTimeoutMs) + int(kFrameReadTimeoutMs) + kStillMarginMs;
}

int64_t frameReadoutUs()
{
    return int64_t(sensorReadoutUs(g_camera_mode == 16 ? kReadoutMode16 : kReadoutMode8));
}

int stillWaitLimitMs()
{
    const double exposure = g_current_exposure_time;
    if (exposure <= 0)
        return frameStallLimitMs() + kStillMarginMs;
    // Two frame periods (each at most the stall limit), the read-out and the transfer.
    return 2 * frameStallLimitMs() + int(frameReadoutUs() / 1000) + int(kFrameReadTimeoutMs) + kStillMarginMs;
}

void request_still()
{
    g_still_not_before_us = MonotonicClock::nowUs();
    g_captured = false; // after the time: the capture thread reads the flag first
}

int64_t stillExposureBeganUs(int64_t endedAfterUs)
{
    return endedAfterUs - exposureUs(g_current_exposure_time) - frameReadoutUs();
}

bool exposedAfterStillRequest(int64_t endedAfterUs)
{
    return stillExposureBeganUs(endedAfterUs) >= g_still_not_before_us;
}

bool exposedAfterSceneChange(int64_t endedAfterUs, int64_t arrivedUs)
{
    const int64_t changedUs = g_scene_changed_us;
    // The sensor starts over at an exposure write, so a frame begun at the change is exposed at
    // the current time; a turret move leaves the exposure as it was.
    const int64_t spanUs = exposureUs(g_current_exposure_time) + frameReadoutUs();
    return endedAfterUs >= changedUs && arrivedUs - spanUs >= changedUs;
}

bool stillExposedAfterSceneChange()
{
    return g_still_began_us >= std::max(g_scene_changed_us.load(), g_turret_reported_us.load());
}
