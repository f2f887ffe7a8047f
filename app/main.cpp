#include "ControlWidget.h"
#include "CrashExceptions.h"
#include "DisplayLossWatch.h"
#include "ExceptionHandler.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "QtParallelBackend.h"
#include "ShowLogDlg.h"
#include "SignalTranslator.h"
#include "SimSandbox.h"
#include "SimStorage.h"
#include "SimulatedInstrument.h"
#include "SimulatedSystemActions.h"
#include "StartOptions.h"
#include "TerminationWatch.h"

#include <QApplication>
#include <QDebug>

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

// Crash logging, installed before main runs.
SignalTranslator<SegmentationFault> g_objSegmentationFaultTranslator;
SignalTranslator<FloatingPointException> g_objFloatingPointExceptionTranslator;
SignalTranslator<IllegalInstructionException> g_objIllegalInstructionExceptionTranslator;
SignalTranslator<TrapException> g_objTrapExceptionTranslator;
ExceptionHandler g_objExceptionHandler;

namespace {

// Off the instrument: the sandbox with its storage, the board on a pseudo-terminal and the
// camera behind the camera transport, all made before the window opens the link and the camera.
std::unique_ptr<SimulatedInstrument> startSimulation()
{
    if (!SimSandbox::seed())
        qWarning() << "The simulated instrument's folder" << Paths::root() << "could not be prepared";
    QString error;
    if (!SimStorage::install(&error))
        qWarning().noquote() << "Simulated storage:" << error;
    QStringList warnings;
    SimulatedInstrument::Options options = SimulatedInstrument::Options::fromEnvironment(&warnings);
    options.keepLog = false; // the application runs for hours: nobody reads the board's or the camera's log
    auto sim = std::make_unique<SimulatedInstrument>(options);
    for (const QString &warning : warnings)
        qWarning().noquote() << warning;
    if (!sim->start(&error))
        qWarning().noquote() << "The simulated controller board could not be started:" << error;
    else if (!sim->startHand(&error))
        qWarning().noquote() << "vantor-sim-hand cannot reach this run:" << error;
    // Power-off, restart and exit to the shell are only recorded here: say which one ended the run.
    if (auto *actions = dynamic_cast<SimulatedSystemActions *>(&SystemActions::instance()))
        actions->setExitHook([actions](int code) {
            const QStringList calls = actions->calls();
            qInfo().noquote() << "Simulated instrument:" << (calls.isEmpty() ? QString() : calls.last())
                              << "(recorded, not carried out); the application ends with status" << code;
            std::fflush(nullptr);
            std::exit(code);
        });
    return sim;
}

} // namespace

int main(int argc, char **argv)
{
    // Off the instrument every fixed path lies below the sandbox root: a root that is the host's
    // own would let a simulated update or backup write into the host.
    if (!Paths::isInstrument()) {
        const QString refusal = Paths::sandboxRefusal();
        if (!refusal.isEmpty()) {
            std::fprintf(stderr, "vantor: %s\n", qPrintable(refusal));
            return 1;
        }
    }
    XInitThreads();
    QApplication app(argc, argv);
    QtParallelBackend::install();

    std::unique_ptr<SimulatedInstrument> simulation;
    if (!Paths::isInstrument())
        simulation = startSimulation();
    ExceptionTracer::prepare();
    ControlWidget::setSerialPortName(SimulatedInstrument::serialDevice());
    ControlWidget::setLogViewerFactory([] { return new ShowLogDlg(nullptr); });

    const StartOptions options = StartOptions::fromArguments(argc, argv);
    for (const QString &message : options.messages)
        qDebug().noquote() << message;

    // SIGTERM and SIGINT leave the event loop; the window's teardown then stops the camera and
    // closes the serial port, which removes its lock file.
    // A signal during a start-up dialog ends that dialog's loop; the main loop is then skipped.
    TerminationWatch termination;
    bool terminated = false;
    QObject::connect(&termination, &TerminationWatch::terminationRequested, &app, [&terminated](int signal) {
        qInfo().noquote() << "Ending on signal" << signal;
        terminated = true;
        QApplication::exit(0);
    });

    SweepPrivateProfileLeftovers(Paths::configFile().toStdString());
    // A lost display cannot end the run through the window: the instrument is released here and
    // the process ends with status 1. Watched from before the window is built, which opens the
    // serial port and the camera.
    NIMBODlg *window = nullptr;
    DisplayLossWatch::install([&window, &simulation] {
        if (window)
            window->releaseInstrument();
        simulation.reset();
    });
    int status = 0;
    {
        NIMBODlg dialog(options.menu, options.mode);
        window = &dialog;
        dialog.show();
        if (!terminated)
            status = app.exec();
        window = nullptr;
    }
    DisplayLossWatch::install({});
    simulation.reset();
    std::fflush(nullptr);
    return status;
}
