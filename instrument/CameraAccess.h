#pragma once
#include "CameraProtocol.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <cstdint>

class CameraTransport;

// The USB camera and the state of live video shared by the live video widget, its capture and
// display threads and the hot-pixel calibration. There is one camera per run.
//
// Flags are written by one side and polled by the other; each is atomic.

// A frame is on its way once the camera reports it ready: the bulk read gets this long.
constexpr unsigned int kFrameReadTimeoutMs = 1000;

// --- Camera module state -----------------------------------------------------------------------
extern std::atomic<CameraTransport *> g_hCamera;       // the open camera; null when none is open
extern std::atomic<bool> g_no_camera;                  // opening failed: synthetic frames
extern std::atomic<int> g_camera_mode;                 // 8 or 16; -1 until the first set-up
extern std::atomic<int> g_capture_buffer_size;         // bytes per frame of the mode
extern std::atomic<int> g_skip_index;                  // bytes per pixel of the mode
extern std::atomic<double> g_current_exposure_time;    // seconds; 0 or less: none set yet
extern std::atomic<bool> g_skip_a_frame_80ms_exposure; // drop frames after a scene change
extern std::atomic<int> g_skip_frame_count;            // frames dropped since that change
// The sensor last started its exposure over, or the scene before it last changed (a turret moved
// or stood again), on the monotonic clock in us: frames exposed before it are not shown, recorded
// or taken as stills, and the stall clock counts from it.
extern std::atomic<int64_t> g_scene_changed_us;
// A turret last reported a move of its own (an event read from the board), on the monotonic clock
// in us: a still whose exposure began before it was read may have seen the move, even one whose
// turret came back to where it stood.
extern std::atomic<int64_t> g_turret_reported_us;

// --- Live video state --------------------------------------------------------------------------
extern std::atomic<int> g_capture;                // the capture thread runs while non-zero
extern std::atomic<int> g_display;                // the display thread runs while non-zero
extern std::atomic<bool> g_is_running;            // live video delivers frames
extern std::atomic<bool> g_out_of_grabbing_time;  // the capture thread gave up: no frame in time
extern std::atomic<bool> g_sld_display_is_running;// the display thread has its surface
extern std::atomic<bool> g_captured;              // still handshake: false while a still is wanted
extern std::atomic<int64_t> g_still_not_before_us;// a still's exposure began no earlier (monotonic clock, us)
extern std::atomic<int64_t> g_still_began_us;     // the still taken last began its exposure no earlier
extern std::atomic<bool> g_set_color;             // install palette g_pseudo_color_index
extern std::atomic<int> g_pseudo_color_index;     // 0 to 7, by g_ColorTable
extern std::atomic<bool> g_set_saturated_pixel;   // install the saturated-pixel palette
extern std::atomic<bool> g_hotpixel_enabled;      // hot-pixel correction of stills is on

// The last still frame, turned upright (180 degrees): 8-bit, or 16-bit words as the camera
// delivered them. Written by the capture thread only between g_captured = false and true.
extern cv::Mat g_mat8;
extern cv::Mat g_mat16;

// --- Camera access -----------------------------------------------------------------------------

// Opens the camera through the installed transport into g_hCamera; 0, or -1 on failure.
int camera_init();
// One vendor request without data (type 0x40, 100 ms); the transport's result, or -1 without a
// camera (logged as "===CAMERA ERROR").
int camera_vr(unsigned char request, unsigned short value, unsigned short index);
// Closes the camera when one was opened.
void capture_stop();
// Puts the module state back as at program start (the camera must be closed).
void camera_reset_state();

// Capture side: true when the camera reports a frame ready (request 0xE0 answers 0).
bool camera_frame_ready();
// Capture side: one bulk read of exactly `size` bytes into `buffer`, with a time-out.
bool camera_read_frame(unsigned char *buffer, int size);

// The mode named by the configuration: 8 or 16; anything else is taken as 8.
int sanitizedCameraMode(int mode);
// Read-out mode and bit depth for g_camera_mode, and the frame size that goes with it.
void applyCameraMode();
// A sensor register write followed by the camera's 10 ms settling wait.
void writeCameraRegister(int reg, int value);
// Exposure registers of one table row, also when they hold the same value: the sensor starts its
// exposure over at each write (as at a read-out mode or bit depth request), and each such request
// is a scene change.
void applyExposure(int exposureMs, int frame, int line);
// Gain registers of one table row, and the gain control register that goes with them.
void applyGain(int again, int dgain);

// The sensor or the scene before it changes now (noted just before the request that changes it):
// the capture thread drops the frames that may hold light from before (at most four; at exposures
// up to kFixedDropExposureMs always four), and the stall clock counts from here.
void noteSceneChange();
constexpr int kFixedDropExposureMs = 100;
// A turret's own report was read now (g_turret_reported_us): only stills are judged by it.
void noteTurretReport();

// How long to wait for a frame before live video counts as stalled: the exposure plus one
// second, or a default while no exposure has been set.
int frameStallLimitMs();

// How long live video's start may wait for the capture thread's first frame or its giving up: the
// stall limit, the pass under way when it is reached (question and bulk read) and a margin. Only
// a capture thread that no longer keeps its own rule reaches it.
int firstFrameWaitLimitMs();

// The sensor's read-out of one frame's rows in the current mode (us): the first row's exposure
// begins this long before the last row's.
int64_t frameReadoutUs();

// How long a still may take on a healthy camera: the frame in flight at the request ends, then
// the frame exposed wholly after it is exposed, read out and transferred; with a margin. A camera
// that stops sooner is caught by the capture thread's stall rule.
int stillWaitLimitMs();

// Asks the capture thread for a still whose exposure began at or after this call, so that it
// shows the stage, light and filter as they are now, however many frames were in flight.
void request_still();

// The capture side of request_still: true when a frame that the camera reported ready after
// `endedAfterUs` (monotonic clock), at the current exposure, began its exposure no earlier than
// the pending still's request.
bool exposedAfterStillRequest(int64_t endedAfterUs);
// The earliest its exposure can have begun: the frame ended after `endedAfterUs`.
int64_t stillExposureBeganUs(int64_t endedAfterUs);

// The capture side of noteSceneChange: true when a frame that the camera reported ready after
// `endedAfterUs` and that had arrived by `arrivedUs` began its exposure at or after the last scene
// change. It must not have been ready at a poll before the change, and it must come no sooner
// than a frame begun at the change can (the current exposure and the read-out): a frame under way
// or waiting in the camera at the change comes sooner.
bool exposedAfterSceneChange(int64_t endedAfterUs, int64_t arrivedUs);

// Whether the still taken last began its exposure after the last scene change and the last
// turret report read: a still whose exposure a turret move or an exposure change overlapped is
// not a picture of one scene.
bool stillExposedAfterSceneChange();
