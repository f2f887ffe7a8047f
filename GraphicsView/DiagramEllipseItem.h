#pragma once
#include <QGraphicsEllipseItem>
#include <QObject>

class QMenu;

// An annotation ellipse, or a circle-count marker.
class DiagramEllipseItem : public QObject, public QGraphicsEllipseItem
{
    Q_OBJECT
public:
    enum { Type = UserType + 4 };

    DiagramEllipseItem(const QRectF &rect, QMenu *contextMenu, QGraphicsItem *parent = nullptr);
    DiagramEllipseItem(float x, float y, float w, float h, QMenu *contextMenu, QGraphicsItem *parent = nullptr);
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
