#include "LSpinBox.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSpinBox>

LSpinBox::LSpinBox(QWidget *parent)
    : QSpinBox(parent)
{
}

int LSpinBox::arrowUnder(const QAbstractSpinBox *box, const QStyleOptionSpinBox &option, QPoint pos)
{
    QStyle *style = box->style();
    if (style->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, box).contains(pos))
        return 1;
    if (style->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxDown, box).contains(pos))
        return 0;
    return -1;
}

int LSpinBox::arrowAt(QMouseEvent *event) const
{
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return arrowUnder(this, option, event->localPos().toPoint());
}

void LSpinBox::mousePressEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QSpinBox::mousePressEvent(event);
    const int arrow = arrowAt(event);
    if (arrow >= 0)
        emit mouseButtonPressed(value(), arrow == 1);
}

void LSpinBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QSpinBox::mouseReleaseEvent(event);
    const int arrow = arrowAt(event);
    if (arrow >= 0)
        emit mouseButtonReleased(value(), arrow == 1);
}
