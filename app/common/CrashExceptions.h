#pragma once
#include "ExceptionTracer.h"

#include <csignal>
#include <exception>

// The four fatal processor signals as exception classes; constructing one logs the crash.
class SegmentationFault : public ExceptionTracer, public std::exception
{
public:
    static constexpr int kSignal = SIGSEGV;
    static constexpr const char *kName = "SegmentationFault";
};

class FloatingPointException : public ExceptionTracer, public std::exception
{
public:
    static constexpr int kSignal = SIGFPE;
    static constexpr const char *kName = "FloatingPointException";
};

class IllegalInstructionException : public ExceptionTracer, public std::exception
{
public:
    static constexpr int kSignal = SIGILL;
    static constexpr const char *kName = "IllegalInstructionException";
};

class TrapException : public ExceptionTracer, public std::exception
{
public:
    static constexpr int kSignal = SIGTRAP;
    static constexpr const char *kName = "TrapException";
};
