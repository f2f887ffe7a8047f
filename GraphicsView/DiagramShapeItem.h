#pragma once
#include "DiagramItemSignals.h"
#include "DiagramItemSupport.h"

#include <QGraphicsItem>

class QMenu;

// What the line, rectangle, ellipse and path items share over their Qt item: a type number of
// their own, the context menu of their creator (not owned), movability with the move limit, and
// the signals of DiagramItemSignals. No item sets ItemIsSelectable or a Z value itself.
template <class QtItem, int ItemType>
class DiagramShapeItem : public DiagramItemSignals, public QtItem
{
public:
    enum { Type = ItemType };

    template <class Geometry>
    DiagramShapeItem(const Geometry &geometry, QMenu *contextMenu, QGraphicsItem *parent)
        : QtItem(geometry, parent)
        , m_ContextMenu(contextMenu)
    {
        this->setFlag(QGraphicsItem::ItemIsMovable, true);
        this->setFlag(QGraphicsItem::ItemSendsGeometryChanges, true);
    }

    int type() const override { return Type; }

protected:
    // The scene rectangle the move limit keeps inside the image.
    virtual QRectF limitBounds() const { return this->sceneBoundingRect(); }

    QVariant itemChange(QGraphicsItem::GraphicsItemChange change, const QVariant &value) override
    {
        if (change == QGraphicsItem::ItemSelectedHasChanged && this->scene())
            emit selectedChange(this);
        if (change != QGraphicsItem::ItemPositionChange)
            return QtItem::itemChange(change, value);
        const QPointF limited = limitedItemPosition(this, value.toPointF(), limitBounds());
        emit positionChange(this);
        return limited;
    }

    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override
    {
        runItemContextMenu(this, this, m_ContextMenu, event);
    }

private:
    QMenu *const m_ContextMenu;
};
