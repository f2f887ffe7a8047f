#pragma once
#include <QPoint>

class QMouseEvent;
class QWidget;

// Moves a frameless window with a finger: a press in its top strip (20 pixels high, the whole
// width) starts a drag, each move shifts the window by the pointer's travel and keeps it wholly on
// the default screen, the release ends the drag. No threshold: the first move moves the window.
// The window forwards its mouse press, move and release events here.
class DragMove
{
public:
    static constexpr int StripHeight = 20;

    void press(QWidget *window, const QMouseEvent *event);
    void move(QWidget *window, const QMouseEvent *event);
    void release() { m_dragging = false; }
    bool dragging() const { return m_dragging; }

private:
    bool m_dragging = false;
    QPoint m_pressPos; // in the window's own coordinates
    QPoint m_currentPos;
};
