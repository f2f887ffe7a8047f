#pragma once

// Why a count cannot start (0: it can). CellCount::canStart gives 0 to 5; the count run sets 6 to 8.
enum TCellCountErrTable : int {
    CELLCOUNT_ERR_NONE = 0,
    CELLCOUNT_ERR_CAMERA_MODE = 1,      // an automatic count needs the 8-bit camera mode
    CELLCOUNT_ERR_MAGNIFICATION = 2,    // an automatic count needs an objective below 5X
    CELLCOUNT_ERR_DISK_SPACE = 3,       // not enough free space on the SSD
    CELLCOUNT_ERR_UNUSED = 4,
    CELLCOUNT_ERR_RAW_DATA = 5,         // the work folder could not be emptied
    CELLCOUNT_ERR_FILTER = 6,           // the transmitted-light cube is not in the light path
    CELLCOUNT_ERR_NO_OBJECTIVE = 7,     // no objective lens, so no engine can be set up
    CELLCOUNT_ERR_BRIGHTNESS = 8,       // too bright or too dark for the light adjustment
    CELLCOUNT_ERR_STOPPED = 9,
};
