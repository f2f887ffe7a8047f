#pragma once
#include "DiagramShapeItem.h"

#include <QGraphicsPathItem>

// An annotation path: angle, segment line, free-hand stroke, polygon or multi-count cross.
class DiagramPathItem : public DiagramShapeItem<QGraphicsPathItem, QGraphicsItem::UserType + 2>
{
public:
    DiagramPathItem(const QPainterPath &path, QMenu *contextMenu, QGraphicsItem *parent = nullptr);

    int m_MeasurementTool = 0; // the TMeasurementTool it was drawn with
};
