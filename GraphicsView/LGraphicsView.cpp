#include "LGraphicsView.h"

LGraphicsView::LGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
}

void LGraphicsView::clearImageData()
{
}

void LGraphicsView::initNavigation(int width, int height)
{
    const QSize viewport = this->viewport()->size();
    m_NavigationDisplaySize = QSize(width > 0 ? width : viewport.width(), height > 0 ? height : viewport.height());
    m_NavigationPosition = QPointF(0, 0);
}

void LGraphicsView::getNavigation(Navigation &navigation)
{
    navigation.displaySize = m_NavigationDisplaySize;
    navigation.sceneSize = scene() ? scene()->sceneRect().size() : QSizeF();
    navigation.visibleRect = mapToScene(viewport()->rect()).boundingRect();
    navigation.position = m_NavigationPosition;
    navigation.zoom = transform().m11();
}

void LGraphicsView::setScaleBar(TSScaleBar)
{
}

void LGraphicsView::getScaleBarPoint(QPointF &)
{
}
