#pragma once
#include <QColor>
#include <QMetaType>
#include <QPointF>

// The scale-bar record that ScaleBar sends to every image view and page, and that the savers
// burn into saved images. Anchors are image coordinates of a 1280 x 1024 frame.
struct TSScaleBar
{
    static constexpr QPointF DefaultTopLeft{20, 20};
    static constexpr QPointF DefaultTopRight{1252, 20};      // 28 pixels in from the right
    static constexpr QPointF DefaultBottomLeft{20, 940};     // 84 pixels up from the bottom
    static constexpr QPointF DefaultBottomRight{1252, 940};

    bool show = false;          // draw the bar
    int corner = 0;             // 0 top left, 1 top right, 2 bottom left, 3 bottom right
    QPointF topLeft = DefaultTopLeft;
    QPointF topRight = DefaultTopRight;
    QPointF bottomLeft = DefaultBottomLeft;
    QPointF bottomRight = DefaultBottomRight;
    int lengthUm = 0;           // 10, 50 or 100 micrometres
    float lengthPixels = 0;     // lengthUm / pixel size, never negative
    QColor color = Qt::yellow;
    int lineWidth = 0;          // pen width in pixels
    bool noObjective = false;   // no usable objective: the bar cannot be drawn
    bool resetPosition = false; // the view puts the bar back on its default anchor
    bool movable = true;        // the user may drag the bar
    int fontSize = 10;          // point size of the length text
    bool useViewPixelSize = false; // the view recomputes lengthPixels from its own pixel size
};

Q_DECLARE_METATYPE(TSScaleBar)
