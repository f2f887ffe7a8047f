#pragma once
#include "ExceptionTracer.h"

#include <csignal>
#include <cstdlib>

// Installs, once per exception class, a handler for that class's signal. The handler runs on the
// alternate signal stack, so a stack overflow is logged too; it logs the crash by constructing the
// exception (nothing is allocated inside a signal handler), names it on standard output and aborts. It never throws: unwinding out of a signal
// handler is undefined and the state that faulted cannot be trusted.
template <class TException>
class SignalTranslator
{
public:
    SignalTranslator() { static SingleTonTranslator s_objTranslator; }

private:
    class SingleTonTranslator
    {
    public:
        SingleTonTranslator()
        {
            ExceptionTracer::prepare();
            ExceptionTracer::useAlternateStack();
            struct sigaction action = {};
            action.sa_handler = SignalHandler;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_ONSTACK;
            sigaction(TException::kSignal, &action, nullptr);
        }

        static void SignalHandler(int)
        {
            {
                TException exception;
            }
            ExceptionTracer::writeOut(TException::kName);
            ExceptionTracer::writeOut("\n");
            std::abort();
        }
    };
};
