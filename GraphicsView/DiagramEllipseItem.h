#pragma once
#include "DiagramShapeItem.h"

#include <QGraphicsEllipseItem>

// An annotation ellipse, or a circle-count marker.
class DiagramEllipseItem : public DiagramShapeItem<QGraphicsEllipseItem, QGraphicsItem::UserType + 4>
{
public:
    DiagramEllipseItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent = nullptr);
    DiagramEllipseItem(float x, float y, float w, float h, QMenu *contextMenu, QGraphicsItem *parent = nullptr);

    int m_MeasurementTool = 0; // the TMeasurementTool it was drawn with
};
