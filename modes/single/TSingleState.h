#pragma once

// State of the Single page.
enum TSingleState : int {
    SINGLE_IDLE = 0,     // nothing on screen
    SINGLE_LIVE = 1,     // live view
    SINGLE_CAPTURED = 2, // one captured frame, measured and saved from the page
};
