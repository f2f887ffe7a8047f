#include "SingleImageWidget.h"

SingleImageWidget::SingleImageWidget(QWidget *parent)
    : QWidget(parent)
{
}
