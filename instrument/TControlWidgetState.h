#pragma once

// The control panel's state: what the page beside it shows.
enum TControlWidgetState : int {
    CONTROL_STATE_LIVE = 0,   // live view: turret reports enable the controls
    CONTROL_STATE_STILL = 1,  // a still image is shown: the controls stay locked
    CONTROL_STATE_OPENED = 2, // a page was just opened (start-up, every menu change)
};
