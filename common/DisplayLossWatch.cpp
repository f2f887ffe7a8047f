#include "DisplayLossWatch.h"

#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>

#include <X11/Xlib.h>

#include <atomic>
#include <cstdio>
#include <pthread.h>
#include <unistd.h>

namespace {

std::function<void()> g_end;
QtMessageHandler g_previousHandler = nullptr;
std::atomic<bool> g_posted{false};
bool g_ending = false; // GUI thread only

void endOnGuiThread()
{
    if (g_ending) {
        // Lost again while the end runs: what is left cannot be released cleanly.
        std::fflush(nullptr);
        ::_exit(1);
    }
    g_ending = true;
    std::fprintf(stderr, "The connection to the display was lost: releasing the instrument and ending\n");
    if (g_end)
        g_end();
    std::fflush(nullptr);
    ::_exit(1);
}

void filterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    // Qt calls exit() right after this warning.
    if (message.startsWith(QLatin1String("The X11 connection broke")))
        DisplayLossWatch::displayLost();
}

int onIoError(Display *)
{
    DisplayLossWatch::displayLost();
    return 0; // not reached: returning would let Xlib exit
}

} // namespace

void DisplayLossWatch::install(std::function<void()> end)
{
    static bool installed = false;
    g_end = std::move(end);
    if (installed)
        return;
    installed = true;
    g_previousHandler = qInstallMessageHandler(filterMessages);
    XSetIOErrorHandler(onIoError);
}

void DisplayLossWatch::displayLost()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        endOnGuiThread();
    if (app && !g_posted.exchange(true))
        QMetaObject::invokeMethod(app, &endOnGuiThread, Qt::QueuedConnection);
    pthread_exit(nullptr);
}
