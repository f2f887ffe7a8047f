#pragma once
#include <array>

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
    static constexpr ChannelColor ofIndex(int colorIndex)
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
    // Every component: the grey rendering.
    static constexpr ChannelColor grey() { return {true, true, true, true}; }

    // The R, G, B planes of the rendering: the source where the colour puts it, else zero. An
    // index without a composition renders grey, so a misconfigured channel still shows its image.
    template <typename Plane>
    std::array<Plane, 3> planes(const Plane &source, const Plane &zero) const
    {
        if (!composed)
            return {source, source, source};
        return {red ? source : zero, green ? source : zero, blue ? source : zero};
    }
};
