#pragma once

// What CellCount::canStart checks for: an automatic count (all checks) or the count of a manually
// captured frame (free space and clean-up only).
enum TCountMode : int {
    COUNT_MODE_AUTO = 0,
    COUNT_MODE_MANUAL = 1,
};
