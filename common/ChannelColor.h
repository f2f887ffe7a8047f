#pragma once
#include <cstddef>
#include <cstdint>

// The colour rule of a captured channel: which of the R, G, B components a colour index
// (a g_ColorTable index) puts the channel's intensity in, with no scaling. Shared by the
// Multicolor and Single models.
struct ChannelColor
{
    bool red = false;
    bool green = false;
    bool blue = false;
    // False for an index without a composition (5 black, 6 white, 7 gray, out of range).
    bool composed = false;

    // 0 red, 1 green, 2 blue, 3 yellow, 4 cyan; any other index is not composed.
    static ChannelColor ofIndex(int colorIndex);
    // Every component: the grey rendering.
    static ChannelColor grey();

    // Writes pixels R, G, B triples into rgb: each component the source value or 0. An index
    // without a composition renders grey, so a misconfigured channel still shows its image.
    void render(const uint8_t *src, uint8_t *rgb, size_t pixels) const;
    void render(const uint16_t *src, uint16_t *rgb, size_t pixels) const;
};
