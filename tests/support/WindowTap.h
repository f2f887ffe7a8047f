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

// Two taps gapMs apart on QTest's input clock at a point of widget (its centre when none), a
// quick double tap: the first one is handled before the second is made.
inline void doubleTap(QWidget *widget, int gapMs, QPoint point = QPoint(-1, -1))
{
    QWidget *top = widget->window();
    QWindow *window = top->windowHandle();
    const QPoint at = widget->mapTo(top, point.x() < 0 ? widget->rect().center() : point);
    for (int gap : {1, gapMs}) {
        QTest::lastMouseTimestamp += gap;
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            qt_handleMouseEvent(window, at, window->mapToGlobal(at), type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::LeftButton, type, Qt::NoModifier, ++QTest::lastMouseTimestamp);
    }
    QTest::lastMouseTimestamp += QTest::mouseDoubleClickInterval;
}

// A tap that the window system queues while the interface thread is held (as its input thread
// does): stamped on QTest's input clock when it is made, handed over when the interface thread
// next takes its input. The place is taken on the interface thread; send() runs on another one
// and returns once the tap was taken from the queue.
class QueuedTap
{
public:
    explicit QueuedTap(QWidget *widget)
        : m_window(widget->window()->windowHandle())
        , m_at(widget->mapTo(widget->window(), widget->rect().center()))
        , m_global(widget->mapToGlobal(widget->rect().center()))
    {
    }
    // A stamp made now: ++QTest::lastMouseTimestamp, taken while the interface thread is held.
    void send(int stamp) const
    {
        qt_handleMouseEvent(m_window, m_at, m_global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress,
                            Qt::NoModifier, stamp);
        qt_handleMouseEvent(m_window, m_at, m_global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease,
                            Qt::NoModifier, stamp);
    }

private:
    QWindow *m_window;
    QPointF m_at;
    QPointF m_global;
};
