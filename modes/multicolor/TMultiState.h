#pragma once

// State of the Multicolor page. Below 2 the page works on live video.
enum TMultiState : int {
    MULTI_IDLE = 0,    // nothing on screen
    MULTI_LIVE = 1,    // live view
    MULTI_CHANNEL = 2, // one captured channel shown full size
    MULTI_TILE = 3,    // the four channels as 2 x 2 tiles
    MULTI_OVERLAY = 4, // the merged overlay
};
