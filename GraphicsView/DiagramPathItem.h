#pragma once
#include <QGraphicsPathItem>
#include <QObject>

class QMenu;

// An annotation path: angle, segment line, free-hand stroke, polygon or multi-count cross.
class DiagramPathItem : public QObject, public QGraphicsPathItem
{
    Q_OBJECT
public:
    enum { Type = UserType + 2 };

    DiagramPathItem(const QPainterPath &path, QMenu *contextMenu, QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }

    int m_MeasurementTool = 0; // the TMeasurementTool it was drawn with

signals:
    void selectedChange(QGraphicsItem *item);
    void positionChange(QGraphicsItem *item);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;

private:
    QMenu *const m_ContextMenu;
};
