#include "LDoubleSpinBox.h"

#include "LSpinBox.h"

#include <QMouseEvent>
#include <QStyleOptionSpinBox>

LDoubleSpinBox::LDoubleSpinBox(QWidget *parent)
    : QDoubleSpinBox(parent)
{
}

void LDoubleSpinBox::reportArrow(QMouseEvent *event, void (LDoubleSpinBox::*signal)(double, bool))
{
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const int arrow = LSpinBox::arrowUnder(this, option, event->localPos().toPoint());
    if (arrow >= 0)
        emit (this->*signal)(value(), arrow == 1);
}

void LDoubleSpinBox::mousePressEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QDoubleSpinBox::mousePressEvent(event);
    reportArrow(event, &LDoubleSpinBox::mouseButtonPressed);
}

void LDoubleSpinBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QDoubleSpinBox::mouseReleaseEvent(event);
    reportArrow(event, &LDoubleSpinBox::mouseButtonReleased);
}
