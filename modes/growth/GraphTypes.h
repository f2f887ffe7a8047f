#pragma once

// The drawing modes of GraphFrame.
namespace graph {
enum GraphType : int { HISTOGRAM = 0, LINE_PLOTS = 1, SCATTER_PLOTS = 2 };
enum ScatterPlotsStyle : int { STYLE_POINT = 0, STYLE_PLUS = 1, STYLE_CROSS = 2, STYLE_CIRCLE = 3 };
enum DirectionType : int { VERTICAL = 0, HORIZONTAL = 1 };
} // namespace graph
