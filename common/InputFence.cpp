#include "InputFence.h"

#include "MonotonicClock.h"

#include <QDebug>
#include <QApplication>
#include <QInputEvent>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
// Xlib's names for event types hide Qt's.
#undef KeyPress
#undef KeyRelease

#include <algorithm>
#include <poll.h>

namespace {
constexpr int kServerAnswerMs = 1000;

// The X server's time (ms), by a round trip on a connection of our own: a property appended to a
// window of ours comes back as a notice stamped with the server's time, and every input event
// the server stamped before it carries a time no later. False when the server does not answer.
bool xServerTimeMs(uint32_t *timeMs)
{
    static Display *display = nullptr;
    static Window window = 0;
    static Atom atom = 0;
    if (!display) {
        display = XOpenDisplay(nullptr);
        if (!display)
            return false;
        XSetWindowAttributes attributes{};
        attributes.event_mask = PropertyChangeMask;
        window = XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent,
                               CWEventMask, &attributes);
        atom = XInternAtom(display, "_VANTOR_INPUT_FENCE", False);
    }
    XChangeProperty(display, window, atom, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
    XFlush(display);
    const int64_t deadline = MonotonicClock::nowMs() + kServerAnswerMs;
    XEvent event;
    while (!XCheckTypedWindowEvent(display, window, PropertyNotify, &event)) {
        const int64_t left = deadline - MonotonicClock::nowMs();
        if (left <= 0)
            return false;
        pollfd readable{ConnectionNumber(display), POLLIN, 0};
        poll(&readable, 1, int(std::min<int64_t>(left, 100)));
    }
    *timeMs = uint32_t(event.xproperty.time);
    return true;
}

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

QRect placeOnScreen(const QWidget *widget)
{
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}
} // namespace

void InputFence::install()
{
    instance();
}

InputFence *InputFence::instance()
{
    static QPointer<InputFence> fence;
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!fence && app) {
        fence = new InputFence(app);
        app->installEventFilter(fence);
    }
    return fence;
}

bool InputFence::readClock(uint32_t *nowMs) const
{
    if (m_clock) {
        *nowMs = m_clock();
        return true;
    }
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    if (xServerTimeMs(nowMs))
        return true;
    qWarning() << "Input: the X server did not tell its time; taps made while waiting are delivered";
    return false;
}

void InputFence::hold()
{
    InputFence *fence = instance();
    if (!fence)
        return;
    fence->m_held.clear();
    fence->m_holding = fence->readClock(&fence->m_heldFromMs);
    if (!fence->m_holding)
        return;
    for (QWidget *widget : QApplication::allWidgets())
        if (widget->isVisible() && widget->isEnabled())
            fence->m_held.insert(widget, {widget, placeOnScreen(widget)});
}

void InputFence::release()
{
    InputFence *fence = instance();
    if (!fence || !fence->m_holding || !fence->readClock(&fence->m_toMs))
        return;
    fence->m_holding = false;
    fence->m_fromMs = fence->m_heldFromMs;
    fence->m_usable = std::move(fence->m_held);
    fence->m_held.clear();
    fence->m_fenced = true;
}

void InputFence::setClock(std::function<uint32_t()> clock)
{
    if (InputFence *fence = instance()) {
        fence->m_clock = std::move(clock);
        fence->m_fenced = fence->m_holding = false;
    }
}

bool InputFence::couldTakeInput(QWidget *widget) const
{
    const auto noted = m_usable.constFind(widget);
    return noted != m_usable.constEnd() && noted->widget == widget && noted->placeOnScreen == placeOnScreen(widget);
}

bool InputFence::eventFilter(QObject *watched, QEvent *event)
{
    const bool press = event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    if (press && event->spontaneous()) {
        // A press reaches its window first, then the control under it, then maybe its parents.
        if (!watched->isWidgetType()) {
            m_nextIsControl = true;
        } else if (m_nextIsControl) {
            m_nextIsControl = false;
            auto *control = static_cast<QWidget *>(watched);
            // The second tap of a double tap goes to the control the first one reached, or nowhere.
            if (event->type() == QEvent::MouseButtonDblClick && control != m_lastPressed)
                return true;
            m_lastPressed = control;
        }
    }
    // Only the window system's input is fenced (never events the program sends itself), as the
    // widgets get it.
    if (m_fenced && event->spontaneous() && isUserInput(event->type())) {
        if (auto *widget = qobject_cast<QWidget *>(watched)) {
            const auto stampMs = uint32_t(static_cast<QInputEvent *>(event)->timestamp());
            const bool madeDuringWait = int32_t(stampMs - m_fromMs) >= 0 && int32_t(stampMs - m_toMs) <= 0;
            if (madeDuringWait && !couldTakeInput(widget))
                return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
