#pragma once
#include <QGraphicsItemGroup>
#include <QSet>

class QMenu;

// A group of items dragged as one (the scale bar). Dragging it clears the scene's selection and
// keeps it inside the scene rectangle.
class DiagramItemGroup : public QGraphicsItemGroup
{
public:
    enum { Type = UserType + 10 };

    explicit DiagramItemGroup(QMenu *contextMenu, QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }
    // Adds each item of the list once, however often it is listed or offered again.
    void addItemListToGroup(const QList<QGraphicsItem *> &items);

protected:
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

private:
    QMenu *const m_ContextMenu;
    QSet<QGraphicsItem *> m_GroupItems; // members, owned as Qt children
};
