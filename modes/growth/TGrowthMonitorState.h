#pragma once

// State of the Growth monitor page. Below 2 the page works on live video.
enum TGrowthMonitorState : int {
    GROWTH_IDLE = 0,
    GROWTH_LIVE = 1,
    GROWTH_RESULT = 2, // results on screen
    GROWTH_LOCKED = 3,
};
