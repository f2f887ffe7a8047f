#include "DiagramLineItem.h"

#include <QPainter>
#include <cmath>

DiagramLineItem::DiagramLineItem(const QLineF &line, QMenu *contextMenu, QGraphicsItem *parent)
    : DiagramShapeItem(line, contextMenu, parent)
{
    setPen(QPen(QBrush(m_LineColor, Qt::SolidPattern), qreal(m_LineWidth), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void DiagramLineItem::createSelectionPolygon()
{
    prepareGeometryChange();
    const QLineF l = line();
    const double radians = l.angle() * M_PI / 180.0;
    const QPointF d(m_SelectionOffset * std::sin(float(radians)), m_SelectionOffset * std::cos(float(radians)));
    m_SelectionPolygon = QPolygonF({l.p1() + d, l.p1() - d, l.p2() - d, l.p2() + d});
}

QRectF DiagramLineItem::boundingRect() const
{
    return hasBand() ? m_SelectionPolygon.boundingRect() : QGraphicsLineItem::boundingRect();
}

QPainterPath DiagramLineItem::shape() const
{
    if (!hasBand())
        return QGraphicsLineItem::shape();
    QPainterPath path;
    path.addPolygon(m_SelectionPolygon);
    return path;
}

QRectF DiagramLineItem::limitBounds() const
{
    m_bPositionChange = true;
    const QRectF bounds = sceneBoundingRect();
    m_bPositionChange = false;
    return bounds;
}

void DiagramLineItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setPen(pen());
    painter->drawLine(line());
    if (!isSelected() || m_SelectionPolygon.isEmpty())
        return;
    painter->setPen(QPen(QBrush(m_SelectionColor, Qt::SolidPattern), 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->drawPolygon(m_SelectionPolygon, Qt::OddEvenFill);
    painter->setPen(QPen(QBrush(Qt::black, Qt::SolidPattern), 1.0, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
    painter->drawPolygon(m_SelectionPolygon, Qt::OddEvenFill);
}
