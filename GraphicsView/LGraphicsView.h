#pragma once
#include "Navigation.h"
#include "TSScaleBar.h"

#include <QGraphicsView>

// Base of the zoomable image views: image and overlay items, the navigator record and the scale
// bar.
class LGraphicsView : public QGraphicsView
{
    Q_OBJECT
public:
    explicit LGraphicsView(QWidget *parent = nullptr);

    // Takes the image and overlay items out of the scene.
    void clearImageData();
    // Navigator display size (the viewport's where a value is not positive); position back to 0, 0.
    void initNavigation(int width, int height);
    void getNavigation(Navigation &navigation);
    void setScaleBar(TSScaleBar scaleBar);
    // The scale bar's scene position; the point is left as it is while no bar is drawn.
    void getScaleBarPoint(QPointF &point);

protected:
    QSize m_NavigationDisplaySize;
    QPointF m_NavigationPosition;
};
