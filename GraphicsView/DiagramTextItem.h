#pragma once
#include <QGraphicsTextItem>

class QMenu;

// An annotation text. Never opened for in-place editing: its text comes from the on-screen
// keyboard or from its owner.
class DiagramTextItem : public QGraphicsTextItem
{
    Q_OBJECT
public:
    enum { Type = UserType + 8 };

    explicit DiagramTextItem(QMenu *contextMenu, QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }
    // Block alignment of the whole text; the cursor keeps its position.
    void setAlignment(Qt::Alignment alignment);

signals:
    void lostFocus(DiagramTextItem *item);
    void selectedChange(QGraphicsItem *item);

protected:
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

private:
    QMenu *const m_ContextMenu;
};
