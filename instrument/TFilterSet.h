#pragma once

// Light, gain and exposure kept for one filter-cube position: the light slider's percentage,
// a row of GainLUT and a row of the exposure tables.
struct TFilterSet
{
    int light = 50;
    int gain = 0;
    int exposure = 0;
};
