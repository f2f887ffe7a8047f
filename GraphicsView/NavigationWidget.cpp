#include "NavigationWidget.h"

#include <QPainter>

NavigationWidget::NavigationWidget(QWidget *parent)
    : QWidget(parent)
    , m_OutlineRect(QPoint(0, 0), QPoint(width() - 2, height() - 2))
{
}

void NavigationWidget::setImageSize(int width, int height)
{
    m_NavImageWidth = width;
    m_NavImageHeight = height;
    // Reduce the ratio by the small common factors (below 20) only.
    int w = width, h = height;
    for (bool reduced = true; reduced && w > 0 && h > 0;) {
        reduced = false;
        for (int k = 2; k < 20; ++k) {
            if (w % k == 0 && h % k == 0) {
                w /= k;
                h /= k;
                reduced = true;
                break;
            }
        }
    }
    if (w <= 0 || h <= 0)
        return;
    const int n = this->width() / w;
    setFixedSize(w * n, h * n);
    m_OutlineRect = QRect(QPoint(0, 0), QPoint(w * n - 2, h * n - 2));
}

void NavigationWidget::setDisplaySize(int width, int height)
{
    m_NavDisplayWidth = width;
    m_NavDisplayHeight = height;
}

void NavigationWidget::setCurrentPosition(int x, int y)
{
    m_NavPosX = x;
    m_NavPosY = y;
    update();
}

void NavigationWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QColor(1, 122, 255, 255));
    painter.drawRect(m_OutlineRect);
    if (m_NavImageWidth <= 0 || m_NavImageHeight <= 0)
        return; // no image size yet: the outline alone
    const int w = width(), h = height();
    const int left = m_NavPosX * w / m_NavImageWidth;
    const int top = m_NavPosY * h / m_NavImageHeight;
    const int dw = (m_NavDisplayWidth - m_NavImageWidth) * w / m_NavImageWidth;
    const int dh = (m_NavDisplayHeight - m_NavImageHeight) * h / m_NavImageHeight;
    m_RegionRect = QRect(QPoint(left, top), QPoint(left + w + dw - 1, top + h + dh - 1));
    painter.drawRect(m_RegionRect);
}
