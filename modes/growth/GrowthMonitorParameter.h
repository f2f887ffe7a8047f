#pragma once

// The settings of one confluency analysis run, copied whole into the model before each run.
struct GrowthMonitorParameter
{
    int thresholdType = 0;  // 0 automatic (Otsu), 1 manual
    int thresholdValue = 0; // the manual grey threshold; after an automatic analysis the computed one
    int background = 0;     // 0 dark background (cells brighter), 1 white background (cells darker)
    int dilate = 0;         // 1 dilates the cell mask once
    int minArea = 250;      // objects smaller than this many pixels are removed when above 0
    double watershed = 0.2; // distance level (0..1) of the watershed seeds; 0 switches the split off
    int imageCount = 0;     // images of the run, for the free-space check only
};
