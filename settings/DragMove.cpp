#include "DragMove.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>

void DragMove::press(QWidget *window, const QMouseEvent *event)
{
    const QPoint pos = event->localPos().toPoint(); // rounded to the nearest pixel
    if (pos.x() < 0 || pos.x() >= window->width() || pos.y() < 0 || pos.y() >= StripHeight)
        return;
    m_dragging = true;
    m_pressPos = pos;
}

void DragMove::move(QWidget *window, const QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_currentPos = event->localPos().toPoint();
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize area = screen ? screen->geometry().size() : QSize(1920, 1080);
    const auto clamp = [](int value, int size, int limit) {
        if (value + size > limit)
            value = limit - size;
        return value < 0 ? 0 : value;
    };
    const QPoint travel = m_currentPos - m_pressPos;
    window->move(clamp(window->x() + travel.x(), window->width(), area.width()),
                 clamp(window->y() + travel.y(), window->height(), area.height()));
}
