#include "ExceptionHandler.h"

#include "CrashExceptions.h"

#include <cstdlib>
#include <exception>

ExceptionHandler::ExceptionHandler()
{
    static SingleTonHandler s_objHandler;
}

ExceptionHandler::SingleTonHandler::SingleTonHandler()
{
    std::set_terminate(Handler);
}

void ExceptionHandler::SingleTonHandler::Handler()
{
    const char *name = "Unknown Exception";
    try {
        if (std::exception_ptr current = std::current_exception())
            std::rethrow_exception(current);
    } catch (const SegmentationFault &) {
        name = SegmentationFault::kName;
    } catch (const FloatingPointException &) {
        name = FloatingPointException::kName;
    } catch (const IllegalInstructionException &) {
        name = IllegalInstructionException::kName;
    } catch (const TrapException &) {
        name = TrapException::kName;
    } catch (...) {
    }
    ExceptionTracer::writeOut(name);
    ExceptionTracer::writeOut("\n");
    std::abort();
}
