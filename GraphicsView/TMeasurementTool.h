#pragma once

// Measurement tool numbers, shared by the pages, the measuring view and ImMeasurer.
// The numbers are fixed: pages send them as ints and items store them.
enum TMeasurementTool : int
{
    TOOL_NONE = 0,          // select and move items
    TOOL_LINE = 1,          // straight line between two points
    TOOL_ANGLE = 2,         // first arm end, vertex, second arm end
    TOOL_POLYGON = 3,       // closed polygon
    TOOL_ELLIPSE = 4,       // ellipse inscribed in a dragged rectangle
    TOOL_RECTANGLE = 5,     // dragged rectangle
    TOOL_SEGMENT_LINE = 6,  // open polyline
    TOOL_FREE_HAND = 7,     // free-hand path
    TOOL_MULTI_COUNT = 8,   // cross markers, one per click
    TOOL_TEXT = 9,          // text item, nothing to measure
    TOOL_CIRCLE_COUNT = 10, // circle markers, one per click
    TOOL_DELETE = 11,       // the delete button: no drawing, no measurement
    TOOL_WHOLE_IMAGE = 12   // intensity statistics and histogram of the whole frame
};
