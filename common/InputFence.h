#pragma once
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <cstdint>
#include <functional>

class QWidget;

// While the interface thread waits (a long still, the first frame of live video) nobody answers a
// tap: it waits in the window system's queues and would land afterwards on whatever control has
// taken its place by then. Around such a wait, input made during it reaches only a control that
// could take it, at the same place, when the wait began; input on any other control (one shown,
// enabled or moved there since) is dropped as it arrives, however late. Input made before or
// after the wait is untouched.
//
// Input is told apart by the window system's time stamp: on X11 the X server's time, read by a
// round trip at each end of the wait, so that taps still queued anywhere between the server and
// the widgets are caught. Elsewhere there is no such clock and nothing is dropped, unless a clock
// is set.
//
// Likewise the second tap of a quick double tap (a double click) reaches only the control that the
// first one reached: LIVE tapped twice never takes a still on the CAPTURE that the first tap put
// in its place.
class InputFence : public QObject
{
public:
    // Watches the input from now on (hold does it too).
    static void install();
    // The wait begins: the controls that can take input now are noted.
    static void hold();
    // The wait ends: from now on input made during it is let through to those controls only.
    static void release();

    // The clock of the time stamps the window system gives its input events (ms, wrapping at
    // 2^32); none restores the default (the X server's time on X11). For tests that send stamped
    // events.
    static void setClock(std::function<uint32_t()> clock);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
    static InputFence *instance();
    bool readClock(uint32_t *nowMs) const;
    bool couldTakeInput(QWidget *widget) const;

    struct Noted
    {
        QPointer<QWidget> widget;
        QRect placeOnScreen;
    };
    std::function<uint32_t()> m_clock;
    // Noted by a hold not yet released: when it began and the controls usable then.
    bool m_holding = false;
    uint32_t m_heldFromMs = 0;
    QHash<const QWidget *, Noted> m_held;
    // The fence in force: input made from one moment to another reaches only these controls.
    bool m_fenced = false;
    uint32_t m_fromMs = 0;
    uint32_t m_toMs = 0;
    QHash<const QWidget *, Noted> m_usable;
    QPointer<QWidget> m_lastPressed; // the control the last tap reached
    bool m_nextIsControl = false;
};
