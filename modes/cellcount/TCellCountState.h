#pragma once

// State of the Cell count page. Below 2 the page works on live video.
enum TCellCountState : int {
    CELLCOUNT_IDLE = 0,
    CELLCOUNT_LIVE = 1,
    CELLCOUNT_RESULT = 2,   // a count result or a manual capture is shown
    CELLCOUNT_COUNTING = 3,
};
