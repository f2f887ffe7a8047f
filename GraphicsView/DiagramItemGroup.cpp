#include "DiagramItemGroup.h"

#include "DiagramItemSupport.h"

#include <QGraphicsScene>
#include <QGraphicsSceneContextMenuEvent>
#include <QMenu>

DiagramItemGroup::DiagramItemGroup(QMenu *contextMenu, QGraphicsItem *parent)
    : QGraphicsItemGroup(parent)
    , m_ContextMenu(contextMenu)
{
    setFlag(ItemIsMovable, true);
    setFlag(ItemSendsGeometryChanges, true);
}

void DiagramItemGroup::addItemListToGroup(const QList<QGraphicsItem *> &items)
{
    for (QGraphicsItem *item : items) {
        if (!item || m_GroupItems.contains(item))
            continue;
        m_GroupItems.insert(item);
        addToGroup(item);
    }
}

void DiagramItemGroup::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    if (m_ContextMenu)
        m_ContextMenu->exec(event->screenPos());
}

QVariant DiagramItemGroup::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change != ItemPositionChange)
        return QGraphicsItemGroup::itemChange(change, value);
    if (scene())
        scene()->clearSelection();
    return limitedItemPosition(this, value.toPointF(), sceneBoundingRect());
}
