#include "StartOptions.h"

#include <cstdlib>

StartOptions StartOptions::fromArguments(int argc, const char *const *argv)
{
    StartOptions options;
    if (argc <= 1 || !argv[1])
        return options;
    const long number = std::strtol(argv[1], nullptr, 10);
    options.messages << QString::number(number);
    switch (number) {
    case 6:
        options.menu = MENU_SERIAL_FAILURE;
        break;
    case 7:
        options.mode = EXEC_SERIAL_LOG;
        options.messages << "== SERIAL LOG ENABLED ==";
        break;
    case 8:
        options.mode = EXEC_QC_TEST;
        options.messages << "== SERIAL LOG ENABLED ==" << "== QT TEST MODE ==";
        break;
    default:
        break;
    }
    return options;
}
