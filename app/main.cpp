#include "CrashExceptions.h"
#include "ExceptionHandler.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SignalTranslator.h"
#include "SimSandbox.h"
#include "StartOptions.h"

#include <QApplication>
#include <QDebug>

#include <X11/Xlib.h>

// Crash logging, installed before main runs.
SignalTranslator<SegmentationFault> g_objSegmentationFaultTranslator;
SignalTranslator<FloatingPointException> g_objFloatingPointExceptionTranslator;
SignalTranslator<IllegalInstructionException> g_objIllegalInstructionExceptionTranslator;
SignalTranslator<TrapException> g_objTrapExceptionTranslator;
ExceptionHandler g_objExceptionHandler;

int main(int argc, char **argv)
{
    XInitThreads();
    QApplication app(argc, argv);

    if (!Paths::isInstrument() && !SimSandbox::seed())
        qWarning() << "The simulated instrument's folder" << Paths::root() << "could not be prepared";
    ExceptionTracer::prepare();

    const StartOptions options = StartOptions::fromArguments(argc, argv);
    for (const QString &message : options.messages)
        qDebug().noquote() << message;

    NIMBODlg dialog(options.menu, options.mode);
    dialog.show();
    return app.exec();
}
