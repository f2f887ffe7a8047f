#include "DisplayThread.h"

#include "CameraAccess.h"
#include "FrameRecorder.h"
#include "FrameRing.h"
#include "Utilities.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

SDL_Color g_SDLPseudoColorTable[8][256];
SDL_Color g_SDLSaturatedPixelColorTable[256];

void initializeSDLPseudoColorTable()
{
    for (int i = 0; i < 256; ++i) {
        const Uint8 v = Uint8(i);
        const SDL_Color ramps[8] = {
            {v, 0, 0, 0}, {0, v, 0, 0}, {0, 0, v, 0}, {v, v, 0, 0},
            {0, v, v, 0}, {0, 0, 0, 0}, {255, 255, 255, 0}, {v, v, v, 0},
        };
        for (int c = 0; c < 8; ++c)
            g_SDLPseudoColorTable[c][i] = ramps[c];
        g_SDLSaturatedPixelColorTable[i] = ramps[7];
    }
    g_SDLSaturatedPixelColorTable[255] = {255, 0, 0, 0};
}

namespace {
// No frame, hardware palette, double buffering.
constexpr Uint32 kSurfaceFlags = SDL_NOFRAME | SDL_HWPALETTE | SDL_DOUBLEBUF;
constexpr int kPollMs = 100;
constexpr int kHiddenColumns = kFrameWidth - DisplayThread::kSurfaceWidth; // frame columns 0..7
}

DisplayThread::DisplayThread(FrameRecorder *recorder, std::function<void()> onVideoModeError)
    : m_recorder(recorder), m_onVideoModeError(std::move(onVideoModeError))
{
}

DisplayThread::~DisplayThread()
{
    stop();
}

bool DisplayThread::start()
{
    stop();
    g_display = 1;
    const int rc = pthread_create(&m_thread, nullptr, &DisplayThread::display_sdl_thread_loop, this);
    m_started = rc == 0;
    if (!m_started) {
        qWarning() << "Display thread could not be created:" << std::strerror(rc);
        g_display = 0;
    }
    return m_started;
}

void DisplayThread::stop()
{
    if (!m_started)
        return;
    g_display = 0;
    g_frameRing.wake();
    pthread_join(m_thread, nullptr);
    m_started = false;
}

void *DisplayThread::display_sdl_thread_loop(void *arg)
{
    static_cast<DisplayThread *>(arg)->run();
    return nullptr;
}

void DisplayThread::turnIntoSurface(const unsigned char *frame, int bytesPerPixel, unsigned char *surface, int pitch)
{
    for (int y = 0; y < kSurfaceHeight; ++y) {
        unsigned char *dst = surface + size_t(y) * pitch;
        if (bytesPerPixel == 1) {
            const unsigned char *row = frame + size_t(kFrameHeight - 1 - y) * kFrameWidth;
            std::reverse_copy(row + kHiddenColumns, row + kFrameWidth, dst);
        } else {
            // Upper byte of pixel 1279 - x: walk the row's words backwards.
            const unsigned char *last = frame + (size_t(kFrameHeight - 1 - y) * kFrameWidth + kFrameWidth - 1) * 2;
            for (int x = 0; x < kSurfaceWidth; ++x)
                dst[x] = last[-2 * x];
        }
    }
}

void DisplayThread::drawTestCross(unsigned char *frame)
{
    std::memset(frame + size_t(kFrameHeight / 2) * kFrameWidth, 255, kFrameWidth);
    for (int row = 0; row < kFrameHeight; ++row)
        frame[size_t(row) * kFrameWidth + kFrameWidth / 2] = 255;
}

void DisplayThread::installPalette(SDL_Surface *screen)
{
    if (g_set_color.exchange(false)) {
        const int index = std::clamp(g_pseudo_color_index.load(), 0, 7);
        SDL_SetPalette(screen, SDL_LOGPAL | SDL_PHYSPAL, g_SDLPseudoColorTable[index], 0, 256);
    }
    if (g_set_saturated_pixel.exchange(false))
        SDL_SetPalette(screen, SDL_LOGPAL | SDL_PHYSPAL, g_SDLSaturatedPixelColorTable, 0, 256);
}

void DisplayThread::run()
{
    SDL_Surface *screen = nullptr;
    if (SDL_Init(SDL_INIT_VIDEO) == 0)
        screen = SDL_SetVideoMode(kSurfaceWidth, kSurfaceHeight, 8, kSurfaceFlags);
    if (!screen) {
        qWarning() << "Live display: no video surface:" << SDL_GetError();
        SDL_Quit();
        g_sld_display_is_running = false;
        if (m_onVideoModeError)
            m_onVideoModeError();
        return;
    }
    g_sld_display_is_running = true;

    uint64_t seen = g_frameRing.handedOver();
    const auto stopRequested = [] { return g_display == 0; };
    std::function<void(unsigned char *)> underLock;
    if (isQCTestMode())
        underLock = &DisplayThread::drawTestCross;
    while (g_display) {
        installPalette(screen);
        SDL_PumpEvents();
        unsigned char *frame = g_frameRing.waitForFrame(&seen, stopRequested, kPollMs, underLock);
        if (!frame)
            continue;
        if (m_recorder && m_recorder->isRecording())
            m_recorder->submit(frame, g_camera_mode);

        if (SDL_LockSurface(screen) == 0) {
            if (screen->pixels)
                turnIntoSurface(frame, g_skip_index, static_cast<unsigned char *>(screen->pixels), screen->pitch);
            else
                qDebug() << "============= Frame Error";
            SDL_UnlockSurface(screen);
        }
        SDL_Flip(screen);
        ++m_framesShown;
    }
    SDL_Quit();
    g_sld_display_is_running = false;
}
