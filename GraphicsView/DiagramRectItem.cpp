#include "DiagramRectItem.h"

DiagramRectItem::DiagramRectItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent)
    : DiagramShapeItem(rect, contextMenu, parent)
{
}
