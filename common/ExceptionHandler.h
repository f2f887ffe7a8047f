#pragma once

// Installs, once per process, the terminate handler: it names the exception that ended the
// program ("SegmentationFault", ..., or "Unknown Exception") on standard output and aborts.
class ExceptionHandler
{
public:
    ExceptionHandler();

    class SingleTonHandler
    {
    public:
        SingleTonHandler();
        static void Handler();
    };
};
