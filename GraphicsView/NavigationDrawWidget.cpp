#include "NavigationDrawWidget.h"

NavigationDrawWidget::NavigationDrawWidget(QWidget *parent)
    : QWidget(parent)
{
}

void NavigationDrawWidget::setNavigation(const Navigation &navigation)
{
    m_Navigation = navigation;
    update();
}
