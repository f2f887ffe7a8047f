#include "StageSettleWatch.h"

#include "Controller.h"

StageSettleWatch::StageSettleWatch(Controller &controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
    m_askTimer.setSingleShot(true);
    m_deadline.setSingleShot(true);
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &StageSettleWatch::silent);
    connect(&m_askTimer, &QTimer::timeout, this, &StageSettleWatch::ask);
    connect(&m_deadline, &QTimer::timeout, this, &StageSettleWatch::timedOut);
    connect(&m_controller, &Controller::signalCurrentMotorPosition, this, &StageSettleWatch::reading);
}

void StageSettleWatch::start(Done done, bool askFirst, int timeoutMs)
{
    m_done = std::move(done);
    m_last.reset();
    m_active = true;
    m_deadline.start(timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs);
    m_silence.start(kSilenceMs);
    if (askFirst)
        m_askTimer.start(kAskIntervalMs);
}

void StageSettleWatch::cancel()
{
    m_active = false;
    m_askTimer.stop();
    m_deadline.stop();
    m_silence.stop();
    m_done = nullptr;
}

void StageSettleWatch::ask()
{
    if (m_active)
        m_controller.setZCommand(QStringLiteral("Z POS"));
}

void StageSettleWatch::reading(int position)
{
    if (!m_active)
        return;
    if (m_last && *m_last == position) {
        finish(position);
        return;
    }
    m_last = position;
    m_silence.start(kSilenceMs);
    m_askTimer.start(kAskIntervalMs);
}

void StageSettleWatch::timedOut()
{
    if (m_active)
        finish(std::nullopt);
}

// A board that answers its moves at their end is silent while the stage travels.
void StageSettleWatch::silent()
{
    if (m_active && m_controller.isAwaitingMoveReply())
        m_silence.start(kSilenceMs);
    else
        timedOut();
}

void StageSettleWatch::finish(std::optional<int> position)
{
    Done done = std::move(m_done);
    cancel();
    if (done)
        done(position);
}
