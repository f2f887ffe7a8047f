#pragma once

// The unit in which the user typed the time-lapse interval.
enum TTimeLapseIntervalType : int {
    TIMELAPSE_INTERVAL_HOUR = 0,
    TIMELAPSE_INTERVAL_MINUTE = 1,
    TIMELAPSE_INTERVAL_SECOND = 2,
};
