#include "ChannelColor.h"

namespace {

template <typename T>
void renderPlanes(const ChannelColor &color, const T *src, T *rgb, size_t pixels)
{
    const bool grey = !color.composed;
    // All-ones or all-zeros masks keep the loop branch-free, so that it vectorises.
    const T r = (grey || color.red) ? T(~T(0)) : T(0);
    const T g = (grey || color.green) ? T(~T(0)) : T(0);
    const T b = (grey || color.blue) ? T(~T(0)) : T(0);
    for (size_t i = 0; i < pixels; ++i) {
        const T v = src[i];
        rgb[3 * i] = T(v & r);
        rgb[3 * i + 1] = T(v & g);
        rgb[3 * i + 2] = T(v & b);
    }
}

} // namespace

ChannelColor ChannelColor::ofIndex(int colorIndex)
{
    switch (colorIndex) {
    case 0: return {true, false, false, true};
    case 1: return {false, true, false, true};
    case 2: return {false, false, true, true};
    case 3: return {true, true, false, true};
    case 4: return {false, true, true, true};
    default: return {};
    }
}

ChannelColor ChannelColor::grey()
{
    return {true, true, true, true};
}

void ChannelColor::render(const uint8_t *src, uint8_t *rgb, size_t pixels) const
{
    renderPlanes(*this, src, rgb, pixels);
}

void ChannelColor::render(const uint16_t *src, uint16_t *rgb, size_t pixels) const
{
    renderPlanes(*this, src, rgb, pixels);
}
