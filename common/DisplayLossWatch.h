#pragma once
#include <functional>

// Ends the run cleanly when the connection to the X server breaks (the display server stops, or
// a remote viewer's server goes away). Left alone, Qt and Xlib then call exit() on whichever
// thread noticed, and the program dies tearing down its globals under running threads. The watch
// catches both roads, Qt's "The X11 connection broke" and the Xlib I/O error handler (which the
// live display's SDL connection reaches too), and runs the end given to install() once, on the
// GUI thread: it releases the instrument and must not return (it ends the process). A thread
// other than the GUI thread that meets the loss hands it over and ends itself, so that whoever
// joins it is not kept waiting.
class DisplayLossWatch
{
public:
    // Installs the handlers (once) and sets the end (an empty one just ends the process).
    static void install(std::function<void()> end);
    // What the handlers do on a lost connection, called directly by tests.
    static void displayLost();
};
