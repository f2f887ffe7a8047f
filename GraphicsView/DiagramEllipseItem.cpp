#include "DiagramEllipseItem.h"

#include "DiagramItemSupport.h"

DiagramEllipseItem::DiagramEllipseItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent)
    : QGraphicsEllipseItem(rect, parent)
    , m_ContextMenu(contextMenu)
{
    setFlag(ItemIsMovable, true);
    setFlag(ItemSendsGeometryChanges, true);
}

DiagramEllipseItem::DiagramEllipseItem(float x, float y, float w, float h, QMenu *contextMenu, QGraphicsItem *parent)
    : DiagramEllipseItem(QRectF(x, y, w, h), contextMenu, parent)
{
}

QVariant DiagramEllipseItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged && scene())
        emit selectedChange(this);
    if (change != ItemPositionChange)
        return QGraphicsEllipseItem::itemChange(change, value);
    const QPointF limited = limitedItemPosition(this, value.toPointF(), sceneBoundingRect());
    emit positionChange(this);
    return limited;
}

void DiagramEllipseItem::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    runItemContextMenu(this, this, m_ContextMenu, event);
}
