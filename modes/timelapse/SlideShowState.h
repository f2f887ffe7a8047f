#pragma once

// The slide show of the time-lapse browser.
enum SlideShowState : int {
    SlideShowReady = 0,
    SlideShowPlaying = 1,
    SlideShowPaused = 2,
    SlideShowStopped = 3,
};
