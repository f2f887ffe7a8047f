#pragma once

// What a video export asks of the encoder: the input frame rate (images per second, 1..60), the
// encoder's quantiser scale (2 best .. 5) and the factor applied to width and height.
struct EncodingParam
{
    int frameRate = 1;
    int qscale = 2;
    double scale = 1.0;
};
