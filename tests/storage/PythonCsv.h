#pragma once
#include <QString>

// How Python's csv module reads a file: "ROWS [COLUMN COUNTS]", such as "3 [19]".
QString pythonCsvShape(const QString &path);
