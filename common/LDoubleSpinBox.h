#pragma once
#include <QDoubleSpinBox>

// The double-valued twin of LSpinBox: reports presses and releases of its arrow buttons and
// ignores the mouse while m_bMouseLocked is set.
class LDoubleSpinBox : public QDoubleSpinBox
{
    Q_OBJECT
public:
    explicit LDoubleSpinBox(QWidget *parent = nullptr);

    bool m_bMouseLocked = false;

signals:
    void mouseButtonPressed(double value, bool up);
    void mouseButtonReleased(double value, bool up);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Emits signal when the event lies on an arrow.
    void reportArrow(QMouseEvent *event, void (LDoubleSpinBox::*signal)(double, bool));
};
