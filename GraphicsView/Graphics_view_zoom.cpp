#include "Graphics_view_zoom.h"

#include <QGraphicsView>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>

Graphics_view_zoom::Graphics_view_zoom(QGraphicsView *view)
    : QObject(view)
    , view(view)
{
    view->viewport()->installEventFilter(this);
    view->setMouseTracking(true);
}

void Graphics_view_zoom::set_modifiers(Qt::KeyboardModifiers m)
{
    modifiers = m;
}

void Graphics_view_zoom::set_zoom_step(int lowest, int highest)
{
    min_zoom_step = lowest;
    max_zoom_step = highest;
}

void Graphics_view_zoom::set_current_zoom_step(int step)
{
    current_zoom_step = step;
}

void Graphics_view_zoom::gentle_zoom(double factor)
{
    const double before = view->transform().m11();
    view->scale(factor, factor);
    const double delta = view->transform().m11() - before;
    view->centerOn(anchor_scene_pos);
    // Keep the anchor under the mouse as far as the scroll range allows.
    const QPointF offset = anchor_viewport_pos - QPointF(view->viewport()->width() / 2.0, view->viewport()->height() / 2.0);
    const QPointF centre = QPointF(view->mapFromScene(anchor_scene_pos)) - offset;
    view->centerOn(view->mapToScene(centre.toPoint()));
    emit zoomed(delta, anchor_scene_pos);
}

bool Graphics_view_zoom::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        const QPoint p = static_cast<QMouseEvent *>(event)->localPos().toPoint();
        if (std::abs(anchor_viewport_pos.x() - p.x()) > 5 || std::abs(anchor_viewport_pos.y() - p.y()) > 5) {
            anchor_viewport_pos = p;
            anchor_scene_pos = view->mapToScene(p);
        }
        return false;
    }
    if (event->type() != QEvent::Wheel)
        return false;
    auto *wheel = static_cast<QWheelEvent *>(event);
    const QPoint angle = wheel->angleDelta();
    // The modifiers held at the step, exactly; a vertical step has no horizontal part.
    if (wheel->modifiers() != modifiers || angle.y() == 0 || angle.x() != 0)
        return false;
    if (angle.y() < 0) {
        if (current_zoom_step > min_zoom_step) {
            --current_zoom_step;
        } else if (zoom_fit_enabled && min_zoom_step == 0 && current_zoom_step != -1) {
            emit zoomed(0.0, QPointF(0, 0));
            wheel->accept(); // consumed: no parent scrolls with it
            return true;
        } else {
            return false;
        }
    } else {
        if (current_zoom_step >= max_zoom_step)
            return false;
        ++current_zoom_step;
    }
    gentle_zoom(std::pow(float(zoom_factor_base), float(angle.y())));
    wheel->accept();
    return true;
}
