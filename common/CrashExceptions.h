#pragma once
#include "ExceptionTracer.h"

#include <csignal>
#include <exception>

// The four fatal processor signals as exception classes; constructing one logs the crash.
template <int Signal>
class CrashException : public ExceptionTracer, public std::exception
{
public:
    static constexpr int kSignal = Signal;
};

class SegmentationFault : public CrashException<SIGSEGV>
{
public:
    static constexpr const char *kName = "SegmentationFault";
};

class FloatingPointException : public CrashException<SIGFPE>
{
public:
    static constexpr const char *kName = "FloatingPointException";
};

class IllegalInstructionException : public CrashException<SIGILL>
{
public:
    static constexpr const char *kName = "IllegalInstructionException";
};

class TrapException : public CrashException<SIGTRAP>
{
public:
    static constexpr const char *kName = "TrapException";
};
