#pragma once
#include "DiagramShapeItem.h"

#include <QGraphicsRectItem>

// An annotation rectangle.
class DiagramRectItem : public DiagramShapeItem<QGraphicsRectItem, QGraphicsItem::UserType + 3>
{
public:
    DiagramRectItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent = nullptr);
};
