#include "DiagramItemSupport.h"

#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsSceneContextMenuEvent>
#include <QMenu>
#include <QPointer>

QPointF limitedItemPosition(const QGraphicsItem *item, QPointF p, const QRectF &bounds)
{
    if (!item->scene())
        return p;
    const QRectF s = item->scene()->sceneRect();
    if (!bounds.intersects(s))
        return p;
    const QPointF o = item->mapFromParent(bounds.topLeft());
    p.setX(qMax(p.x(), s.left() - o.x()));
    p.setX(qMin(p.x(), s.left() + s.width() - o.x() - bounds.width()));
    p.setY(qMax(p.y(), s.top() - o.y()));
    p.setY(qMin(p.y(), s.top() + s.height() - o.y() - bounds.height()));
    return p;
}

void runItemContextMenu(QGraphicsItem *item, QObject *guard, QMenu *menu, QGraphicsSceneContextMenuEvent *event)
{
    event->accept();
    if (!menu)
        return;
    if (item->scene())
        item->scene()->clearSelection();
    const bool selectable = item->flags() & QGraphicsItem::ItemIsSelectable;
    if (!selectable)
        item->setFlag(QGraphicsItem::ItemIsSelectable, true);
    item->setSelected(true);
    QPointer<QObject> alive(guard);
    menu->exec(event->screenPos());
    if (alive && !selectable)
        item->setFlag(QGraphicsItem::ItemIsSelectable, false);
}
