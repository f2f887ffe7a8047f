#pragma once
#include "Globals.h"

#include <QStringList>

// What the command line asks for: at most one decimal number (6: start on the serial-failure
// message, 7: serial logging, 8: serial logging and QC test mode; anything else the normal start).
struct StartOptions
{
    TCurrentMenu menu = MENU_MULTICOLOR;
    TExecMode mode = EXEC_NORMAL;
    QStringList messages; // what the entry prints to the debug output

    static StartOptions fromArguments(int argc, const char *const *argv);
};
