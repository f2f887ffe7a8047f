#pragma once
#include <QColor>
#include <QMetaType>
#include <QRect>

// The navigator record of a zoomed view: a frame standing for the whole image and, inside it, the
// displayed region scaled into the frame. A plain value: views keep one, pages copy it out.
class Navigation
{
public:
    Navigation() = default;

    void setNavigationColor(int red, int green, int blue);
    // Frame size in navigator pixels; the frame keeps its left-top.
    void setNavigationSize(int width, int height);
    // Size of the whole image in image pixels.
    void setImageSize(int width, int height);
    // Size of the displayed region in image pixels.
    void setDisplaySize(double width, double height);
    // Left-top of the displayed region in image pixels; recomputes m_DisplayRect.
    void setNavigationPosition(double x, double y);

    QColor m_Color;           // pen of both rectangles
    QRect m_NavigationRect;   // the frame, left-top (0, 0)
    QRect m_DisplayRect;      // the displayed region inside the frame
    int m_ImageWidth = -1;
    int m_ImageHeight = -1;
    float m_DisplayWidth = -1.0f;
    float m_DisplayHeight = -1.0f;
};

Q_DECLARE_METATYPE(Navigation)
