#pragma once
#include <QMetaType>
#include <QPointF>
#include <QRectF>
#include <QSize>

// The part of a zoomed image that a view shows, as the navigator box draws it.
struct Navigation
{
    QSize displaySize;  // size of the navigator box in pixels
    QSizeF sceneSize;   // size of the whole image in scene units
    QRectF visibleRect; // the part of the scene shown in the view
    QPointF position;   // displayed position (top left of visibleRect)
    qreal zoom = 1.0;   // view pixels per scene unit
};

Q_DECLARE_METATYPE(Navigation)
