#pragma once
#include "DiagramShapeItem.h"

#include <QGraphicsLineItem>

// A straight annotation line. Once finished it carries a 40-wide selection band along it that is
// its hit area, its bounding rectangle and, while selected, its marking (white outline, black dots).
class DiagramLineItem : public DiagramShapeItem<QGraphicsLineItem, QGraphicsItem::UserType + 6>
{
public:
    DiagramLineItem(const QLineF &line, QMenu *contextMenu, QGraphicsItem *parent = nullptr);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    // Builds the band from the current line; nothing else rebuilds it.
    void createSelectionPolygon();
    const QPolygonF &selectionPolygon() const { return m_SelectionPolygon; }

protected:
    // The plain line's rectangle: the band may reach past the image edge.
    QRectF limitBounds() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget = nullptr) override;

private:
    bool hasBand() const { return m_SelectionPolygon.size() >= 4 && !m_bPositionChange; }

    const QColor m_LineColor = Qt::red;
    const int m_LineWidth = 1;
    const QColor m_SelectionColor = Qt::white;
    const float m_SelectionOffset = 20.0f; // half the band's width
    QPolygonF m_SelectionPolygon;
    mutable bool m_bPositionChange = false; // a position change is being decided: plain line geometry
};
