#include "ThreadScheduling.h"

#include <QDebug>
#include <cerrno>
#include <cstring>
#include <sched.h>

namespace ThreadScheduling {

namespace {
int policyOf(pid_t thread)
{
    const int policy = sched_getscheduler(thread);
    return policy < 0 ? policy : policy & ~SCHED_RESET_ON_FORK;
}
} // namespace

bool keepCreatedThreadsNormal()
{
    const int policy = policyOf(0);
    sched_param params{};
    if ((policy != SCHED_FIFO && policy != SCHED_RR) || sched_getparam(0, &params) != 0)
        return false;
    if (sched_setscheduler(0, policy | SCHED_RESET_ON_FORK, &params) == 0)
        return true;
    qWarning() << "Threads created by a real-time thread keep its scheduling:" << std::strerror(errno);
    return false;
}

void leaveRealTime()
{
    if (!isRealTime())
        return;
    const sched_param params{};
    if (sched_setscheduler(0, SCHED_OTHER, &params) != 0)
        qWarning() << "A thread could not leave real-time scheduling:" << std::strerror(errno);
}

bool isRealTime(pid_t thread)
{
    const int policy = policyOf(thread);
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

} // namespace ThreadScheduling
