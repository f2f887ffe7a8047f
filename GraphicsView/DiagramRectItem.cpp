#include "DiagramRectItem.h"

#include "DiagramItemSupport.h"

DiagramRectItem::DiagramRectItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent)
    : QGraphicsRectItem(rect, parent)
    , m_ContextMenu(contextMenu)
{
    setFlag(ItemIsMovable, true);
    setFlag(ItemSendsGeometryChanges, true);
}

QVariant DiagramRectItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged && scene())
        emit selectedChange(this);
    if (change != ItemPositionChange)
        return QGraphicsRectItem::itemChange(change, value);
    const QPointF limited = limitedItemPosition(this, value.toPointF(), sceneBoundingRect());
    emit positionChange(this);
    return limited;
}

void DiagramRectItem::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    runItemContextMenu(this, this, m_ContextMenu, event);
}
