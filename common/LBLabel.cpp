#include "LBLabel.h"

LBLabel::LBLabel(QWidget *parent)
    : QLabel(parent)
{
}

void LBLabel::enterEvent(QEvent *)
{
    emit entered();
}

void LBLabel::leaveEvent(QEvent *)
{
    emit leaved();
}
