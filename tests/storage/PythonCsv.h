#pragma once
#include "HangBound.h"

#include <QProcess>
#include <QStringList>

// How Python's csv module reads each file: "ROWS [COLUMN COUNTS]" per file, such as "3 [19]".
inline QStringList pythonCsvShapes(const QStringList &paths)
{
    QProcess python;
    python.start("/usr/bin/python3", QStringList{"-c", "import csv,sys\nfor p in sys.argv[1:]:\n"
        " rows=list(csv.reader(open(p,newline='')))\n print(len(rows), sorted(set(map(len,rows))))"} + paths);
    python.waitForFinished(kHangBoundMs);
    return QString::fromUtf8(python.readAllStandardOutput()).trimmed().split('\n');
}
