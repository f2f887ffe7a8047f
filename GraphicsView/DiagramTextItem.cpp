#include "DiagramTextItem.h"

#include "DiagramItemSupport.h"

#include <QTextBlockFormat>
#include <QTextCursor>

DiagramTextItem::DiagramTextItem(QMenu *contextMenu, QGraphicsItem *parent)
    : QGraphicsTextItem(parent)
    , m_ContextMenu(contextMenu)
{
    setFlag(ItemIsMovable, true);
    setFlag(ItemSendsGeometryChanges, true);
    setTextInteractionFlags(Qt::NoTextInteraction); // also clears ItemIsFocusable
}

void DiagramTextItem::setAlignment(Qt::Alignment alignment)
{
    QTextBlockFormat format;
    format.setAlignment(alignment);
    QTextCursor cursor = textCursor();
    const int position = cursor.position();
    cursor.select(QTextCursor::Document);
    cursor.mergeBlockFormat(format);
    cursor.clearSelection();
    cursor.setPosition(position, QTextCursor::MoveAnchor);
    setTextCursor(cursor);
}

void DiagramTextItem::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    runItemContextMenu(this, this, m_ContextMenu, event);
}

void DiagramTextItem::focusOutEvent(QFocusEvent *event)
{
    setTextInteractionFlags(Qt::NoTextInteraction);
    emit lostFocus(this);
    QGraphicsTextItem::focusOutEvent(event);
}

QVariant DiagramTextItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged)
        emit selectedChange(this);
    if (change == ItemPositionChange)
        return limitedItemPosition(this, value.toPointF(), sceneBoundingRect());
    return QGraphicsTextItem::itemChange(change, value);
}
