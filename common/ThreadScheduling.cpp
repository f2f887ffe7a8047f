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
    // Asked once a thread: nothing raises a thread that has left (or never had) real time, so
    // the loops of every later frame cost no system call.
    thread_local bool normal = false;
    if (normal)
        return;
    const sched_param params{};
    if (isRealTime() && sched_setscheduler(0, SCHED_OTHER, &params) != 0) {
        qWarning() << "A thread could not leave real-time scheduling:" << std::strerror(errno);
        return;
    }
    normal = true;
}

bool isRealTime(pid_t thread)
{
    const int policy = policyOf(thread);
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

} // namespace ThreadScheduling
