#pragma once

// What the Multicolor page's graph shows.
enum TGraphMode : int {
    GRAPH_HISTOGRAM = 0,
    GRAPH_LINE_PROFILE = 1,
};
