#pragma once
#include <QTest>
#include <QWidget>
#include <QWindow>

// A tap as the touch screen delivers it: through the window system, where a window blocked by a
// modal dialog drops it.
inline void tap(QWidget *widget)
{
    QWidget *top = widget->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, widget->mapTo(top, widget->rect().center()));
}
