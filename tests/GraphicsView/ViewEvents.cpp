#include "ViewEvents.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

namespace {
Qt::MouseButtons g_Held;
}

void mouse(QWidget *target, QEvent::Type type, QPoint pos, Qt::MouseButton button)
{
    if (type == QEvent::MouseButtonPress)
        g_Held |= button;
    else if (type == QEvent::MouseButtonRelease)
        g_Held &= ~button;
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, g_Held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

bool wheel(QWidget *target, QPoint pos, QPoint angle, Qt::KeyboardModifiers modifiers)
{
    QWheelEvent event(pos, target->mapToGlobal(pos), QPoint(), angle, g_Held, modifiers, Qt::NoScrollPhase, false);
    event.setAccepted(false);
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}
