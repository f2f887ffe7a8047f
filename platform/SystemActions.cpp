#include "SystemActions.h"

#include "Paths.h"
#include "RealSystemActions.h"
#include "SimulatedSystemActions.h"

#include <atomic>

namespace {
std::atomic<SystemActions *> g_override{nullptr};
}

SystemActions &SystemActions::instance()
{
    if (SystemActions *actions = g_override.load())
        return *actions;
    if (Paths::isInstrument()) {
        static RealSystemActions real;
        return real;
    }
    static SimulatedSystemActions simulated;
    return simulated;
}

void SystemActions::setInstance(SystemActions *actions)
{
    g_override.store(actions);
}
