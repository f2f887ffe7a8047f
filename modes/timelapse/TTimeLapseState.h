#pragma once

// State of the Time lapse page. Below 2 the page works on live video.
enum TTimeLapseState : int {
    TIMELAPSE_IDLE = 0,
    TIMELAPSE_LIVE = 1,
    TIMELAPSE_SHOWN = 2,     // the series is shown (paused or ended)
    TIMELAPSE_ACQUIRING = 3,
};
