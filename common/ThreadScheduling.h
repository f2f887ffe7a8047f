#pragma once
#include <sys/types.h>

// Real-time scheduling of the program's threads. Only the camera's capture thread runs real time.
// A thread inherits the scheduling of the thread that creates it, so the capture thread has the
// threads it creates reset to normal scheduling, and threads that others may create from a
// real-time thread (the workers of a pool) leave real time themselves.
namespace ThreadScheduling {

// For the calling real-time thread: the threads it creates from now on run with normal
// scheduling. False when it is not real time or the system refused.
bool keepCreatedThreadsNormal();
// The calling thread leaves real-time scheduling for normal scheduling, if it has it.
void leaveRealTime();
// Whether the thread (its system id; 0: the calling thread) runs with a real-time policy.
bool isRealTime(pid_t thread = 0);

} // namespace ThreadScheduling
