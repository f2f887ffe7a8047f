#include "DiagramPathItem.h"

#include "DiagramItemSupport.h"

DiagramPathItem::DiagramPathItem(const QPainterPath &path, QMenu *contextMenu, QGraphicsItem *parent)
    : QGraphicsPathItem(path, parent)
    , m_ContextMenu(contextMenu)
{
    setFlag(ItemIsMovable, true);
    setFlag(ItemSendsGeometryChanges, true);
}

QVariant DiagramPathItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged && scene())
        emit selectedChange(this);
    if (change != ItemPositionChange)
        return QGraphicsPathItem::itemChange(change, value);
    const QPointF limited = limitedItemPosition(this, value.toPointF(), sceneBoundingRect());
    emit positionChange(this);
    return limited;
}

void DiagramPathItem::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    runItemContextMenu(this, this, m_ContextMenu, event);
}
