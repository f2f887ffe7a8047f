#pragma once
#include "CountTool.h"

#include <QString>
#include <QStringList>
#include <cstdio>

// The counting tool's --protocol FILE: the file is read by the cell-count page's two readers, the
// own counter's (its MustDetect_intensity, roundness, cell sizes and dilution factor) and the
// second engine's (its seven settings), each taking the keys of its own groups and its fall-backs
// for the rest, so a "Protocol_*_NIMBO.ini" and a "Protocol_*_BF.ini" file are both understood.
class CountToolProtocol
{
public:
    // False (with why) when the file cannot be read.
    static bool read(const QString &path, CountTool::Protocol &protocol, QString *why);

    // Where the count with the own counter (secondEngine false) or with the second engine took a
    // default in place of what the file holds, one line each in the words of the application's
    // log: an empty value, a value that is no number of its key's range, and a file holding none
    // of the keys that count reads (random bytes, another kind of file), with the defaults used.
    // A key the file leaves out, as a file of the other format does, takes its default unsaid.
    static QStringList notes(const QString &path, bool secondEngine);

    // Prints the notes on err, one line each after the tool's name.
    static void print(FILE *err, const QStringList &notes);
};
