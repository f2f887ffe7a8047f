#pragma once
#include <QPointF>
#include <QRectF>

class QGraphicsItem;
class QGraphicsSceneContextMenuEvent;
class QMenu;
class QObject;

// What the annotation items share: the move limit and the context-menu road.

// The proposed position p of an item whose scene bounding rectangle is bounds, limited so that
// the rectangle stays inside the scene rectangle. An item in no scene, or one lying wholly
// outside the scene rectangle, takes p unchanged; an item larger than the scene is held at the
// upper limit.
QPointF limitedItemPosition(const QGraphicsItem *item, QPointF p, const QRectF &bounds);

// Shows an item's context menu at the event's screen position: the scene's selection is cleared
// and the item selected (made selectable for the length of the menu when it is not). Without a
// menu nothing happens; the event counts as handled either way. guard is the item as a QObject:
// nothing touches the item after the menu when something deleted it meanwhile.
void runItemContextMenu(QGraphicsItem *item, QObject *guard, QMenu *menu, QGraphicsSceneContextMenuEvent *event);
