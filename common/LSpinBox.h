#pragma once
#include <QSpinBox>

class QStyleOptionSpinBox;

// A spin box that reports presses and releases of its arrow buttons: the value after the box's
// own handling, and true for the up arrow. While m_bMouseLocked is set it ignores the mouse.
class LSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    explicit LSpinBox(QWidget *parent = nullptr);

    // Set by the owning page while a change is being applied.
    bool m_bMouseLocked = false;

    // Which arrow of a spin box lies under pos (edges included): 1 up, 0 down, -1 neither.
    static int arrowUnder(const QAbstractSpinBox *box, const QStyleOptionSpinBox &option, QPoint pos);

signals:
    void mouseButtonPressed(int value, bool up);
    void mouseButtonReleased(int value, bool up);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Emits signal when the event lies on an arrow.
    void reportArrow(QMouseEvent *event, void (LSpinBox::*signal)(int, bool));
};
