#pragma once
#include <QEvent>
#include <QPoint>

class QWidget;

// Mouse and wheel events sent straight to a widget (a view's viewport), with the held buttons
// tracked between calls as a real mouse would report them.
void mouse(QWidget *target, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::NoButton);
// Returns whether the event was accepted (consumed) by the widget or its filters.
bool wheel(QWidget *target, QPoint pos, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
