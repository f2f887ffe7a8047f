#include "DiagramPathItem.h"

DiagramPathItem::DiagramPathItem(const QPainterPath &path, QMenu *contextMenu, QGraphicsItem *parent)
    : DiagramShapeItem(path, contextMenu, parent)
{
}
