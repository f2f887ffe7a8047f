#include "LDoubleSpinBox.h"

#include "LSpinBox.h"

#include <QMouseEvent>
#include <QStyleOptionSpinBox>

LDoubleSpinBox::LDoubleSpinBox(QWidget *parent)
    : QDoubleSpinBox(parent)
{
}

int LDoubleSpinBox::arrowAt(QMouseEvent *event) const
{
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return LSpinBox::arrowUnder(this, option, event->localPos().toPoint());
}

void LDoubleSpinBox::mousePressEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QDoubleSpinBox::mousePressEvent(event);
    const int arrow = arrowAt(event);
    if (arrow >= 0)
        emit mouseButtonPressed(value(), arrow == 1);
}

void LDoubleSpinBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QDoubleSpinBox::mouseReleaseEvent(event);
    const int arrow = arrowAt(event);
    if (arrow >= 0)
        emit mouseButtonReleased(value(), arrow == 1);
}
