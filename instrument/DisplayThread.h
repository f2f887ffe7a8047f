#pragma once
#include <SDL.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>

class FrameRecorder;

// Display palettes: one 256-entry ramp per colour index of g_ColorTable (red, green, blue,
// yellow, cyan, black, white, grey), and grey with entry 255 in red for saturated pixels.
extern SDL_Color g_SDLPseudoColorTable[8][256];
extern SDL_Color g_SDLSaturatedPixelColorTable[256];
void initializeSDLPseudoColorTable();

// The live display thread: owns an 8-bit palettised SDL surface of 1272 x 1000 without a frame,
// shows each frame the capture thread hands over turned by 180 degrees (the upper byte of each
// 16-bit pixel), installs the palettes asked for, and passes each frame it shows to the recorder
// while recording. When the surface cannot be made, onVideoModeError runs (on this thread).
class DisplayThread
{
public:
    static constexpr int kSurfaceWidth = 1272;
    static constexpr int kSurfaceHeight = 1000;

    explicit DisplayThread(FrameRecorder *recorder = nullptr, std::function<void()> onVideoModeError = {});
    ~DisplayThread();
    DisplayThread(const DisplayThread &) = delete;
    DisplayThread &operator=(const DisplayThread &) = delete;

    // Sets g_display and creates the thread (scheduling inherited); false when it could not.
    bool start();
    // Clears g_display, wakes the thread and joins it.
    void stop();
    bool isStarted() const { return m_started; }
    uint64_t framesShown() const { return m_framesShown; }

    // The 180-degree copy of a 1280 x 1024 frame into the surface: surface pixel (x, y) is frame
    // pixel (1279 - x, 1023 - y); bytesPerPixel 2 takes each pixel's first (upper) byte.
    static void turnIntoSurface(const unsigned char *frame, int bytesPerPixel, unsigned char *surface, int pitch);
    // The white cross of QC test mode, drawn into an 8-bit frame's row 512 and column 640.
    static void drawTestCross(unsigned char *frame);

    static void *display_sdl_thread_loop(void *arg);

private:
    void run();
    void installPalette(SDL_Surface *screen);

    FrameRecorder *m_recorder;
    std::function<void()> m_onVideoModeError;
    pthread_t m_thread{};
    bool m_started = false;
    std::atomic<uint64_t> m_framesShown{0};
};
