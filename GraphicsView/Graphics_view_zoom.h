#pragma once
#include <QObject>
#include <QPointF>

class QGraphicsView;

// Wheel zoom of a graphics view: an event filter on its viewport that turns vertical wheel steps
// into zoom steps about the point under the mouse, within a range of steps, and can ask for fit
// one step below the lowest. Every step is reported by zoomed().
class Graphics_view_zoom : public QObject
{
    Q_OBJECT
public:
    explicit Graphics_view_zoom(QGraphicsView *view);

    void gentle_zoom(double factor);
    void set_modifiers(Qt::KeyboardModifiers modifiers);
    void set_zoom_step(int lowest, int highest);
    void set_current_zoom_step(int step);
    int get_current_zoom_step() const { return current_zoom_step; }

    bool zoom_fit_enabled = false; // a step down at step 0 asks for fit

signals:
    // The change of the view's horizontal scale and the scene point it was made about;
    // (0.0, (0, 0)) asks for fit.
    void zoomed(double delta, QPointF scenePoint);

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QGraphicsView *view;
    Qt::KeyboardModifiers modifiers = Qt::ControlModifier;
    double zoom_factor_base = 1.002;
    int min_zoom_step = -5;
    int max_zoom_step = 5;
    int current_zoom_step = 0;
    QPointF anchor_scene_pos;
    QPointF anchor_viewport_pos;
};
