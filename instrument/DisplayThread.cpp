#include "DisplayThread.h"

#include "ExceptionTracer.h"

#include <signal.h>

#include "CameraAccess.h"
#include "FrameRecorder.h"
#include "FrameRing.h"
#include "Utilities.h"
#include "ThreadScheduling.h"

#include <QDebug>
#include <opencv2/core/hal/intrin.hpp>
#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
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
    ExceptionTracer::useAlternateStack();
    ThreadScheduling::leaveRealTime(); // whoever started it: only the capture thread runs real time
    static_cast<DisplayThread *>(arg)->run();
    return nullptr;
}

namespace {
// One surface row from one frame row, turned: dst[x] = pixel (1279 - x) of the row, for the 1272
// shown pixels; 16-bit pixels give their first (upper) byte. Sixteen pixels per step.
constexpr int kStep = 16;
#if defined(__SSE2__) || CV_SIMD128
constexpr int kVectorPixels = DisplayThread::kSurfaceWidth / kStep * kStep; // 1264; the rest one by one
#else
constexpr int kVectorPixels = 0;
#endif

#if defined(__SSE2__)
inline __m128i reverseWords(__m128i v)
{
    v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
}

inline void turnRow8(const unsigned char *row, unsigned char *dst)
{
    for (int x = 0; x < kVectorPixels; x += kStep) {
        __m128i v = reverseWords(_mm_loadu_si128(reinterpret_cast<const __m128i *>(row + kFrameWidth - kStep - x)));
        v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), v);
    }
}

inline void turnRow16(const unsigned char *row, unsigned char *dst)
{
    // On a little-endian host the pixel's first byte is the low half of its word.
    const __m128i low = _mm_set1_epi16(0x00FF);
    for (int x = 0; x < kVectorPixels; x += kStep) {
        const unsigned char *src = row + size_t(kFrameWidth - kStep - x) * 2;
        const __m128i a = _mm_and_si128(reverseWords(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src))), low);
        const __m128i b = _mm_and_si128(reverseWords(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 16))), low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), _mm_packus_epi16(b, a));
    }
}
#elif CV_SIMD128
inline void turnRow8(const unsigned char *row, unsigned char *dst)
{
    for (int x = 0; x < kVectorPixels; x += kStep)
        cv::v_store(dst + x, cv::v_reverse(cv::v_load(row + kFrameWidth - kStep - x)));
}

inline void turnRow16(const unsigned char *row, unsigned char *dst)
{
    const cv::v_uint16x8 low = cv::v_setall_u16(0x00FF);
    for (int x = 0; x < kVectorPixels; x += kStep) {
        const auto *src = reinterpret_cast<const ushort *>(row) + (kFrameWidth - kStep - x);
        const cv::v_uint8x16 forward = cv::v_pack(cv::v_load(src) & low, cv::v_load(src + 8) & low);
        cv::v_store(dst + x, cv::v_reverse(forward));
    }
}
#else
inline void turnRow8(const unsigned char *, unsigned char *) {}
inline void turnRow16(const unsigned char *, unsigned char *) {}
#endif
}

void DisplayThread::turnIntoSurface(const unsigned char *frame, int bytesPerPixel, unsigned char *surface, int pitch)
{
    const size_t rowBytes = size_t(kFrameWidth) * bytesPerPixel;
    for (int y = 0; y < kSurfaceHeight; ++y) {
        const unsigned char *row = frame + size_t(kFrameHeight - 1 - y) * rowBytes;
        unsigned char *dst = surface + size_t(y) * pitch;
        if (bytesPerPixel == 1)
            turnRow8(row, dst);
        else
            turnRow16(row, dst);
        for (int x = kVectorPixels; x < kSurfaceWidth; ++x)
            dst[x] = row[size_t(kFrameWidth - 1 - x) * bytesPerPixel];
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
    // SDL turns SIGINT and SIGTERM into quit events nobody reads, which would leave the
    // application deaf to a shutdown: keep the process's own handlers. No parachute either:
    // fatal signals belong to the crash log.
    struct sigaction interrupt {}, terminate {};
    sigaction(SIGINT, nullptr, &interrupt);
    sigaction(SIGTERM, nullptr, &terminate);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) == 0)
        screen = SDL_SetVideoMode(kSurfaceWidth, kSurfaceHeight, 8, kSurfaceFlags);
    sigaction(SIGINT, &interrupt, nullptr);
    sigaction(SIGTERM, &terminate, nullptr);
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
        FrameSpan span;
        unsigned char *frame = g_frameRing.waitForFrame(&seen, stopRequested, kPollMs, underLock, &span);
        if (!frame)
            continue;
        if (m_recorder && m_recorder->isRecording())
            m_recorder->submit(frame, g_camera_mode, span);

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
