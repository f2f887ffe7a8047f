#include "MoreAppsWidget.h"

MoreAppsWidget::MoreAppsWidget(QWidget *parent)
    : QWidget(parent)
{
}
