#pragma once
#include "ExceptionTracer.h"

#include <csignal>
#include <cstdlib>

// Installs, once per exception class, a handler for that class's signal. The handler logs the
// crash by constructing the exception (on the stack: nothing is allocated inside a signal
// handler), names it on standard output and aborts. It never throws: unwinding out of a signal
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
            std::signal(TException::kSignal, SignalHandler);
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
