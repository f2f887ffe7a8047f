#include "DiagramEllipseItem.h"

DiagramEllipseItem::DiagramEllipseItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent)
    : DiagramShapeItem(rect, contextMenu, parent)
{
}

DiagramEllipseItem::DiagramEllipseItem(float x, float y, float w, float h, QMenu *contextMenu, QGraphicsItem *parent)
    : DiagramShapeItem(QRectF(x, y, w, h), contextMenu, parent)
{
}
