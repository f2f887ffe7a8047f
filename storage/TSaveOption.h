#pragma once

// What one run of the save dialog writes (set once per dialog by setCurrentSaveOption).
enum TSaveOption : int {
    SAVE_OPTION_MULTICOLOR = 0,       // up to four channels, the overlay and the annotated image
    SAVE_OPTION_ZSTACK = 1,           // z-stack series from the SSD work folder
    SAVE_OPTION_TIMELAPSE = 2,        // time-lapse series from the SSD work folder
    SAVE_OPTION_CSV = 3,              // one CSV table
    SAVE_OPTION_SINGLE = 4,           // one image, optionally with its annotations
    SAVE_OPTION_CELLCOUNT = 5,        // raw image, tagged image, results CSV
    SAVE_OPTION_GROWTH_MONITOR = 6,   // raw, count and segmentation images
    SAVE_OPTION_TIMELAPSE_PATH = 7,   // folder and name for a time-lapse run; nothing written
    SAVE_OPTION_TIMELAPSE_IMAGES = 8, // existing images of a time-lapse run
    SAVE_OPTION_ZSTACK_PATH = 9,      // folder and name for a z-stack run; nothing written
    SAVE_OPTION_ZSTACK_IMAGES = 10,   // existing images of a z-stack run
};

// Variant of a save, read by setCurrentSaveOption and kept for the savers.
enum TSubOption : int {
    SUB_OPTION_NONE = 0,
    SUB_OPTION_OVERLAY_VIEW = 1,      // Multicolor overlay view: colour always as remembered
    SUB_OPTION_CELLCOUNT_RESULT = 2,  // cell-count Save: monochrome, "Results (CSV)" ticked
    SUB_OPTION_CELLCOUNT_RENDERED = 3, // cell-count rendered image: colour from the page
};
