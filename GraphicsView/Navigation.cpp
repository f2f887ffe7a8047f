#include "Navigation.h"

void Navigation::setNavigationColor(int red, int green, int blue)
{
    m_Color = QColor(red, green, blue);
}

void Navigation::setNavigationSize(int width, int height)
{
    m_NavigationRect.setWidth(width);
    m_NavigationRect.setHeight(height);
}

void Navigation::setImageSize(int width, int height)
{
    m_ImageWidth = width;
    m_ImageHeight = height;
}

void Navigation::setDisplaySize(double width, double height)
{
    m_DisplayWidth = float(width);
    m_DisplayHeight = float(height);
}

void Navigation::setNavigationPosition(double x, double y)
{
    if (m_ImageWidth <= 0 || m_ImageHeight <= 0)
        return; // no image size yet: nothing to scale into the frame
    const int w = m_NavigationRect.width();
    const int h = m_NavigationRect.height();
    const int left = int(w * x / m_ImageWidth);
    const int top = int(h * y / m_ImageHeight);
    // The shrink is taken in single precision, as the region size is stored.
    const int shrinkW = int((float(m_ImageWidth) - m_DisplayWidth) * float(w) / float(m_ImageWidth));
    const int shrinkH = int((float(m_ImageHeight) - m_DisplayHeight) * float(h) / float(m_ImageHeight));
    m_DisplayRect = QRect(left, top, w - shrinkW, h - shrinkH);
}
