#pragma once
#include <QGraphicsRectItem>
#include <QObject>

class QMenu;

// An annotation rectangle.
class DiagramRectItem : public QObject, public QGraphicsRectItem
{
    Q_OBJECT
public:
    enum { Type = UserType + 3 };

    DiagramRectItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }

signals:
    void selectedChange(QGraphicsItem *item);
    void positionChange(QGraphicsItem *item);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;

private:
    QMenu *const m_ContextMenu;
};
