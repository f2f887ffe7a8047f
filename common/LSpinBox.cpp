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

void LSpinBox::reportArrow(QMouseEvent *event, void (LSpinBox::*signal)(int, bool))
{
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const int arrow = LSpinBox::arrowUnder(this, option, event->localPos().toPoint());
    if (arrow >= 0)
        emit (this->*signal)(value(), arrow == 1);
}

void LSpinBox::mousePressEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QSpinBox::mousePressEvent(event);
    reportArrow(event, &LSpinBox::mouseButtonPressed);
}

void LSpinBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_bMouseLocked)
        return;
    QSpinBox::mouseReleaseEvent(event);
    reportArrow(event, &LSpinBox::mouseButtonReleased);
}
