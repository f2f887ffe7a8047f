#pragma once
#include <QObject>

class QGraphicsItem;

// The signals of the line, rectangle, ellipse and path items, each carrying the item itself:
// selection changed, and a position change about to be made (the item still at its old place).
class DiagramItemSignals : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void selectedChange(QGraphicsItem *item);
    void positionChange(QGraphicsItem *item);
};
