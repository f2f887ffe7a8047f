#pragma once

// Which two of the Multicolor page's three side panels show.
enum TUIMode : int {
    UI_IMAGES_ANALYSIS = 0,
    UI_IMAGES_DATA = 1,
    UI_ANALYSIS_DATA = 2,
};
