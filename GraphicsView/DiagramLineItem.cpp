#include "DiagramLineItem.h"

#include "DiagramItemSupport.h"

#include <QPainter>
#include <cmath>

DiagramLineItem::DiagramLineItem(const QLineF &line, QMenu *contextMenu, QGraphicsItem *parent)
    : QGraphicsLineItem(line, parent)
    , m_ContextMenu(contextMenu)
{
    setFlag(ItemIsMovable, true);
    setFlag(ItemSendsGeometryChanges, true);
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

QVariant DiagramLineItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged && scene())
        emit selectedChange(this);
    if (change != ItemPositionChange)
        return QGraphicsLineItem::itemChange(change, value);
    // The limit applies to the plain line, so the band may reach past the image edge.
    m_bPositionChange = true;
    const QRectF bounds = sceneBoundingRect();
    m_bPositionChange = false;
    const QPointF limited = limitedItemPosition(this, value.toPointF(), bounds);
    emit positionChange(this);
    return limited;
}

void DiagramLineItem::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    runItemContextMenu(this, this, m_ContextMenu, event);
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
