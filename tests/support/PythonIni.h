#pragma once
#include "PythonLines.h"

// An INI file as Python's configparser reads it: sorted "group/key=value" lines, or one line
// starting "python failed" when it could not.
inline QStringList pythonIniLines(const QString &file)
{
    return pythonLines({"-c", "import configparser,sys\n"
                              "c=configparser.ConfigParser(interpolation=None)\n"
                              "c.optionxform=str\n"
                              "c.read(sys.argv[1],encoding='utf-8')\n"
                              "print('\\n'.join(sorted(s+'/'+k+'='+v for s in c.sections() for k,v in c[s].items())))",
                        file});
}
