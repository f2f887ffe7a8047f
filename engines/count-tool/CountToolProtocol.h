#pragma once
#include "CountTool.h"

#include <QString>

// The counting tool's --protocol FILE: the file is read by the cell-count page's two readers, the
// own counter's (its MustDetect_intensity, roundness, cell sizes and dilution factor) and the
// second engine's (its seven settings), each taking the keys of its own groups and its fall-backs
// for the rest, so a "Protocol_*_NIMBO.ini" and a "Protocol_*_BF.ini" file are both understood.
class CountToolProtocol
{
public:
    // False (with why) when the file cannot be read.
    static bool read(const QString &path, CountTool::Protocol &protocol, QString *why);
};
