#include "NavigationDrawWidget.h"

#include <QPainter>

NavigationDrawWidget::NavigationDrawWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

void NavigationDrawWidget::setNavigation(const Navigation &navigation)
{
    m_Navigation = navigation;
    // Drawn with the view, whose image lies under it, when the event loop paints.
    update();
}

void NavigationDrawWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(m_Navigation.m_Color);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(m_Navigation.m_NavigationRect);
    painter.drawRect(m_Navigation.m_DisplayRect);
}
